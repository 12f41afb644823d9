// A reference-counted mutual-exclusion lock for objects shared between threads.
// Not recursive: a thread must not lock it twice, and the thread that locked it
// unlocks it. Any thread may call it; the owner of the last reference destroys it unlocked.
// This is the lock of every class of ours: hold it through BaseMutexLocker, and name what it
// guards with the annotations of runtime/ThreadAnnotations.h.
#pragma once

#include <pthread.h>

#include "object/BaseObject.h"
#include "runtime/ThreadAnnotations.h"

class CAPABILITY("mutex") BaseMutex : public BaseObject
{
public:
  BaseMutex();
  ~BaseMutex() override;

  // The POSIX results, 0 on success.
  // A failed call (a mutex whose creation failed) still counts as taken for the analysis:
  // such a mutex excludes nothing, and its caller is told by the result.
  int lock() ACQUIRE();
  int unlock() RELEASE();
  // False only while the mutex is held (EBUSY); true when it was taken and also when
  // the call failed for another reason. The analysis takes true as "held": sound for a
  // usable mutex, whose trylock fails only with EBUSY; an unusable one excludes nothing,
  // as with lock(), and its unlock() then fails harmlessly with EINVAL.
  bool tryLock() TRY_ACQUIRE(true);

protected:
  pthread_mutex_t m_mutex;
  // False when creation failed; the calls then fail with EINVAL instead of using it.
  bool m_usable;
};

// Holds a mutex for its own lifetime: locks it on construction, unlocks it on destruction.
// The mutex must outlive the locker.
class SCOPED_CAPABILITY BaseMutexLocker
{
public:
  explicit BaseMutexLocker(BaseMutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~BaseMutexLocker() RELEASE() { m_mutex.unlock(); }
  BaseMutexLocker(const BaseMutexLocker&) = delete;
  BaseMutexLocker& operator=(const BaseMutexLocker&) = delete;

private:
  BaseMutex& m_mutex;
};
