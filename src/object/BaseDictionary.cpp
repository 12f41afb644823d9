#include "object/BaseDictionary.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "object/BaseAutorelease.h"
#include "object/SmallBlocks.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

namespace {

// Empty buckets; released with the size of `count` of them.
BaseDictionaryEntry** newBuckets(unsigned int count)
{
  const size_t size = static_cast<size_t>(count) * sizeof(BaseDictionaryEntry*);
  void* buckets = SmallBlocks::allocate(size);
  memset(buckets, 0, size);
  return static_cast<BaseDictionaryEntry**>(buckets);
}

}  // namespace

BaseDictionary::BaseDictionary()
{
  init(8);
}

BaseDictionary::BaseDictionary(const char* const (*pairs)[2])
{
  int rows = 0;
  while (pairs && pairs[rows][0]) rows++;
  // With no rows there would be no bucket at all to put a later key in.
  init(rows > 0 ? rows : 8);
  for (int i = 0; i < rows; i++) setCStringForKey(pairs[i][1], pairs[i][0]);
}

BaseDictionary::~BaseDictionary()
{
  removeAllObjects();
  SmallBlocks::release(m_buckets, m_bucketsCount * sizeof(BaseDictionaryEntry*));
  m_buckets = nullptr;
  m_bucketsCount = 0;
}

void BaseDictionary::init(int initialCount)
{
  if (initialCount < 1) initialCount = 8;
  m_buckets = newBuckets(static_cast<unsigned int>(initialCount));
  m_entriesCount = 0;
  m_bucketsCount = static_cast<unsigned int>(initialCount);
  m_cursorIndex = INVALID_CURSOR;
  m_cursorEntry = nullptr;
  m_cursorBucket = 0;
}

BaseDictionaryEntry* BaseDictionary::findEntry(BaseString* aKey)
{
  BASE_ASSERT(aKey);
  // The bucket count need not be a power of two (pair tables): the mask still stays below it.
  for (BaseDictionaryEntry* entry = m_buckets[aKey->hash() & (m_bucketsCount - 1)]; entry;
       entry = entry->next)
    if (entry->key->isEqual(aKey)) return entry;
  return nullptr;
}

BaseObject* BaseDictionary::objectForKey(BaseString* key)
{
  if (!key) {
    BASE_LOG(this, eMsgError, "lookup of a NULL key");
    return nullptr;
  }
  BaseDictionaryEntry* entry = findEntry(key);
  return entry ? entry->value : nullptr;
}

BaseObject* BaseDictionary::objectForKey(const char* key)
{
  if (!key) {
    BASE_LOG(this, eMsgError, "lookup of a NULL key");
    return nullptr;
  }
  BaseString* temporary = new (eRetainNone) BaseString(key);
  BaseObject* value = objectForKey(temporary);
  temporary->release();
  return value;
}

BaseObject* BaseDictionary::objectForKey(BaseDictionary* dictionary, BaseString* key)
{
  if (!dictionary) {
    BASE_LOG(nullptr, eMsgError, "'%S' with NULL", key);
    return nullptr;
  }
  return dictionary->objectForKey(key);
}

BaseObject* BaseDictionary::objectForKey(BaseDictionary* dictionary, const char* key)
{
  if (!dictionary) {
    BASE_LOG(nullptr, eMsgError, "'%s' with NULL", key);
    return nullptr;
  }
  return dictionary->objectForKey(key);
}

BaseDictionaryEntry* BaseDictionary::_entryAtIndex(unsigned int index)
{
  if (index >= m_entriesCount) return nullptr;
  if (m_cursorIndex == INVALID_CURSOR || m_cursorIndex > index || !m_cursorEntry) {
    m_cursorIndex = 0;
    m_cursorBucket = 0;
    m_cursorEntry = m_buckets[0];
    while (!m_cursorEntry && ++m_cursorBucket < m_bucketsCount) m_cursorEntry = m_buckets[m_cursorBucket];
  }
  while (m_cursorEntry && m_cursorIndex < index) {
    m_cursorEntry = m_cursorEntry->next;
    while (!m_cursorEntry && ++m_cursorBucket < m_bucketsCount) m_cursorEntry = m_buckets[m_cursorBucket];
    m_cursorIndex++;
  }
  // Only a count that disagrees with the chains gets here without an entry; a cursor
  // past the last bucket must not be trusted again.
  if (!m_cursorEntry) invalidateCursor();
  return m_cursorEntry;
}

BaseString* BaseDictionary::keyAtIndex(unsigned int index)
{
  BaseDictionaryEntry* entry = _entryAtIndex(index);
  return entry ? entry->key : nullptr;
}

BaseObject* BaseDictionary::objectForKeyIndex(unsigned int index)
{
  BaseDictionaryEntry* entry = _entryAtIndex(index);
  return entry ? entry->value : nullptr;
}

BaseTypedArray<BaseString>* BaseDictionary::allKeys()
{
  BaseTypedArray<BaseString>* keys = new (eRetainAutorelease) BaseTypedArray<BaseString>(m_entriesCount);
  for (unsigned int i = 0; i < m_bucketsCount; i++)
    for (BaseDictionaryEntry* entry = m_buckets[i]; entry; entry = entry->next) keys->addObject(entry->key);
  return keys;
}

BaseArray* BaseDictionary::allValues()
{
  BaseArray* values = new (eRetainAutorelease) BaseArray(m_entriesCount);
  for (unsigned int i = 0; i < m_bucketsCount; i++)
    for (BaseDictionaryEntry* entry = m_buckets[i]; entry; entry = entry->next)
      values->addObject(entry->value);
  return values;
}

int BaseDictionary::_setObject(BaseObject* value, BaseString* key, bool adopt)
{
  // Keys and values may come from a peer's object stream: refused, never trusted.
  int refused = 0;
  if (!key) {
    BASE_LOG(this, eMsgError, "NULL key, value not stored");
    refused = -1;
  } else if (!key->isOfClass("BaseString")) {
    BASE_LOG(this, eMsgError, "key of class %s, value not stored", key->getClass());
    refused = -1;
  } else if (!value) {
    BASE_LOG(this, eMsgError, "NULL value for key '%S', not stored", key);
    refused = -1;
  }
  if (refused) {
    if (adopt) {
      release(key);
      release(value);
    }
    return refused;
  }
  if (BaseDictionaryEntry* entry = findEntry(key)) {
    BaseObject* old = entry->value;
    entry->value = adopt ? value : value->retain();
    old->release();
    // The stored key stays.
    if (adopt) key->release();
    return eKeyObserverReplaced;
  }
  BaseDictionaryEntry** head = &m_buckets[key->hash() & (m_bucketsCount - 1)];
  if (!adopt) {
    key->retain();
    value->retain();
  }
  *head = new (SmallBlocks::allocate(sizeof(BaseDictionaryEntry))) BaseDictionaryEntry{key, value, *head};
  m_entriesCount++;
  invalidateCursor();
  if (m_entriesCount > m_bucketsCount) _grow();
  return eKeyObserverAdded;
}

void BaseDictionary::_grow()
{
  BASE_ASSERT(m_bucketsCount < 0x80000000u);
  unsigned int grownCount = m_bucketsCount * 2;
  BaseDictionaryEntry** grown = newBuckets(grownCount);
  // Old buckets in index order, each chain from its head, pushed onto the new heads: this
  // order decides the iteration order and so the bytes the object stream writes.
  for (unsigned int i = 0; i < m_bucketsCount; i++) {
    BaseDictionaryEntry* entry = m_buckets[i];
    while (entry) {
      BaseDictionaryEntry* next = entry->next;
      BaseDictionaryEntry** head = &grown[entry->key->hash() & (grownCount - 1)];
      entry->next = *head;
      *head = entry;
      entry = next;
    }
  }
  SmallBlocks::release(m_buckets, m_bucketsCount * sizeof(BaseDictionaryEntry*));
  m_buckets = grown;
  m_bucketsCount = grownCount;
  invalidateCursor();
}

void BaseDictionary::setObjectForKey(BaseObject* value, BaseString* key)
{
  _setObject(value, key, false);
}

void BaseDictionary::adoptObjectForKey(BaseObject* value, BaseString* key)
{
  _setObject(value, key, true);
}

void BaseDictionary::setObjectForKey(BaseObject* value, const char* key)
{
  if (!key) {
    BASE_LOG(this, eMsgError, "NULL key, value not stored");
    return;
  }
  BaseString* aKey = new (eRetainNone) BaseString(key);
  _setObject(value, aKey, false);
  aKey->release();
}

void BaseDictionary::setCStringForKey(const char* value, const char* key)
{
  if (!value) {
    BASE_LOG(this, eMsgError, "NULL value for key '%s', not stored", key);
    return;
  }
  BaseString* text = new (eRetainNone) BaseString(value);
  setObjectForKey(text, key);
  text->release();
}

void BaseDictionary::setIntForKey(int value, BaseString* key)
{
  BaseString* text = new (eRetainNone) BaseString();
  text->setFormat("%i", value);
  setObjectForKey(text, key);
  text->release();
}

void BaseDictionary::setIntForKey(int value, const char* key)
{
  BaseString* text = new (eRetainNone) BaseString();
  text->setFormat("%i", value);
  setObjectForKey(text, key);
  text->release();
}

void BaseDictionary::removeObjectForKey(BaseString* key)
{
  if (!key) {
    BASE_LOG(this, eMsgError, "removal of a NULL key");
    return;
  }
  BaseDictionaryEntry** link = &m_buckets[key->hash() & (m_bucketsCount - 1)];
  while (*link && !(*link)->key->isEqual(key)) link = &(*link)->next;
  BaseDictionaryEntry* entry = *link;
  if (!entry) return;
  // Out of the table before anything is released: a value's destructor may come back here,
  // and `key` itself may be the stored key that the release destroys.
  *link = entry->next;
  m_entriesCount--;
  invalidateCursor();
  entry->key->release();
  entry->value->release();
  SmallBlocks::release(entry, sizeof *entry);
}

void BaseDictionary::removeObjectForKey(const char* key)
{
  if (!key) {
    BASE_LOG(this, eMsgError, "removal of a NULL key");
    return;
  }
  BaseString* temporary = new (eRetainNone) BaseString(key);
  removeObjectForKey(temporary);
  temporary->release();
}

void BaseDictionary::removeAllObjects()
{
  // Each entry leaves the table before its key and value are released. A destructor that
  // adds entries meanwhile (even growing the table) has them cleared in a further pass.
  while (m_entriesCount > 0) {
    for (unsigned int i = 0; i < m_bucketsCount; i++) {
      while (BaseDictionaryEntry* entry = m_buckets[i]) {
        m_buckets[i] = entry->next;
        m_entriesCount--;
        invalidateCursor();
        entry->key->release();
        entry->value->release();
        SmallBlocks::release(entry, sizeof *entry);
      }
    }
  }
  invalidateCursor();
}

void BaseDictionary::addEntriesFromDictionary(BaseDictionary* other)
{
  if (!other) return;
  // By index rather than along the chains: the cursor restarts instead of dangling should
  // a released value change `other`.
  for (unsigned int i = 0; i < other->m_entriesCount; i++) {
    BaseDictionaryEntry* entry = other->_entryAtIndex(i);
    if (entry) _setObject(entry->value, entry->key, false);
  }
}

bool BaseDictionary::isEqual(BaseObject* other)
{
  if (other == this) return true;
  if (!isOfClass(other, "BaseDictionary")) return false;
  BaseDictionary* dictionary = static_cast<BaseDictionary*>(other);
  if (dictionary->m_entriesCount != m_entriesCount) return false;
  for (unsigned int i = 0; i < m_bucketsCount; i++) {
    for (BaseDictionaryEntry* entry = m_buckets[i]; entry; entry = entry->next) {
      BaseDictionaryEntry* theirs = dictionary->findEntry(entry->key);
      if (!theirs || !entry->value->isEqual(theirs->value)) return false;
    }
  }
  return true;
}

uint32_t BaseDictionary::hash()
{
  uint32_t combined = 0;
  for (unsigned int i = 0; i < m_bucketsCount; i++)
    for (BaseDictionaryEntry* entry = m_buckets[i]; entry; entry = entry->next)
      combined ^= entry->key->hash() ^ entry->value->hash();
  return combined;
}

const char* BaseDictionary::getClass() const
{
  return "BaseDictionary";
}

BaseString* BaseDictionary::toString(int flags)
{
  // Opening, closing, separator, pair separator.
  static const char* const delims[4][4] = {{"DICTIONARY (", ")", ",", "->"},
                                           {"{", "}", ",", ":"},
                                           {"{", "}", ",", "="},
                                           {"<dict>", "</dict>", "", ""}};
  const int format = flags & 3;
  const char* const* delimiters = delims[format];
  BaseAutorelease pool;
  BaseTypedArray<BaseString>* texts = new (eRetainAutorelease) BaseTypedArray<BaseString>(m_entriesCount);
  for (unsigned int i = 0; i < m_entriesCount; i++) {
    BaseDictionaryEntry* entry = _entryAtIndex(i);
    if (!entry) break;
    BaseString* key = entry->key;
    BaseObject* value = entry->value;
    BaseString* keyText = key;
    if (format == eToStringJSON)
      keyText = key->toString(eToStringJSON);
    else if (format == eToStringLua && !key->isValidIdentifier())
      keyText = BaseString::stringWithFormat("[%@]", key);
    texts->addObject(
        BaseString::stringWithFormat("%S %s %S", keyText, delimiters[3], value->toString(flags)));
  }
  BaseString* text = arrayToString(texts, delimiters[0], delimiters[1], delimiters[2]);
  BaseString* result = toStringCommon(flags, text, (int)m_entriesCount);
  result->retain();
  result->autorelease(1);
  return result;
}

int BaseDictionary::_setValueForKeyInternal(BaseObject* value, BaseString* key)
{
  return _setObject(value, key, false);
}

BaseObject* BaseDictionary::_getValueForKeyInternal(BaseString* key)
{
  return objectForKey(key);
}
