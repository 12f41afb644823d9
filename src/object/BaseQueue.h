// A bounded first-in, first-out queue of objects for handing work between threads. It
// retains what it holds and releases whatever is still queued when it is destroyed; its
// ring of slots is allocated once, at the capacity given, and never grows. Any thread may
// call it. Callers normally bracket each operation with lockQueue/unlockQueue; an
// operation called without that lock takes it for itself, so it is never held twice.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "object/BaseObject.h"
#include "runtime/BaseMutex.h"

class BaseQueue : public BaseObject
{
public:
  // A capacity whose slots cannot be allocated is refused with an Error line, leaving a
  // queue of capacity 0 that is always full.
  BaseQueue(uint32_t capacity, bool blocking);
  ~BaseQueue() override;

  // Not recursive: a thread that already holds the lock must not take it again, and only
  // the thread that holds it may unlock it (both stop the program).
  void lockQueue() ACQUIRE(m_lock);
  void unlockQueue() RELEASE(m_lock);

  // False when full; otherwise appends `object` (not null) at the tail and retains it.
  bool tryEnqueue(BaseObject* object);
  // The object at the head, or null when empty. The queue's reference goes to the calling
  // thread's innermost pool: retain what you keep.
  BaseObject* tryDequeue();
  // Whether consumers should wait for objects; the queue itself never waits.
  bool getBlocking();
  void setBlocking(bool blocking);
  uint32_t count();
  uint32_t capacity() const { return m_capacity; }

  const char* getClass() const override;

private:
  // Holds the lock for one operation, unless the calling thread already holds it.
  class Hold;
  bool _heldByCaller() const;

  // m_lockOwner is the thread holding m_lock, or no thread; only the holder ever stores its
  // own id there. The ring's slots are allocated once, in the constructor.
  BaseMutex m_lock;
  std::atomic<std::thread::id> m_lockOwner;
  BaseObject** m_slots PT_GUARDED_BY(m_lock);
  uint32_t m_capacity;
  uint32_t m_head GUARDED_BY(m_lock);  // slot of the oldest object
  uint32_t m_count GUARDED_BY(m_lock);
  bool m_blocking GUARDED_BY(m_lock);
};
