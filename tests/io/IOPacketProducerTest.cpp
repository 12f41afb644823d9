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
    return packet ? std::string((char*)packet->bytes(), packet->length()) : "(null)";
  }
  // What one read of `asked` bytes delivers; "!" when it fails.
  static std::string read(IOPacketProducer* producer, uint32_t asked)
  {
    std::string out(asked, '\0');
    uint32_t length = asked;
    if (!producer->readIO(&out[0], length)) return "!";
    return out.substr(0, length);
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
  EXPECT_EQ(packets->getProducedPacketCount(), 3u);
  EXPECT_EQ(text(packets->getNextPacket()), "abcd");
  BaseBuffer* grabbed;
  {
    BaseAutorelease inner;
    grabbed = BaseObject::retain(packets->getNextPacket());
  }
  // Neither the queue nor the producer kept a reference to a packet handed out.
  EXPECT_EQ(text(grabbed), "efgh");
  EXPECT_EQ(grabbed->getRetainCount(), 1);
  grabbed->release();
  EXPECT_EQ(text(packets->getNextPacket()), "ij");
  EXPECT_EQ(packets->getGrabedPacketCount(), 3u);
  EXPECT_TRUE(packets->flushIO());  // nothing gathered: nothing to queue
  EXPECT_EQ(packets->getProducedPacketCount(), 3u);
  packets->writeIO("abcd", 4);
  packets->closeIO();
  EXPECT_EQ(packets->getNextPacket(), nullptr);
  EXPECT_FALSE(packets->writeIO("i", 1));
}

TEST_F(IOPacketProducerTest, FullQueueHoldsTheWriterUntilCloseDiscardsItsPacket)
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
  EXPECT_EQ(read(packets, 8), "!");
}

TEST_F(IOPacketProducerTest, ReadsNeverSpanTwoPacketsAndDrainAfterClose)
{
  IOPacketProducer* packets = producer();
  EXPECT_TRUE(add(packets, "abc"));
  EXPECT_TRUE(add(packets, "defg"));
  EXPECT_TRUE(add(packets, "ef"));
  EXPECT_EQ(read(packets, 10), "abc");
  EXPECT_EQ(read(packets, 2), "de");
  packets->closeIO();
  EXPECT_FALSE(add(packets, "g"));
  EXPECT_EQ(read(packets, 10), "fg");
  EXPECT_EQ(read(packets, 10), "ef");
  EXPECT_EQ(read(packets, 10), "!");
}

TEST_F(IOPacketProducerTest, ReaderGetsInOrderWhatAnotherThreadAdds)
{
  IOPacketProducer* packets = producer(2);
  std::string sent;
  for (int i = 0; i < 201; i++) sent += (char)('a' + i % 26);
  std::thread adder([&] {
    BaseAutorelease pool;
    for (size_t at = 0; at < sent.size(); at += 3)
      EXPECT_TRUE(packets->addPacket(new (eRetainAutorelease) BaseBuffer(sent.data() + at, 3)));
  });
  std::string received(sent.size(), '\0');
  EXPECT_TRUE(packets->readIOExact(&received[0], (uint32_t)sent.size()));
  adder.join();
  EXPECT_EQ(received, sent);
}

TEST_F(IOPacketProducerTest, PacketLongerThanThePacketSizeIsRefused)
{
  LogCapture log("%S: %m\n", "D|src/io/IOPacketProducer");
  IOPacketProducer* packets = producer();
  EXPECT_FALSE(add(packets, "abcde"));
  EXPECT_TRUE(log.contains("Error: packet is 5 bytes, more than the packet size 4: refused\n"));
  EXPECT_TRUE(add(packets, "xy"));
  EXPECT_TRUE(log.contains("Debug: packet is 2 bytes, receivedPacketCount 1\n"));
  EXPECT_EQ(read(packets, 10), "xy");
}

TEST_F(IOPacketProducerTest, QueueKeepsOneReferenceUntilThePacketIsRead)
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
  EXPECT_EQ(unread->getRetainCount(), 1);  // released with the producer
  packet->release();
  unread->release();
}

}  // namespace
