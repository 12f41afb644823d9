#include "runtime/BaseEvent.h"

#include "runtime/BaseAssert.h"

BaseEvent::BaseEvent(int event, BaseObject* target, BaseObject* parameter, long time)
    : m_scheduledTime(time), m_target(retain(target)), m_parameter(retain(parameter)), m_event(event)
{
  // The condition's text is the assertion message.
  // clang-format off
  BASE_ASSERT(target!=NULL);
  // clang-format on
}

BaseEvent::~BaseEvent()
{
  release(m_target);
  release(m_parameter);
}

void BaseEvent::_executeEvent()
{
  m_target->executeEvent(m_event, m_parameter);
}

int BaseEvent::compare(BaseObject* other)
{
  if (!BaseObject::isOfClass(other, "BaseEvent")) return BaseObject::compare(other);
  long otherTime = static_cast<BaseEvent*>(other)->m_scheduledTime;
  return m_scheduledTime < otherTime ? -1 : (m_scheduledTime == otherTime ? 0 : 1);
}

const char* BaseEvent::getClass() const
{
  return "BaseEvent";
}
