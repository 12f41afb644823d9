// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): a socket server
// started with the bridge's options is found by a browser exactly as the app finds it,
// stays advertised while merely closed, and disappears when its driver is destroyed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>

#include "dnssd/DnsSdBrowser.h"
#include "net/IOSocketTCP.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "support/CaptureStream.h"

namespace {

const char* const TYPE = "_corvane_gps._tcp";
const int RESOLVE_MS = 10000;
// Long enough for the goodbye packet of a withdrawn service to reach a fresh browser.
const int WINDOW_MS = 2500;

class SocketPublicationTest : public ::testing::Test
{
protected:
  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  static BaseDictionary* bridgeOptions(const char* name)
  {
    BaseDictionary* options = new (eRetainAutorelease) BaseDictionary();
    if (name) options->setObjectForKey(str(name), "MDNS_SERVICE_NAME");
    options->setObjectForKey(str("corvane_gps"), "MDNS_SERVICE_TYPE");
    BaseDictionary* txt = new (eRetainAutorelease) BaseDictionary();
    txt->setObjectForKey(str("1"), "txtvers");
    txt->setObjectForKey(str("1"), "qtotal");
    txt->setObjectForKey(str("30"), "priority");
    options->setObjectForKey(txt, "SOCKET_TXT_RECORD_ENTRIES");
    return options;
  }
  // A server on all interfaces of the namespace, as the bridge starts it.
  static IOSocketTCP* bridgeServer(const char* name, uint16_t port)
  {
    IOSocketTCP* server = new IOSocketTCP();
    server->setServerOptions(bridgeOptions(name), 0);
    server->setSocketAddress(nullptr, port);
    return server;
  }
  static bool accepts(uint16_t port)
  {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
  }

  BaseAutorelease m_pool;
};

TEST_F(SocketPublicationTest, BridgeServerIsFoundWithItsPortAndExactlyItsTxtEntries)
{
  LogCapture log("%S: %m\n", "I|src/net/MDns");
  IOSocketTCP* server = bridgeServer("X-Plane", 21777);
  ASSERT_TRUE(server->createServer());
  EXPECT_TRUE(server->isPublishedWithMDNS());
  EXPECT_EQ(log.text(), "Info: MDNS Service X-Plane published with result 0\n");

  ResolvedService found;
  ASSERT_TRUE(browseAndResolve(TYPE, "X-Plane", RESOLVE_MS, found));
  EXPECT_EQ(found.port, 21777);
  const std::map<std::string, std::string> expected = {{"txtvers", "1"}, {"qtotal", "1"}, {"priority", "30"}};
  EXPECT_EQ(found.txt, expected);
  EXPECT_TRUE(accepts(21777));

  // Closed but not destroyed: still advertised. Destroyed: withdrawn.
  server->closeIO();
  EXPECT_TRUE(isBrowsable(TYPE, "X-Plane", WINDOW_MS));
  server->release();
  EXPECT_FALSE(isBrowsable(TYPE, "X-Plane", WINDOW_MS));
}

TEST_F(SocketPublicationTest, OptionsWithoutANameAreNotPublishedButTheServerServes)
{
  LogCapture log("%S: %m\n", "W|src/net/");
  IOSocketTCP* server = bridgeServer(nullptr, 21778);
  ASSERT_TRUE(server->createServer());
  EXPECT_EQ(log.text(), "Warning: unable to publish our service via MDNS\n");
  EXPECT_FALSE(server->isPublishedWithMDNS());
  EXPECT_TRUE(accepts(21778));
  server->release();
}

}  // namespace
