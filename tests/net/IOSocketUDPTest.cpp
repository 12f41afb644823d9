#include "net/IOSocketUDP.h"

#include "io/BaseBuffer.h"
#include "net/SocketTestSupport.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

// A datagram socket bound to 127.0.0.1 on an ephemeral port, and a send to a port there.
SocketHandle boundDatagramSocket()
{
  return rawSocket(0, false, true);
}
void sendTo(SocketHandle fd, uint16_t port, const std::string& bytes)
{
  Loopback address(port);
  platform::sendTo(fd, bytes.data(), bytes.size(), address.bytes, address.length);
}
std::string textOf(BaseDictionary* info, const char* key)
{
  BaseObject* value = info->objectForKey(key);
  if (auto* data = dynamic_cast<BaseBuffer*>(value))
    return std::string((const char*)data->bytes(), data->length());
  return static_cast<BaseString*>(value)->cString();
}

TEST(IOSocketUDPTest, EachDatagramIsPostedOnceWithSenderAndBytes)
{
  BaseAutorelease pool;
  auto* recorder = new (eRetainAutorelease) NotificationRecorder("IOSOCKETUDP_INCOMMING_DATAGRAM");
  IOSocketUDP* server = new (eRetainAutorelease) IOSocketUDP();
  server->setSocketAddress("127.0.0.1", 0);
  ASSERT_TRUE(server->createServer());
  SocketHandle sender = boundDatagramSocket();
  sendTo(sender, boundPort(server->getSocketfd()), "0123456789");
  ASSERT_TRUE(waitUntil([&] { return recorder->count() == 1; }));
  BaseDictionary* info = recorder->info(0);
  EXPECT_EQ(recorder->context(0), server);
  EXPECT_EQ(info->count(), 3u);
  EXPECT_EQ(textOf(info, "REMOTE_HOST"), "127.0.0.1");
  EXPECT_EQ(textOf(info, "REMOTE_PORT"), std::to_string(boundPort(sender)));
  EXPECT_EQ(textOf(info, "DATAGRAM_DATA"), "0123456789");
  sendTo(sender, boundPort(server->getSocketfd()), std::string(9000, 'L'));  // cut to the buffer
  ASSERT_TRUE(waitUntil([&] { return recorder->count() == 2; }));
  EXPECT_EQ(textOf(recorder->info(1), "DATAGRAM_DATA"), std::string(8192, 'L'));

  EXPECT_TRUE(server->closeIO());
  EXPECT_FALSE(server->isThreadRunning());
  recorder->stop();
  platform::closeSocket(sender);
}

TEST(IOSocketUDPTest, DatagramsTravelBetweenDriversAndAWaitForNoneTimesOut)
{
  BaseAutorelease pool;
  IOSocketUDP* receiver = new (eRetainAutorelease) IOSocketUDP();
  receiver->setSocketAddress("127.0.0.1", 0);
  // Bound without a server: readWithTimeoutUDP serves the caller directly.
  SocketHandle fd = receiver->getSocketfd();
  Loopback any(0);
  ASSERT_TRUE(platform::bindSocket(fd, any.bytes, any.length));

  IOSocketUDP* sender = new (eRetainAutorelease) IOSocketUDP();
  ASSERT_TRUE(sender->write("ping", 4, "127.0.0.1", boundPort(fd)));
  char host[16], data[16];
  uint16_t port = 0;
  uint32_t length = sizeof data;
  ASSERT_TRUE(receiver->readWithTimeoutUDP(host, port, data, length, 5));
  EXPECT_EQ(std::string(data, length), "ping");
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_EQ(port, boundPort(sender->getSocketfd()));

  LogCapture log("%S: %m\n", "I|src/net/");
  EXPECT_FALSE(receiver->readWithTimeoutUDP(nullptr, port, data, length = sizeof data, 1));
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
  EXPECT_TRUE(IOSocketUDP::getOurAddressForHost("127.0.0.1", ours, 4));
  EXPECT_STREQ(ours, "127");
  EXPECT_FALSE(IOSocketUDP::getOurAddressForHost("no..such..host", ours, sizeof ours));
}

}  // namespace
