// The stream interface's own operations: exact reads, copies, fixed-width integers, the
// default skip, and the registry of live streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "io/IOAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CountedObject.h"

namespace {

// Delivers `available` bytes, at most `perCall` per read; the byte at stream offset i is
// i & 0xFF. Records how much each read asked for.
class ChunkedSource : public IOAbstract
{
public:
  ChunkedSource(uint32_t available, uint32_t perCall) : m_available(available), m_perCall(perCall) {}
  bool readIO(void* buffer, uint32_t& length) override
  {
    reads.push_back(length);
    uint32_t n = length < m_perCall ? length : m_perCall;
    if (n > m_available) n = m_available;
    for (uint32_t i = 0; i < n; i++) static_cast<unsigned char*>(buffer)[i] = (unsigned char)(consumed + i);
    length = n;
    m_available -= n;
    consumed += n;
    return n > 0;
  }
  bool writeIO(const void*, uint32_t) override { return false; }

  std::vector<uint32_t> reads;
  uint32_t consumed = 0;

private:
  uint32_t m_available;
  uint32_t m_perCall;
};

// Breaks the read contract: reports success without delivering anything.
class StalledSource : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    calls++;
    length = 0;
    return true;
  }
  bool writeIO(const void*, uint32_t) override { return false; }
  int calls = 0;
};

// Reports more bytes than it was asked for.
class OverreportingSource : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    length += 1;
    return true;
  }
  bool writeIO(const void*, uint32_t) override { return false; }
};

// Keeps every write as one string; refuses writes once `acceptedWrites` have been taken.
class RecordingSink : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    length = 0;
    return false;
  }
  bool writeIO(const void* bytes, uint32_t length) override
  {
    if (writes.size() >= acceptedWrites) {
      refused++;
      return false;
    }
    writes.emplace_back(static_cast<const char*>(bytes), length);
    return true;
  }
  std::string all() const
  {
    std::string joined;
    for (const std::string& write : writes) joined += write;
    return joined;
  }

  std::vector<std::string> writes;
  size_t acceptedWrites = SIZE_MAX;
  int refused = 0;
};

std::string pattern(uint32_t count, uint32_t from = 0)
{
  std::string bytes;
  for (uint32_t i = 0; i < count; i++) bytes += (char)(unsigned char)(from + i);
  return bytes;
}

class IOAbstractExactReadTest : public ::testing::Test
{
protected:
  BaseAutorelease pool;
};

TEST_F(IOAbstractExactReadTest, ShortDeliveriesAreJoinedUntilTheCountIsMet)
{
  ChunkedSource* source = new (eRetainAutorelease) ChunkedSource(100, 3);
  char buffer[10];
  EXPECT_TRUE(source->readIOExact(buffer, 10));
  EXPECT_EQ(source->reads, (std::vector<uint32_t>{10, 7, 4, 1}));
  EXPECT_EQ(std::string(buffer, 10), pattern(10));
  EXPECT_EQ(source->consumed, 10u);
}

TEST_F(IOAbstractExactReadTest, EndOfDataFailsWithWhatThereWasInPlace)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x01\x02\x03\x04");
  char out[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_FALSE(buffer->readIOExact(out, 6));
  EXPECT_EQ(std::string(out, 6), std::string("\x01\x02\x03\x04\x09\x09", 6));
}

TEST_F(IOAbstractExactReadTest, ZeroCountSucceedsWithoutReading)
{
  ChunkedSource* source = new (eRetainAutorelease) ChunkedSource(0, 3);
  EXPECT_TRUE(source->readIOExact(nullptr, 0));
  EXPECT_TRUE(source->reads.empty());
}

TEST_F(IOAbstractExactReadTest, StreamsBreakingTheReadContractFailInsteadOfLooping)
{
  StalledSource* stalled = new (eRetainAutorelease) StalledSource();
  char buffer[8];
  EXPECT_FALSE(stalled->readIOExact(buffer, 8));
  EXPECT_EQ(stalled->calls, 1);
  OverreportingSource* overreporting = new (eRetainAutorelease) OverreportingSource();
  EXPECT_FALSE(overreporting->readIOExact(buffer, 8));
}

class IOAbstractFormatTest : public IOAbstractExactReadTest
{
};

TEST_F(IOAbstractFormatTest, WritesEachFieldInTheChosenByteOrder)
{
  RecordingSink* little = new (eRetainAutorelease) RecordingSink();
  EXPECT_TRUE(little->writeFormat(true, "24", 258, 7));
  EXPECT_EQ(little->writes,
            (std::vector<std::string>{std::string("\x02\x01", 2), std::string("\x07\0\0\0", 4)}));

  RecordingSink* big = new (eRetainAutorelease) RecordingSink();
  EXPECT_TRUE(big->writeFormat(false, "24", 258, 7));
  EXPECT_EQ(big->all(), std::string("\x01\x02\0\0\0\x07", 6));
}

TEST_F(IOAbstractFormatTest, KeepsOnlyTheLowBytesOfEachValue)
{
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  EXPECT_TRUE(sink->writeFormat(false, "13", 0x1FFu, 0xAABBCCDDu));
  EXPECT_EQ(sink->all(), std::string("\xFF\xBB\xCC\xDD", 4));
  sink->writes.clear();
  EXPECT_TRUE(sink->writeFormat(true, "3", 0xAABBCCDDu));
  EXPECT_EQ(sink->all(), std::string("\xDD\xCC\xBB", 3));
}

TEST_F(IOAbstractFormatTest, WriteStopsAtTheFirstRefusedField)
{
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  sink->acceptedWrites = 1;
  EXPECT_FALSE(sink->writeFormat(true, "124", 1, 2, 3));
  EXPECT_EQ(sink->writes.size(), 1u);
  EXPECT_EQ(sink->refused, 1);
}

TEST_F(IOAbstractFormatTest, ReadsThreeBigEndianBytesIntoThirtyTwoBits)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x01\x02\x03");
  uint32_t value = 0xFFFFFFFF;
  EXPECT_TRUE(buffer->readFormat(false, "3", &value));
  EXPECT_EQ(value, 66051u);
}

TEST_F(IOAbstractFormatTest, StoresEachWidthIntoItsOwnDestinationSize)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x81\x02\x80\x04\x03\x02\x81", 7);
  struct
  {
    uint8_t before = 0xEE;
    uint8_t one = 0;
    uint8_t after = 0xEE;
    uint16_t two = 0;
    uint32_t four = 0;
  } fields;
  EXPECT_TRUE(buffer->readFormat(true, "124", &fields.one, &fields.two, &fields.four));
  EXPECT_EQ(fields.one, 0x81);
  EXPECT_EQ(fields.two, 0x8002);
  EXPECT_EQ(fields.four, 0x81020304u);
  EXPECT_EQ(fields.before, 0xEE);
  EXPECT_EQ(fields.after, 0xEE);
}

TEST_F(IOAbstractFormatTest, ReadFailsAtTheEndKeepingTheFieldsAlreadyRead)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x01\x02\x03");
  uint16_t first = 0;
  uint16_t second = 0x7777;
  EXPECT_FALSE(buffer->readFormat(false, "22", &first, &second));
  EXPECT_EQ(first, 0x0102);
  EXPECT_EQ(second, 0x7777);
}

TEST(IOAbstractFormatDeathTest, WidthAboveFourStops)
{
  EXPECT_DEATH(
      {
        BaseAutorelease pool;
        BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("12345678");
        uint32_t value;
        buffer->readFormat(true, "5", &value);
      },
      "size <= 4");
}

TEST(IOAbstractFormatDeathTest, WidthZeroStops)
{
  EXPECT_DEATH(
      {
        BaseAutorelease pool;
        BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("12345678");
        uint32_t value;
        buffer->readFormat(true, "0", &value);
      },
      "size > 0");
}

TEST(IOAbstractFormatDeathTest, WriteDirectiveOtherThanOneToFourStops)
{
  EXPECT_DEATH(
      {
        BaseAutorelease pool;
        (new (eRetainAutorelease) BaseBuffer())->writeFormat(true, "2x", 1u, 2u);
      },
      "size <= 4");
}

class IOAbstractCopyTest : public IOAbstractExactReadTest
{
};

TEST_F(IOAbstractCopyTest, CopiesThroughKilobyteRequestsWritingWhatEachReadDelivered)
{
  ChunkedSource* source = new (eRetainAutorelease) ChunkedSource(5000, 700);
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  EXPECT_TRUE(sink->writeFrom(source, 2500));
  EXPECT_EQ(source->reads, (std::vector<uint32_t>{1024, 1024, 1024, 400}));
  std::vector<size_t> sizes;
  for (const std::string& write : sink->writes) sizes.push_back(write.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{700, 700, 700, 400}));
  EXPECT_EQ(sink->all(), pattern(2500));
}

TEST_F(IOAbstractCopyTest, StopsWhenTheSourceEnds)
{
  ChunkedSource* source = new (eRetainAutorelease) ChunkedSource(1500, 5000);
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  EXPECT_FALSE(sink->writeFrom(source, 3000));
  EXPECT_EQ(sink->all(), pattern(1500));
}

TEST_F(IOAbstractCopyTest, StopsWhenTheDestinationRefuses)
{
  ChunkedSource* source = new (eRetainAutorelease) ChunkedSource(5000, 5000);
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  sink->acceptedWrites = 1;
  EXPECT_FALSE(sink->writeFrom(source, 4000));
  EXPECT_EQ(source->reads.size(), 2u);
  EXPECT_EQ(sink->all(), pattern(1024));
}

TEST_F(IOAbstractCopyTest, SourceThatMakesNoProgressDoesNotHang)
{
  StalledSource* source = new (eRetainAutorelease) StalledSource();
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  EXPECT_FALSE(sink->writeFrom(source, 10));
  EXPECT_TRUE(sink->writes.empty());
}

class IOAbstractWriteTextTest : public IOAbstractExactReadTest
{
};

TEST_F(IOAbstractWriteTextTest, EmptyStringIsOneWriteOfNothing)
{
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  BaseString* empty = new (eRetainAutorelease) BaseString("");
  EXPECT_TRUE(sink->writeString(empty));
  EXPECT_EQ(sink->writes, (std::vector<std::string>{""}));
  sink->acceptedWrites = 0;
  EXPECT_FALSE(sink->writeString(empty));
  EXPECT_EQ(sink->refused, 1);
}

TEST_F(IOAbstractWriteTextTest, StringGoesOutAsItsUtf8BytesWithoutTerminator)
{
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  EXPECT_TRUE(sink->writeString(new (eRetainAutorelease) BaseString("h\xC3\xA9!")));
  EXPECT_EQ(sink->writes, (std::vector<std::string>{"h\xC3\xA9!"}));
}

TEST_F(IOAbstractWriteTextTest, BufferGoesOutInOneWrite)
{
  RecordingSink* sink = new (eRetainAutorelease) RecordingSink();
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("a\0b", 3);
  EXPECT_TRUE(sink->writeBuffer(buffer));
  EXPECT_EQ(sink->writes, (std::vector<std::string>{std::string("a\0b", 3)}));
}

TEST(IOAbstractDefaultSkip, ConsumesExactlyTheCountInChunks)
{
  ChunkedSource* source = new ChunkedSource(100000, 5000);
  EXPECT_TRUE(source->skipBytesInIO(20000));
  EXPECT_EQ(source->consumed, 20000u);
  EXPECT_EQ(source->reads, (std::vector<uint32_t>{16384, 15000, 10000, 5000}));
  uint32_t length = 1;
  unsigned char next = 0;
  EXPECT_TRUE(source->readIO(&next, length));
  EXPECT_EQ(next, 20000 & 0xFF);
  source->release();
}

TEST(IOAbstractDefaultSkip, ZeroReadsNothing)
{
  ChunkedSource* source = new ChunkedSource(10, 10);
  EXPECT_TRUE(source->skipBytesInIO(0));
  EXPECT_TRUE(source->reads.empty());
  source->release();
}

TEST(IOAbstractDefaultSkip, FailsWhenTheDataEndsFirst)
{
  ChunkedSource* source = new ChunkedSource(7000, 5000);
  EXPECT_FALSE(source->skipBytesInIO(20000));
  EXPECT_EQ(source->consumed, 7000u);
  source->release();
}

TEST(IOAbstractDefaultSkip, StreamThatMakesNoProgressDoesNotHang)
{
  StalledSource* source = new StalledSource();
  EXPECT_FALSE(source->skipBytesInIO(10));
  EXPECT_EQ(source->calls, 1);
  source->release();
}

TEST(IOAbstractDefaults, FlushAndCloseSucceed)
{
  StalledSource* source = new StalledSource();
  EXPECT_TRUE(source->flushIO());
  EXPECT_TRUE(source->closeIO());
  source->release();
}

TEST(IOAbstractLiveStreams, OnlyLiveStreamsAreFoundAndRetained)
{
  StalledSource* stream = new StalledSource();
  void* address = stream;
  IOAbstract* found = IOAbstract::retainLiveStream(address);
  EXPECT_EQ(found, stream);
  EXPECT_EQ(stream->getRetainCount(), 2);
  found->release();
  stream->release();
  EXPECT_EQ(IOAbstract::retainLiveStream(address), nullptr);

  CountedObject* other = new CountedObject();
  EXPECT_EQ(IOAbstract::retainLiveStream(other), nullptr);
  other->release();
  EXPECT_EQ(IOAbstract::retainLiveStream(nullptr), nullptr);
  EXPECT_EQ(IOAbstract::retainLiveStream(reinterpret_cast<void*>(0x1234)), nullptr);
}

// A stream that asks for itself while being destroyed: by then it must not be handed out.
class SelfLookup : public IOAbstract
{
public:
  ~SelfLookup() override { foundWhileDying = IOAbstract::retainLiveStream(this); }
  bool readIO(void*, uint32_t& length) override
  {
    length = 0;
    return false;
  }
  bool writeIO(const void*, uint32_t) override { return false; }
  static IOAbstract* foundWhileDying;
};
IOAbstract* SelfLookup::foundWhileDying = reinterpret_cast<IOAbstract*>(1);

TEST(IOAbstractLiveStreams, StreamBeingDestroyedIsNotBroughtBack)
{
  (new SelfLookup())->release();
  EXPECT_EQ(SelfLookup::foundWhileDying, nullptr);
}

}  // namespace
