// The buffering filter: which writes and reads reach the wrapped stream, and when, at the
// block boundaries; failures on either side.
#include "io/IOBufferFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "object/BaseAutorelease.h"
#include "support/ScriptedStream.h"

namespace {

using Writes = std::vector<std::string>;
using Reads = std::vector<uint32_t>;

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
  // What one read of `count` bytes delivers; "!" when it fails.
  static std::string read(IOBufferFilter* filter, uint32_t count)
  {
    std::string out(count, '\0');
    uint32_t length = count;
    if (!filter->readIO(&out[0], length)) return length ? "!?" : "!";
    return out.substr(0, length);
  }

  BaseAutorelease pool;
  ScriptedStream* stream = new (eRetainAutorelease) ScriptedStream();
};

TEST_F(IOBufferFilterTest, FullBlocksArePassedOnAtTheNextWriteOrFlush)
{
  IOBufferFilter* buffered = filter(0, 8);
  EXPECT_TRUE(buffered->writeIO("ABCDE", 5));
  EXPECT_TRUE(stream->writes.empty());
  EXPECT_TRUE(buffered->writeIO("FGHIJ", 5));
  EXPECT_EQ(stream->writes, Writes{"ABCDEFGH"});
  EXPECT_TRUE(buffered->writeIO("KLMNOP", 6));  // fills the block exactly
  EXPECT_EQ(stream->writes.size(), 1u);
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, (Writes{"ABCDEFGH", "IJKLMNOP"}));
  EXPECT_EQ(stream->flushes, 1);

  // A large write meeting a full block goes straight through.
  stream->writes.clear();
  buffered->writeIO("12345678", 8);
  std::string large = pattern(20);
  EXPECT_TRUE(buffered->writeIO(large.data(), 20));
  EXPECT_EQ(stream->writes, (Writes{"12345678", large}));
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes.back(), "");
  // Into a partly filled block it is cut at the boundary.
  stream->writes.clear();
  buffered->writeIO("123", 3);
  EXPECT_TRUE(buffered->writeIO(large.data(), 20));
  EXPECT_EQ(stream->writes, (Writes{"123" + large.substr(0, 5), large.substr(5)}));
}

TEST_F(IOBufferFilterTest, SmallWritesLeaveAsOneOrPassThroughWithoutABlock)
{
  IOBufferFilter* buffered = filter(0, 17000);
  std::string object = pattern(300);
  for (size_t offset = 0; offset < object.size(); offset += 3) buffered->writeIO(&object[offset], 3);
  EXPECT_TRUE(stream->writes.empty());
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, Writes{object});

  stream->writes.clear();
  IOBufferFilter* direct = filter(0, 0);
  EXPECT_TRUE(direct->writeIO("abc", 3));
  EXPECT_TRUE(direct->writeIO("de", 2));
  EXPECT_EQ(stream->writes, (Writes{"", "abc", "", "de"}));
}

TEST_F(IOBufferFilterTest, CloseAndDestructionDoNotSendPendingBytes)
{
  IOBufferFilter* buffered = new IOBufferFilter(stream, 0, 64);
  buffered->writeIO("pending", 7);
  EXPECT_TRUE(buffered->closeIO());
  EXPECT_EQ(stream->closes, 1);
  buffered->release();
  EXPECT_TRUE(stream->writes.empty());
  EXPECT_EQ(stream->getRetainCount(), 1);
}

TEST_F(IOBufferFilterTest, FailedWritesKeepTheBytesForTheNextFlushButNoFragmentOfThemselves)
{
  IOBufferFilter* buffered = filter(0, 16);
  buffered->writeIO("keep", 4);
  stream->failWrites = true;
  EXPECT_FALSE(buffered->flushIO());
  EXPECT_EQ(stream->flushes, 0);
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, Writes{"keep"});

  stream->writes.clear();
  buffered = filter(0, 8);
  buffered->writeIO("ABCDE", 5);
  stream->failWrites = true;
  EXPECT_FALSE(buffered->writeIO("xyzuv", 5));  // three bytes fit, then the block cannot go
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->writes, Writes{"ABCDE"});
  // Earlier bytes of a block that was full on entry stay pending too.
  buffered->writeIO("12345678", 8);
  stream->failWrites = true;
  EXPECT_FALSE(buffered->writeIO("9", 1));
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->written(), "ABCDE12345678");
}

TEST_F(IOBufferFilterTest, ReadsAreServedFromOneReadAheadBlock)
{
  stream->content = pattern(50);
  EXPECT_EQ(read(filter(0, 0), 10), pattern(10));  // no block: straight through
  EXPECT_EQ(stream->reads, Reads{10});

  stream->reads.clear();
  stream->position = 0;
  IOBufferFilter* buffered = filter(100, 0);
  EXPECT_EQ(read(buffered, 10), pattern(10));
  EXPECT_EQ(read(buffered, 20), pattern(20, 10));
  EXPECT_EQ(read(buffered, 50), pattern(20, 30));  // the wrapped stream delivers what it had
  EXPECT_EQ(stream->reads, (Reads{100, 100}));
  EXPECT_EQ(read(buffered, 5), "!");
}

TEST_F(IOBufferFilterTest, ReadsOfAtLeastTheBlockSizeSkipTheBlock)
{
  stream->content = pattern(500);
  IOBufferFilter* buffered = filter(100, 0);
  EXPECT_EQ(read(buffered, 100), pattern(100));
  EXPECT_EQ(stream->reads, Reads{100});
  // Ten bytes read ahead, then the rest of a large read straight from the stream.
  EXPECT_EQ(read(buffered, 10), pattern(10, 100));
  EXPECT_EQ(read(buffered, 250), pattern(250, 110));
  EXPECT_EQ(stream->reads, (Reads{100, 100, 160}));
  buffered = filter(64, 0);
  stream->position = 0;
  EXPECT_EQ(read(buffered, 5), pattern(5));
  EXPECT_TRUE(buffered->skipBytesInIO(200));
  EXPECT_EQ(read(buffered, 10), pattern(10, 205));
}

TEST_F(IOBufferFilterTest, ReadsOfNothingAndFailedWrappedReadsCountForNothing)
{
  stream->content = pattern(10);
  EXPECT_EQ(read(filter(0, 0), 0), "!");
  EXPECT_EQ(read(filter(16, 0), 0), "!");
  stream->failReads = true;  // fails without touching the count it was given
  EXPECT_EQ(read(filter(0, 0), 10), "!");
  EXPECT_EQ(read(filter(16, 0), 10), "!");
}

}  // namespace
