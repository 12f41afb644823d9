// Per-thread values and the worker-thread mix-in.
// ThreadLocalStorage<T> wraps one POSIX thread-specific key: each thread sees its own
// value, 0 until it stores one. The key is given back when the object is destroyed, so a
// plug-in that its host unloads and loads again does not use up the process's keys.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "runtime/BaseAssert.h"

template <typename T>
class ThreadLocalStorage
{
public:
  // The initial value is stored for the constructing thread only.
  explicit ThreadLocalStorage(T initial)
  {
    BASE_ASSERT(pthread_key_create(&m_key, NULL) == 0);
    *this = initial;
  }
  ~ThreadLocalStorage() { pthread_key_delete(m_key); }
  ThreadLocalStorage(const ThreadLocalStorage&) = delete;
  ThreadLocalStorage& operator=(const ThreadLocalStorage&) = delete;

  // Not kept only when the key is already gone (a detached thread still ending while the
  // process exits or the library is unloaded) or memory ran out: neither may stop the host.
  T operator=(T val)
  {
    (void)pthread_setspecific(m_key, (const void*)(intptr_t)val);
    return val;
  }

  operator T() const { return (T)(intptr_t)pthread_getspecific(m_key); }

private:
  pthread_key_t m_key;
};

class BaseObject;

// Gives an object one worker thread running threadMethod(); mixed in as a second base
// (class X : public BaseObject, public BaseThread). One controlling thread starts and stops
// it while holding a reference; threadMethod polls m_keepRunning. A worker that stops
// itself is detached, never cancelled: cancelling would leak its pools and objects.
class BaseThread
{
public:
  BaseThread();
  BaseThread(const BaseThread&) = delete;
  BaseThread& operator=(const BaseThread&) = delete;
  // The derived parts are gone by now, so owners stop their worker before destruction;
  // a worker still set here is stopped with a warning.
  virtual ~BaseThread();
  virtual void threadMethod() = 0;

  // True when a worker exists after the call; a worker already set (even one whose
  // threadMethod has returned) is left alone and reported as success. When the object
  // handed its last reference to releaseOnThreadExit, the caller must not touch it
  // after this call: the worker may already have destroyed it.
  bool startThread();
  // startThread for an object that its worker keeps alive: the worker holds a reference of
  // its own (releaseOnThreadExit) until threadMethod returns. False, holding nothing, when no
  // thread could be made. Only for a mix-in that sits in a BaseObject.
  bool startThreadHoldingSelf();
  // Clears m_keepRunning and m_threadId, then waits without limit for the worker to end;
  // its polling period bounds the wait. On the worker itself it detaches instead, and
  // the object must then outlive the worker (hand it to releaseOnThreadExit). Always true.
  bool stopThread();
  // Waits for the worker without clearing m_threadId; false on the worker itself.
  // Not for a worker that may stop itself (it detaches, and joining it then is invalid).
  bool joinThread();
  bool isThreadRunning() const { return m_threadId.load(std::memory_order_acquire) != pthread_t(); }
  pthread_t getThreadId() const { return m_threadId.load(std::memory_order_acquire); }
  // Takes over one reference (no retain) that the worker releases after threadMethod
  // returns; pass the object itself to let its worker hold its last reference. Call it
  // before startThread or from the worker. If no worker runs, the destructor drops it (a
  // self-owning object whose start failed takes it back with releaseOnThreadExit(nullptr)).
  void releaseOnThreadExit(BaseObject* object);
  // For a worker that nobody will join: `counter` is counted down as the very last thing the
  // thread does, after its pool is closed and the object released, so that whoever waits on
  // it knows the thread needs nothing of this module any more. Any thread, before the end.
  void countDownOnThreadExit(std::atomic<int>* counter) { m_exitCountDown.store(counter); }

protected:
  static void* _startThread(void* argument);

  std::atomic<bool> m_keepRunning;
  // Written by the controller (and by a worker stopping itself), read by both; the
  // worker waits for it to be published before it runs threadMethod.
  std::atomic<pthread_t> m_threadId;
  std::atomic<BaseObject*> m_releaseOnExit;
  std::atomic<std::atomic<int>*> m_exitCountDown;

private:
  // Log lines name the object when the mix-in sits in one; evaluated only with a sink.
  BaseObject* _logObject();

  // Set by a successful joinThread, so that stopping afterwards does not join twice.
  std::atomic<bool> m_workerJoined;
};
