#include "net/IOSocketLocal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstdio>
#include <string>

#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "support/CaptureStream.h"
#include "net/SocketTestSupport.h"

using namespace nettest;

namespace {

class IOSocketLocalTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char pattern[] = "/tmp/corvane-local-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_path = m_dir + "/bridge.sock";
  }
  void TearDown() override
  {
    unlink(m_path.c_str());
    rmdir(m_dir.c_str());
  }
  static bool exists(const std::string& path, mode_t* mode = nullptr)
  {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return false;
    if (mode) *mode = info.st_mode;
    return true;
  }

  BaseAutorelease m_pool;
  std::string m_dir;
  std::string m_path;
};

TEST_F(IOSocketLocalTest, ServerReplacesItsPathAndRemovesItWhenClosed)
{
  FILE* stale = fopen(m_path.c_str(), "w");
  ASSERT_NE(stale, nullptr);
  fclose(stale);
  NotificationRecorder* recorder = new (eRetainAutorelease) NotificationRecorder("NEW_CLIENT_CONNECTED_NOTIFICATION");
  IOSocketLocal* server = new (eRetainAutorelease) IOSocketLocal();
  server->setSocketAddress(m_path.c_str(), 0);
  ASSERT_TRUE(server->createServer());
  mode_t mode = 0;
  ASSERT_TRUE(exists(m_path, &mode));
  EXPECT_TRUE(S_ISSOCK(mode));
  EXPECT_EQ(mode & 0777, 0777u);

  IOSocketLocal* client = new (eRetainAutorelease) IOSocketLocal();
  ASSERT_TRUE(client->connect_socket(m_path.c_str(), 0));
  ASSERT_TRUE(waitUntil([&] { return recorder->count() == 1; }));
  server->lockClients();
  IODriverAbstract* accepted = server->clientAtIndex(0);
  server->unlockClients();
  ASSERT_TRUE(client->writeIO("local", 5));
  char bytes[5];
  ASSERT_TRUE(accepted->readIOExact(bytes, 5));
  EXPECT_EQ(std::string(bytes, 5), "local");
  EXPECT_EQ(client->getRemoteAddress(), nullptr);  // not an IPv4 peer

  EXPECT_TRUE(server->closeIO());
  EXPECT_FALSE(exists(m_path));
  recorder->stop();
}

TEST_F(IOSocketLocalTest, LocalSocketsAreNeverPublished)
{
  IOSocketLocal* server = new (eRetainAutorelease) IOSocketLocal();
  BaseDictionary* options = new (eRetainAutorelease) BaseDictionary();
  options->setObjectForKey(new (eRetainAutorelease) BaseString("X-Plane"), "MDNS_SERVICE_NAME");
  options->setObjectForKey(new (eRetainAutorelease) BaseString("corvane_gps"), "MDNS_SERVICE_TYPE");
  server->setServerOptions(options, 0);
  server->setSocketAddress(m_path.c_str(), 0);
  LogCapture log("%S: %m\n", "W|src/net/");
  EXPECT_EQ(server->MDNSProtocolTag(), nullptr);
  log.clear();
  ASSERT_TRUE(server->createServer());
  EXPECT_EQ(log.text(),
            "Error: MDNS not supported : unsupported protocol class\n"
            "Warning: unable to publish our service via MDNS\n");
  EXPECT_FALSE(server->isPublishedWithMDNS());
  IOSocketLocal* client = new (eRetainAutorelease) IOSocketLocal();
  EXPECT_TRUE(client->connect_socket(m_path.c_str(), 0));
}

TEST_F(IOSocketLocalTest, PathTooLongForTheAddressIsRefused)
{
  std::string longPath = m_dir + "/" + std::string(sizeof(sockaddr_un::sun_path), 'p');
  IOSocketLocal* server = new (eRetainAutorelease) IOSocketLocal();
  server->setSocketAddress(longPath.c_str(), 0);
  LogCapture log("%S: %m\n", "W|src/net/");
  EXPECT_FALSE(server->createServer());
  EXPECT_EQ(log.text(), "Error: socket path too long : " + longPath + "\nError: invalid address\n");
}

}  // namespace
