// The packet producer in both directions: how written bytes are cut into packets, how
// queued packets come back out as reads, and how closing ends every wait.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "io/BaseBuffer.h"
#include "io/IOPacketProducer.h"
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
    return packet ? std::string((char*)packet->bytes(), packet->length()) : "(null)";
  }
  static std::string read(IOPacketProducer* producer, uint32_t asked, bool expected = true)
  {
    std::string out(asked, '\0');
    uint32_t length = asked;
    EXPECT_EQ(producer->readIO(&out[0], length), expected);
    out.resize(length);
    return out;
  }
  static void add(IOPacketProducer* producer, const char* bytes)
  {
    EXPECT_TRUE(producer->addPacket(new (eRetainAutorelease) BaseBuffer(bytes)));
  }

  BaseAutorelease pool;
};

using IOPacketProducerWriteTest = IOPacketProducerTest;
using IOPacketProducerReadTest = IOPacketProducerTest;

TEST_F(IOPacketProducerWriteTest, TenBytesMakeTwoFullPacketsAndFlushQueuesTheRest)
{
  IOPacketProducer* packets = producer();
  EXPECT_TRUE(packets->writeIO("abcdefghij", 10));
  EXPECT_EQ(packets->getProducedPacketCount(), 2u);
  EXPECT_TRUE(packets->flushIO());
  EXPECT_EQ(packets->getProducedPacketCount(), 3u);
  EXPECT_EQ(text(packets->getNextPacket()), "abcd");
  EXPECT_EQ(text(packets->getNextPacket()), "efgh");
  EXPECT_EQ(text(packets->getNextPacket()), "ij");
  EXPECT_EQ(packets->getGrabedPacketCount(), 3u);
  // Nothing gathered: nothing to queue.
  EXPECT_TRUE(packets->flushIO());
  EXPECT_EQ(packets->getProducedPacketCount(), 3u);
  EXPECT_EQ(packets->getNextPacket(), nullptr);
}

TEST_F(IOPacketProducerWriteTest, FullQueueHoldsTheWriterUntilCloseDiscardsItsPacket)
{
  IOPacketProducer* packets = producer(1);
  std::atomic<bool> done{false};
  bool written = true;
  std::thread writer([&] {
    written = packets->writeIO("abcdefgh", 8);
    done = true;
  });
  ASSERT_TRUE(nettest::waitUntil([&] { return packets->getProducedPacketCount() == 1; }));
  EXPECT_FALSE(done);
  packets->closeIO();
  writer.join();
  EXPECT_FALSE(written);
  EXPECT_EQ(packets->getProducedPacketCount(), 1u);
  // Only the first packet was queued: the second was dropped, not left behind.
  EXPECT_EQ(read(packets, 8), "abcd");
  EXPECT_EQ(read(packets, 8, false), "");
}

TEST_F(IOPacketProducerWriteTest, NextPacketNeverWaitsAndIsNullOnceClosed)
{
  IOPacketProducer* packets = producer();
  EXPECT_EQ(packets->getNextPacket(), nullptr);
  packets->writeIO("abcdefgh", 8);
  BaseBuffer* grabbed;
  {
    BaseAutorelease inner;
    grabbed = BaseObject::retain(packets->getNextPacket());
  }
  // Neither the queue nor the producer kept a reference to a packet handed out.
  EXPECT_EQ(grabbed->getRetainCount(), 1);
  grabbed->release();
  packets->closeIO();
  EXPECT_EQ(packets->getNextPacket(), nullptr);
  EXPECT_EQ(packets->getGrabedPacketCount(), 1u);
  EXPECT_FALSE(packets->writeIO("i", 1));
}

TEST_F(IOPacketProducerReadTest, AReadNeverSpansTwoPackets)
{
  IOPacketProducer* packets = producer();
  add(packets, "abc");
  add(packets, "defg");
  EXPECT_EQ(read(packets, 10), "abc");
  EXPECT_EQ(read(packets, 2), "de");
  EXPECT_EQ(read(packets, 10), "fg");
}

TEST_F(IOPacketProducerReadTest, ReaderGetsInOrderWhatAnotherThreadAdds)
{
  IOPacketProducer* packets = producer(2);
  std::string sent;
  for (int i = 0; i < 201; i++) sent += (char)('a' + i % 26);
  std::thread adder([&] {
    BaseAutorelease pool;
    for (size_t at = 0; at < sent.size(); at += 3) {
      BaseBuffer* packet = new (eRetainAutorelease) BaseBuffer(sent.data() + at, 3);
      EXPECT_TRUE(packets->addPacket(packet));
    }
  });
  std::string received(sent.size(), '\0');
  EXPECT_TRUE(packets->readIOExact(&received[0], (uint32_t)sent.size()));
  adder.join();
  EXPECT_EQ(received, sent);
}

TEST_F(IOPacketProducerReadTest, AfterCloseReadsDrainTheRestThenFail)
{
  IOPacketProducer* packets = producer();
  add(packets, "abcd");
  add(packets, "ef");
  EXPECT_EQ(read(packets, 2), "ab");
  packets->closeIO();
  EXPECT_FALSE(packets->addPacket(new (eRetainAutorelease) BaseBuffer("g")));
  EXPECT_EQ(read(packets, 10), "cd");
  EXPECT_EQ(read(packets, 10), "ef");
  EXPECT_EQ(read(packets, 10, false), "");
}

TEST_F(IOPacketProducerReadTest, PacketLongerThanThePacketSizeIsRefused)
{
  LogCapture log("%S: %m\n", "D|src/io/IOPacketProducer");
  IOPacketProducer* packets = producer();
  EXPECT_FALSE(packets->addPacket(new (eRetainAutorelease) BaseBuffer("abcde")));
  EXPECT_TRUE(log.contains("Error: packet is 5 bytes, more than the packet size 4: refused\n"));
  add(packets, "xy");
  EXPECT_TRUE(log.contains("Debug: packet is 2 bytes, receivedPacketCount 1\n"));
  EXPECT_EQ(read(packets, 10), "xy");
}

TEST_F(IOPacketProducerReadTest, QueueKeepsOneReferenceUntilThePacketIsRead)
{
  BaseBuffer* packet = new BaseBuffer("abcd");
  BaseBuffer* unread = new BaseBuffer("efgh");
  {
    BaseAutorelease inner;
    IOPacketProducer* packets = producer();
    packets->addPacket(packet);
    packets->addPacket(unread);
    EXPECT_EQ(packet->getRetainCount(), 2);
    read(packets, 4);
    EXPECT_EQ(packet->getRetainCount(), 1);
  }
  // Releasing the producer released what was still queued.
  EXPECT_EQ(unread->getRetainCount(), 1);
  packet->release();
  unread->release();
}

}  // namespace
