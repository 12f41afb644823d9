#include "runtime/BaseThread.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "object/BaseAutorelease.h"
#include "object/BaseObject.h"
#include "support/CountedObject.h"

namespace {

// True as soon as `condition` holds; false once a generous deadline has passed.
template <typename Condition>
bool eventually(Condition condition)
{
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Runs the test's body on its worker, counting entries and marking the end.
class Worker : public BaseObject, public BaseThread
{
public:
  explicit Worker(std::function<void(Worker&)> body) : m_body(std::move(body)) {}
  ~Worker() override { stopThread(); }

  void threadMethod() override
  {
    m_entries++;
    m_body(*this);
    m_finished = true;
  }
  void pollUntilStopped()
  {
    while (m_keepRunning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  std::function<void(Worker&)> m_body;
  std::atomic<int> m_entries{0};
  std::atomic<bool> m_finished{false};
};

void pollUntilStopped(Worker& worker)
{
  worker.pollUntilStopped();
}

class BaseThreadTest : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
  void TearDown() override
  {
    for (Worker* worker : m_workers) worker->release();
  }
  Worker* make(std::function<void(Worker&)> body)
  {
    m_workers.push_back(new Worker(std::move(body)));
    return m_workers.back();
  }

  std::vector<Worker*> m_workers;
};

TEST_F(BaseThreadTest, StartingTwiceRunsOneWorkerAndStoppingIdleSucceeds)
{
  Worker* worker = make(pollUntilStopped);
  EXPECT_TRUE(worker->startThread());
  EXPECT_TRUE(worker->startThread());
  EXPECT_TRUE(worker->stopThread());
  EXPECT_EQ(worker->m_entries, 1);
  // Stopping an idle object succeeds.
  EXPECT_TRUE(worker->stopThread());
  EXPECT_FALSE(worker->isThreadRunning());
}

TEST_F(BaseThreadTest, FinishedWorkerStaysSetUntilStoppedThenRestarts)
{
  Worker* worker = make([](Worker&) {});
  ASSERT_TRUE(worker->startThread());
  ASSERT_TRUE(eventually([&] { return worker->m_finished.load(); }));
  EXPECT_TRUE(worker->isThreadRunning());
  EXPECT_TRUE(worker->startThread());  // refused: the finished worker still holds the handle
  worker->stopThread();
  EXPECT_EQ(worker->m_entries, 1);
  EXPECT_FALSE(worker->isThreadRunning());
  EXPECT_EQ(worker->getThreadId(), pthread_t());

  ASSERT_TRUE(worker->startThread());
  worker->stopThread();
  EXPECT_EQ(worker->m_entries, 2);
}

TEST_F(BaseThreadTest, StopAndJoinReturnOnlyAfterTheWorkerEnded)
{
  Worker* worker = make(pollUntilStopped);
  ASSERT_TRUE(worker->startThread());
  ASSERT_TRUE(eventually([&] { return worker->m_entries == 1; }));
  EXPECT_FALSE(worker->m_finished);
  EXPECT_TRUE(worker->stopThread());
  EXPECT_TRUE(worker->m_finished);
  EXPECT_FALSE(worker->isThreadRunning());
  // Join waits but keeps the handle for stop.
  worker = make([](Worker&) {});
  ASSERT_TRUE(worker->startThread());
  EXPECT_TRUE(worker->joinThread());
  EXPECT_TRUE(worker->m_finished);
  EXPECT_TRUE(worker->isThreadRunning());
  EXPECT_TRUE(worker->joinThread());
  EXPECT_TRUE(worker->stopThread());  // must not join the reclaimed thread again
  EXPECT_FALSE(worker->isThreadRunning());
}

TEST_F(BaseThreadTest, WorkerStoppingItselfDetachesAndEnds)
{
  std::atomic<bool> joinedItself{true}, stopResult{false}, setAfterStop{true};
  Worker* worker = make([&](Worker& self) {
    joinedItself = self.joinThread();
    stopResult = self.stopThread();
    setAfterStop = self.isThreadRunning();
  });
  // The worker's own reference is dropped on its exit path: seeing it gone means the
  // thread left threadMethod and no longer touches the object.
  worker->retain();
  worker->releaseOnThreadExit(worker);
  ASSERT_TRUE(worker->startThread());
  ASSERT_TRUE(eventually([&] { return worker->m_finished && worker->getRetainCount() == 1; }));
  EXPECT_FALSE(joinedItself);
  EXPECT_TRUE(stopResult);
  EXPECT_FALSE(setAfterStop);
  EXPECT_FALSE(worker->isThreadRunning());
}

std::atomic<int> selfOwnedDestroyed{0}, selfOwnedDestroyedOnWorker{0};

// Owns its last reference through its worker and stops the worker from its destructor,
// which therefore runs on that worker.
class SelfOwned : public BaseObject, public BaseThread
{
public:
  SelfOwned() { releaseOnThreadExit(this); }
  ~SelfOwned() override
  {
    stopThread();
    if (pthread_equal(pthread_self(), m_worker)) selfOwnedDestroyedOnWorker++;
    selfOwnedDestroyed++;
  }
  void threadMethod() override
  {
    m_worker = pthread_self();
    BaseObject* scratch = new (eRetainAutorelease) CountedObject();
    (void)scratch;
  }

private:
  pthread_t m_worker = pthread_t();
};

TEST_F(BaseThreadTest, HandedAndAutoreleasedObjectsAreReleasedAfterThreadMethod)
{
  std::atomic<int> destroyedDuringThreadMethod{-1};
  Worker* worker = make([&](Worker&) { destroyedDuringThreadMethod = CountedObject::destroyed.load(); });
  worker->releaseOnThreadExit(new CountedObject());
  ASSERT_TRUE(worker->startThread());
  worker->stopThread();
  EXPECT_EQ(destroyedDuringThreadMethod, 0);
  EXPECT_EQ(CountedObject::destroyed, 1);
  // Objects autoreleased on the worker die when it ends.
  std::atomic<int> destroyedAtEnd{-1};
  worker = make([&](Worker&) {
    for (int i = 0; i < 3; ++i) new (eRetainAutorelease) CountedObject();
    destroyedAtEnd = CountedObject::destroyed.load();
  });
  ASSERT_TRUE(worker->startThread());
  worker->stopThread();
  EXPECT_EQ(destroyedAtEnd, 1);
  EXPECT_EQ(CountedObject::destroyed, 4);
}

TEST_F(BaseThreadTest, ObjectHoldingItsLastReferenceDiesOnceOnItsWorker)
{
  // Repeated so that a worker destroying the object before startThread returns is likely.
  const int objects = 20;
  selfOwnedDestroyed = 0;
  selfOwnedDestroyedOnWorker = 0;
  for (int i = 0; i < objects; ++i) {
    ASSERT_TRUE((new SelfOwned())->startThread());
  }
  ASSERT_TRUE(
      eventually([&] { return selfOwnedDestroyed >= objects && CountedObject::destroyed >= objects; }));
  EXPECT_EQ(selfOwnedDestroyed, objects);
  EXPECT_EQ(selfOwnedDestroyedOnWorker, objects);
  EXPECT_EQ(CountedObject::destroyed, objects);
}

TEST_F(BaseThreadTest, ConcurrentWorkersEachDrainTheirOwnPool)
{
  const int workers = 8, perWorker = 5;
  BaseAutorelease testPool;
  std::vector<BaseAutorelease*> pools(workers, nullptr);
  std::atomic<int> ready{0};
  for (int i = 0; i < workers; ++i) {
    make([&, i](Worker& self) {
      pools[i] = BaseAutorelease::currentArForThread(0);
      for (int n = 0; n < perWorker; ++n) new (eRetainAutorelease) CountedObject();
      ready++;
      self.pollUntilStopped();
    });
  }
  for (Worker* worker : m_workers) ASSERT_TRUE(worker->startThread());
  ASSERT_TRUE(eventually([&] { return ready == workers; }));
  std::set<BaseAutorelease*> distinct(pools.begin(), pools.end());
  EXPECT_EQ(distinct.size(), size_t(workers));
  EXPECT_EQ(distinct.count(nullptr), 0u);
  EXPECT_EQ(distinct.count(&testPool), 0u);
  EXPECT_EQ(BaseAutorelease::currentArForThread(0), &testPool);
  EXPECT_EQ(CountedObject::destroyed, 0);

  for (Worker* worker : m_workers) worker->stopThread();
  EXPECT_EQ(CountedObject::destroyed, workers * perWorker);
}

}  // namespace
