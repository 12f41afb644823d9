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

// How many of `operations` succeeded, and how many threw (the catcher holds the only reference).
int thrown = 0;
int run(const std::vector<std::function<bool()>>& operations)
{
  int succeeded = 0;
  for (const auto& operation : operations) try {
      succeeded += operation();
    } catch (IOException* exception) {
      thrown++;
      EXPECT_EQ(exception->release(), nullptr);
    }
  return succeeded;
}

TEST(IOFilterTest, BothFiltersForwardEveryOperationAndOnlyTheExceptionFilterThrows)
{
  BaseAutorelease pool;
  for (bool throwing : {false, true}) {
    SCOPED_TRACE(throwing);
    ScriptedStream* stream = new (eRetainAutorelease) ScriptedStream("rrrrrrrrrrrrrrrr", 4);
    IOFilter* filter = throwing ? new (eRetainAutorelease) IOExceptionFilter(stream)
                                : new (eRetainAutorelease) IOFilter(stream);
    char buffer[10];
    uint32_t length = 10;
    const std::vector<std::function<bool()>> all = {
        [&] { return filter->readIO(buffer, length); }, [&] { return filter->writeIO("abc", 3); },
        [&] { return filter->flushIO(); }, [&] { return filter->closeIO(); }};
    thrown = 0;
    int succeeded = run(all);
    EXPECT_EQ(succeeded * 10 + thrown, 40);
    EXPECT_EQ(length, 4u);
    stream->failReads = stream->failWrites = stream->failFlushes = true;
    length = 10;
    succeeded = run(all);
    EXPECT_EQ(succeeded * 10 + thrown, throwing ? 4 : 0);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(stream->calls,
              (Calls{"read 10", "write abc", "flush", "close", "read 10", "write abc", "flush", "close"}));
  }
  ScriptedStream* stream = new (eRetainAutorelease) ScriptedStream("rrrrrrrrrrrrrrrr", 4);
  IOFilter* filter = new IOFilter(stream);
  EXPECT_EQ(stream->getRetainCount() * 10 + (filter->getStream() == stream), 21);
  EXPECT_TRUE(filter->skipBytesInIO(10) && filter->closeIO());
  EXPECT_EQ(stream->calls, (Calls{"read 10", "read 6", "read 2", "close"}));
  EXPECT_EQ(stream->getRetainCount(), 2);
  filter->release();
  EXPECT_EQ(stream->getRetainCount(), 1);
}

}  // namespace
