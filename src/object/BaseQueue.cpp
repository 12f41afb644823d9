#include "object/BaseQueue.h"

#include <cstdlib>

#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

// To the analysis the lock is held for the Hold's lifetime, which is true either way: taken
// here, or already held by the caller (then left to the caller). The analysis cannot follow
// that choice, hence its two exemptions.
class SCOPED_CAPABILITY BaseQueue::Hold
{
public:
  explicit Hold(BaseQueue* queue) ACQUIRE(queue->m_lock) NO_THREAD_SAFETY_ANALYSIS
      : m_queue(queue->_heldByCaller() ? nullptr : queue)
  {
    if (m_queue) m_queue->lockQueue();
  }
  ~Hold() RELEASE() NO_THREAD_SAFETY_ANALYSIS
  {
    if (m_queue) m_queue->unlockQueue();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

private:
  BaseQueue* m_queue;
};

BaseQueue::BaseQueue(uint32_t capacity, bool blocking)
    : m_lockOwner(std::thread::id()),
      m_slots(nullptr),
      m_capacity(0),
      m_head(0),
      m_count(0),
      m_blocking(blocking)
{
  if (capacity == 0) return;
  m_slots = static_cast<BaseObject**>(calloc(capacity, sizeof(BaseObject*)));
  if (m_slots)
    m_capacity = capacity;
  else
    BASE_LOG(this, eMsgError, "unable to allocate memory for %u objects", capacity);
}

BaseQueue::~BaseQueue()
{
  for (uint32_t i = 0; i < m_count; i++) m_slots[(m_head + i) % m_capacity]->release();
  free(m_slots);
}

bool BaseQueue::_heldByCaller() const
{
  return m_lockOwner.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

void BaseQueue::lockQueue()
{
  BASE_ASSERT(!_heldByCaller());
  int locked = m_lock.lock();
  BASE_ASSERT(locked == 0);
  m_lockOwner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void BaseQueue::unlockQueue()
{
  BASE_ASSERT(_heldByCaller());
  m_lockOwner.store(std::thread::id(), std::memory_order_relaxed);
  m_lock.unlock();
}

bool BaseQueue::tryEnqueue(BaseObject* object)
{
  BASE_ASSERT(object);
  Hold hold(this);
  if (m_count >= m_capacity) return false;
  m_slots[(m_head + m_count) % m_capacity] = object->retain();
  m_count++;
  return true;
}

BaseObject* BaseQueue::tryDequeue()
{
  Hold hold(this);
  if (m_count == 0) return nullptr;
  BaseObject* object = m_slots[m_head];
  m_slots[m_head] = nullptr;
  m_head = (m_head + 1) % m_capacity;
  m_count--;
  return object->autorelease();
}

bool BaseQueue::getBlocking()
{
  Hold hold(this);
  return m_blocking;
}

void BaseQueue::setBlocking(bool blocking)
{
  Hold hold(this);
  m_blocking = blocking;
}

uint32_t BaseQueue::count()
{
  Hold hold(this);
  return m_count;
}

const char* BaseQueue::getClass() const
{
  return "BaseQueue";
}
