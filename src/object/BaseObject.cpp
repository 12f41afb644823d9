#include "object/BaseObject.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "object/SmallBlocks.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

// The allocation operators below pair ::operator new with ::operator delete on purpose;
// GCC cannot see through the extra retain-type parameter.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

void registerForPool(void* memory, eRetainType type)
{
  if (type == eRetainZeroed || type == eRetainNone) return;
  BaseAutorelease* pool = BaseAutorelease::currentArForThread(0);
  if (pool)
    pool->setRetainType(memory, type);
  else
    BASE_LOG(nullptr, eMsgWarning, "No autorelease pool for this thread, leaking");
}

// A constructor threw after the allocation registered its retain type. Either the root
// constructor never ran (the pending slot is still taken: free it, so that a later object
// at the same address does not pick it up), or it ran and handed the object to a pool,
// which must not release the freed memory when it drains.
void forgetPendingRegistration(void* memory, eRetainType type)
{
  BaseAutorelease* pool = BaseAutorelease::currentArForThread(0);
  if (!pool || pool->getRetainType(memory) != eRetainNone) return;
  BaseAutorelease* owner = type == eRetainAutoreleaseParent ? BaseAutorelease::currentArForThread(1) : pool;
  if (owner) owner->forgetUnconstructed(memory);
}

}  // namespace

void* operator new(size_t size, eRetainType type)
{
  void* memory = ::operator new(size);
  if (type == eRetainZeroed) memset(memory, 0, size);
  registerForPool(memory, type);
  return memory;
}

void* operator new[](size_t size, eRetainType type)
{
  void* memory = ::operator new[](size);
  if (type == eRetainZeroed) memset(memory, 0, size);
  registerForPool(memory, type);
  return memory;
}

void operator delete(void* memory, eRetainType type) noexcept
{
  if (type != eRetainNone && type != eRetainZeroed) forgetPendingRegistration(memory, type);
  ::operator delete(memory);
}

void operator delete[](void* memory, eRetainType type) noexcept
{
  if (type != eRetainNone && type != eRetainZeroed) forgetPendingRegistration(memory, type);
  ::operator delete[](memory);
}

void* BaseObject::operator new(size_t size)
{
  return SmallBlocks::allocate(size);
}

void* BaseObject::operator new(size_t size, eRetainType type)
{
  void* memory = SmallBlocks::allocate(size);
  if (type == eRetainZeroed) memset(memory, 0, size);
  registerForPool(memory, type);
  return memory;
}

void BaseObject::operator delete(void* memory, size_t size) noexcept
{
  SmallBlocks::release(memory, size);
}

// Only a constructor that throws gets here, and it does not say the size.
void BaseObject::operator delete(void* memory, eRetainType type) noexcept
{
  if (type != eRetainNone && type != eRetainZeroed) forgetPendingRegistration(memory, type);
  SmallBlocks::releaseUnsized(memory);
}

BaseObject::BaseObject() : m_retainCount(1), m_keyObservers(nullptr)
{
  if (!BaseAutorelease::hasPendingRetainTypes()) return;
  BaseAutorelease* pool = BaseAutorelease::currentArForThread(0);
  if (!pool) return;
  switch (pool->getRetainType(this)) {
    case eRetainAutorelease:
      pool->adoptObject(this);
      break;
    case eRetainAutoreleaseParent:
      autorelease(1);
      break;
    default:
      break;
  }
}

BaseObject::~BaseObject()
{
  release(m_keyObservers);
  m_keyObservers = nullptr;
}

bool BaseObject::isEqual(BaseObject* other)
{
  return other && hash() == other->hash();
}

int BaseObject::compare(BaseObject* other)
{
  BASE_ASSERT(other!=NULL);
  int byClass = strcmp(other->getClass(), getClass());
  if (byClass != 0) return byClass;
  uintptr_t mine = reinterpret_cast<uintptr_t>(this), theirs = reinterpret_cast<uintptr_t>(other);
  return mine < theirs ? 1 : (mine == theirs ? 0 : -1);
}

uint32_t BaseObject::hash()
{
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this));
}

const char* BaseObject::getClass() const
{
  return "BaseObject";
}

BaseString* BaseObject::toString(int flags)
{
  char text[128];
  snprintf(text, sizeof text, "Unknown object of class %s at %p", getClass(), static_cast<void*>(this));
  BaseString* plain = new BaseString(text);
  BaseString* result = plain->toString(flags & 3);
  plain->release();
  return result;
}

BaseString* BaseObject::getInstanceName()
{
  return new (eRetainAutorelease) BaseString();
}

void BaseObject::executeEvent(int, BaseObject*)
{
  BASE_LOG(this, eMsgWarning, "abstract implementation, ignoring event");
}

void BaseObject::receiveMessage(BaseString* message, BaseDictionary*, void*)
{
  BASE_LOG(this, eMsgInfo, "received message %S", message);
}

int BaseObject::_setValueForKeyInternal(BaseObject*, BaseString*)
{
  BASE_LOG(this, eMsgWarning, "BaseObject::setValueForKey : abstract implementation");
  return -1;
}

BaseObject* BaseObject::_getValueForKeyInternal(BaseString*)
{
  BASE_LOG(this, eMsgWarning, "BaseObject::setValueForKey : abstract implementation");
  return nullptr;
}

void BaseObject::observedKeyWillChange(BaseString* key, BaseObject*, void*)
{
  fprintf(stderr, "BaseObject : observedKeyWillChange : key '%s'\n", key ? key->cString() : "");
}

void BaseObject::observedKeyDidChange(BaseString* key, BaseObject*, eKeyObserverFlags flags, void*)
{
  fprintf(stderr, "BaseObject : observedKeyDidChange : key '%s' flags %i\n", key ? key->cString() : "",
          static_cast<int>(flags));
}

BaseObject* BaseObject::retain()
{
  m_retainCount.fetch_add(1, std::memory_order_relaxed);
  return this;
}

BaseObject* BaseObject::release()
{
  // Always an atomic decrement, even from one: a registry may revive an object whose count
  // it sees above zero without holding a reference (MDnsWrapper's shared instance), so a
  // count of one is not proof that no other thread can add to it.
  BASE_ASSERT(m_retainCount>0);
  // The thread whose own decrement reached zero is the one that destroys the object.
  int32_t before = m_retainCount.fetch_sub(1, std::memory_order_acq_rel);
  if (before == 1) {
    delete this;
    return nullptr;
  }
  BASE_ASSERT(before>0);  // another thread released the last reference meanwhile
  return this;
}

BaseObject* BaseObject::autorelease(unsigned char level)
{
  BaseAutorelease* pool = BaseAutorelease::currentArForThread(level);
  if (!pool) {
    BASE_LOG(this, eMsgWarning, "No autorelease pool for this thread, leaking");
    return this;
  }
  BASE_ASSERT(m_retainCount>0);
  pool->adoptObject(this);
  return this;
}

bool BaseObject::isOfClass(const char* name) const
{
  // The same literal is usually one address across the program; the text decides otherwise.
  const char* mine = getClass();
  return mine == name || strcmp(mine, name) == 0;
}

void BaseObject::setMember(void* slot, BaseObject* value)
{
  BaseObject** member = static_cast<BaseObject**>(slot);
  retain(value);
  BaseObject* old = *member;
  *member = value;
  release(old);
}

BaseString* BaseObject::commentString(int flags, BaseString* text)
{
  static const char* const opening[4] = {"", "// ", "-- ", "<!-- "};
  static const char* const closing[4] = {" :\n", "\n", "\n", "-->\n"};
  BaseString* comment = new (eRetainAutorelease) BaseString(opening[flags & 3]);
  comment->append(text);
  comment->append(closing[flags & 3]);
  return comment;
}

BaseString* BaseObject::toStringCommon(int flags, BaseString* text, int entryCount)
{
  if (!(flags & (eToStringClassName | eToStringAddress | eToStringEntryCount))) return text;
  char header[160];
  int used = 0;
  if (flags & eToStringClassName) used += snprintf(header + used, sizeof header - used, "%.100s ", getClass());
  if (flags & eToStringAddress)
    used += snprintf(header + used, sizeof header - used, "@%p ", static_cast<void*>(this));
  if ((flags & eToStringEntryCount) && entryCount >= 0)
    used += snprintf(header + used, sizeof header - used, "%d entries ", entryCount);
  if (used == 0) return text;
  BaseString* decorated = new (eRetainAutorelease) BaseString(header);
  decorated->setString(commentString(flags, decorated));
  decorated->append(text);
  return decorated;
}

BaseString* BaseObject::indentateString(BaseString* text)
{
  BaseString* indented = new (eRetainAutorelease) BaseString(text->length() + 16);
  const char* start = text->cString();
  const char* end = start + text->length();
  for (const char* cursor = start; cursor < end;) {
    const char* lineFeed = static_cast<const char*>(memchr(cursor, '\n', end - cursor));
    if (!lineFeed) {
      indented->append(cursor, (int)(end - cursor));
      break;
    }
    indented->append(cursor, (int)(lineFeed - cursor));
    indented->append("\n  ", 3);
    cursor = lineFeed + 1;
  }
  return indented;
}

BaseString* BaseObject::arrayToString(BaseTypedArray<BaseString>* texts, const char* opening, const char* closing,
                                      const char* separator)
{
  // One line while the texts stay short; one indented line per element otherwise.
  const size_t separatorLength = strlen(separator);
  size_t total = 0;
  bool multiLine = false;
  for (unsigned int i = 0; i < texts->count() && !multiLine; i++) {
    BaseString* text = texts->objectAtIndex(i);
    total += separatorLength + 1 + text->length();
    multiLine = total > 60 || memchr(text->cString(), '\n', text->length()) != nullptr;
  }
  const char* breakText = multiLine ? "\n" : " ";

  BaseString* body = new (eRetainAutorelease) BaseString();
  for (unsigned int i = 0; i < texts->count(); i++) {
    if (i > 0) {
      body->append(separator);
      body->append(breakText, 1);
    }
    body->append(texts->objectAtIndex(i));
  }
  if (multiLine) body = indentateString(body);

  BaseString* result = new (eRetainAutorelease) BaseString(body->length() + 16);
  result->append(opening);
  result->append(breakText, 1);
  if (multiLine) result->append("  ", 2);
  result->append(body);
  result->append(breakText, 1);
  result->append(closing);
  return result;
}
