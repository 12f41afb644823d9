#include <gtest/gtest.h>

#include <thread>

#include "runtime/BaseMutex.h"
#include "runtime/BaseSemaphore.h"

namespace {

TEST(BaseMutexExclusion, TryLockFailsOnlyWhileAnotherThreadHoldsIt)
{
  BaseMutex* mutex = new BaseMutex();
  bool taken = true;
  ASSERT_EQ(mutex->lock(), 0);
  std::thread([&] { taken = mutex->tryLock(); }).join();
  EXPECT_FALSE(taken);
  ASSERT_EQ(mutex->unlock(), 0);
  std::thread([&] {
    taken = mutex->tryLock();
    if (taken) mutex->unlock();
  }).join();
  EXPECT_TRUE(taken);
  mutex->release();
}

TEST(BaseSemaphoreCounting, CountsSignalsAndABlockingWaitIsReleasedFromAnotherThread)
{
  BaseSemaphore* semaphore = new BaseSemaphore(2);
  EXPECT_TRUE(semaphore->wait(0));
  EXPECT_TRUE(semaphore->wait(0));
  EXPECT_FALSE(semaphore->wait(0));
  EXPECT_TRUE(semaphore->signal());
  EXPECT_FALSE(semaphore->reset());
  EXPECT_FALSE(semaphore->wait(0));
  bool decremented = false;
  std::thread waiter([&] { decremented = semaphore->wait(1); });
  EXPECT_TRUE(semaphore->signal());
  waiter.join();
  EXPECT_TRUE(decremented);
  EXPECT_FALSE(semaphore->wait(0));  // the waiter took the only unit
  semaphore->release();
}

}  // namespace
