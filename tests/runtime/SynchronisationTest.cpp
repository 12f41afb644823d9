#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/BaseMutex.h"
#include "runtime/BaseSemaphore.h"

namespace {

class BaseMutexExclusion : public ::testing::Test
{
protected:
  void TearDown() override { m_mutex->release(); }
  BaseMutex* m_mutex = new BaseMutex();
};

TEST_F(BaseMutexExclusion, TryLockFailsOnlyWhileAnotherThreadHoldsIt)
{
  bool taken = true;
  ASSERT_EQ(m_mutex->lock(), 0);
  std::thread([&] { taken = m_mutex->tryLock(); }).join();
  EXPECT_FALSE(taken);
  ASSERT_EQ(m_mutex->unlock(), 0);

  std::thread([&] {
    taken = m_mutex->tryLock();
    if (taken) m_mutex->unlock();
  }).join();
  EXPECT_TRUE(taken);
}

TEST_F(BaseMutexExclusion, CounterIncrementedUnderTheLockEndsExact)
{
  const int threads = 4, increments = 20000;
  long counter = 0;
  std::vector<std::thread> incrementers;
  for (int t = 0; t < threads; ++t) {
    incrementers.emplace_back([&] {
      for (int i = 0; i < increments; ++i) {
        m_mutex->lock();
        ++counter;
        m_mutex->unlock();
      }
    });
  }
  for (std::thread& incrementer : incrementers) incrementer.join();
  EXPECT_EQ(counter, long(threads) * increments);
}

// glibc keeps a named semaphore "/x" as the file /dev/shm/sem.x.
int semaphoreFilesOfThisProcess()
{
  std::string prefix = "sem.corvane-" + std::to_string(getpid()) + "-";
  int count = 0;
  DIR* directory = opendir("/dev/shm");
  if (!directory) return -1;
  while (dirent* entry = readdir(directory)) {
    if (std::string(entry->d_name).compare(0, prefix.size(), prefix) == 0) ++count;
  }
  closedir(directory);
  return count;
}

TEST(BaseSemaphoreCounting, InitialCountAllowsThatManyTriesAndResetEmptiesIt)
{
  BaseSemaphore* semaphore = new BaseSemaphore(2);
  EXPECT_TRUE(semaphore->wait(0));
  EXPECT_TRUE(semaphore->wait(0));
  EXPECT_FALSE(semaphore->wait(0));
  EXPECT_TRUE(semaphore->signal());
  EXPECT_TRUE(semaphore->signal());
  EXPECT_FALSE(semaphore->reset());
  EXPECT_FALSE(semaphore->wait(0));
  EXPECT_TRUE(semaphore->signal());
  EXPECT_FALSE(semaphore->reset());
  EXPECT_FALSE(semaphore->wait(0));
  semaphore->release();
}

TEST(BaseSemaphoreCounting, BlockingWaitIsReleasedBySignalFromAnotherThread)
{
  BaseSemaphore* semaphore = new BaseSemaphore(0);
  bool decremented = false;
  std::thread waiter([&] { decremented = semaphore->wait(1); });
  EXPECT_TRUE(semaphore->signal());
  waiter.join();
  EXPECT_TRUE(decremented);
  EXPECT_FALSE(semaphore->wait(0));  // the waiter took the only unit
  semaphore->release();
}

TEST(BaseSemaphoreNaming, TwoSemaphoresAreIndependentAndDestructionRemovesTheirNames)
{
  int before = semaphoreFilesOfThisProcess();
  ASSERT_GE(before, 0) << "/dev/shm is not readable";
  BaseSemaphore* first = new BaseSemaphore(0);
  BaseSemaphore* second = new BaseSemaphore(0);
  EXPECT_EQ(semaphoreFilesOfThisProcess(), before + 2);
  EXPECT_TRUE(first->signal());
  EXPECT_FALSE(second->wait(0));
  EXPECT_TRUE(first->wait(0));
  second->release();
  first->release();
  EXPECT_EQ(semaphoreFilesOfThisProcess(), before);
}

}  // namespace
