#include "runtime/BaseEvent.h"

#include <gtest/gtest.h>

#include "object/BaseString.h"

namespace {

class Recorder : public BaseObject
{
public:
  void executeEvent(int event, BaseObject* argument) override
  {
    m_event = event;
    m_argument = argument;
  }
  int m_event = 0;
  BaseObject* m_argument = nullptr;
};

TEST(BaseEventTest, ComparesByTimeAndExecutesOnTheTargetHoldingBothForTheEventsLife)
{
  Recorder* target = new Recorder();
  BaseObject* parameter = new BaseString("payload");
  BaseEvent* early = new BaseEvent(1, target, nullptr, 10);
  BaseEvent* late = new BaseEvent(42, target, parameter, 20);
  EXPECT_EQ(early->compare(late), -1);
  EXPECT_EQ(late->compare(early), 1);
  EXPECT_EQ(late->compare(late), 0);
  EXPECT_GT(early->compare(parameter), 0);  // other classes by class name
  EXPECT_EQ(target->getRetainCount(), 3);
  EXPECT_EQ(parameter->getRetainCount(), 2);
  late->_executeEvent();
  EXPECT_EQ(target->m_event, 42);
  EXPECT_EQ(target->m_argument, parameter);
  EXPECT_EQ(late->scheduledTarget(), target);
  EXPECT_EQ(late->scheduledEvent(), 42);
  EXPECT_EQ(late->scheduledTime(), 20);
  late->release();
  early->release();
  EXPECT_EQ(target->getRetainCount(), 1);
  EXPECT_EQ(parameter->getRetainCount(), 1);
  parameter->release();
  target->release();
}

}  // namespace
