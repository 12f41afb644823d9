#include "object/BaseAutorelease.h"

#include "runtime/BaseAssert.h"
#include "runtime/BaseThread.h"

namespace {

// The calling thread's pool stack; null on a thread with no open pool. Created once,
// on first use (even when several threads open their first pool at once), and destroyed
// when the program or plug-in is unloaded, when no pool may be open any more.
ThreadLocalStorage<BaseArray*>& CheckTLS()
{
  static ThreadLocalStorage<BaseArray*> arStack(nullptr);
  return arStack;
}

// Registrations made on this thread and not yet taken back, over all its pools.
thread_local unsigned pendingRetainTypes = 0;

}  // namespace

BaseAutorelease::BaseAutorelease()
{
  for (PendingRetainType& slot : m_pendingRetainTypes) slot = {nullptr, eRetainNone};
  ThreadLocalStorage<BaseArray*>& arStack = CheckTLS();
  BaseArray* currentStack = arStack;
  if (!currentStack) {
    currentStack = new BaseArray();
    arStack = currentStack;
  }
  // The stack takes over the creator's reference.
  currentStack->appendRetained(this);
}

BaseAutorelease::~BaseAutorelease()
{
  ThreadLocalStorage<BaseArray*>& arStack = CheckTLS();
  BaseArray* currentStack = arStack;
  BASE_ASSERT(currentStack!=NULL);
  // Nothing released during the drain may bring this pool to zero. Only this thread knows
  // the pool, so a plain store does.
  m_retainCount.store(m_retainCount.load(std::memory_order_relaxed) + 2, std::memory_order_relaxed);
  removeAllObjects();
  currentStack->removeObjectIdenticalTo(this);
  if (currentStack->count() == 0) {
    arStack = nullptr;
    currentStack->release();
  }
  m_retainCount.store(0x12345678, std::memory_order_relaxed);
}

const char* BaseAutorelease::getClass() const
{
  return "BaseAutorelease";
}

BaseAutorelease* BaseAutorelease::currentArForThread(unsigned char level)
{
  BaseArray* stack = CheckTLS();
  if (!stack || level >= stack->count()) return nullptr;
  return static_cast<BaseAutorelease*>(stack->objectAtIndex(stack->count() - 1 - level));
}

bool BaseAutorelease::hasPendingRetainTypes()
{
  return pendingRetainTypes != 0;
}

void BaseAutorelease::setRetainType(void* address, eRetainType type)
{
  for (PendingRetainType& slot : m_pendingRetainTypes) {
    if (slot.address == nullptr) {
      slot = {address, type};
      pendingRetainTypes++;
      return;
    }
  }
  BASE_ASSERT(0);
}

eRetainType BaseAutorelease::getRetainType(void* address)
{
  if (!address) return eRetainNone;
  for (PendingRetainType& slot : m_pendingRetainTypes) {
    if (slot.address == address) {
      eRetainType type = slot.type;
      slot = {nullptr, eRetainNone};
      pendingRetainTypes--;
      return type;
    }
  }
  return eRetainNone;
}

void BaseAutorelease::forgetUnconstructed(void* address)
{
  for (unsigned int i = m_objectsCount; i-- > 0;) {
    if (m_objects[i] == address) {
      shiftDown(i + 1);
      return;
    }
  }
}
