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

TEST_F(BaseArrayTest, GrowsByDoublingFromEight)
{
  BaseArray* array = counted({0, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(array->capacity(), 8u);
  {
    LogCapture log;
    array->addObject(counted(8));
    EXPECT_EQ(log.text(), "Verbose: new size 16 (ptr size is 8)\n");
  }
  for (int i = 9; i < 17; i++) array->addObject(counted(i));
  EXPECT_EQ(array->capacity(), 32u);
  EXPECT_EQ(values(array).back(), 16);
  BaseArray* empty = new (eRetainAutorelease) BaseArray(0u);
  EXPECT_EQ(empty->capacity(), 0u);
  EXPECT_EQ(empty->objectAtIndex(0), nullptr);
  empty->addObject(counted(1));
  EXPECT_EQ(empty->capacity(), 8u);
  // Inserting into a full array grows it too.
  BaseArray* full = new (eRetainAutorelease) BaseArray(2u);
  full->addObject(counted(1));
  full->addObject(counted(2));
  full->insertObject(counted(0), 0);
  EXPECT_EQ(values(full), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(full->capacity(), 8u);
}

TEST_F(BaseArrayTest, ConstructorsFillInOrder)
{
  const char* const words[] = {"x", "y", "z", nullptr};
  BaseArray* fromTexts = new (eRetainAutorelease) BaseArray(words);
  EXPECT_EQ(texts(fromTexts), (Texts{"x", "y", "z"}));
  EXPECT_EQ(fromTexts->capacity(), 3u);
  CountedObject *a = counted(1), *b = counted(2);
  BaseObject* list[] = {a, b, nullptr};
  EXPECT_EQ(values(new (eRetainAutorelease) BaseArray(list)), (std::vector<int>{1, 2}));
  EXPECT_EQ(a->getRetainCount(), 2);
  EXPECT_EQ(values(new (eRetainAutorelease) BaseArray(b, a, b, (BaseObject*)nullptr)),
            (std::vector<int>{2, 1, 2}));
  EXPECT_EQ(b->getRetainCount(), 4);
  EXPECT_EQ((new (eRetainAutorelease) BaseArray((BaseObject*)nullptr, (BaseObject*)nullptr))->count(), 0u);
}

TEST_F(BaseArrayTest, InsertionBeyondTheEndAppendsAndNullIsIgnored)
{
  BaseArray* array = counted({0, 1, 2});
  LogCapture log;
  array->insertObject(counted(9), 5);
  EXPECT_EQ(log.text(), "Warning: tried to insert beyond bounds 5 bounds 3\n");
  array->insertObject(counted(7), 0);
  array->insertObject(counted(8), 2);
  array->insertObject(counted(6), array->count());
  array->insertObject(nullptr, 0);
  array->addObject(nullptr);
  EXPECT_EQ(values(array), (std::vector<int>{7, 0, 8, 1, 2, 9, 6}));
}

TEST_F(BaseArrayTest, SearchAndRemovalGoByEqualityFromTheEnd)
{
  BaseString* a = str("a");
  BaseArray* array = arrayOf({a, str("m"), a, str("b")});
  // An equal but distinct string is found: search is by equality, not identity.
  EXPECT_EQ(array->indexOfObject(str("a")), 2u);
  EXPECT_EQ(array->indexOfObjectIdenticalTo(str("a")), BaseArray::NOT_FOUND);
  EXPECT_EQ(array->indexOfObjectIdenticalTo(a), 2u);
  EXPECT_EQ(array->indexOfObject(str("c")), BaseArray::NOT_FOUND);
  EXPECT_EQ(array->indexOfObject(nullptr), BaseArray::NOT_FOUND);
  EXPECT_TRUE(array->containsObject(str("b")));
  EXPECT_FALSE(array->containsObject(nullptr));
  EXPECT_EQ(a->getRetainCount(), 3);
  EXPECT_TRUE(array->removeObject(str("a")));
  EXPECT_EQ(texts(array), (Texts{"a", "m", "b"}));
  EXPECT_EQ(array->objectAtIndex(0), a);
  EXPECT_EQ(a->getRetainCount(), 2);
  EXPECT_FALSE(array->removeObject(str("zz")));
  EXPECT_FALSE(array->removeObjectAtIndex(3));
  array->removeLastObject();
  EXPECT_EQ(texts(array), (Texts{"a", "m"}));
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

TEST_F(BaseArrayTest, BulkOperations)
{
  BaseArray* array = arrayOf({str("a"), str("b")});
  BaseArray* other = arrayOf({str("b"), str("c")});
  EXPECT_TRUE(array->intersects(other));
  EXPECT_FALSE(array->subsetOfArray(other));
  array->addObjectsFromArray(other);
  EXPECT_EQ(texts(array), (Texts{"a", "b", "b", "c"}));
  EXPECT_TRUE(other->subsetOfArray(array));
  array->addObjectsFromArray(array);
  EXPECT_EQ(array->count(), 8u);
  array->removeObjectsInArray(other);
  EXPECT_EQ(texts(array), (Texts{"a", "b", "b", "c", "a", "b"}));
  EXPECT_TRUE(arrayOf({})->subsetOfArray(other));
}

TEST_F(BaseArrayTest, ReplacementRetainsTheNewElementBeforeReleasingTheOld)
{
  BaseString* old = str("old");
  BaseString* replacement = str("new");
  BaseArray* array = arrayOf({old});
  array->replaceObjectAtIndex(0, replacement);
  EXPECT_EQ(old->getRetainCount(), 1);
  EXPECT_EQ(replacement->getRetainCount(), 2);
  array->replaceObjectAtIndex(0, replacement);
  EXPECT_EQ(replacement->getRetainCount(), 2);
  EXPECT_DEATH(array->replaceObjectAtIndex(1, replacement), "anIndex<m_objectsCount");
  EXPECT_DEATH(array->replaceObjectAtIndex(0, nullptr), "newObject!=NULL");
}

TEST_F(BaseArrayTest, EqualityIsElementwiseAndClassBoundAndHashIsTheXorOfElementHashes)
{
  BaseArray* plain = arrayOf({});
  BaseTypedArray<BaseString>* typed = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  EXPECT_STREQ(typed->getClass(), "BaseArray");
  EXPECT_TRUE(plain->isEqual(typed));
  EXPECT_EQ(plain->hash(), 0u);
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
  EXPECT_EQ(plain->hash(), str("a")->hash() ^ str("c")->hash());
  EXPECT_EQ(arrayOf({str("b"), str("a"), str("a")})->hash(), str("b")->hash());
  // A pool holds the same elements but is no array.
  BaseAutorelease holding;
  holding.addObject(str("a"));
  holding.addObject(str("c"));
  EXPECT_FALSE(plain->isEqual(&holding));
}

int byValue(void* context, BaseObject* a, BaseObject* b)
{
  ++*static_cast<int*>(context);
  return static_cast<CountedObject*>(a)->value() - static_cast<CountedObject*>(b)->value();
}

TEST_F(BaseArrayTest, SortingByNaturalOrderOrByAFunction)
{
  const char* const words[] = {"b", "a", "c", nullptr};
  BaseArray* strings = new (eRetainAutorelease) BaseArray(words);
  strings->sortArray();
  EXPECT_EQ(texts(strings), (Texts{"a", "b", "c"}));
  BaseArray* numbers = counted({3, -2, 15, 0, 7, 7, 1});
  numbers->sortArray();
  EXPECT_EQ(values(numbers), (std::vector<int>{-2, 0, 1, 3, 7, 7, 15}));
  int calls = 0;
  numbers->sortArray(&calls, byValue, true);
  EXPECT_EQ(values(numbers), (std::vector<int>{15, 7, 7, 3, 1, 0, -2}));
  EXPECT_GT(calls, 0);
  numbers->sortArray(&calls, byValue, false);
  EXPECT_EQ(values(numbers), (std::vector<int>{-2, 0, 1, 3, 7, 7, 15}));
}

TEST_F(BaseArrayTest, KeysAreElementIndices)
{
  BaseArray* array = arrayOf({});
  EXPECT_EQ(array->_getValueForKeyInternal(str("0")), nullptr);
  EXPECT_EQ(array->_setValueForKeyInternal(str("first"), str("0")), BaseObject::eKeyObserverAdded);
  array->addObject(str("second"));
  for (const char* key : {"1", "0x1", "01"})
    EXPECT_EQ(array->_getValueForKeyInternal(str(key)), array->objectAtIndex(1));
  for (const char* key : {"abc", "2", "-1", "99999999999999999999999"})
    EXPECT_EQ(array->_getValueForKeyInternal(str(key)), nullptr) << key;
  EXPECT_EQ(array->_setValueForKeyInternal(str("other"), str("1")), BaseObject::eKeyObserverReplaced);
  EXPECT_EQ(array->_setValueForKeyInternal(str("x"), str("5")), -1);
  EXPECT_EQ(array->_setValueForKeyInternal(str("x"), str("abc")), -1);
  EXPECT_EQ(array->_setValueForKeyInternal(nullptr, str("0")), -1);
  EXPECT_EQ(texts(array), (Texts{"first", "other"}));
}

}  // namespace
