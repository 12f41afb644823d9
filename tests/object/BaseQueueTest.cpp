// The bounded queue: order and bound across the ring's wrap, and operations called with
// and without the caller holding the queue's lock (its references: IOPacketProducerTest).
#include <gtest/gtest.h>

#include <thread>

#include "object/BaseAutorelease.h"
#include "object/BaseQueue.h"
#include "support/CountedObject.h"

namespace {

class BaseQueueTest : public ::testing::Test
{
protected:
  static int valueOf(BaseObject* object)
  {
    return object ? static_cast<CountedObject*>(object)->value() : -1;
  }

  BaseAutorelease pool;
};

TEST_F(BaseQueueTest, KeepsOrderAndItsBoundAcrossTheWrap)
{
  BaseQueue* queue = new (eRetainAutorelease) BaseQueue(2, true);
  for (int value = 0; value < 5; value++) {
    EXPECT_TRUE(queue->tryEnqueue(new (eRetainAutorelease) CountedObject(value)));
    if (value == 0) continue;
    EXPECT_FALSE(queue->tryEnqueue(new (eRetainAutorelease) CountedObject(99)));
    EXPECT_EQ(valueOf(queue->tryDequeue()), value - 1);
  }
  EXPECT_EQ(valueOf(queue->tryDequeue()), 4);
  EXPECT_EQ(queue->tryDequeue(), nullptr);
}

TEST_F(BaseQueueTest, OperationsAreSafeWithOrWithoutTheCallersLock)
{
  BaseQueue* queue = new (eRetainAutorelease) BaseQueue(3, true);
  const int total = 300;
  std::thread producer([&] {
    for (int value = 0; value < total; value++) {
      CountedObject* object = new CountedObject(value);
      for (bool queued = false; !queued; std::this_thread::yield()) {
        queue->lockQueue();
        queued = queue->tryEnqueue(object);
        queue->unlockQueue();
      }
      object->release();
    }
  });
  for (int expected = 0; expected < total; std::this_thread::yield()) {
    BaseAutorelease each;
    BaseObject* object = queue->tryDequeue();
    if (object) {
      EXPECT_EQ(valueOf(object), expected++);
    }
  }
  producer.join();
  EXPECT_EQ(queue->count(), 0u);
}

}  // namespace
