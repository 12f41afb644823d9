#include <gtest/gtest.h>

#include <vector>

#include "io/IOAbstract.h"
#include "support/CountedObject.h"

namespace {

// Delivers `available` bytes, at most `perCall` per read; counts the reads.
class ChunkedSource : public IOAbstract
{
public:
  ChunkedSource(uint32_t available, uint32_t perCall) : m_available(available), m_perCall(perCall) {}
  bool readIO(void* buffer, uint32_t& length) override
  {
    reads.push_back(length);
    uint32_t n = length < m_perCall ? length : m_perCall;
    if (n > m_available) n = m_available;
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

TEST(IOAbstractDefaultSkip, ConsumesExactlyTheCountInChunks)
{
  ChunkedSource* source = new ChunkedSource(100000, 5000);
  EXPECT_TRUE(source->skipBytesInIO(20000));
  EXPECT_EQ(source->consumed, 20000u);
  EXPECT_EQ(source->reads, (std::vector<uint32_t>{16384, 15000, 10000, 5000}));
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
