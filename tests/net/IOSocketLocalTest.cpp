#include "net/IOSocketLocal.h"

#include <sys/stat.h>
#include <sys/un.h>

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
  struct stat info;
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0777u);

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
  const std::string longPath = "/tmp/" + std::string(sizeof(sockaddr_un::sun_path), 'p');
  server = new (eRetainAutorelease) IOSocketLocal();
  server->setSocketAddress(longPath.c_str(), 0);
  log.clear();
  EXPECT_FALSE(server->createServer());
  EXPECT_EQ(log.text(), "Error: socket path too long : " + longPath + "\nError: invalid address\n");
}

}  // namespace
