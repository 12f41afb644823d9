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

TEST_F(SmartPointerTest, HoldsOneReferenceForItsLifetime)
{
  CountedObject* object = new CountedObject();
  {
    SP<CountedObject> held(object);
    EXPECT_EQ(object->getRetainCount(), 2);
    EXPECT_EQ((CountedObject*)held, object);
    SP<CountedObject> copy(held);
    EXPECT_EQ(object->getRetainCount(), 3);
  }
  EXPECT_EQ(object->getRetainCount(), 1);
  object->release();
}

TEST_F(SmartPointerTest, NewTagCreatesTheOnlyReference)
{
  SP<CountedObject> made(eSmartPointerNew);
  EXPECT_EQ(made->getRetainCount(), 1);
  EXPECT_EQ(CountedObject::constructed, 1);
  made.New();
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ(made->getRetainCount(), 1);
}

TEST_F(SmartPointerTest, AssigningTheHeldObjectKeepsItAlive)
{
  SP<CountedObject> held(eSmartPointerNew);
  CountedObject* raw = held;
  held = raw;
  EXPECT_EQ(raw->getRetainCount(), 1);
  held = held;
  EXPECT_EQ(raw->getRetainCount(), 1);
  EXPECT_EQ(CountedObject::destroyed, 0);
  held = nullptr;
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(SmartPointerTest, MoveAssignmentReleasesTheOldObjectAndLeaksNothing)
{
  SP<CountedObject> target(eSmartPointerNew);
  SP<CountedObject> source(eSmartPointerNew);
  CountedObject* moved = source;
  target = std::move(source);
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ((CountedObject*)target, moved);
  EXPECT_EQ(moved->getRetainCount(), 1);
  EXPECT_EQ((CountedObject*)source, nullptr);

  SP<CountedObject>& alias = target;
  target = std::move(alias);
  EXPECT_EQ(moved->getRetainCount(), 1);

  // Two pointers to the same object: the move must not drop the count twice.
  SP<CountedObject> same(moved);
  target = std::move(same);
  EXPECT_EQ(moved->getRetainCount(), 1);
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
