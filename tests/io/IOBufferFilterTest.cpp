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
  static bool write(IOBufferFilter* filter, const std::string& bytes)
  {
    return filter->writeIO(bytes.data(), (uint32_t)bytes.size());
  }
  // What reads of each count deliver in turn; "!" for each that fails.
  static std::string read(IOBufferFilter* filter, std::initializer_list<uint32_t> counts)
  {
    std::string all;
    for (uint32_t count : counts) {
      std::string out(count, '\0');
      uint32_t length = count;
      all += filter->readIO(&out[0], length) ? out.substr(0, length) : length ? "!?" : "!";
    }
    return all;
  }
  Writes taken()
  {
    Writes writes;
    writes.swap(stream->writes);
    return writes;
  }

  BaseAutorelease pool;
  ScriptedStream* stream = new (eRetainAutorelease) ScriptedStream();
};

TEST_F(IOBufferFilterTest, WritesLeaveInBlocksOrStraightThroughAndFailedOnesStayPending)
{
  IOBufferFilter* buffered = filter(0, 8);
  EXPECT_TRUE(write(buffered, "ABCDE") && stream->writes.empty() && write(buffered, "FGHIJ"));
  EXPECT_TRUE(write(buffered, "KLMNOP") && stream->writes.size() == 1);  // fills the block exactly
  EXPECT_TRUE(buffered->flushIO() && stream->flushes == 1);
  EXPECT_EQ(taken(), (Writes{"ABCDEFGH", "IJKLMNOP"}));
  const std::string large = pattern(20);
  EXPECT_TRUE(write(buffered, "12345678") && write(buffered, large) && buffered->flushIO());
  EXPECT_EQ(taken(), (Writes{"12345678", large, ""}));  // meeting a full block it goes straight through
  EXPECT_TRUE(write(buffered, "123") && write(buffered, large));  // into a partly full one it is cut
  EXPECT_EQ(taken(), (Writes{"123" + large.substr(0, 5), large.substr(5)}));
  IOBufferFilter* direct = filter(0, 0);
  EXPECT_TRUE(write(direct, "abc") && write(direct, "de"));
  EXPECT_EQ(taken(), (Writes{"", "abc", "", "de"}));

  buffered = filter(0, 8);
  write(buffered, "ABCDE");
  stream->failWrites = true;
  EXPECT_FALSE(buffered->flushIO());
  EXPECT_EQ(stream->flushes, 2);
  EXPECT_FALSE(write(buffered, "xyzuv"));  // three bytes fit, then the block cannot go
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO() && write(buffered, "12345678"));
  stream->failWrites = true;
  EXPECT_FALSE(write(buffered, "9"));  // earlier bytes of a block full on entry stay pending too
  stream->failWrites = false;
  EXPECT_TRUE(buffered->flushIO());
  EXPECT_EQ(stream->written(), "ABCDE12345678");
}

TEST_F(IOBufferFilterTest, CloseAndDestructionDoNotSendPendingBytes)
{
  IOBufferFilter* buffered = new IOBufferFilter(stream, 0, 64);
  EXPECT_TRUE(write(buffered, "pending") && buffered->closeIO() && stream->closes == 1);
  buffered->release();
  EXPECT_TRUE(stream->writes.empty() && stream->getRetainCount() == 1);
}

TEST_F(IOBufferFilterTest, ReadsAreServedFromOneReadAheadBlockUnlessAtLeastItsSize)
{
  stream->content = pattern(500);
  EXPECT_EQ(read(filter(0, 0), {10}), pattern(10));  // no block: straight through
  stream->position = 0;
  IOBufferFilter* buffered = filter(100, 0);
  EXPECT_EQ(read(buffered, {100, 10, 250, 20, 90, 50, 5}), pattern(500) + "!");
  EXPECT_EQ(stream->reads, (Reads{10, 100, 100, 160, 100, 100, 100, 100}));
  stream->position = 0;
  buffered = filter(64, 0);
  EXPECT_EQ(read(buffered, {5}), pattern(5));
  EXPECT_TRUE(buffered->skipBytesInIO(200));
  EXPECT_EQ(read(buffered, {10}), pattern(10, 205));
  EXPECT_EQ(read(filter(0, 0), {0}), "!");
  EXPECT_EQ(read(filter(16, 0), {0}), "!");
  stream->failReads = true;  // fails without touching the count it was given
  EXPECT_EQ(read(filter(0, 0), {10}), "!");
  EXPECT_EQ(read(filter(16, 0), {10}), "!");
}

}  // namespace
