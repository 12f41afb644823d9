#include "object/BaseList.h"

#include <gtest/gtest.h>

#include "support/CountedObject.h"

namespace {

class BaseListFixture : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
};

TEST_F(BaseListFixture, WalksFromFirstToLastThenStops)
{
  BaseList* list = new BaseList();
  for (int i = 1; i <= 3; i++) {
    CountedObject* element = new CountedObject(i);
    list->addTrailingObject(element);
    element->release();
  }
  EXPECT_EQ(list->count(), 3u);
  BaseListNode* cursor = nullptr;
  int expected = 1;
  while (list->getNext(cursor)) {
    // The element is the node's first field.
    EXPECT_EQ(static_cast<CountedObject*>(*reinterpret_cast<BaseObject**>(cursor))->value(), expected++);
  }
  EXPECT_EQ(expected, 4);
  BaseListNode* last = cursor;
  EXPECT_FALSE(list->getNext(cursor));
  EXPECT_EQ(cursor, last);
  list->release();
}

TEST_F(BaseListFixture, EmptyListYieldsNothing)
{
  BaseList* list = new BaseList();
  BaseListNode* cursor = nullptr;
  EXPECT_FALSE(list->getNext(cursor));
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(list->count(), 0u);
  EXPECT_STREQ(list->getClass(), "BaseList");
  list->release();
}

TEST_F(BaseListFixture, HoldsOneReferencePerElementUntilDestroyed)
{
  BaseList* list = new BaseList();
  CountedObject* element = new CountedObject(9);
  list->addTrailingObject(element);
  list->addTrailingObject(element);
  EXPECT_EQ(element->getRetainCount(), 3);
  element->release();
  EXPECT_EQ(CountedObject::alive(), 1);
  list->release();
  EXPECT_EQ(CountedObject::destroyed, 1);
}

}  // namespace
