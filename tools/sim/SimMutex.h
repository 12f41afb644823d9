// The simulator's lock: a std::mutex that clang's thread-safety analysis knows as a lock, and
// its scoped holder. The simulator stands in for a host that is not ours and links no part of
// the framework, so it cannot use BaseMutex; the annotations themselves are header-only.
#pragma once

#include <mutex>

#include "runtime/ThreadAnnotations.h"

class CAPABILITY("mutex") SimMutex
{
public:
  void lock() ACQUIRE() { m_mutex.lock(); }
  void unlock() RELEASE() { m_mutex.unlock(); }

private:
  std::mutex m_mutex;
};

// Holds a SimMutex for its own lifetime.
class SCOPED_CAPABILITY SimMutexLocker
{
public:
  explicit SimMutexLocker(SimMutex& mutex) ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~SimMutexLocker() RELEASE() { m_mutex.unlock(); }
  SimMutexLocker(const SimMutexLocker&) = delete;
  SimMutexLocker& operator=(const SimMutexLocker&) = delete;

private:
  SimMutex& m_mutex;
};
