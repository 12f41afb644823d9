// Key-value coding and observation of BaseObject: reading and setting values by key and
// key path, and telling observers of changes.
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseObject.h"
#include "object/BaseString.h"

#include <cstring>

namespace {

const char* const OBSERVER_KEY = "kvo_obs";
const char* const MASK_KEY = "kvo_mask";

// The object that holds the path's last component: every component but the last
// followed from `from`; null when a step yields nothing.
BaseObject* ownerOfLastComponent(BaseObject* from, BaseTypedArray<BaseString>* keys, unsigned int first)
{
  BaseObject* current = from;
  for (unsigned int i = first; current && i + 1 < keys->count(); i++)
    current = current->getValueForKey(keys->objectAtIndex(i));
  return current;
}

}  // namespace

BaseObject* BaseObject::getValueForKey(BaseString* key)
{
  return _getValueForKeyInternal(key);
}

int BaseObject::setValueForKey(BaseObject* value, BaseString* key, void* context)
{
  if (!context) context = this;
  // Observers may drop the last other reference to the value while they are told.
  retain(value);
  notifyValueWillChange(key, value, context);
  int result = _setValueForKeyInternal(value, key);
  notifyValueDidChange(key, value, result, context);
  release(value);
  return result;
}

BaseTypedArray<BaseString>* BaseObject::splitKeyPath(BaseString* path)
{
  if (!path || path->length() == 0) return new (eRetainAutorelease) BaseTypedArray<BaseString>(0u);
  if (path->cString()[0] != '/') return path->split(".");
  BaseTypedArray<BaseString>* keys = path->split("/");
  keys->removeObjectAtIndex(0);
  return keys;
}

BaseObject* BaseObject::getValueForKeyPath(BaseString* path)
{
  BaseAutorelease pool;
  BaseObject* value = _getValueForKeyPathInternal(splitKeyPath(path), 0);
  // The value belongs to the objects along the path; the caller's pool keeps it alive
  // should the pool above have held the last reference to an intermediate.
  retain(value);
  if (value) value->autorelease(1);
  return value;
}

BaseObject* BaseObject::_getValueForKeyPathInternal(BaseTypedArray<BaseString>* keys, unsigned int first)
{
  BaseObject* current = this;
  for (unsigned int i = first; current && i < keys->count(); i++) current = current->getValueForKey(keys->objectAtIndex(i));
  return current;
}

int BaseObject::setValueForKeyPath(BaseObject* value, BaseString* path, void* context, bool createIntermediates)
{
  BaseAutorelease pool;
  return _setValueForKeyPathInternal(value, splitKeyPath(path), 0, context, createIntermediates);
}

int BaseObject::_setValueForKeyPathInternal(BaseObject* value, BaseTypedArray<BaseString>* keys, unsigned int first,
                                            void* context, bool createIntermediates)
{
  if (first >= keys->count()) return -1;
  BaseObject* current = this;
  for (unsigned int i = first; i + 1 < keys->count(); i++) {
    BaseString* key = keys->objectAtIndex(i);
    BaseObject* next = current->getValueForKey(key);
    if (!next && createIntermediates) {
      // An array when the following component is the first index, a dictionary otherwise.
      bool arrayNext = strcmp(keys->objectAtIndex(i + 1)->cString(), "0") == 0;
      BaseObject* container = arrayNext ? static_cast<BaseObject*>(new (eRetainAutorelease) BaseArray())
                                        : static_cast<BaseObject*>(new (eRetainAutorelease) BaseDictionary());
      if (current->setValueForKey(container, key, context) < 0) return -1;
      next = current->getValueForKey(key);
    }
    if (!next) return -1;
    current = next;
  }
  return current->setValueForKey(value, keys->lastObject(), context);
}

void BaseObject::addObserverForValueAtKeyPath(BaseObject* observer, BaseString* path, int mask)
{
  BaseAutorelease pool;
  _addObserverForValueAtKeyPathInternal(observer, splitKeyPath(path), 0, mask);
}

void BaseObject::_addObserverForValueAtKeyPathInternal(BaseObject* observer, BaseTypedArray<BaseString>* keys,
                                                       unsigned int first, int mask)
{
  if (!observer || first >= keys->count()) return;
  BaseObject* target = ownerOfLastComponent(this, keys, first);
  if (!target) return;

  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  record->setObjectForKey(observer, OBSERVER_KEY);
  BaseNumber* maskNumber = new (eRetainAutorelease) BaseNumber(mask & eKeyObserverAll);
  record->setObjectForKey(maskNumber, MASK_KEY);

  if (!target->m_keyObservers) target->m_keyObservers = new BaseDictionary();
  BaseString* key = keys->lastObject();
  BaseArray* records = static_cast<BaseArray*>(target->m_keyObservers->objectForKey(key));
  if (!records) {
    records = new (eRetainAutorelease) BaseArray();
    target->m_keyObservers->setObjectForKey(records, key);
  }
  records->addObject(record);
}

void BaseObject::removeObserverForValueAtKeyPath(BaseObject* observer, BaseString* path)
{
  BaseAutorelease pool;
  _removeObserverForValueAtKeyPathInternal(observer, splitKeyPath(path), 0);
}

void BaseObject::_removeObserverForValueAtKeyPathInternal(BaseObject* observer, BaseTypedArray<BaseString>* keys,
                                                          unsigned int first)
{
  if (first >= keys->count()) return;
  BaseObject* target = ownerOfLastComponent(this, keys, first);
  if (!target || !target->m_keyObservers) return;
  BaseArray* records = static_cast<BaseArray*>(target->m_keyObservers->objectForKey(keys->lastObject()));
  if (!records) return;
  for (unsigned int i = records->count(); i-- > 0;) {
    BaseDictionary* record = static_cast<BaseDictionary*>(records->objectAtIndex(i));
    if (record->objectForKey(OBSERVER_KEY) == observer) records->removeObjectAtIndex(i);
  }
}

namespace {

// A copy of the key's records, so that observers may register or unregister while they
// are told; null when nobody observes the key.
BaseArray* observerSnapshot(BaseDictionary* table, BaseString* key)
{
  if (!table || !key) return nullptr;
  BaseArray* records = static_cast<BaseArray*>(table->objectForKey(key));
  if (!records || records->count() == 0) return nullptr;
  BaseArray* snapshot = new (eRetainAutorelease) BaseArray(records->count());
  snapshot->addObjectsFromArray(records);
  return snapshot;
}

}  // namespace

void BaseObject::notifyValueWillChange(BaseString* key, BaseObject*, void* context)
{
  if (!m_keyObservers) return;
  BaseAutorelease pool;
  BaseArray* records = observerSnapshot(m_keyObservers, key);
  for (unsigned int i = 0; records && i < records->count(); i++) {
    BaseObject* observer = static_cast<BaseDictionary*>(records->objectAtIndex(i))->objectForKey(OBSERVER_KEY);
    if (observer == context) continue;
    observer->observedKeyWillChange(key, this, context);
  }
}

void BaseObject::notifyValueDidChange(BaseString* key, BaseObject*, int flags, void* context)
{
  if (!m_keyObservers) return;
  BaseAutorelease pool;
  BaseArray* records = observerSnapshot(m_keyObservers, key);
  for (unsigned int i = 0; records && i < records->count(); i++) {
    BaseDictionary* record = static_cast<BaseDictionary*>(records->objectAtIndex(i));
    BaseObject* observer = record->objectForKey(OBSERVER_KEY);
    if (observer == context) continue;
    int mask = static_cast<BaseNumber*>(record->objectForKey(MASK_KEY))->getInteger();
    if ((mask & flags) != flags) continue;
    observer->observedKeyDidChange(key, this, static_cast<eKeyObserverFlags>(flags), context);
  }
}
