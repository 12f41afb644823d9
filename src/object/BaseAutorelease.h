// A scoped, per-thread autorelease pool: objects handed to it are released when it
// closes. A thread's open pools form a stack (innermost last) that the thread alone
// uses; the stack holds the only reference to each pool. Pools are automatic objects
// of the function that opens them and must be closed on the thread that opened them.
#pragma once

#include "object/BaseArray.h"

class BaseAutorelease : public BaseArray
{
public:
  BaseAutorelease();
  ~BaseAutorelease() override;
  // Pools live on the stack of the function that opens them, never on the heap.
  static void* operator new(size_t) = delete;
  static void* operator new(size_t, eRetainType) = delete;

  const char* getClass() const override;

  // The pool `level` steps out from the innermost one, or null.
  static BaseAutorelease* currentArForThread(unsigned char level = 0);

  // Whether this thread has a registration that no constructor has asked for yet; most
  // objects are made without one, and their constructors need not look for their pool.
  static bool hasPendingRetainTypes();
  // Takes over the caller's reference to `object`, released when the pool closes.
  void adoptObject(BaseObject* object) { appendRetained(object); }
  // Remembers the retain type of an allocation until its root constructor asks for it.
  void setRetainType(void* address, eRetainType type);
  // Returns and forgets the type registered for `address`; eRetainNone when there is none.
  eRetainType getRetainType(void* address);
  // Drops, without releasing, an object whose construction failed after the pool took it.
  void forgetUnconstructed(void* address);

private:
  enum { PENDING_SLOTS = 3 };
  struct PendingRetainType
  {
    void* address;
    eRetainType type;
  };
  PendingRetainType m_pendingRetainTypes[PENDING_SLOTS];
};
