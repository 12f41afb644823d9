// A record of an event scheduled for an object: the target and the optional parameter
// are retained for the record's life. Immutable after construction, so it may be read
// from any thread; _executeEvent runs the target's code on the calling thread.
#pragma once

#include "object/BaseObject.h"

class BaseEvent : public BaseObject
{
public:
  // `time` is in the scheduler's unit; `target` is required, `parameter` may be null.
  BaseEvent(int event, BaseObject* target, BaseObject* parameter, long time);
  ~BaseEvent() override;

  long scheduledTime() const { return m_scheduledTime; }
  BaseObject* scheduledTarget() const { return m_target; }
  int scheduledEvent() const { return m_event; }
  // The target's executeEvent(event, parameter); it returns nothing, so neither does this.
  void _executeEvent();

  // Against another event: -1, 0 or 1 as this one is scheduled earlier, at the same time
  // or later, so that ascending order is chronological. This is the opposite sign of the
  // usual "positive when the receiver orders first". Other objects: BaseObject::compare.
  int compare(BaseObject* other) override;
  const char* getClass() const override;

protected:
  long m_scheduledTime;
  BaseObject* m_target;
  BaseObject* m_parameter;
  int m_event;
};
