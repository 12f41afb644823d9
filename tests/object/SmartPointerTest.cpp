#include <gtest/gtest.h>

#include <utility>

#include "object/SmartPointer.h"
#include "support/CountedObject.h"

namespace {

class SmartPointerTest : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  void TearDown() override { EXPECT_EQ(CountedObject::alive(), 0) << "an object leaked"; }
};

TEST_F(SmartPointerTest, HoldsOneReferenceForItsLifetimeAndNewMakesTheOnlyOne)
{
  CountedObject* object = new CountedObject();
  {
    SP<CountedObject> held(object);
    SP<CountedObject> copy(held);
    EXPECT_EQ(object->getRetainCount(), 3);
  }
  EXPECT_EQ(object->getRetainCount(), 1);
  object->release();
  SP<CountedObject> made(eSmartPointerNew);
  made.New();
  EXPECT_EQ(CountedObject::destroyed, 2);
  EXPECT_EQ(made->getRetainCount(), 1);
}

TEST_F(SmartPointerTest, AssigningTheHeldObjectKeepsItAliveAndMovingLeaksNothing)
{
  SP<CountedObject> target(eSmartPointerNew);
  CountedObject* raw = target;
  target = raw;
  EXPECT_EQ(raw->getRetainCount(), 1);
  SP<CountedObject> source(eSmartPointerNew);
  CountedObject* moved = source;
  target = std::move(source);
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ((CountedObject*)target, moved);
  EXPECT_EQ(moved->getRetainCount(), 1);
  // Two pointers to the same object: the move must not drop the count twice.
  SP<CountedObject> same(moved);
  target = std::move(same);
  EXPECT_EQ(moved->getRetainCount(), 1);
  target = nullptr;
  EXPECT_EQ(CountedObject::destroyed, 2);
}

TEST(SmartPointerDeathTest, ArrowOnEmptyPointerStops)
{
  EXPECT_DEATH(
      {
        SP<CountedObject> empty;
        empty->value();
      },
      "Assertion failed: m_object,");
}

}  // namespace
