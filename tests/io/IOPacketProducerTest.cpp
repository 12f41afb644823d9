// The packet producer in both directions: how written bytes are cut into packets, how
// queued packets come back out as reads, and how closing ends every wait.
#include "io/IOPacketProducer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "io/BaseBuffer.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "support/CaptureStream.h"

namespace {

class IOPacketProducerTest : public ::testing::Test
{
protected:
  IOPacketProducer* producer(uint32_t capacity = 4)
  {
    return new (eRetainAutorelease) IOPacketProducer(4, capacity);
  }
  static std::string text(BaseBuffer* packet)
  {
    return std::string((char*)packet->bytes(), packet->length());
  }
  // What reads of `asked` bytes deliver in turn; "!" for each that fails.
  static std::string read(IOPacketProducer* producer, uint32_t asked, int times = 1)
  {
    std::string all;
    for (int i = 0; i < times; i++) {
      std::string out(asked, '\0');
      uint32_t length = asked;
      all += producer->readIO(&out[0], length) ? out.substr(0, length) + "|" : "!";
    }
    return all;
  }
  static bool add(IOPacketProducer* producer, const char* bytes)
  {
    return producer->addPacket(new (eRetainAutorelease) BaseBuffer(bytes));
  }

  BaseAutorelease pool;
};

TEST_F(IOPacketProducerTest, WritesAreCutIntoFullPacketsAndFlushQueuesTheRest)
{
  IOPacketProducer* packets = producer();
  EXPECT_EQ(packets->getNextPacket(), nullptr);  // never waits
  EXPECT_TRUE(packets->writeIO("abcdefghij", 10));
  EXPECT_EQ(packets->getProducedPacketCount(), 2u);
  EXPECT_TRUE(packets->flushIO());
  EXPECT_EQ(text(packets->getNextPacket()), "abcd");
  BaseBuffer* grabbed;
  {
    BaseAutorelease inner;
    grabbed = BaseObject::retain(packets->getNextPacket());
  }
  EXPECT_EQ(text(grabbed) + std::to_string(grabbed->getRetainCount()), "efgh1");
  grabbed->release();
  EXPECT_EQ(text(packets->getNextPacket()), "ij");
  EXPECT_TRUE(packets->flushIO());  // nothing gathered: nothing to queue
  EXPECT_EQ(packets->getProducedPacketCount() * 10 + packets->getGrabedPacketCount(), 33u);
  packets->writeIO("abcd", 4);
  packets->closeIO();
  EXPECT_EQ(packets->getNextPacket(), nullptr);
  EXPECT_FALSE(packets->writeIO("i", 1));
}

TEST_F(IOPacketProducerTest, ReadsNeverSpanTwoPacketsDrainAfterCloseAndReleaseThePackets)
{
  LogCapture log("%S: %m\n", "D|src/io/IOPacketProducer");
  BaseBuffer *packet = new BaseBuffer("abc"), *unread = new BaseBuffer("xy");
  {
    BaseAutorelease inner;
    IOPacketProducer* packets = producer();
    EXPECT_FALSE(add(packets, "abcde"));
    EXPECT_TRUE(packets->addPacket(packet) && add(packets, "defg") && add(packets, "ef"));
    EXPECT_EQ(packet->getRetainCount(), 2);
    EXPECT_EQ(read(packets, 10), "abc|");
    EXPECT_EQ(read(packets, 2), "de|");
    EXPECT_EQ(packet->getRetainCount(), 1);
    packets->closeIO();
    EXPECT_FALSE(add(packets, "g"));
    EXPECT_EQ(read(packets, 10, 3), "fg|ef|!");
    packets = producer();
    packets->addPacket(unread);
  }
  EXPECT_EQ(unread->getRetainCount(), 1);  // released with the producer
  packet->release();
  unread->release();
  EXPECT_TRUE(log.contains("Error: packet is 5 bytes, more than the packet size 4: refused\n"));
  EXPECT_TRUE(log.contains("Debug: packet is 3 bytes, receivedPacketCount 1\n"));
}

TEST_F(IOPacketProducerTest, FullQueuesHoldTheWriterAndTheAdderAndAnEmptyOneTheReaderUntilClosed)
{
  IOPacketProducer* packets = producer(1);
  std::thread writer([&] { packets->writeIO("abcdefgh", 8); });
  std::string taken;
  while (taken.size() < 8)
    if (BaseBuffer* packet = packets->getNextPacket()) taken += text(packet) + "|";
  writer.join();
  EXPECT_EQ(taken, "abcd|efgh|");
  std::thread adder([&] {
    BaseAutorelease threadPool;
    for (const char* bytes : {"ij", "kl", "mn"}) add(packets, bytes);
  });
  EXPECT_EQ(read(packets, 4, 3), "ij|kl|mn|");
  adder.join();
  std::thread closer([&] { packets->closeIO(); });
  EXPECT_EQ(read(packets, 4), "!");
  closer.join();
}

}  // namespace
