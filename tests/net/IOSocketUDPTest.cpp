#include "net/IOSocketUDP.h"

#include <gtest/gtest.h>

#include <string>

#include "io/BaseBuffer.h"
#include "net/SocketTestSupport.h"
#include "object/BaseDictionary.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

// A datagram socket bound to 127.0.0.1 on an ephemeral port.
int boundDatagramSocket()
{
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in address = loopback(0);
  bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
  return fd;
}

void sendTo(int fd, uint16_t port, const std::string& bytes)
{
  struct sockaddr_in address = loopback(port);
  sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
}

TEST(IOSocketUDPTest, EachDatagramIsPostedOnceWithSenderAndBytes)
{
  BaseAutorelease pool;
  NotificationRecorder* recorder =
      new (eRetainAutorelease) NotificationRecorder("IOSOCKETUDP_INCOMMING_DATAGRAM");
  IOSocketUDP* server = new (eRetainAutorelease) IOSocketUDP();
  server->setSocketAddress("127.0.0.1", 0);
  ASSERT_TRUE(server->createServer());
  int sender = boundDatagramSocket();
  uint16_t senderPort = boundPort(sender);

  sendTo(sender, boundPort(server->getSocketfd()), "0123456789");
  ASSERT_TRUE(waitUntil([&] { return recorder->count() == 1; }));
  BaseDictionary* info = recorder->info(0);
  EXPECT_EQ(recorder->context(0), server);
  EXPECT_EQ(info->count(), 3u);
  EXPECT_STREQ(static_cast<BaseString*>(info->objectForKey("REMOTE_HOST"))->cString(), "127.0.0.1");
  EXPECT_EQ(std::string(static_cast<BaseString*>(info->objectForKey("REMOTE_PORT"))->cString()),
            std::to_string(senderPort));
  BaseBuffer* data = static_cast<BaseBuffer*>(info->objectForKey("DATAGRAM_DATA"));
  EXPECT_EQ(std::string((const char*)data->bytes(), data->length()), "0123456789");

  // A datagram larger than the buffer arrives cut to it.
  sendTo(sender, boundPort(server->getSocketfd()), std::string(9000, 'L'));
  ASSERT_TRUE(waitUntil([&] { return recorder->count() == 2; }));
  EXPECT_EQ(static_cast<BaseBuffer*>(recorder->info(1)->objectForKey("DATAGRAM_DATA"))->length(), 8192u);

  EXPECT_TRUE(server->closeIO());
  EXPECT_FALSE(server->isThreadRunning());
  recorder->stop();
  close(sender);
}

TEST(IOSocketUDPTest, DatagramsTravelBetweenDriversAndAWaitForNoneTimesOut)
{
  BaseAutorelease pool;
  IOSocketUDP* receiver = new (eRetainAutorelease) IOSocketUDP();
  receiver->setSocketAddress("127.0.0.1", 0);
  // Bound without a server: readWithTimeoutUDP serves the caller directly.
  int fd = receiver->getSocketfd();
  struct sockaddr_in any = loopback(0);
  ASSERT_EQ(bind(fd, reinterpret_cast<struct sockaddr*>(&any), sizeof any), 0);

  IOSocketUDP* sender = new (eRetainAutorelease) IOSocketUDP();
  ASSERT_TRUE(sender->write("ping", 4, "127.0.0.1", boundPort(fd)));
  char host[16];
  uint16_t port = 0;
  char data[16];
  uint32_t length = sizeof data;
  ASSERT_TRUE(receiver->readWithTimeoutUDP(host, port, data, length, 5));
  EXPECT_EQ(std::string(data, length), "ping");
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_EQ(port, boundPort(sender->getSocketfd()));

  LogCapture log("%S: %m\n", "I|src/net/");
  length = sizeof data;
  EXPECT_FALSE(receiver->readWithTimeoutUDP(nullptr, port, data, length, 1));
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(sender->write("x", 1, "no..such..host", 5000));
  EXPECT_EQ(log.text(),
            "Warning: Timeout while receiving data on UDP\nError: Lookup no..such..host port 5000\n");
}

TEST(IOSocketUDPTest, RouteToLoopbackUsesTheLoopbackAddress)
{
  char ours[32] = "junk";
  EXPECT_TRUE(IOSocketUDP::getOurAddressForHost("127.0.0.1", ours, sizeof ours));
  EXPECT_STREQ(ours, "127.0.0.1");
  char cut[4];
  EXPECT_TRUE(IOSocketUDP::getOurAddressForHost("127.0.0.1", cut, sizeof cut));
  EXPECT_STREQ(cut, "127");
  EXPECT_FALSE(IOSocketUDP::getOurAddressForHost("no..such..host", ours, sizeof ours));
}

}  // namespace
