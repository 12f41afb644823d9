// BaseArray: growth, construction, insertion, search by equality, removal, bulk operations,
// replacement, equality and hash, sorting, and element indices as keys (what every
// container does with references: ContainersTest).
#include "support/CaptureStream.h"
#include "support/CountedObject.h"
#include "support/ValueTest.h"

namespace {

class BaseArrayTest : public ValueTest
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  static CountedObject* counted(int value) { return new (eRetainAutorelease) CountedObject(value); }
  static BaseArray* counted(std::initializer_list<int> values)
  {
    BaseArray* result = new (eRetainAutorelease) BaseArray();
    for (int value : values) result->addObject(counted(value));
    return result;
  }
  static std::vector<int> values(BaseArray* array)
  {
    std::vector<int> out;
    for (unsigned i = 0; i < array->count(); i++)
      out.push_back(((CountedObject*)array->objectAtIndex(i))->value());
    return out;
  }
};

TEST_F(BaseArrayTest, GrowthConstructionAndInsertion)
{
  BaseArray* array = counted({0, 1, 2, 3, 4, 5, 6, 7});
  CountedObject* a = counted(1);
  EXPECT_EQ(array->capacity(), 8u);
  {
    LogCapture log;
    array->insertObject(counted(8), 8);
    EXPECT_EQ(log.text(), "Verbose: new size 16 (ptr size is 8)\n");
    BaseArray* small = new (eRetainAutorelease) BaseArray(1u);
    for (BaseObject* item : {(BaseObject*)a, (BaseObject*)a, (BaseObject*)nullptr}) small->addObject(item);
    EXPECT_EQ(small->capacity() * 10 + small->count(), 82u);
  }

  const char* const words[] = {"x", "y", "z", nullptr};
  EXPECT_EQ(texts(new (eRetainAutorelease) BaseArray(words)), (Texts{"x", "y", "z"}));
  CountedObject* b = counted(2);
  BaseObject* list[] = {a, b, nullptr};
  EXPECT_EQ(values(new (eRetainAutorelease) BaseArray(list)), (std::vector<int>{1, 2}));
  EXPECT_EQ(values(new (eRetainAutorelease) BaseArray(b, a, (BaseObject*)nullptr)), (std::vector<int>{2, 1}));

  BaseArray* inserted = counted({0, 1});
  LogCapture log;
  inserted->insertObject(counted(9), 5);
  EXPECT_EQ(log.text(), "Warning: tried to insert beyond bounds 5 bounds 2\n");
  inserted->insertObject(counted(7), 0);
  inserted->insertObject(nullptr, 0);
  EXPECT_EQ(values(inserted), (std::vector<int>{7, 0, 1, 9}));
}

TEST_F(BaseArrayTest, SearchAndRemovalGoByEqualityFromTheEnd)
{
  BaseString* a = str("a");
  BaseArray* array = arrayOf({a, str("m"), a, str("b")});
  // An equal but distinct string is found: search is by equality, not identity.
  EXPECT_EQ(array->indexOfObject(str("a")), 2u);
  EXPECT_EQ(array->indexOfObject(nullptr), BaseArray::NOT_FOUND);
  EXPECT_TRUE(array->removeObject(str("a")));
  EXPECT_EQ(texts(array), (Texts{"a", "m", "b"}));
  EXPECT_EQ(a->getRetainCount(), 2);
  EXPECT_FALSE(array->removeObjectAtIndex(3));
}

TEST_F(BaseArrayTest, RemovalReleasesAndDestructionReleasesTheLastElementFirst)
{
  std::vector<int> order;
  BaseArray* array = new BaseArray();
  {
    BaseAutorelease inner;
    for (int i = 0; i < 3; i++)
      array->addObject(new (eRetainAutorelease) CountedObject(i, [&order, i] { order.push_back(i); }));
  }
  array->removeObjectAtIndex(1);
  EXPECT_EQ(order, (std::vector<int>{1}));
  array->release();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));
}

TEST_F(BaseArrayTest, BulkOperationsAndReplacement)
{
  BaseArray* array = arrayOf({str("a"), str("b")});
  BaseArray* other = arrayOf({str("b"), str("c")});
  EXPECT_TRUE(array->intersects(other));
  EXPECT_FALSE(array->subsetOfArray(other));
  array->addObjectsFromArray(other);
  EXPECT_TRUE(other->subsetOfArray(array));
  array->removeObjectsInArray(other);
  EXPECT_EQ(texts(array), (Texts{"a", "b"}));

  BaseObject* old = array->objectAtIndex(0);
  BaseString* replacement = str("new");
  array->replaceObjectAtIndex(0, replacement);
  EXPECT_EQ(old->getRetainCount(), 1);
  EXPECT_EQ(replacement->getRetainCount(), 2);
  EXPECT_DEATH(array->replaceObjectAtIndex(2, replacement), "anIndex<m_objectsCount");
}

TEST_F(BaseArrayTest, EqualityAndHash)
{
  BaseArray* plain = arrayOf({str("a"), str("c")});
  EXPECT_FALSE(plain->isEqual(arrayOf({str("a")})) || plain->isEqual(arrayOf({str("a"), str("b")})));
  EXPECT_TRUE(plain->isEqual(arrayOf({str("a"), str("c")})));
  EXPECT_FALSE(plain->isEqual(str("a")));
  EXPECT_EQ(plain->hash(), str("a")->hash() ^ str("c")->hash());
}

int byValue(void*, BaseObject* a, BaseObject* b)
{
  return static_cast<CountedObject*>(a)->value() - static_cast<CountedObject*>(b)->value();
}

TEST_F(BaseArrayTest, SortingByNaturalOrderOrByAFunction)
{
  BaseArray* numbers = counted({3, -2, 15, 0, 7, 3});
  numbers->sortArray();
  EXPECT_EQ(values(numbers), (std::vector<int>{-2, 0, 3, 3, 7, 15}));
  numbers->sortArray(nullptr, byValue, true);
  EXPECT_EQ(values(numbers), (std::vector<int>{15, 7, 3, 3, 0, -2}));
  numbers->sortArray(nullptr, byValue, false);
  EXPECT_EQ(values(numbers), (std::vector<int>{-2, 0, 3, 3, 7, 15}));
}

TEST_F(BaseArrayTest, KeysAreElementIndices)
{
  BaseArray* array = arrayOf({});
  EXPECT_EQ(array->_setValueForKeyInternal(str("first"), str("0")), BaseObject::eKeyObserverAdded);
  array->addObject(str("second"));
  EXPECT_EQ(array->_getValueForKeyInternal(str("0x1")), array->objectAtIndex(1));
  EXPECT_TRUE(array->_getValueForKeyInternal(str("2")) == nullptr &&
              array->_getValueForKeyInternal(str("+1")) == nullptr);
  EXPECT_EQ(array->_setValueForKeyInternal(str("other"), str("1")), BaseObject::eKeyObserverReplaced);
  EXPECT_EQ(array->_setValueForKeyInternal(str("x"), str("5")), -1);
  EXPECT_EQ(array->_setValueForKeyInternal(str("x"), str("abc")), -1);
  EXPECT_EQ(array->_setValueForKeyInternal(nullptr, str("0")), -1);
  EXPECT_EQ(texts(array), (Texts{"first", "other"}));
}

}  // namespace
