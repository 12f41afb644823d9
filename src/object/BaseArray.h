// The ordered collection: a growable vector of object pointers. It retains every element
// it stores (once per slot) and releases it when the element leaves; null is never
// stored. Equality and search use the elements' isEqual, ordering their compare.
// Not safe for concurrent use.
#pragma once

#include "object/BaseObject.h"

class BaseArray : public BaseObject
{
public:
  BaseArray();                                  // capacity 8
  explicit BaseArray(unsigned int capacity);    // 0: no storage until the first addition
  explicit BaseArray(const char* const* strings);  // one new BaseString per text of a null-terminated list
  explicit BaseArray(BaseObject** objects);     // a null-terminated list, each retained
  BaseArray(BaseObject* first, ...);            // up to a null argument
  ~BaseArray() override;

  // Resets raw storage to an empty array without releasing anything.
  void init(unsigned int capacity);

  unsigned int count() const { return m_objectsCount; }
  unsigned int capacity() const { return m_objectsCapacity; }
  BaseObject* objectAtIndex(unsigned int index) const;
  BaseObject* lastObject() const;
  // The highest index whose element `object` isEqual to; NOT_FOUND when none.
  unsigned int indexOfObject(BaseObject* object) const;
  // The highest index that holds exactly `object`; NOT_FOUND when none.
  unsigned int indexOfObjectIdenticalTo(BaseObject* object) const;
  bool containsObject(BaseObject* object) const;
  bool intersects(BaseArray* other) const;
  bool subsetOfArray(BaseArray* other) const;

  void addObject(BaseObject* object);
  // Beyond the end logs a warning and appends.
  void insertObject(BaseObject* object, unsigned int index);
  void addObjectsFromArray(BaseArray* other);
  void replaceObjectAtIndex(unsigned int anIndex, BaseObject* newObject);
  bool removeObjectAtIndex(unsigned int index);
  void removeLastObject();
  // Removes the last equal element.
  bool removeObject(BaseObject* object);
  bool removeObjectIdenticalTo(BaseObject* object);
  void removeObjectsInArray(BaseArray* other);
  // Releases from the last to the first; elements added meanwhile are released too.
  void removeAllObjects();

  // Ascending by the elements' natural order ("a" before "b", 1 before 2). Not stable.
  void sortArray();
  // `function(context, a, b)` is negative when a goes first. Not stable.
  void sortArray(void* context, int (*function)(void*, BaseObject*, BaseObject*), bool descending);
  static int compareObjects(const void* a, const void* b);

  // Storage helpers: they neither retain nor release.
  void shiftUp(unsigned int index);
  void shiftDown(unsigned int index);

  bool isEqual(BaseObject* other) override;
  uint32_t hash() override;
  const char* getClass() const override;
  BaseString* toString(int flags = eToStringPlain) override;
  // Keys are element indices written as text ("1", "0x1", "01").
  int _setValueForKeyInternal(BaseObject* value, BaseString* key) override;
  BaseObject* _getValueForKeyInternal(BaseString* key) override;

  // Appends, taking over the caller's reference instead of retaining.
  void appendRetained(BaseObject* object);

  static constexpr unsigned int NOT_FOUND = 0xFFFFFFFFu;

protected:
  unsigned int m_objectsCount;
  unsigned int m_objectsCapacity;
  BaseObject** m_objects;

private:
  void extendArray();
};

// An array whose elements are of type T by convention; it reports the class name "BaseArray".
template <typename T>
class BaseTypedArray : public BaseArray
{
public:
  using BaseArray::BaseArray;
  T* objectAtIndex(unsigned int index) const { return static_cast<T*>(BaseArray::objectAtIndex(index)); }
  T* lastObject() const { return static_cast<T*>(BaseArray::lastObject()); }
};
