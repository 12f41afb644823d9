// A reference-counted mutual-exclusion lock for objects shared between threads.
// Not recursive: a thread must not lock it twice, and the thread that locked it
// unlocks it. Any thread may call it; the owner of the last reference destroys it unlocked.
#pragma once

#include <pthread.h>

#include "object/BaseObject.h"

class BaseMutex : public BaseObject
{
public:
  BaseMutex();
  ~BaseMutex() override;

  // The POSIX results, 0 on success.
  int lock();
  int unlock();
  // False only while the mutex is held (EBUSY); true when it was taken and also when
  // the call failed for another reason.
  bool tryLock();

protected:
  pthread_mutex_t m_mutex;
  // False when creation failed; the calls then fail with EINVAL instead of using it.
  bool m_usable;
};
