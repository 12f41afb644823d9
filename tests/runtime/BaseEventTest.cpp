#include "runtime/BaseEvent.h"

#include <gtest/gtest.h>

#include "object/BaseString.h"

namespace {

class Recorder : public BaseObject
{
public:
  void executeEvent(int event, BaseObject* argument) override
  {
    ++m_calls;
    m_event = event;
    m_argument = argument;
  }
  int m_calls = 0;
  int m_event = 0;
  BaseObject* m_argument = nullptr;
};

class BaseEventTest : public ::testing::Test
{
protected:
  void TearDown() override
  {
    m_parameter->release();
    m_target->release();
  }
  Recorder* m_target = new Recorder();
  BaseObject* m_parameter = new BaseString("payload");
};

TEST_F(BaseEventTest, EarlierEventComparesNegativeOtherClassesByClassName)
{
  BaseEvent* early = new BaseEvent(1, m_target, nullptr, 10);
  BaseEvent* late = new BaseEvent(1, m_target, nullptr, 20);
  BaseEvent* alsoLate = new BaseEvent(2, m_target, m_parameter, 20);
  EXPECT_EQ(early->compare(late), -1);
  EXPECT_EQ(late->compare(early), 1);
  EXPECT_EQ(late->compare(alsoLate), 0);
  // The root comparison: positive when the receiver's class name sorts first.
  EXPECT_GT(early->compare(m_parameter), 0);
  EXPECT_LT(m_parameter->compare(early), 0);
  EXPECT_STREQ(early->getClass(), "BaseEvent");
  alsoLate->release();
  late->release();
  early->release();
}

TEST_F(BaseEventTest, ExecuteReachesTheTargetWithEventAndParameterHeldForTheEventsLife)
{
  BaseEvent* event = new BaseEvent(42, m_target, m_parameter, 7);
  event->_executeEvent();
  EXPECT_EQ(m_target->m_calls, 1);
  EXPECT_EQ(m_target->m_event, 42);
  EXPECT_EQ(m_target->m_argument, m_parameter);
  event->release();

  BaseEvent* bare = new BaseEvent(3, m_target, nullptr, 7);
  bare->_executeEvent();
  EXPECT_EQ(m_target->m_event, 3);
  EXPECT_EQ(m_target->m_argument, nullptr);
  bare->release();
  event = new BaseEvent(5, m_target, m_parameter, -3);
  EXPECT_EQ(m_target->getRetainCount(), 2);
  EXPECT_EQ(m_parameter->getRetainCount(), 2);
  EXPECT_EQ(event->scheduledTarget(), m_target);
  EXPECT_EQ(event->scheduledEvent(), 5);
  EXPECT_EQ(event->scheduledTime(), -3);
  event->release();
  EXPECT_EQ(m_target->getRetainCount(), 1);
  EXPECT_EQ(m_parameter->getRetainCount(), 1);
}

}  // namespace
