// The plain filter (forwarding, ownership of the wrapped stream) and the exception filter
// with the exception it throws.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "io/IOExceptionFilter.h"
#include "io/IOFilter.h"
#include "object/BaseAutorelease.h"

namespace {

// Answers every operation with a configurable result and records the calls it saw.
class ProbeStream : public IOAbstract
{
public:
  bool readIO(void* buffer, uint32_t& length) override
  {
    calls.push_back("read " + std::to_string(length));
    if (!result) return false;
    length = length < deliver ? length : deliver;
    for (uint32_t i = 0; i < length; i++) static_cast<char*>(buffer)[i] = 'r';
    return length > 0;
  }
  bool writeIO(const void* bytes, uint32_t length) override
  {
    calls.push_back("write " + std::string(static_cast<const char*>(bytes), length));
    return result;
  }
  bool flushIO() override
  {
    calls.push_back("flush");
    return result;
  }
  bool closeIO() override
  {
    calls.push_back("close");
    return result;
  }

  std::vector<std::string> calls;
  bool result = true;
  uint32_t deliver = 4;
};

class IOFilterTest : public ::testing::Test
{
protected:
  BaseAutorelease pool;
  ProbeStream* stream = new (eRetainAutorelease) ProbeStream();
};

class IOFilterForwardingTest : public IOFilterTest
{
};

TEST_F(IOFilterForwardingTest, EveryOperationReachesTheWrappedStreamUnchanged)
{
  IOFilter* filter = new (eRetainAutorelease) IOFilter(stream);
  char buffer[10];
  uint32_t length = 10;
  EXPECT_TRUE(filter->readIO(buffer, length));
  EXPECT_EQ(length, 4u);
  EXPECT_TRUE(filter->writeIO("abc", 3));
  EXPECT_TRUE(filter->flushIO());
  EXPECT_TRUE(filter->closeIO());
  EXPECT_EQ(stream->calls, (std::vector<std::string>{"read 10", "write abc", "flush", "close"}));

  stream->result = false;
  stream->calls.clear();
  length = 10;
  EXPECT_FALSE(filter->readIO(buffer, length));
  EXPECT_FALSE(filter->writeIO("x", 1));
  EXPECT_FALSE(filter->flushIO());
  EXPECT_FALSE(filter->closeIO());
  EXPECT_EQ(stream->calls.size(), 4u);
}

TEST_F(IOFilterForwardingTest, SkipReadsThroughTheFilter)
{
  IOFilter* filter = new (eRetainAutorelease) IOFilter(stream);
  EXPECT_TRUE(filter->skipBytesInIO(10));
  EXPECT_EQ(stream->calls, (std::vector<std::string>{"read 10", "read 6", "read 2"}));
}

class IOFilterOwnershipTest : public IOFilterTest
{
};

TEST_F(IOFilterOwnershipTest, HoldsTheWrappedStreamUntilDestroyedEvenWhenClosed)
{
  IOFilter* filter = new IOFilter(stream);
  EXPECT_EQ(stream->getRetainCount(), 2);
  EXPECT_EQ(filter->getStream(), stream);
  EXPECT_EQ(stream->getRetainCount(), 2);
  EXPECT_TRUE(filter->closeIO());
  EXPECT_EQ(stream->getRetainCount(), 2);
  filter->release();
  EXPECT_EQ(stream->getRetainCount(), 1);
}

class IOExceptionFilterTest : public IOFilterTest
{
};

TEST_F(IOExceptionFilterTest, ExactReadPastTheEndThrowsAfterDeliveringWhatThereWas)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x41\x42", 2);
  IOExceptionFilter* filter = new (eRetainAutorelease) IOExceptionFilter(buffer);
  char out[3] = {0, 0, 0};
  IOException* caught = nullptr;
  try {
    filter->readIOExact(out, 3);
  } catch (IOException* exception) {
    caught = exception;
  }
  ASSERT_NE(caught, nullptr);
  EXPECT_EQ(std::string(out, 3), std::string("AB\0", 3));
  // The catcher holds the only reference: releasing it destroys it.
  EXPECT_EQ(caught->getRetainCount(), 1);
  EXPECT_EQ(caught->release(), nullptr);
}

TEST_F(IOExceptionFilterTest, SuccessfulOperationsReturnTrueAndPassCountsThrough)
{
  IOExceptionFilter* filter = new (eRetainAutorelease) IOExceptionFilter(stream);
  char buffer[10];
  uint32_t length = 10;
  EXPECT_TRUE(filter->readIO(buffer, length));
  EXPECT_EQ(length, 4u);
  EXPECT_TRUE(filter->writeIO("ab", 2));
  EXPECT_TRUE(filter->flushIO());
  EXPECT_TRUE(filter->closeIO());
  EXPECT_EQ(stream->calls, (std::vector<std::string>{"read 10", "write ab", "flush", "close"}));
}

TEST_F(IOExceptionFilterTest, EveryFailedOperationThrowsItsOwnException)
{
  IOExceptionFilter* filter = new (eRetainAutorelease) IOExceptionFilter(stream);
  stream->result = false;
  int thrown = 0;
  auto expectThrow = [&](auto operation) {
    try {
      operation();
    } catch (IOException* exception) {
      thrown++;
      EXPECT_EQ(exception->release(), nullptr);
    }
  };
  char buffer[4];
  uint32_t length = 4;
  expectThrow([&] { filter->readIO(buffer, length); });
  expectThrow([&] { filter->writeIO("a", 1); });
  expectThrow([&] { filter->flushIO(); });
  expectThrow([&] { filter->closeIO(); });
  EXPECT_EQ(thrown, 4);
  EXPECT_EQ(stream->calls, (std::vector<std::string>{"read 4", "write a", "flush", "close"}));
}

TEST_F(IOExceptionFilterTest, FixedWidthReadThroughTheFilterThrowsAtTheEnd)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x01\x02\x03", 3);
  IOExceptionFilter* filter = new (eRetainAutorelease) IOExceptionFilter(buffer);
  uint16_t first = 0, second = 0;
  bool threw = false;
  try {
    filter->readFormat(false, "22", &first, &second);
  } catch (IOException* exception) {
    threw = true;
    exception->release();
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(first, 0x0102);
}

}  // namespace
