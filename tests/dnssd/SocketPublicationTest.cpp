// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): a socket server
// started with the bridge's options is found by a browser exactly as the app finds it,
// stays advertised while merely closed, and disappears when its driver is destroyed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "dnssd/DnsSdBrowser.h"
#include "net/IOSocketTCP.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "net/SocketTestSupport.h"
#include "support/CaptureStream.h"

namespace {

const char* const TYPE = "_corvane_gps._tcp";
const int RESOLVE_MS = 10000;
// Long enough for the goodbye packet of a withdrawn service to reach a fresh browser.
const int WINDOW_MS = 2500;

class SocketPublicationTest : public ::testing::Test
{
protected:
  // A server on all interfaces of the namespace, as the bridge starts it.
  static IOSocketTCP* bridgeServer(bool withName, uint16_t port)
  {
    IOSocketTCP* server = new IOSocketTCP();
    server->setServerOptions(nettest::bridgeOptions(withName), 0);
    server->setSocketAddress(nullptr, port);
    return server;
  }
  static bool accepts(uint16_t port)
  {
    int fd = nettest::connectRaw(port);
    if (fd != -1) close(fd);
    return fd != -1;
  }

  BaseAutorelease m_pool;
};

TEST_F(SocketPublicationTest, BridgeServerIsFoundWithItsPortAndExactlyItsTxtEntries)
{
  LogCapture log("%S: %m\n", "I|src/net/MDns");
  IOSocketTCP* server = bridgeServer(true, 21777);
  ASSERT_TRUE(server->createServer());
  EXPECT_TRUE(server->isPublishedWithMDNS());
  EXPECT_EQ(log.text(),
            "Info: DNS-SD through Avahi's client library\n"
            "Info: MDNS Service X-Plane published with result 0\n");

  ResolvedService found;
  ASSERT_TRUE(browseAndResolve(TYPE, "X-Plane", RESOLVE_MS, found));
  EXPECT_EQ(found.port, 21777);
  // Exactly its entries, in the options' order.
  EXPECT_EQ(found.txtRecord, "\x09txtvers=1\x08qtotal=1\x0bpriority=30");
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
  IOSocketTCP* server = bridgeServer(false, 21778);
  ASSERT_TRUE(server->createServer());
  EXPECT_EQ(log.text(), "Warning: unable to publish our service via MDNS\n");
  EXPECT_FALSE(server->isPublishedWithMDNS());
  EXPECT_TRUE(accepts(21778));
  server->release();
}

}  // namespace
