// The buffering filter: which writes and reads reach the wrapped stream, and when, at the
// block boundaries; failures on either side.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/IOBufferFilter.h"
#include "object/BaseAutorelease.h"

namespace {

// Serves reads from `content` and records every call that reaches it.
class WrappedStream : public IOAbstract
{
public:
  bool readIO(void* buffer, uint32_t& length) override
  {
    reads.push_back(length);
    if (failReads) return false;
    uint32_t left = (uint32_t)(content.size() - offset);
    if (length > left) length = left;
    content.copy(static_cast<char*>(buffer), length, offset);
    offset += length;
    return length > 0;
  }
  bool writeIO(const void* bytes, uint32_t length) override
  {
    if (failWrites) return false;
    writes.emplace_back(static_cast<const char*>(bytes), length);
    return true;
  }
  bool flushIO() override
  {
    flushes++;
    return true;
  }
  bool closeIO() override
  {
    closes++;
    return true;
  }
  std::string written() const
  {
    std::string all;
    for (const std::string& write : writes) all += write;
    return all;
  }

  std::string content;
  size_t offset = 0;
  std::vector<uint32_t> reads;
  std::vector<std::string> writes;
  bool failReads = false;
  bool failWrites = false;
  int flushes = 0;
  int closes = 0;
};

std::string pattern(uint32_t count, uint32_t from = 0)
{
  std::string bytes;
  for (uint32_t i = 0; i < count; i++) bytes += (char)('a' + (from + i) % 26);
  return bytes;
}

class IOBufferFilterTest : public ::testing::Test
{
protected:
  IOBufferFilter* filter(uint32_t readBlock, uint32_t writeBlock)
  {
    return new (eRetainAutorelease) IOBufferFilter(stream, readBlock, writeBlock);
  }
  std::string read(IOBufferFilter* filter, uint32_t count, bool expected = true)
  {
    std::string out(count, '\0');
    uint32_t length = count;
    EXPECT_EQ(filter->readIO(&out[0], length), expected);
    out.resize(length);
    return out;
  }

  BaseAutorelease pool;
  WrappedStream* stream = new (eRetainAutorelease) WrappedStream();
};

class IOBufferFilterWriteTest : public IOBufferFilterTest
{
};

TEST_F(IOBufferFilterWriteTest, FullBlockIsPassedOnAtTheNextWriteOrFlush)
{
  IOBufferFilter* buffered = filter(0, 8);
  EXPECT_TRUE(buffered->writeIO("ABCDE", 5));
  EXPECT_TRUE(stream->writes.empty());
  EXPECT_TRUE(buffered->writeIO("FGHIJ", 5));
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"ABCDEFGH"}));
  EXPECT_TRUE(buffered->writeIO("KLMNOP", 6));  // fills the block exactly
  EXPECT_EQ(stream->writes.size(), 1u);
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"ABCDEFGH", "IJKLMNOP"}));
  EXPECT_EQ(stream->flushes, 1);
}

TEST_F(IOBufferFilterWriteTest, ManySmallWritesLeaveAsOneAtTheFlush)
{
  IOBufferFilter* buffered = filter(0, 17000);
  std::string object = pattern(300);
  for (size_t offset = 0; offset < object.size(); offset += 3) buffered->writeIO(&object[offset], 3);
  EXPECT_TRUE(stream->writes.empty());
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, (std::vector<std::string>{object}));
}

TEST_F(IOBufferFilterWriteTest, LargeWriteMeetingAFullBlockGoesStraightThrough)
{
  IOBufferFilter* buffered = filter(0, 8);
  buffered->writeIO("12345678", 8);
  std::string large = pattern(20);
  EXPECT_TRUE(buffered->writeIO(large.data(), 20));
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"12345678", large}));
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes.back(), "");
}

TEST_F(IOBufferFilterWriteTest, LargeWriteIntoAPartlyFilledBlockIsCutAtTheBoundary)
{
  IOBufferFilter* buffered = filter(0, 8);
  buffered->writeIO("123", 3);
  std::string large = pattern(20);
  EXPECT_TRUE(buffered->writeIO(large.data(), 20));
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"123" + large.substr(0, 5), large.substr(5)}));
}

TEST_F(IOBufferFilterWriteTest, WithoutAWriteBlockEveryWritePassesThrough)
{
  IOBufferFilter* buffered = filter(0, 0);
  EXPECT_TRUE(buffered->writeIO("abc", 3));
  EXPECT_TRUE(buffered->writeIO("de", 2));
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"", "abc", "", "de"}));
}

TEST_F(IOBufferFilterWriteTest, CloseAndDestructionDoNotSendPendingBytes)
{
  IOBufferFilter* buffered = new IOBufferFilter(stream, 0, 64);
  buffered->writeIO("pending", 7);
  EXPECT_TRUE(buffered->closeIO());
  EXPECT_EQ(stream->closes, 1);
  buffered->release();
  EXPECT_TRUE(stream->writes.empty());
  EXPECT_EQ(stream->getRetainCount(), 1);
}

TEST_F(IOBufferFilterWriteTest, FailedFlushKeepsTheBytesForTheNextOne)
{
  IOBufferFilter* buffered = filter(0, 16);
  buffered->writeIO("keep", 4);
  stream->failWrites = true;
  EXPECT_FALSE(buffered->flushIO());
  EXPECT_EQ(stream->flushes, 0);
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"keep"}));
}

TEST_F(IOBufferFilterWriteTest, FailedWriteLeavesNoFragmentOfItselfBehind)
{
  IOBufferFilter* buffered = filter(0, 8);
  buffered->writeIO("ABCDE", 5);
  stream->failWrites = true;
  // Three bytes fit, then the full block cannot be passed on.
  EXPECT_FALSE(buffered->writeIO("xyzuv", 5));
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, (std::vector<std::string>{"ABCDE"}));
  // Earlier bytes of a block that was full on entry stay pending too.
  buffered->writeIO("12345678", 8);
  stream->failWrites = true;
  EXPECT_FALSE(buffered->writeIO("9", 1));
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->written(), "ABCDE12345678");
}

class IOBufferFilterReadTest : public IOBufferFilterTest
{
};

TEST_F(IOBufferFilterReadTest, WithoutAReadBlockReadsPassStraightThrough)
{
  stream->content = pattern(50);
  IOBufferFilter* buffered = filter(0, 0);
  EXPECT_EQ(read(buffered, 10), pattern(10));
  EXPECT_EQ(stream->reads, (std::vector<uint32_t>{10}));
}

TEST_F(IOBufferFilterReadTest, SmallReadsAreServedFromOneReadAhead)
{
  stream->content = pattern(30);
  IOBufferFilter* buffered = filter(100, 0);
  EXPECT_EQ(read(buffered, 10), pattern(10));
  EXPECT_EQ(stream->reads, (std::vector<uint32_t>{100}));
  EXPECT_EQ(read(buffered, 20), pattern(20, 10));
  EXPECT_EQ(stream->reads.size(), 1u);
  EXPECT_EQ(read(buffered, 5, false), "");
}

TEST_F(IOBufferFilterReadTest, ReadAtLeastTheBlockSizeSkipsTheBlock)
{
  stream->content = pattern(500);
  IOBufferFilter* buffered = filter(100, 0);
  EXPECT_EQ(read(buffered, 100), pattern(100));
  EXPECT_EQ(stream->reads, (std::vector<uint32_t>{100}));
  // Ten bytes read ahead, then the rest of a large read straight from the stream.
  EXPECT_EQ(read(buffered, 10), pattern(10, 100));
  EXPECT_EQ(read(buffered, 250), pattern(250, 110));
  EXPECT_EQ(stream->reads, (std::vector<uint32_t>{100, 100, 160}));
}

TEST_F(IOBufferFilterReadTest, ShortWrappedStreamDeliversWhatItHad)
{
  stream->content = pattern(30);
  IOBufferFilter* buffered = filter(100, 0);
  EXPECT_EQ(read(buffered, 50), pattern(30));
  EXPECT_EQ(stream->reads, (std::vector<uint32_t>{100, 100}));
  EXPECT_EQ(read(buffered, 50, false), "");
}

TEST_F(IOBufferFilterReadTest, SkipConsumesExactlyThroughTheBlock)
{
  stream->content = pattern(300);
  IOBufferFilter* buffered = filter(64, 0);
  EXPECT_EQ(read(buffered, 5), pattern(5));
  EXPECT_TRUE(buffered->skipBytesInIO(200));
  EXPECT_EQ(read(buffered, 10), pattern(10, 205));
}

TEST_F(IOBufferFilterReadTest, ReadOfNothingIsNotASuccess)
{
  stream->content = pattern(10);
  EXPECT_EQ(read(filter(0, 0), 0, false), "");
  EXPECT_EQ(read(filter(16, 0), 0, false), "");
}

TEST_F(IOBufferFilterReadTest, FailedWrappedReadCountsForNothing)
{
  // The wrapped stream fails without touching the count it was given.
  stream->failReads = true;
  char out[10];
  for (IOBufferFilter* buffered : {filter(0, 0), filter(16, 0)}) {
    uint32_t length = 10;
    EXPECT_FALSE(buffered->readIO(out, length));
    EXPECT_EQ(length, 0u);
  }
}

}  // namespace
