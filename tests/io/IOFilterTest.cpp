// The plain filter (forwarding, ownership of the wrapped stream) and the exception filter
// with the exception it throws.
#include "io/IOFilter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "io/IOExceptionFilter.h"
#include "object/BaseAutorelease.h"
#include "support/ScriptedStream.h"

namespace {

using Calls = std::vector<std::string>;

class IOFilterTest : public ::testing::Test
{
protected:
  // Four calls through `filter`: how many succeeded, and how many threw.
  static std::pair<int, int> useAll(IOAbstract* filter)
  {
    int succeeded = 0, thrown = 0;
    char buffer[10];
    uint32_t length = 10;
    const std::function<bool()> operations[] = {
        [&] { return filter->readIO(buffer, length); }, [&] { return filter->writeIO("abc", 3); },
        [&] { return filter->flushIO(); }, [&] { return filter->closeIO(); }};
    for (const auto& operation : operations) {
      try {
        succeeded += operation();
      } catch (IOException* exception) {
        thrown++;
        EXPECT_EQ(exception->release(), nullptr);  // the catcher holds the only reference
      }
    }
    EXPECT_EQ(length, succeeded ? 4u : 10u);
    return {succeeded, thrown};
  }

  BaseAutorelease pool;
  ScriptedStream* stream = new (eRetainAutorelease) ScriptedStream("rrrrrrrrrrrrrrrr", 4);
};

TEST_F(IOFilterTest, EveryOperationReachesTheWrappedStreamUnchanged)
{
  IOFilter* filter = new (eRetainAutorelease) IOFilter(stream);
  EXPECT_EQ(useAll(filter), std::make_pair(4, 0));
  EXPECT_EQ(stream->calls, (Calls{"read 10", "write abc", "flush", "close"}));
  stream->failReads = stream->failWrites = stream->failFlushes = true;
  EXPECT_EQ(useAll(filter), std::make_pair(0, 0));
  EXPECT_EQ(stream->calls.size(), 8u);

  stream->calls.clear();
  stream->failReads = false;
  EXPECT_TRUE(filter->skipBytesInIO(10));
  EXPECT_EQ(stream->calls, (Calls{"read 10", "read 6", "read 2"}));
}

TEST_F(IOFilterTest, HoldsTheWrappedStreamUntilDestroyedEvenWhenClosed)
{
  IOFilter* filter = new IOFilter(stream);
  EXPECT_EQ(stream->getRetainCount(), 2);
  EXPECT_EQ(filter->getStream(), stream);
  EXPECT_TRUE(filter->closeIO());
  EXPECT_EQ(stream->getRetainCount(), 2);
  filter->release();
  EXPECT_EQ(stream->getRetainCount(), 1);
}

TEST_F(IOFilterTest, TheExceptionFilterPassesSuccessesAndThrowsOnEveryFailure)
{
  IOExceptionFilter* filter = new (eRetainAutorelease) IOExceptionFilter(stream);
  EXPECT_EQ(useAll(filter), std::make_pair(4, 0));
  stream->failReads = stream->failWrites = stream->failFlushes = true;
  EXPECT_EQ(useAll(filter), std::make_pair(0, 4));
  EXPECT_EQ(stream->calls,
            (Calls{"read 10", "write abc", "flush", "close", "read 10", "write abc", "flush", "close"}));
}

TEST_F(IOFilterTest, ExactAndFixedWidthReadsPastTheEndThrowAfterDeliveringWhatThereWas)
{
  auto throws = [](const std::function<void()>& operation) {
    try {
      operation();
    } catch (IOException* exception) {
      exception->release();
      return true;
    }
    return false;
  };
  IOExceptionFilter* filter =
      new (eRetainAutorelease) IOExceptionFilter(new (eRetainAutorelease) BaseBuffer("\x41\x42\x03", 3));
  char out[4] = {0, 0, 0, 0};
  EXPECT_TRUE(throws([&] { filter->readIOExact(out, 4); }));
  EXPECT_EQ(std::string(out, 4), std::string("AB\x03\0", 4));
  filter = new (eRetainAutorelease) IOExceptionFilter(new (eRetainAutorelease) BaseBuffer("\x01\x02\x03", 3));
  uint16_t first = 0, second = 0;
  EXPECT_TRUE(throws([&] { filter->readFormat(false, "22", &first, &second); }));
  EXPECT_EQ(first, 0x0102);
}

}  // namespace
