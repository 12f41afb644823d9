// The record type of the system: a chained hash table from string keys to objects. It
// retains every key (not a copy: a key must not change while it is stored) and every
// value; null is never stored. Iteration order is bucket order, which the text forms and
// the object stream show. Not safe for concurrent use: even lookups by index move the
// cursor, so threads that share a dictionary need their own lock.
#pragma once

#include "object/BaseArray.h"
#include "object/BaseString.h"

// One stored pair, and the next entry of the same bucket.
struct BaseDictionaryEntry
{
  BaseString* key;
  BaseObject* value;
  BaseDictionaryEntry* next;
};

class BaseDictionary : public BaseObject
{
public:
  BaseDictionary();  // 8 buckets
  // Rows {key text, value text} up to a row whose key is null, each stored as a string.
  // The table starts with one bucket per row (8 when there are no rows).
  explicit BaseDictionary(const char* const (*pairs)[2]);
  ~BaseDictionary() override;

  // Resets raw storage to an empty dictionary without releasing anything; fewer than one
  // bucket means 8.
  void init(int initialCount);

  unsigned int count() const { return m_entriesCount; }
  unsigned int bucketCount() const { return m_bucketsCount; }

  // The entry whose key isEqual to `aKey`, or null. A null key is a programming error.
  BaseDictionaryEntry* findEntry(BaseString* aKey);
  // Null when the key is absent or null (the latter logged: keys often come from peers).
  BaseObject* objectForKey(BaseString* key);
  BaseObject* objectForKey(const char* key);
  // Null-tolerant lookups: a null dictionary logs "'<key>' with NULL" and yields null.
  static BaseObject* objectForKey(BaseDictionary* dictionary, BaseString* key);
  static BaseObject* objectForKey(BaseDictionary* dictionary, const char* key);
  // Positions in iteration order; null from `count()` on. Walking the indices upwards
  // costs constant time per step.
  BaseString* keyAtIndex(unsigned int index);
  // The entry at that position (key and value at once), valid until the next change.
  const BaseDictionaryEntry* entryAtIndex(unsigned int index) { return _entryAtIndex(index); }
  BaseObject* objectForKeyIndex(unsigned int index);
  // New arrays owned by the caller's innermost pool, in iteration order.
  BaseTypedArray<BaseString>* allKeys();
  BaseArray* allValues();

  // Replaces the value of an existing key (retaining the new value first) or adds an
  // entry. A null key or value, or a key that is not a string, stores nothing and logs
  // an Error.
  void setObjectForKey(BaseObject* value, BaseString* key);
  void setObjectForKey(BaseObject* value, const char* key);
  // setObjectForKey taking over the caller's references to both instead of retaining:
  // what is not kept (a refused pair, or the key when the entry existed) is released.
  void adoptObjectForKey(BaseObject* value, BaseString* key);
  void setCStringForKey(const char* value, const char* key);
  // Stores the decimal text of `value` as a string, not a number.
  void setIntForKey(int value, BaseString* key);
  void setIntForKey(int value, const char* key);
  void removeObjectForKey(BaseString* key);
  void removeObjectForKey(const char* key);
  // Releases every key and value; the bucket count stays.
  void removeAllObjects();
  // setObjectForKey for every entry of `other`, in its iteration order; null does nothing.
  void addEntriesFromDictionary(BaseDictionary* other);

  // Same entries with equal values, whatever the insertion order.
  bool isEqual(BaseObject* other) override;
  // Independent of the insertion order: the XOR over the entries of key hash ^ value hash.
  uint32_t hash() override;
  const char* getClass() const override;
  BaseString* toString(int flags = eToStringPlain) override;
  // eKeyObserverReplaced when the key was present, eKeyObserverAdded when it was new,
  // -1 when nothing could be stored.
  int _setValueForKeyInternal(BaseObject* value, BaseString* key) override;
  BaseObject* _getValueForKeyInternal(BaseString* key) override;

  static constexpr unsigned int INVALID_CURSOR = 0xFFFFFFFFu;

protected:
  BaseDictionaryEntry** m_buckets;
  unsigned int m_entriesCount;
  unsigned int m_bucketsCount;
  unsigned int m_cursorIndex;
  BaseDictionaryEntry* m_cursorEntry;
  unsigned int m_cursorBucket;

private:
  // Stores or replaces; the eKeyObserverFlags of the change, or -1 when refused.
  // `adopt`: the references are the caller's to give (see adoptObjectForKey).
  int _setObject(BaseObject* value, BaseString* key, bool adopt);
  void _grow();
  BaseDictionaryEntry* _entryAtIndex(unsigned int index);
  void invalidateCursor() { m_cursorIndex = INVALID_CURSOR; }
};

// A dictionary whose values are of type T by convention; it reports the class name
// "BaseDictionary".
template <typename T>
class BaseTypedDictionary : public BaseDictionary
{
public:
  using BaseDictionary::BaseDictionary;
  using BaseDictionary::objectForKey;
  T* objectForKey(BaseString* key) { return static_cast<T*>(BaseDictionary::objectForKey(key)); }
  T* objectForKey(const char* key) { return static_cast<T*>(BaseDictionary::objectForKey(key)); }
  T* objectForKeyIndex(unsigned int index)
  {
    return static_cast<T*>(BaseDictionary::objectForKeyIndex(index));
  }
};
