// What every container does with its elements: one reference per element held, each given
// back once, an element out of its container before its destructor runs; and the two
// small containers, the list and the bounded queue (its references: IOPacketProducerTest).
#include "object/BaseDictionary.h"
#include "object/BaseList.h"
#include "object/BaseQueue.h"
#include "support/CountedObject.h"
#include "support/ValueTest.h"

namespace {

class ContainersTest : public ValueTest
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  static int valueOf(BaseObject* object)
  {
    return object ? static_cast<CountedObject*>(object)->value() : -1;
  }
};

TEST_F(ContainersTest, EachHoldsOneReferencePerElementUntilDestroyed)
{
  CountedObject* element = new CountedObject(9);
  BaseArray* elements = new BaseArray();
  BaseDictionary* dictionary = new BaseDictionary();
  BaseList* list = new BaseList();
  BaseQueue* queue = new BaseQueue(4, true);
  for (const char* key : {"a", "b", "c", "d"}) {
    elements->addObject(element);
    dictionary->setObjectForKey(element, key);
    list->addTrailingObject(element);
    EXPECT_TRUE(queue->tryEnqueue(element));
  }
  int expected = 17;
  EXPECT_EQ(element->getRetainCount(), expected);
  for (BaseObject* container :
       {(BaseObject*)elements, (BaseObject*)dictionary, (BaseObject*)list, (BaseObject*)queue}) {
    container->release();
    EXPECT_EQ(element->getRetainCount(), expected -= 4);
  }
  EXPECT_EQ(CountedObject::destroyed, 0);
  EXPECT_EQ(element->release(), nullptr);
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(ContainersTest, RemovedElementIsOutBeforeItsDestructorRunsAndClearingTakesLateAdditions)
{
  BaseArray* elements = new (eRetainAutorelease) BaseArray();
  BaseDictionary* dictionary = new (eRetainAutorelease) BaseDictionary();
  unsigned arraySeen = 99, dictionarySeen = 99;
  CountedObject* inArray = new CountedObject(1, [&] { arraySeen = elements->count(); });
  CountedObject* inDictionary = new CountedObject(2, [&] { dictionarySeen = dictionary->count(); });
  elements->addObject(num(0));
  elements->addObject(inArray);
  dictionary->setObjectForKey(inDictionary, "watcher");
  dictionary->setCStringForKey("x", "other");
  inArray->release();
  inDictionary->release();
  EXPECT_TRUE(elements->removeObjectAtIndex(1));
  dictionary->removeObjectForKey("watcher");
  EXPECT_EQ(arraySeen, 1u);
  EXPECT_EQ(dictionarySeen, 1u);

  // Elements that add elements while the container is cleared: those are cleared too. The
  // dictionary's late entry goes to bucket 0, which the clearing has passed ("adder" is in 4).
  CountedObject* arrayAdder =
      new CountedObject(3, [&] { elements->addObject(new (eRetainAutorelease) CountedObject(4)); });
  CountedObject* dictionaryAdder = new CountedObject(5, [&] {
    CountedObject* late = new CountedObject(6);
    dictionary->setObjectForKey(late, "a");
    late->release();
  });
  elements->addObject(arrayAdder);
  dictionary->setObjectForKey(dictionaryAdder, "adder");
  arrayAdder->release();
  dictionaryAdder->release();
  elements->removeAllObjects();
  dictionary->removeAllObjects();
  EXPECT_EQ(elements->count() + dictionary->count(), 0u);
  EXPECT_EQ(elements->capacity(), 8u);
  EXPECT_EQ(CountedObject::destroyed, 5);  // the autoreleased one is the pool's
}

TEST_F(ContainersTest, ListWalksInOrderAndQueueKeepsItsBoundAcrossTheWrap)
{
  BaseList* list = new (eRetainAutorelease) BaseList();
  for (int i = 1; i <= 3; i++) list->addTrailingObject(new (eRetainAutorelease) CountedObject(i));
  BaseListNode* cursor = nullptr;
  int expected = 1;
  while (list->getNext(cursor)) EXPECT_EQ(valueOf(cursor->object), expected++);
  EXPECT_EQ(expected, 4);

  BaseQueue* queue = new (eRetainAutorelease) BaseQueue(2, true);
  EXPECT_TRUE(queue->tryEnqueue(new (eRetainAutorelease) CountedObject(0)));
  for (int value = 1; value < 3; value++) {
    EXPECT_TRUE(queue->tryEnqueue(new (eRetainAutorelease) CountedObject(value)));
    EXPECT_FALSE(queue->tryEnqueue(new (eRetainAutorelease) CountedObject(99)) || queue->count() != 2);
    EXPECT_EQ(valueOf(queue->tryDequeue()), value - 1);
  }
  EXPECT_EQ(valueOf(queue->tryDequeue()), 2);
  EXPECT_EQ(queue->tryDequeue(), nullptr);
}

}  // namespace
