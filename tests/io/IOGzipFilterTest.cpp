// The gzip filter: the bytes it leaves on the wrapped stream (wrappers, chunk framing), data
// read back through a second filter, flushing mid-stream, and how reads and writes fail.
#include "io/IOGzipFilter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "object/BaseAutorelease.h"
#include "support/ScriptedStream.h"

namespace {

std::string randomBytes(size_t count)
{
  std::mt19937 generator(7);
  std::string bytes(count, '\0');
  for (char& byte : bytes) byte = (char)generator();
  return bytes;
}
std::string text(size_t count)
{
  std::string lines;
  for (int i = 0; lines.size() < count; i++)
    lines += "position " + std::to_string(i * 37 % 1009) + " sampled\n";
  return lines.substr(0, count);
}

class IOGzipFilterTest : public ::testing::Test
{
protected:
  IOGzipFilter* filter(bool gzip, bool chunked, uint32_t inputBlock = 4096, uint32_t outputBlock = 4096)
  {
    return new (eRetainAutorelease) IOGzipFilter(wire, gzip, chunked, 6, inputBlock, outputBlock);
  }
  // What a new wire holds after `data` went through a new filter that was then closed.
  std::string compress(const std::string& data, bool gzip, bool chunked, uint32_t outputBlock = 4096)
  {
    rewire();
    IOGzipFilter* writer = filter(gzip, chunked, 4096, outputBlock);
    EXPECT_TRUE(writer->writeIO(data.data(), (uint32_t)data.size()) && writer->closeIO());
    return wire->content;
  }
  // Everything a new filter reads from the wire, in reads of odd sizes, until one fails.
  std::string readBack(bool chunked, uint32_t inputBlock = 4096)
  {
    IOGzipFilter* reader = filter(false, chunked, inputBlock);
    static const uint32_t sizes[] = {1, 7, 333, 4099};
    std::string out;
    char block[4099];
    for (int i = 0;; i++) {
      uint32_t length = sizes[i % 4];
      bool delivered = reader->readIO(block, length);
      out.append(block, length);
      if (!delivered) return out;
    }
  }
  // One read asking for more than the stream holds: true only for a stream that ends cleanly.
  bool readsToACleanEnd(const std::string& bytes)
  {
    rewire(bytes);
    std::string out(1 << 20, '\0');
    uint32_t length = (uint32_t)out.size();
    return filter(false, false)->readIO(&out[0], length);
  }
  void rewire(const std::string& bytes = "") { wire = new (eRetainAutorelease) ScriptedStream(bytes); }

  BaseAutorelease pool;
  ScriptedStream* wire = new (eRetainAutorelease) ScriptedStream();
};

TEST_F(IOGzipFilterTest, DataReadsBackIdenticallyInEveryFormAndSize)
{
  for (int form = 0; form < 4; form++)
    for (const std::string& data :
         {std::string(), text(1), text(4095), text(4097), text(70000), randomBytes(9000)}) {
      SCOPED_TRACE(testing::Message() << "form " << form << " size " << data.size());
      compress(data, form & 1, form & 2);
      EXPECT_EQ(readBack(form & 2), data);
    }
}

TEST_F(IOGzipFilterTest, WrappersAndChunkFraming)
{
  EXPECT_EQ(compress("abc", true, false).substr(0, 2), "\x1f\x8b");
  std::string zlib = compress("abc", false, false);
  EXPECT_EQ(zlib[0], '\x78');
  EXPECT_EQ(((unsigned char)zlib[0] * 256 + (unsigned char)zlib[1]) % 31, 0);
  std::string bytes = compress(randomBytes(5000), false, true, 1024);  // full blocks leave as chunks of 1024
  for (size_t run = 0; run < 4; run++) EXPECT_EQ(bytes.substr(run * 1026, 2), std::string("\x04\x00", 2));
  bytes = compress(randomBytes(100), false, true, 1);  // block sizes below ten are raised to ten
  EXPECT_EQ(bytes.substr(0, 2) + bytes.substr(12, 2), std::string("\x00\x0a\x00\x0a", 4));
  EXPECT_EQ(readBack(true, 0), randomBytes(100));
  rewire();
  IOGzipFilter* writer = filter(false, false);
  // Flushed twice: the second flush finds nothing new to say.
  EXPECT_TRUE(writer->writeIO("abc", 3) && writer->flushIO() && writer->flushIO());
  EXPECT_EQ(readBack(false), "abc");  // whole before the end of the stream
  uint32_t none = 0;
  EXPECT_TRUE(filter(false, false)->readIO(nullptr, none));
}

TEST_F(IOGzipFilterTest, ReadsAfterTheEndOrOfCorruptDataFail)
{
  // An input block as long as the stream: the end comes with no compressed byte left over.
  uint32_t streamLength = (uint32_t)compress(text(1000), false, false).size();
  wire->content += text(20000);
  IOGzipFilter* reader = filter(false, false, streamLength);
  std::string out(5000, '\0');
  uint32_t length = 5000;
  EXPECT_TRUE(reader->readIO(&out[0], length));
  EXPECT_EQ(out.substr(0, length), text(1000));
  size_t reads = wire->reads.size();
  for (int i = 0; i < 2; i++) EXPECT_FALSE(reader->readIO(&out[0], length = 5000) || length);
  EXPECT_EQ(wire->reads.size(), reads);

  std::string bytes = compress(text(100000), false, false);
  EXPECT_TRUE(readsToACleanEnd(bytes));
  bytes.back() ^= 1;  // the checksum
  EXPECT_FALSE(readsToACleanEnd(bytes));
  EXPECT_FALSE(readsToACleanEnd(bytes.substr(0, bytes.size() / 2)));
  EXPECT_FALSE(readsToACleanEnd(std::string("\x78\x20\x00\x00\x00\x01xxxx", 10)));  // a preset dictionary

  wire->failWrites = true;
  IOGzipFilter* writer = filter(false, false, 10, 10);
  EXPECT_FALSE(writer->writeIO(randomBytes(100000).data(), 100000) || writer->closeIO());
  EXPECT_EQ(wire->closes, 1);
}

}  // namespace
