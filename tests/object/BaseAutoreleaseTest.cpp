#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/BaseThread.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

// Holds one object for the lifetime of the holder; lets a test allocate an object
// whose constructor arguments allocate further objects.
class Holder : public BaseObject
{
public:
  explicit Holder(BaseObject* held) : m_held(nullptr) { setMember(&m_held, held); }
  ~Holder() override { release(m_held); }
  BaseObject* held() const { return m_held; }

private:
  BaseObject* m_held;
};

class BaseAutoreleaseTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    CountedObject::resetCounts();
    ASSERT_EQ(BaseAutorelease::currentArForThread(0), nullptr) << "a pool leaked from an earlier test";
  }
  void TearDown() override { EXPECT_EQ(BaseAutorelease::currentArForThread(0), nullptr); }
};

TEST_F(BaseAutoreleaseTest, PoolOwnedObjectDiesWhenThePoolCloses)
{
  {
    BaseAutorelease pool;
    CountedObject* object = new (eRetainAutorelease) CountedObject();
    EXPECT_EQ(object->getRetainCount(), 1);
    EXPECT_EQ(pool.count(), 1u);
    EXPECT_EQ(CountedObject::destroyed, 0);
  }
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseAutoreleaseTest, ObjectAutoreleasedSeveralTimesIsReleasedAsOften)
{
  CountedObject* object = new CountedObject();
  {
    BaseAutorelease pool;
    object->retain();
    object->retain();
    object->autorelease();
    object->autorelease();
    EXPECT_EQ(object->getRetainCount(), 3);
  }
  EXPECT_EQ(object->getRetainCount(), 1);
  object->release();
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseAutoreleaseTest, AllocationForAPoolWithoutAnyPoolLeaksWithCountOne)
{
  LogCapture log;
  CountedObject* orphan = new (eRetainAutorelease) CountedObject();
  EXPECT_EQ(log.text(), "Warning: No autorelease pool for this thread, leaking\n");
  EXPECT_EQ(orphan->getRetainCount(), 1);
  {
    BaseAutorelease later;
  }
  EXPECT_EQ(CountedObject::destroyed, 0);
  orphan->release();  // nobody else owns it
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseAutoreleaseTest, AutoreleaseToAMissingLevelLeavesTheObjectUntouched)
{
  CountedObject* object = new CountedObject();
  LogCapture log;
  {
    BaseAutorelease only;
    EXPECT_EQ(object->autorelease(1), object);
    EXPECT_EQ(log.text(), "Warning: No autorelease pool for this thread, leaking\n");
    EXPECT_EQ(object->getRetainCount(), 1);
    EXPECT_EQ(only.count(), 0u);
  }
  EXPECT_EQ(CountedObject::destroyed, 0);
  object->release();
}

// The idiom of every builder: temporaries in a scoped pool, the result handed one level out.
CountedObject* buildInScopedPool()
{
  BaseAutorelease scoped;
  new (eRetainAutorelease) CountedObject(1);
  CountedObject* result = new (eRetainAutorelease) CountedObject(2);
  result->retain();
  result->autorelease(1);
  return result;
}

TEST_F(BaseAutoreleaseTest, LevelOneResultOutlivesTheScopedPool)
{
  {
    BaseAutorelease outer;
    CountedObject* result = buildInScopedPool();
    EXPECT_EQ(CountedObject::destroyed, 1);
    EXPECT_EQ(result->getRetainCount(), 1);
    EXPECT_EQ(result->value(), 2);
  }
  EXPECT_EQ(CountedObject::destroyed, 2);
}

TEST_F(BaseAutoreleaseTest, ParentAllocationBelongsToThePoolOneLevelOut)
{
  std::optional<BaseAutorelease> outer;
  outer.emplace();
  {
    BaseAutorelease inner;
    new (eRetainAutoreleaseParent) CountedObject();
    EXPECT_EQ(inner.count(), 0u);
    EXPECT_EQ(outer->count(), 1u);
  }
  EXPECT_EQ(CountedObject::destroyed, 0);
  outer.reset();
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseAutoreleaseTest, NestedAllocationsUseThePendingSlots)
{
  {
    BaseAutorelease pool;
    // The holder's memory is registered before its argument is allocated and constructed.
    Holder* outer = new (eRetainAutorelease)
        Holder(new (eRetainAutorelease) Holder(new (eRetainAutorelease) CountedObject(7)));
    EXPECT_EQ(outer->getRetainCount(), 1);
    Holder* inner = static_cast<Holder*>(outer->held());
    EXPECT_EQ(inner->getRetainCount(), 2);  // the pool and the outer holder
    EXPECT_EQ(pool.count(), 3u);
    EXPECT_EQ(CountedObject::destroyed, 0);
  }
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseAutoreleaseTest, ConstructorThatThrowsFreesItsPendingSlot)
{
  struct Throwing : BaseObject
  {
    explicit Throwing(int) { throw 1; }
  };
  BaseAutorelease pool;
  for (int i = 0; i < 5; i++) EXPECT_ANY_THROW(new (eRetainAutorelease) Throwing(i));
  {
    BaseAutorelease inner;
    for (int i = 0; i < 5; i++) EXPECT_ANY_THROW(new (eRetainAutoreleaseParent) Throwing(i));
  }
  EXPECT_EQ(pool.count(), 0u);
  // Had the slots stayed taken, a fourth registration would have stopped the program.
  CountedObject* object = new (eRetainAutorelease) CountedObject();
  EXPECT_EQ(object->getRetainCount(), 1);
}

TEST(BaseAutoreleaseDeathTest, FourthPendingAllocationStops)
{
  EXPECT_DEATH(
      {
        BaseAutorelease pool;
        new (eRetainAutorelease) Holder(new (eRetainAutorelease) Holder(
            new (eRetainAutorelease) Holder(new (eRetainAutorelease) CountedObject())));
      },
      "Assertion failed: 0, file .*BaseAutorelease");
}

TEST(BaseAutoreleaseDeathTest, ClosingAPoolOnAThreadWithoutPoolsStops)
{
  EXPECT_DEATH(
      {
        std::optional<BaseAutorelease> pool;
        pool.emplace();
        std::thread([&pool] { pool.reset(); }).join();
      },
      "currentStack!=NULL");
}

TEST_F(BaseAutoreleaseTest, OuterPoolClosedFirstLeavesInnerUsable)
{
  std::optional<BaseAutorelease> outer, inner;
  outer.emplace();
  new (eRetainAutorelease) CountedObject(1);
  inner.emplace();
  new (eRetainAutorelease) CountedObject(2);

  outer.reset();
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ(BaseAutorelease::currentArForThread(0), &*inner);
  EXPECT_EQ(BaseAutorelease::currentArForThread(1), nullptr);

  new (eRetainAutorelease) CountedObject(3);
  EXPECT_EQ(inner->count(), 2u);
  inner.reset();
  EXPECT_EQ(CountedObject::destroyed, 3);
}

TEST_F(BaseAutoreleaseTest, ClosingTheLastPoolDiscardsTheStack)
{
  {
    BaseAutorelease first;
    {
      BaseAutorelease second;
      EXPECT_EQ(BaseAutorelease::currentArForThread(0), &second);
      EXPECT_EQ(BaseAutorelease::currentArForThread(1), &first);
      EXPECT_EQ(BaseAutorelease::currentArForThread(2), nullptr);
    }
    EXPECT_EQ(BaseAutorelease::currentArForThread(0), &first);
  }
  EXPECT_EQ(BaseAutorelease::currentArForThread(0), nullptr);
}

TEST_F(BaseAutoreleaseTest, ObjectsAutoreleasedDuringTheDrainAreDrainedToo)
{
  {
    BaseAutorelease pool;
    new (eRetainAutorelease) CountedObject(1, [] {
      // A destructor that makes temporaries of its own, as real objects do.
      new (eRetainAutorelease) CountedObject(2, [] { new (eRetainAutorelease) CountedObject(3); });
    });
  }
  EXPECT_EQ(CountedObject::constructed, 3);
  EXPECT_EQ(CountedObject::destroyed, 3);
}

TEST_F(BaseAutoreleaseTest, DrainReleasesMostRecentFirst)
{
  std::vector<int> order;
  {
    BaseAutorelease pool;
    for (int i = 0; i < 3; i++)
      new (eRetainAutorelease) CountedObject(i, [&order, i] { order.push_back(i); });
  }
  EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
}

TEST_F(BaseAutoreleaseTest, DeepNestingGrowsTheStack)
{
  std::vector<std::optional<BaseAutorelease>> pools(40);
  for (auto& pool : pools) {
    pool.emplace();
    new (eRetainAutorelease) CountedObject();
  }
  EXPECT_EQ(BaseAutorelease::currentArForThread(39), &*pools[0]);
  for (size_t i = pools.size(); i-- > 0;) pools[i].reset();
  EXPECT_EQ(CountedObject::destroyed, 40);
}

TEST_F(BaseAutoreleaseTest, EachThreadHasItsOwnPools)
{
  BaseAutorelease mine;
  std::vector<std::thread> workers;
  std::atomic<int> sawForeignPool{0};
  for (int t = 0; t < 4; t++)
    workers.emplace_back([&sawForeignPool] {
      if (BaseAutorelease::currentArForThread(0) != nullptr) sawForeignPool++;
      for (int round = 0; round < 200; round++) {
        BaseAutorelease pool;
        for (int i = 0; i < 10; i++) new (eRetainAutorelease) CountedObject(i);
      }
      if (BaseAutorelease::currentArForThread(0) != nullptr) sawForeignPool++;
    });
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(sawForeignPool, 0);
  EXPECT_EQ(CountedObject::destroyed, 4 * 200 * 10);
  EXPECT_EQ(mine.count(), 0u);
  EXPECT_EQ(BaseAutorelease::currentArForThread(0), &mine);
}

TEST_F(BaseAutoreleaseTest, PoolReportsItsOwnClassAndIsNoArray)
{
  BaseAutorelease pool;
  EXPECT_STREQ(pool.getClass(), "BaseAutorelease");
  EXPECT_FALSE(pool.isOfClass("BaseArray"));
  BaseArray* empty = new (eRetainAutorelease) BaseArray();
  EXPECT_FALSE(empty->isEqual(&pool));
}

TEST(ThreadLocalStorageTest, InitialValueIsForTheConstructingThreadOnly)
{
  ThreadLocalStorage<int> value(5);
  EXPECT_EQ((int)value, 5);
  int seen = -1;
  std::thread([&] {
    seen = value;
    value = 9;
  }).join();
  EXPECT_EQ(seen, 0);
  EXPECT_EQ((int)value, 5);
}

}  // namespace
