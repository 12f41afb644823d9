#include "object/BaseArray.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "object/SmallBlocks.h"
#include "platform/Algorithms.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

BaseArray::BaseArray()
{
  init(8);
}

BaseArray::BaseArray(unsigned int capacity)
{
  init(capacity);
}

BaseArray::BaseArray(const char* const* strings)
{
  unsigned int n = 0;
  while (strings && strings[n]) n++;
  init(n);
  for (unsigned int i = 0; i < n; i++) {
    BaseString* text = new BaseString(strings[i]);
    addObject(text);
    text->release();
  }
}

BaseArray::BaseArray(BaseObject** list)
{
  unsigned int n = 0;
  while (list && list[n]) n++;
  init(n);
  for (unsigned int i = 0; i < n; i++) addObject(list[i]);
}

BaseArray::BaseArray(BaseObject* first, ...)
{
  init(8);
  va_list arguments;
  va_start(arguments, first);
  for (BaseObject* object = first; object; object = va_arg(arguments, BaseObject*)) addObject(object);
  va_end(arguments);
}

BaseArray::~BaseArray()
{
  removeAllObjects();
  SmallBlocks::release(m_objects, sizeof(BaseObject*) * m_objectsCapacity);
  m_objects = nullptr;
  m_objectsCapacity = 0;
}

void BaseArray::init(unsigned int capacity)
{
  m_objectsCount = 0;
  m_objectsCapacity = 0;
  m_objects = nullptr;
  if (capacity == 0) return;
  m_objects = static_cast<BaseObject**>(SmallBlocks::allocate(sizeof(BaseObject*) * capacity));
  m_objectsCapacity = capacity;
}

void BaseArray::extendArray()
{
  BASE_ASSERT(m_objectsCapacity < 0x40000000u);
  unsigned int newCapacity = m_objectsCapacity * 2;
  if (newCapacity < 8) newCapacity = 8;
  BaseObject** grown = static_cast<BaseObject**>(SmallBlocks::reallocate(
      m_objects, sizeof(BaseObject*) * m_objectsCapacity, sizeof(BaseObject*) * newCapacity));
  m_objects = grown;
  m_objectsCapacity = newCapacity;
  // Logged once the storage is consistent: the log call itself may open a pool and so
  // append to the pool stack, which is an array too.
  BASE_LOG(this, eMsgVerbose, "new size %i (ptr size is %i)", newCapacity, (int)sizeof(BaseObject*));
}

void BaseArray::appendRetained(BaseObject* object)
{
  if (m_objectsCount == m_objectsCapacity) extendArray();
  m_objects[m_objectsCount++] = object;
}

BaseObject* BaseArray::objectAtIndex(unsigned int index) const
{
  return index < m_objectsCount ? m_objects[index] : nullptr;
}

BaseObject* BaseArray::lastObject() const
{
  return m_objectsCount ? m_objects[m_objectsCount - 1] : nullptr;
}

unsigned int BaseArray::indexOfObject(BaseObject* object) const
{
  if (!object) return NOT_FOUND;
  for (unsigned int i = m_objectsCount; i-- > 0;)
    if (object->isEqual(m_objects[i])) return i;
  return NOT_FOUND;
}

unsigned int BaseArray::indexOfObjectIdenticalTo(BaseObject* object) const
{
  if (!object) return NOT_FOUND;
  for (unsigned int i = m_objectsCount; i-- > 0;)
    if (m_objects[i] == object) return i;
  return NOT_FOUND;
}

bool BaseArray::containsObject(BaseObject* object) const
{
  return indexOfObject(object) != NOT_FOUND;
}

bool BaseArray::intersects(BaseArray* other) const
{
  for (unsigned int i = 0; i < other->m_objectsCount; i++)
    if (containsObject(other->m_objects[i])) return true;
  return false;
}

bool BaseArray::subsetOfArray(BaseArray* other) const
{
  for (unsigned int i = 0; i < m_objectsCount; i++)
    if (!other->containsObject(m_objects[i])) return false;
  return true;
}

void BaseArray::addObject(BaseObject* object)
{
  if (!object) return;
  object->retain();
  appendRetained(object);
}

void BaseArray::insertObject(BaseObject* object, unsigned int index)
{
  if (!object) return;
  if (index > m_objectsCount) {
    BASE_LOG(this, eMsgWarning, "tried to insert beyond bounds %i bounds %i", (int)index,
             (int)m_objectsCount);
    index = m_objectsCount;
  }
  object->retain();
  if (m_objectsCount == m_objectsCapacity) extendArray();
  shiftUp(index);
  m_objects[index] = object;
}

void BaseArray::addObjectsFromArray(BaseArray* other)
{
  // Counted first so that adding an array to itself doubles it once.
  unsigned int n = other->m_objectsCount;
  for (unsigned int i = 0; i < n; i++) addObject(other->m_objects[i]);
}

void BaseArray::replaceObjectAtIndex(unsigned int anIndex, BaseObject* newObject)
{
  BASE_ASSERT(anIndex<m_objectsCount);
  BASE_ASSERT(newObject!=NULL);
  newObject->retain();
  BaseObject* old = m_objects[anIndex];
  m_objects[anIndex] = newObject;
  old->release();
}

bool BaseArray::removeObjectAtIndex(unsigned int index)
{
  if (index >= m_objectsCount) return false;
  // Taken out before the release: the element's destructor may come back to this array.
  BaseObject* removed = m_objects[index];
  shiftDown(index + 1);
  removed->release();
  return true;
}

void BaseArray::removeLastObject()
{
  if (m_objectsCount) removeObjectAtIndex(m_objectsCount - 1);
}

bool BaseArray::removeObject(BaseObject* object)
{
  return removeObjectAtIndex(indexOfObject(object));
}

bool BaseArray::removeObjectIdenticalTo(BaseObject* object)
{
  return removeObjectAtIndex(indexOfObjectIdenticalTo(object));
}

void BaseArray::removeObjectsInArray(BaseArray* other)
{
  for (unsigned int i = 0; i < other->m_objectsCount; i++) removeObject(other->m_objects[i]);
}

void BaseArray::removeAllObjects()
{
  while (m_objectsCount > 0) {
    BaseObject* last = m_objects[--m_objectsCount];
    last->release();
  }
}

int BaseArray::compareObjects(const void* a, const void* b)
{
  BaseObject* first = *static_cast<BaseObject* const*>(a);
  BaseObject* second = *static_cast<BaseObject* const*>(b);
  // compare() is positive when its receiver orders first, so second->compare(first) is
  // negative exactly when `first` goes first: ascending by the natural order.
  int order = second->compare(first);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void BaseArray::sortArray()
{
  if (m_objectsCount > 1) qsort(m_objects, m_objectsCount, sizeof(BaseObject*), compareObjects);
}

namespace {

struct SortContext
{
  void* context;
  int (*function)(void*, BaseObject*, BaseObject*);
  bool descending;
};

int compareWithContext(void* sortContext, const void* a, const void* b)
{
  const SortContext* sort = static_cast<const SortContext*>(sortContext);
  int order = sort->function(sort->context, *static_cast<BaseObject* const*>(a),
                             *static_cast<BaseObject* const*>(b));
  int sign = order < 0 ? -1 : (order > 0 ? 1 : 0);
  return sort->descending ? -sign : sign;
}

}  // namespace

void BaseArray::sortArray(void* context, int (*function)(void*, BaseObject*, BaseObject*), bool descending)
{
  if (m_objectsCount < 2) return;
  SortContext sort = {context, function, descending};
  platform::sortWithContext(m_objects, m_objectsCount, sizeof(BaseObject*), compareWithContext, &sort);
}

void BaseArray::shiftUp(unsigned int index)
{
  BASE_ASSERT(m_objectsCount < m_objectsCapacity && index <= m_objectsCount);
  memmove(m_objects + index + 1, m_objects + index, sizeof(BaseObject*) * (m_objectsCount - index));
  m_objectsCount++;
}

void BaseArray::shiftDown(unsigned int index)
{
  BASE_ASSERT(index > 0 && index <= m_objectsCount);
  memmove(m_objects + index - 1, m_objects + index, sizeof(BaseObject*) * (m_objectsCount - index));
  m_objectsCount--;
}

bool BaseArray::isEqual(BaseObject* other)
{
  if (other == this) return true;
  if (!isOfClass(other, "BaseArray")) return false;
  BaseArray* array = static_cast<BaseArray*>(other);
  if (array->m_objectsCount != m_objectsCount) return false;
  for (unsigned int i = 0; i < m_objectsCount; i++)
    if (!m_objects[i]->isEqual(array->m_objects[i])) return false;
  return true;
}

uint32_t BaseArray::hash()
{
  uint32_t combined = 0;
  for (unsigned int i = 0; i < m_objectsCount; i++) combined ^= m_objects[i]->hash();
  return combined;
}

const char* BaseArray::getClass() const
{
  return "BaseArray";
}

BaseString* BaseArray::toString(int flags)
{
  static const char* const delims[4][3] = {
      {"ARRAY (", ")", ","}, {"[", "]", ","}, {"{", "}", ","}, {"<array>", "</array>", ""}};
  BaseAutorelease pool;
  BaseTypedArray<BaseString>* texts = new (eRetainAutorelease) BaseTypedArray<BaseString>(m_objectsCount);
  for (unsigned int i = 0; i < m_objectsCount; i++) texts->addObject(m_objects[i]->toString(flags));
  const char* const* delimiters = delims[flags & 3];
  BaseString* text = arrayToString(texts, delimiters[0], delimiters[1], delimiters[2]);
  BaseString* result = toStringCommon(flags, text, (int)m_objectsCount);
  result->retain();
  result->autorelease(1);
  return result;
}

namespace {

// Reads an element index with automatic base; false when the key is not an index.
bool readIndexKey(BaseString* key, unsigned long long& index)
{
  if (!key) return false;
  const char* text = key->cString();
  if (*text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  index = strtoull(text, &end, 0);
  if (index == 0 && strcmp(text, "0") != 0) return false;
  return errno == 0;
}

}  // namespace

BaseObject* BaseArray::_getValueForKeyInternal(BaseString* key)
{
  unsigned long long index;
  if (!readIndexKey(key, index) || index >= m_objectsCount) return nullptr;
  return m_objects[index];
}

int BaseArray::_setValueForKeyInternal(BaseObject* value, BaseString* key)
{
  unsigned long long index;
  if (!value || !readIndexKey(key, index)) return -1;
  if (index < m_objectsCount) {
    replaceObjectAtIndex(static_cast<unsigned int>(index), value);
    return eKeyObserverReplaced;
  }
  if (index == m_objectsCount) {
    addObject(value);
    return eKeyObserverAdded;
  }
  return -1;
}
