#include "runtime/BaseThread.h"

#include <sched.h>

#include "object/BaseAutorelease.h"
#include "object/BaseObject.h"
#include "runtime/Debug.h"

namespace {

const size_t WORKER_STACK_SIZE = 524288;

}  // namespace

BaseThread::BaseThread()
    : m_keepRunning(false),
      m_threadId(pthread_t()),
      m_releaseOnExit(nullptr),
      m_exitCountDown(nullptr),
      m_workerJoined(false)
{
}

BaseThread::~BaseThread()
{
  if (isThreadRunning()) {
    BASE_LOG(_logObject(), eMsgWarning,
             "the thread is running, it should be stop explicitly from the right class");
    stopThread();
  }
  // A reference handed over for a worker that never ran is still ours to drop.
  BaseObject::release(m_releaseOnExit.exchange(nullptr));
}

bool BaseThread::startThread()
{
  pthread_t running = m_threadId.load(std::memory_order_acquire);
  if (running != pthread_t()) {
    BASE_LOG(_logObject(), eMsgWarning, "thread '0x%p' is ALREADY running", (void*)running);
    return true;
  }
  m_keepRunning.store(true);
  m_workerJoined.store(false);

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
  pthread_attr_setstacksize(&attributes, WORKER_STACK_SIZE);
  pthread_t worker = pthread_t();
  int result = pthread_create(&worker, &attributes, _startThread, this);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    BASE_LOG(_logObject(), eMsgError, "creating thread");
    worker = pthread_t();
    m_keepRunning.store(false);
  }
  BASE_LOG(_logObject(), eMsgInfo, "thread '0x%p' is running", (void*)worker);
  // Publishing the handle lets the worker run threadMethod, which may end with the
  // object's destruction (releaseOnThreadExit): this is the last use of `this`.
  m_threadId.store(worker, std::memory_order_release);
  return worker != pthread_t();
}

bool BaseThread::startThreadHoldingSelf()
{
  BaseObject* self = _logObject();
  BASE_ASSERT(self);
  self->retain();
  releaseOnThreadExit(self);
  if (startThread()) return true;
  releaseOnThreadExit(nullptr);
  self->release();
  return false;
}

bool BaseThread::stopThread()
{
  BASE_LOG(_logObject(), eMsgInfo, "thread '0x%p'", (void*)m_threadId.load());
  m_keepRunning.store(false);
  // Claiming the handle leaves exactly one caller in charge of it, should the worker
  // stop itself while its controller stops it too.
  pthread_t worker = m_threadId.exchange(pthread_t(), std::memory_order_acq_rel);
  if (worker == pthread_t()) return true;

  if (pthread_equal(pthread_self(), worker)) {
    // Joining itself would deadlock and cancelling would skip the unwinding of its pools;
    // detached, the thread gives its resources back when _startThread returns.
    pthread_detach(worker);
    BASE_LOG(_logObject(), eMsgInfo, "thread '0x%p' stops itself, detached", (void*)worker);
    return true;
  }
  if (m_workerJoined.exchange(false)) return true;  // joinThread has already reclaimed it

  BASE_LOG(_logObject(), eMsgInfo, "wait for thread to finish");
  int result = pthread_join(worker, nullptr);
  BASE_LOG(_logObject(), eMsgInfo, "stop waiting for thread");
  if (result != 0) {
    // Such as two workers stopping each other. Cancelling is not an option (see the
    // header), so the thread ends on its own and then frees itself.
    pthread_detach(worker);
    BASE_LOG(_logObject(), eMsgInfo,
             "thread '0x%p' could not be joined (error %i), detached to end on its own", (void*)worker,
             result);
  }
  return true;
}

bool BaseThread::joinThread()
{
  BASE_ASSERT(m_threadId);
  pthread_t worker = m_threadId.load(std::memory_order_acquire);
  if (pthread_equal(pthread_self(), worker)) return false;
  if (m_workerJoined.load()) return true;
  bool joined = pthread_join(worker, nullptr) == 0;
  if (joined) m_workerJoined.store(true);
  return joined;
}

void BaseThread::releaseOnThreadExit(BaseObject* object)
{
  m_releaseOnExit.store(object);
}

BaseObject* BaseThread::_logObject()
{
  return dynamic_cast<BaseObject*>(this);
}

void* BaseThread::_startThread(void* argument)
{
  BaseThread* self = static_cast<BaseThread*>(argument);
  std::atomic<int>* countDown = nullptr;
  {
    BaseAutorelease pool;
    // The creator publishes the handle just after pthread_create returns, which may be
    // after this thread started; stopThread on this thread needs it. A controller that
    // stopped the worker meanwhile has cleared both, hence the second test.
    while (self->m_threadId.load(std::memory_order_acquire) == pthread_t() && self->m_keepRunning.load())
      sched_yield();
    self->threadMethod();
    countDown = self->m_exitCountDown.load();
    // This may destroy the object, its destructor running on this thread: no use of
    // `self` after it. The pool closes without it.
    BaseObject::release(self->m_releaseOnExit.exchange(nullptr));
  }
  if (countDown) countDown->fetch_sub(1, std::memory_order_release);
  return nullptr;
}
