// Autorelease pools: what a pool owns and when it releases it, levels, allocations that
// register before they construct, the stack of pools of each thread, and thread-local
// storage. Every count is exact.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

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

TEST_F(BaseAutoreleaseTest, PoolReleasesWhatItOwnsMostRecentFirstAsOftenAsItWasGiven)
{
  std::vector<int> order;
  CountedObject* shared = new CountedObject(9);
  {
    BaseAutorelease pool;
    for (int i = 0; i < 3; i++)
      new (eRetainAutorelease) CountedObject(i, [&order, i] { order.push_back(i); });
    shared->retain();
    shared->autorelease();
    EXPECT_EQ(shared->getRetainCount(), 2);
    EXPECT_EQ(pool.count(), 4u);
  }
  EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(shared->getRetainCount(), 1);
  shared->release();
  {
    // Objects autoreleased during the drain (destructors make temporaries too) are drained.
    BaseAutorelease pool;
    new (eRetainAutorelease) CountedObject(1, [] { new (eRetainAutorelease) CountedObject(2); });
  }
  EXPECT_EQ(CountedObject::destroyed, 6);
}

TEST_F(BaseAutoreleaseTest, WithoutAPoolAtTheLevelTheObjectLeaksWithItsCount)
{
  LogCapture log;
  CountedObject* orphan = new (eRetainAutorelease) CountedObject();
  EXPECT_TRUE(orphan->getRetainCount() == 1 && orphan->autorelease() == orphan);
  EXPECT_EQ(log.text(),
            "Warning: No autorelease pool for this thread, leaking\n"
            "Warning: No autorelease pool for this thread, leaking\n");
  orphan->release();  // nobody else owns it
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseAutoreleaseTest, ResultsGoOneLevelOut)
{
  std::optional<BaseAutorelease> outer;
  outer.emplace();
  CountedObject* result = buildInScopedPool();
  EXPECT_EQ(CountedObject::destroyed, 1);
  EXPECT_EQ(result->getRetainCount(), 1);
  {
    BaseAutorelease inner;
    new (eRetainAutoreleaseParent) CountedObject();
    EXPECT_EQ(outer->count(), 2u);
  }
  outer.reset();
  EXPECT_EQ(CountedObject::destroyed, 3);
}

TEST_F(BaseAutoreleaseTest, NestedAllocationsUseThePendingSlotsAndAThrowFreesItsSlot)
{
  {
    BaseAutorelease pool;
    // The holder's memory is registered before its argument is allocated and constructed.
    Holder* outer = new (eRetainAutorelease)
        Holder(new (eRetainAutorelease) Holder(new (eRetainAutorelease) CountedObject(7)));
    EXPECT_EQ(outer->held()->getRetainCount(), 2);  // the pool and the outer holder
  }
  EXPECT_EQ(CountedObject::destroyed, 1);

  struct Throwing : BaseObject
  {
    explicit Throwing(int) { throw 1; }
  };
  BaseAutorelease pool;
  for (int i = 0; i < 4; i++) EXPECT_ANY_THROW(new (eRetainAutorelease) Throwing(i));
  {
    BaseAutorelease inner;
    for (int i = 0; i < 4; i++) EXPECT_ANY_THROW(new (eRetainAutoreleaseParent) Throwing(i));
  }
  EXPECT_EQ(pool.count(), 0u);
  // Had the slots stayed taken, a fourth registration would have stopped the program.
  EXPECT_EQ((new (eRetainAutorelease) CountedObject())->getRetainCount(), 1);
  EXPECT_DEATH(new (eRetainAutorelease) Holder(new (eRetainAutorelease) Holder(
                   new (eRetainAutorelease) Holder(new (eRetainAutorelease) CountedObject()))),
               "Assertion failed: 0, file .*BaseAutorelease");
}

TEST_F(BaseAutoreleaseTest, StackOfPoolsAndEachThreadHasItsOwn)
{
  std::vector<std::optional<BaseAutorelease>> pools(3);
  for (auto& pool : pools) pool.emplace();
  EXPECT_EQ(BaseAutorelease::currentArForThread(2), &*pools[0]);
  EXPECT_EQ(BaseAutorelease::currentArForThread(3), nullptr);
  // An outer pool closed first leaves the inner one usable.
  pools[1].reset();
  EXPECT_EQ(BaseAutorelease::currentArForThread(0), &*pools[2]);
  new (eRetainAutorelease) CountedObject();
  EXPECT_EQ(pools[2]->count(), 1u);
  pools[2].reset();
  pools[0].reset();
  EXPECT_EQ(CountedObject::destroyed, 1);

  BaseAutorelease mine;
  std::thread([] {
    EXPECT_EQ(BaseAutorelease::currentArForThread(0), nullptr);
    BaseAutorelease pool;
    new (eRetainAutorelease) CountedObject();
  }).join();
  EXPECT_EQ(CountedObject::destroyed, 2);
  EXPECT_EQ(mine.count(), 0u);
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
