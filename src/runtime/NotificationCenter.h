// An in-process publish and subscribe switch: postMessage calls receiveMessage on every
// subscriber of the name, then on every subscriber of "" (the catch-all), synchronously on
// the posting thread. The center retains each subscriber once per subscription until it is
// unsubscribed; it does not retain the posted dictionary nor interpret the context. Any
// thread may call any operation; subscribers may change subscriptions or post from inside
// receiveMessage.
#pragma once

#include "object/BaseArray.h"
#include "object/BaseDictionary.h"
#include "runtime/BaseMutex.h"

class BaseString;

class NotificationCenter : public BaseObject
{
public:
  NotificationCenter();
  // Releases every subscription. The shared center is never destroyed.
  ~NotificationCenter() override;

  const char* getClass() const override;

  // The process-wide center, created once on the first call (from any thread) and kept
  // for the life of the process.
  static NotificationCenter* sharedNotificationCenter();

  // Appends `subscriber` to the name's list and retains it; subscribing twice means two
  // deliveries per message. Null subscriber or name: nothing. The name is copied.
  void subscribeForMessage(BaseObject* subscriber, BaseString* name);
  // Drops one subscription of this very object (identity, not isEqual) under the name;
  // nothing when there is none. The reference is released after the lock is let go, so a
  // subscriber whose destructor unsubscribes may die here.
  void unsubscribeForMessage(BaseObject* subscriber, BaseString* name);
  // Drops every subscription of this object under every name.
  void unsubscribeForAllMessage(BaseObject* subscriber);

  // Delivers to the recipients as they were when the call began: the name's subscribers in
  // subscription order, then those of "" (so a post under "" reaches them twice). Each of
  // them is retained until the post returns, so one unsubscribed meanwhile (by itself or
  // another thread) still gets this message and stays alive through it; one subscribed
  // meanwhile gets the next. Logs "message = <name>" at Debug severity; null name: nothing.
  virtual void postMessage(BaseString* name, BaseDictionary* info, void* context);

protected:
  // A new array (one reference for the caller) of the recipients of `name`, in delivery
  // order, each retained by it. Called with m_lock held.
  BaseArray* _copyRecipientsInternal(BaseString* name) REQUIRES(m_lock);
  // Removes one occurrence (or all) of `subscriber` from `subscribers`, keeping the
  // references: returns how many the caller must release once m_lock is let go.
  static unsigned int _detachInternal(BaseArray* subscribers, BaseObject* subscriber, bool all);
  static void _releaseDetached(BaseObject* subscriber, unsigned int count);

  BaseMutex m_lock;  // guards m_subscriptions; never held while calling out to a subscriber
  // Name (a private copy) -> BaseArray of subscribers in subscription order; empty arrays stay.
  BaseTypedDictionary<BaseArray>* m_subscriptions PT_GUARDED_BY(m_lock);
};
