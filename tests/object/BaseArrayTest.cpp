#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

class BaseArrayTest : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }

  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  static CountedObject* num(int value) { return new (eRetainAutorelease) CountedObject(value); }
  static std::vector<std::string> texts(BaseArray* array)
  {
    std::vector<std::string> out;
    for (unsigned i = 0; i < array->count(); i++)
      out.push_back(static_cast<BaseString*>(array->objectAtIndex(i))->cString());
    return out;
  }
  static std::vector<int> values(BaseArray* array)
  {
    std::vector<int> out;
    for (unsigned i = 0; i < array->count(); i++)
      out.push_back(static_cast<CountedObject*>(array->objectAtIndex(i))->value());
    return out;
  }

  BaseAutorelease pool;
};

TEST_F(BaseArrayTest, GrowsByDoublingFromEight)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  EXPECT_EQ(array->capacity(), 8u);
  for (int i = 0; i < 8; i++) array->addObject(num(i));
  EXPECT_EQ(array->capacity(), 8u);
  {
    LogCapture log;
    array->addObject(num(8));
    EXPECT_EQ(log.text(), "Verbose: new size 16 (ptr size is 8)\n");
  }
  EXPECT_EQ(array->capacity(), 16u);
  for (int i = 9; i < 17; i++) array->addObject(num(i));
  EXPECT_EQ(array->capacity(), 32u);
  EXPECT_EQ(array->count(), 17u);
  EXPECT_EQ(values(array).back(), 16);

  BaseArray* empty = new (eRetainAutorelease) BaseArray(0u);
  EXPECT_EQ(empty->capacity(), 0u);
  EXPECT_EQ(empty->objectAtIndex(0), nullptr);
  empty->addObject(num(1));
  EXPECT_EQ(empty->capacity(), 8u);
}

TEST_F(BaseArrayTest, ConstructorsFillInOrder)
{
  const char* const words[] = {"x", "y", "z", nullptr};
  BaseArray* fromTexts = new (eRetainAutorelease) BaseArray(words);
  EXPECT_EQ(texts(fromTexts), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(fromTexts->capacity(), 3u);

  CountedObject* a = num(1);
  CountedObject* b = num(2);
  BaseObject* list[] = {a, b, nullptr};
  BaseArray* fromList = new (eRetainAutorelease) BaseArray(list);
  EXPECT_EQ(values(fromList), (std::vector<int>{1, 2}));
  EXPECT_EQ(a->getRetainCount(), 2);

  BaseArray* fromArguments = new (eRetainAutorelease) BaseArray(b, a, b, (BaseObject*)nullptr);
  EXPECT_EQ(values(fromArguments), (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(b->getRetainCount(), 4);
  BaseArray* none = new (eRetainAutorelease) BaseArray((BaseObject*)nullptr, (BaseObject*)nullptr);
  EXPECT_EQ(none->count(), 0u);
}

TEST_F(BaseArrayTest, InsertionBeyondTheEndAppends)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  for (int i = 0; i < 3; i++) array->addObject(num(i));
  LogCapture log;
  array->insertObject(num(9), 5);
  EXPECT_EQ(log.text(), "Warning: tried to insert beyond bounds 5 bounds 3\n");
  EXPECT_EQ(values(array), (std::vector<int>{0, 1, 2, 9}));
  array->insertObject(num(7), 0);
  array->insertObject(num(8), 2);
  array->insertObject(num(6), array->count());
  EXPECT_EQ(values(array), (std::vector<int>{7, 0, 8, 1, 2, 9, 6}));
  array->insertObject(nullptr, 0);
  array->addObject(nullptr);
  EXPECT_EQ(array->count(), 7u);
}

TEST_F(BaseArrayTest, InsertionIntoAFullArrayGrowsIt)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray(2u);
  array->addObject(num(1));
  array->addObject(num(2));
  array->insertObject(num(0), 0);
  EXPECT_EQ(values(array), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(array->capacity(), 8u);
}

TEST_F(BaseArrayTest, SearchUsesEqualityFromTheEnd)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  BaseString* a = str("a");
  array->addObject(a);
  array->addObject(a);
  array->addObject(str("b"));
  // An equal but distinct string is found: search is by equality, not identity.
  EXPECT_EQ(array->indexOfObject(str("a")), 1u);
  EXPECT_EQ(array->indexOfObjectIdenticalTo(str("a")), BaseArray::NOT_FOUND);
  EXPECT_EQ(array->indexOfObjectIdenticalTo(a), 1u);
  EXPECT_EQ(array->indexOfObject(str("c")), BaseArray::NOT_FOUND);
  EXPECT_EQ(array->indexOfObject(nullptr), BaseArray::NOT_FOUND);
  EXPECT_TRUE(array->containsObject(str("b")));
  EXPECT_FALSE(array->containsObject(nullptr));
}

TEST_F(BaseArrayTest, RemoveObjectTakesOnlyTheLastEqualElement)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  BaseString* a = str("a");
  array->addObject(a);
  array->addObject(str("m"));
  array->addObject(a);
  EXPECT_EQ(a->getRetainCount(), 3);
  EXPECT_TRUE(array->removeObject(str("a")));
  EXPECT_EQ(texts(array), (std::vector<std::string>{"a", "m"}));
  EXPECT_EQ(array->objectAtIndex(0), a);
  EXPECT_EQ(a->getRetainCount(), 2);
  EXPECT_FALSE(array->removeObject(str("zz")));
  EXPECT_FALSE(array->removeObjectAtIndex(2));
  array->removeLastObject();
  EXPECT_EQ(texts(array), (std::vector<std::string>{"a"}));
}

TEST_F(BaseArrayTest, RemovalReleasesAndLastElementGoesFirst)
{
  std::vector<int> order;
  BaseArray* array = new BaseArray();
  for (int i = 0; i < 3; i++) {
    CountedObject* object = new CountedObject(i, [&order, i] { order.push_back(i); });
    array->addObject(object);
    object->release();
  }
  array->removeObjectAtIndex(1);
  EXPECT_EQ(order, (std::vector<int>{1}));
  array->release();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));
}

TEST_F(BaseArrayTest, ElementRemovedWhileItsDestructorUsesTheArray)
{
  // The element's destructor looks at the array it is leaving; it must already be out.
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  unsigned int seenCount = 99;
  CountedObject* object = new CountedObject(1, [&] { seenCount = array->count(); });
  array->addObject(num(0));
  array->addObject(object);
  object->release();
  EXPECT_TRUE(array->removeObjectAtIndex(1));
  EXPECT_EQ(seenCount, 1u);
}

TEST_F(BaseArrayTest, RemoveAllReleasesElementsAddedDuringTheRelease)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  CountedObject* first = new CountedObject(1, [&] {
    CountedObject* late = new CountedObject(2);
    array->addObject(late);
    late->release();
  });
  array->addObject(first);
  first->release();
  array->removeAllObjects();
  EXPECT_EQ(array->count(), 0u);
  EXPECT_EQ(CountedObject::destroyed, 2);
  EXPECT_EQ(array->capacity(), 8u);
}

TEST_F(BaseArrayTest, BulkOperations)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  BaseArray* other = new (eRetainAutorelease) BaseArray();
  array->addObject(str("a"));
  array->addObject(str("b"));
  other->addObject(str("b"));
  other->addObject(str("c"));
  EXPECT_TRUE(array->intersects(other));
  EXPECT_FALSE(array->subsetOfArray(other));
  array->addObjectsFromArray(other);
  EXPECT_EQ(texts(array), (std::vector<std::string>{"a", "b", "b", "c"}));
  EXPECT_TRUE(other->subsetOfArray(array));
  array->addObjectsFromArray(array);
  EXPECT_EQ(array->count(), 8u);
  array->removeObjectsInArray(other);
  EXPECT_EQ(texts(array), (std::vector<std::string>{"a", "b", "b", "c", "a", "b"}));
  EXPECT_TRUE((new (eRetainAutorelease) BaseArray())->subsetOfArray(other));
}

TEST_F(BaseArrayTest, ReplaceSwapsReferences)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  BaseString* old = str("old");
  BaseString* replacement = str("new");
  array->addObject(old);
  array->replaceObjectAtIndex(0, replacement);
  EXPECT_EQ(old->getRetainCount(), 1);
  EXPECT_EQ(replacement->getRetainCount(), 2);
  array->replaceObjectAtIndex(0, replacement);
  EXPECT_EQ(replacement->getRetainCount(), 2);
}

TEST(BaseArrayDeathTest, ReplaceOutOfRangeOrWithNullStops)
{
  EXPECT_DEATH(
      {
        BaseArray array;
        array.replaceObjectAtIndex(0, &array);
      },
      "anIndex<m_objectsCount");
  EXPECT_DEATH(
      {
        BaseArray array;
        BaseString text("x");
        array.addObject(&text);
        array.replaceObjectAtIndex(0, nullptr);
      },
      "newObject!=NULL");
}

TEST_F(BaseArrayTest, EqualityIsElementwiseAndClassBound)
{
  BaseArray* plain = new (eRetainAutorelease) BaseArray();
  BaseTypedArray<BaseString>* typed = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  EXPECT_STREQ(typed->getClass(), "BaseArray");
  EXPECT_TRUE(plain->isEqual(typed));
  plain->addObject(str("a"));
  typed->addObject(str("a"));
  EXPECT_TRUE(plain->isEqual(typed));
  EXPECT_TRUE(typed->isEqual(plain));
  typed->addObject(str("b"));
  EXPECT_FALSE(plain->isEqual(typed));
  plain->addObject(str("c"));
  EXPECT_FALSE(plain->isEqual(typed));
  EXPECT_FALSE(plain->isEqual(nullptr));
  EXPECT_FALSE(plain->isEqual(str("a")));

  BaseString* a = str("a");
  BaseString* c = str("c");
  BaseAutorelease holding;
  holding.addObject(a);
  holding.addObject(c);
  EXPECT_EQ(holding.count(), plain->count());
  EXPECT_FALSE(plain->isEqual(&holding));
}

TEST_F(BaseArrayTest, HashIsTheXorOfElementHashes)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  EXPECT_EQ(array->hash(), 0u);
  array->addObject(str("a"));
  array->addObject(str("a"));
  EXPECT_EQ(array->hash(), 0u);
  array->addObject(str("b"));
  EXPECT_EQ(array->hash(), str("b")->hash());
}

TEST_F(BaseArrayTest, SortIsAscendingByNaturalOrder)
{
  const char* const words[] = {"b", "a", "c", nullptr};
  BaseArray* strings = new (eRetainAutorelease) BaseArray(words);
  strings->sortArray();
  EXPECT_EQ(texts(strings), (std::vector<std::string>{"a", "b", "c"}));

  BaseArray* numbers = new (eRetainAutorelease) BaseArray();
  for (int value : {3, -2, 15, 0, 7, 7, 1}) numbers->addObject(num(value));
  numbers->sortArray();
  EXPECT_EQ(values(numbers), (std::vector<int>{-2, 0, 1, 3, 7, 7, 15}));
}

int byValue(void* context, BaseObject* a, BaseObject* b)
{
  ++*static_cast<int*>(context);
  return static_cast<CountedObject*>(a)->value() - static_cast<CountedObject*>(b)->value();
}

TEST_F(BaseArrayTest, SortWithFunctionHonoursDirectionAndContext)
{
  BaseArray* numbers = new (eRetainAutorelease) BaseArray();
  for (int value : {4, 1, 3, 2}) numbers->addObject(num(value));
  int calls = 0;
  numbers->sortArray(&calls, byValue, false);
  EXPECT_EQ(values(numbers), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_GT(calls, 0);
  numbers->sortArray(&calls, byValue, true);
  EXPECT_EQ(values(numbers), (std::vector<int>{4, 3, 2, 1}));
}

TEST_F(BaseArrayTest, KeysAreElementIndices)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  EXPECT_EQ(array->_getValueForKeyInternal(str("0")), nullptr);
  EXPECT_EQ(array->_setValueForKeyInternal(str("first"), str("0")), BaseObject::eKeyObserverAdded);
  array->addObject(str("second"));
  EXPECT_STREQ(static_cast<BaseString*>(array->_getValueForKeyInternal(str("1")))->cString(), "second");
  EXPECT_EQ(array->_getValueForKeyInternal(str("0x1")), array->objectAtIndex(1));
  EXPECT_EQ(array->_getValueForKeyInternal(str("01")), array->objectAtIndex(1));
  EXPECT_EQ(array->_getValueForKeyInternal(str("abc")), nullptr);
  EXPECT_EQ(array->_getValueForKeyInternal(str("2")), nullptr);
  EXPECT_EQ(array->_getValueForKeyInternal(str("-1")), nullptr);
  EXPECT_EQ(array->_getValueForKeyInternal(str("99999999999999999999999")), nullptr);

  EXPECT_EQ(array->_setValueForKeyInternal(str("other"), str("1")), BaseObject::eKeyObserverReplaced);
  EXPECT_EQ(texts(array), (std::vector<std::string>{"first", "other"}));
  EXPECT_EQ(array->_setValueForKeyInternal(str("x"), str("5")), -1);
  EXPECT_EQ(array->_setValueForKeyInternal(str("x"), str("abc")), -1);
  EXPECT_EQ(array->_setValueForKeyInternal(nullptr, str("0")), -1);
  EXPECT_EQ(array->count(), 2u);
}

TEST_F(BaseArrayTest, ArrayDestructionReleasesEveryElementOnce)
{
  BaseArray* array = new BaseArray();
  CountedObject* shared = new CountedObject();
  for (int i = 0; i < 20; i++) array->addObject(shared);
  EXPECT_EQ(shared->getRetainCount(), 21);
  array->release();
  EXPECT_EQ(shared->getRetainCount(), 1);
  shared->release();
  EXPECT_EQ(CountedObject::destroyed, 1);
}

}  // namespace
