#include "net/IOSocketLocal.h"

#include <filesystem>

#include "net/SocketTestSupport.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

using namespace nettest;

namespace {

// A stale file in the way is replaced; the socket is open to every user, never published
// even when asked to be, and removed when the server closes.
TEST(IOSocketLocalTest, ServerReplacesItsPathIsNeverPublishedAndRemovesItsPathWhenClosed)
{
  BaseAutorelease pool;
  TemporaryDirectory directory("corvane-local");
  const std::string path = directory.path() + "/bridge.sock";
  writeFile(path, "stale");
  auto* recorder = new (eRetainAutorelease) NotificationRecorder("NEW_CLIENT_CONNECTED_NOTIFICATION");
  IOSocketLocal* server = new (eRetainAutorelease) IOSocketLocal();
  server->setServerOptions(bridgeOptions(true, false), 0);
  server->setSocketAddress(path.c_str(), 0);
  LogCapture log("%S: %m\n", "W|src/net/");
  EXPECT_EQ(server->MDNSProtocolTag(), nullptr);
  log.clear();
  ASSERT_TRUE(server->createServer());
  EXPECT_EQ(log.text(),
            "Error: MDNS not supported : unsupported protocol class\n"
            "Warning: unable to publish our service via MDNS\n");
  EXPECT_FALSE(server->isPublishedWithMDNS());
  const std::filesystem::file_status status = std::filesystem::symlink_status(path);
  EXPECT_EQ(status.type(), std::filesystem::file_type::socket);
  EXPECT_EQ(status.permissions() & std::filesystem::perms::all, std::filesystem::perms::all);

  IOSocketLocal* client = new (eRetainAutorelease) IOSocketLocal();
  ASSERT_TRUE(client->connect_socket(path.c_str(), 0));
  ASSERT_TRUE(waitUntil([&] { return recorder->count() == 1; }));
  ASSERT_TRUE(client->writeIO("local", 5));
  char bytes[5];
  ASSERT_TRUE(server->clientAtIndex(0)->readIOExact(bytes, 5));
  EXPECT_EQ(std::string(bytes, 5), "local");
  EXPECT_EQ(client->getRemoteAddress(), nullptr);  // not an IPv4 peer

  EXPECT_TRUE(server->closeIO());
  EXPECT_FALSE(present(path));
  recorder->stop();
  const std::string longPath = "/tmp/" + std::string(platform::localSocketPathCapacity(), 'p');
  server = new (eRetainAutorelease) IOSocketLocal();
  server->setSocketAddress(longPath.c_str(), 0);
  log.clear();
  EXPECT_FALSE(server->createServer());
  EXPECT_EQ(log.text(), "Error: socket path too long : " + longPath + "\nError: invalid address\n");
}

// Where the system has none (Windows), serving and connecting only fail, saying why.
TEST(IOSocketLocalTest, WithoutLocalSocketsServingAndConnectingFail)
{
  if (platform::localSocketPathCapacity() != 0) GTEST_SKIP() << "this system has local sockets";
  BaseAutorelease pool;
  LogCapture log("%S: %m\n", "W|src/net/");
  IOSocketLocal* driver = new (eRetainAutorelease) IOSocketLocal();
  driver->setSocketAddress("bridge.sock", 0);
  EXPECT_FALSE(driver->createServer());
  EXPECT_FALSE(driver->connect_socket("bridge.sock", 0));
  const std::string noSocket = "Error: unable to create socket\nError: NULL address or host\n";
  EXPECT_EQ(log.text(), noSocket + "Error: invalid address\n" + noSocket + "Error: Invalid address\n");
}

}  // namespace
