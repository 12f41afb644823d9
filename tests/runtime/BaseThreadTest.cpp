#include "runtime/BaseThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
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

TEST_F(BaseThreadTest, StartingTwiceRunsOneWorkerStopAndJoinWaitForItsEnd)
{
  Worker* worker = make([](Worker& self) { self.pollUntilStopped(); });
  EXPECT_TRUE(worker->startThread());
  EXPECT_TRUE(worker->startThread());
  ASSERT_TRUE(eventually([&] { return worker->m_entries == 1; }));
  EXPECT_FALSE(worker->m_finished);
  EXPECT_TRUE(worker->stopThread());
  EXPECT_TRUE(worker->m_finished);
  EXPECT_EQ(worker->m_entries, 1);
  EXPECT_TRUE(worker->stopThread());  // stopping an idle object succeeds
  EXPECT_FALSE(worker->isThreadRunning());
  // Join waits but keeps the handle for stop; a finished worker can start again.
  worker = make([](Worker&) {});
  ASSERT_TRUE(worker->startThread());
  EXPECT_TRUE(worker->joinThread());
  EXPECT_TRUE(worker->m_finished);
  EXPECT_TRUE(worker->isThreadRunning());
  EXPECT_TRUE(worker->joinThread());
  EXPECT_TRUE(worker->stopThread());  // must not join the reclaimed thread again
  EXPECT_FALSE(worker->isThreadRunning());
  ASSERT_TRUE(worker->startThread());
  worker->stopThread();
  EXPECT_EQ(worker->m_entries, 2);
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
}

TEST_F(BaseThreadTest, HandedAndAutoreleasedObjectsAreReleasedAfterThreadMethod)
{
  std::atomic<int> destroyedDuringThreadMethod{-1};
  Worker* worker = make([&](Worker&) {
    new (eRetainAutorelease) CountedObject();
    destroyedDuringThreadMethod = CountedObject::destroyed.load();
  });
  worker->releaseOnThreadExit(new CountedObject());
  ASSERT_TRUE(worker->startThread());
  worker->stopThread();
  EXPECT_EQ(destroyedDuringThreadMethod, 0);
  EXPECT_EQ(CountedObject::destroyed, 2);
}

}  // namespace
