// The stream interface's own operations: exact reads, copies, fixed-width integers, the
// default skip, and the registry of live streams.
#include "io/IOAbstract.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CountedObject.h"
#include "support/ScriptedStream.h"

namespace {

// The byte at stream offset i is i & 0xFF.
std::string pattern(uint32_t count)
{
  std::string bytes;
  for (uint32_t i = 0; i < count; i++) bytes += (char)(unsigned char)i;
  return bytes;
}
const auto source = [](uint32_t available, uint32_t perRead) {
  return new (eRetainAutorelease) ScriptedStream(pattern(available), perRead);
};
const auto sink = [] { return new (eRetainAutorelease) ScriptedStream(); };
ScriptedStream* stalled()
{
  ScriptedStream* stream = sink();
  stream->stallReads = true;
  return stream;
}
const auto buffer = [](const char* bytes, uint32_t length) {
  return new (eRetainAutorelease) BaseBuffer(bytes, length);
};
using Reads = std::vector<uint32_t>;
using Writes = std::vector<std::string>;

class IOAbstractTest : public ::testing::Test
{
protected:
  BaseAutorelease pool;
};

TEST_F(IOAbstractTest, ExactReadsJoinShortDeliveriesAndFailAtTheEndOrOnABrokenStream)
{
  ScriptedStream* chunked = source(100, 3);
  char out[10], partial[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_TRUE(chunked->readIOExact(out, 10));
  EXPECT_EQ(chunked->reads, (Reads{10, 7, 4, 1}));
  EXPECT_EQ(std::string(out, 10), pattern(10));
  EXPECT_FALSE(buffer("\x01\x02\x03\x04", 4)->readIOExact(partial, 6));
  EXPECT_EQ(std::string(partial, 6), "\x01\x02\x03\x04\x09\x09");  // what there was, in place
  ScriptedStream* broken = stalled();
  EXPECT_FALSE(broken->readIOExact(out, 8));
  EXPECT_EQ(broken->reads.size(), 1u);
  broken->overreport = true;
  EXPECT_FALSE(broken->readIOExact(out, 8));
}

TEST_F(IOAbstractTest, WritesOfFieldsStringsAndBuffers)
{
  ScriptedStream* to = sink();
  EXPECT_TRUE(to->writeFormat(true, "24", 258, 7) && to->writeFormat(false, "13", 0x1FFu, 0xAABBCCDDu) &&
              to->writeFormat(true, "3", 0xAABBCCDDu));
  EXPECT_TRUE(to->writeString(new (eRetainAutorelease) BaseString("")) &&
              to->writeString(new (eRetainAutorelease) BaseString("h\xC3\xA9!")) &&
              to->writeBuffer(buffer("a\0b", 3)));
  EXPECT_EQ(to->writes, (Writes{std::string("\x02\x01", 2), std::string("\x07\0\0\0", 4), "\xFF",
                                "\xBB\xCC\xDD", "\xDD\xCC\xBB", "", "h\xC3\xA9!", std::string("a\0b", 3)}));
  to->acceptedWrites = 9;
  EXPECT_FALSE(to->writeFormat(true, "124", 1, 2, 3));  // stops at the first refusal
  EXPECT_EQ(to->refused, 1);
  EXPECT_FALSE(to->writeString(new (eRetainAutorelease) BaseString("")));
  uint8_t one = 0;
  uint16_t two = 0, three = 0;
  uint32_t four = 0;
  BaseBuffer* fields = buffer("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
  EXPECT_TRUE(fields->readFormat(true, "124", &one, &two, &four) && fields->readFormat(false, "2", &three));
  EXPECT_EQ(std::vector<uint32_t>({one, two, four, three}),
            std::vector<uint32_t>({1, 0x0302, 0x07060504, 0x0809}));
  EXPECT_FALSE(fields->readFormat(false, "1", &one));  // at the end
}

TEST_F(IOAbstractTest, CopiesAndSkipsGoThroughChunkedReadsAndStopAtEitherEnd)
{
  ScriptedStream *from = source(5000, 700), *to = sink();
  EXPECT_TRUE(to->writeFrom(from, 2500));
  EXPECT_EQ(from->reads, (Reads{1024, 1024, 1024, 400}));
  EXPECT_EQ(to->writes[0].size(), 700u);  // what each read delivered
  EXPECT_EQ(to->written(), pattern(2500));
  EXPECT_FALSE((to = sink())->writeFrom(source(1500, 5000), 3000));
  EXPECT_EQ(to->written(), pattern(1500));
  from = source(5000, 5000);
  (to = sink())->acceptedWrites = 1;
  EXPECT_FALSE(to->writeFrom(from, 4000));
  EXPECT_EQ(from->reads.size(), 2u);
  EXPECT_EQ(to->written(), pattern(1024));
  EXPECT_FALSE((to = sink())->writeFrom(stalled(), 10));  // no progress: no hang
  EXPECT_TRUE(to->writes.empty());

  EXPECT_TRUE((from = source(100000, 5000))->skipBytesInIO(20000));
  EXPECT_EQ(from->reads, (Reads{16384, 15000, 10000, 5000}));
  EXPECT_EQ(from->position, 20000u);
  EXPECT_FALSE((from = source(7000, 5000))->skipBytesInIO(20000));
  EXPECT_EQ(from->position, 7000u);
  EXPECT_FALSE((from = stalled())->skipBytesInIO(10));
  EXPECT_EQ(from->reads.size(), 1u);
}

// Only the two required operations; asks for itself while being destroyed, when it must
// not be handed out any more.
class SelfLookup : public IOAbstract
{
public:
  ~SelfLookup() override { foundWhileDying = IOAbstract::retainLiveStream(this); }
  bool readIO(void*, uint32_t& length) override { return (length = 0); }
  bool writeIO(const void*, uint32_t) override { return false; }
  static inline IOAbstract* foundWhileDying = reinterpret_cast<IOAbstract*>(1);
};

TEST(IOAbstractLiveStreamsTest, OnlyLiveStreamsAreFoundAndRetainedAndDefaultsSucceed)
{
  ScriptedStream* stream = new ScriptedStream();
  void* address = stream;
  IOAbstract* found = IOAbstract::retainLiveStream(address);
  EXPECT_EQ(found, stream);
  EXPECT_EQ(stream->getRetainCount(), 2);
  found->release();
  stream->release();
  CountedObject* other = new CountedObject();
  EXPECT_FALSE(IOAbstract::retainLiveStream(address) || IOAbstract::retainLiveStream(other) ||
               IOAbstract::retainLiveStream(nullptr));
  other->release();
  SelfLookup* lookup = new SelfLookup();
  EXPECT_TRUE(lookup->flushIO() && lookup->closeIO());
  lookup->release();
  EXPECT_EQ(SelfLookup::foundWhileDying, nullptr);
}

}  // namespace
