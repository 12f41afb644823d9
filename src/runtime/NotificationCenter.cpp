#include "runtime/NotificationCenter.h"

#include "object/BaseString.h"
#include "runtime/Debug.h"

NotificationCenter::NotificationCenter() : m_subscriptions(new BaseTypedDictionary<BaseArray>()) {}

NotificationCenter::~NotificationCenter()
{
  m_subscriptions->release();
}

const char* NotificationCenter::getClass() const
{
  return "NotificationCenter";
}

NotificationCenter* NotificationCenter::sharedNotificationCenter()
{
  // A function-local static is initialised exactly once even when several threads make
  // the first call together; the reference is never released.
  static NotificationCenter* const shared = new NotificationCenter();
  return shared;
}

void NotificationCenter::subscribeForMessage(BaseObject* subscriber, BaseString* name)
{
  if (!subscriber || !name) return;
  m_lock.lock();
  BaseArray* subscribers = m_subscriptions->objectForKey(name);
  if (!subscribers) {
    // A dictionary key must not change while stored, and the caller's string might.
    BaseString* key = new BaseString(name);
    subscribers = new BaseArray();
    m_subscriptions->setObjectForKey(subscribers, key);
    subscribers->release();
    key->release();
  }
  subscribers->addObject(subscriber);
  m_lock.unlock();
}

unsigned int NotificationCenter::_detachInternal(BaseArray* subscribers, BaseObject* subscriber, bool all)
{
  unsigned int detached = 0;
  unsigned int index;
  // Identity, not isEqual: an equal but distinct subscriber keeps its own subscriptions.
  while ((index = subscribers->indexOfObjectIdenticalTo(subscriber)) != BaseArray::NOT_FOUND) {
    // The array's reference moves to the caller: releasing it here could run the
    // subscriber's destructor under m_lock, and that destructor may call back in.
    subscriber->retain();
    subscribers->removeObjectAtIndex(index);
    ++detached;
    if (!all) break;
  }
  return detached;
}

void NotificationCenter::_releaseDetached(BaseObject* subscriber, unsigned int count)
{
  while (count-- > 0) subscriber->release();
}

void NotificationCenter::unsubscribeForMessage(BaseObject* subscriber, BaseString* name)
{
  if (!subscriber || !name) return;
  m_lock.lock();
  BaseArray* subscribers = m_subscriptions->objectForKey(name);
  unsigned int detached = subscribers ? _detachInternal(subscribers, subscriber, false) : 0;
  m_lock.unlock();
  _releaseDetached(subscriber, detached);
}

void NotificationCenter::unsubscribeForAllMessage(BaseObject* subscriber)
{
  if (!subscriber) return;
  unsigned int detached = 0;
  m_lock.lock();
  for (unsigned int i = 0, n = m_subscriptions->count(); i < n; ++i)
    detached += _detachInternal(m_subscriptions->objectForKeyIndex(i), subscriber, true);
  m_lock.unlock();
  _releaseDetached(subscriber, detached);
}

BaseArray* NotificationCenter::_copyRecipientsInternal(BaseString* name)
{
  BaseArray* named = m_subscriptions->objectForKey(name);
  BaseArray* catchAll = m_subscriptions->objectForKey("");
  BaseArray* recipients = new BaseArray((named ? named->count() : 0) + (catchAll ? catchAll->count() : 0));
  if (named) recipients->addObjectsFromArray(named);
  if (catchAll) recipients->addObjectsFromArray(catchAll);
  return recipients;
}

void NotificationCenter::postMessage(BaseString* name, BaseDictionary* info, void* context)
{
  if (!name) return;
  BASE_LOG(this, eMsgDebug, "message = %S", name);
  // Snapshot, then dispatch: a recipient may subscribe, unsubscribe or post from inside
  // receiveMessage, and other threads may do the same, without touching this delivery.
  m_lock.lock();
  BaseArray* recipients = _copyRecipientsInternal(name);
  m_lock.unlock();
  for (unsigned int i = 0, n = recipients->count(); i < n; ++i)
    recipients->objectAtIndex(i)->receiveMessage(name, info, context);
  recipients->release();
}
