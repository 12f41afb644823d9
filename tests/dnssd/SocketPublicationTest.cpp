// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): a socket server
// started with the bridge's options is found by a browser exactly as the app finds it,
// stays advertised while merely closed, and disappears when its driver is destroyed; a
// stopped daemon holds neither the server's start nor its destruction.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dnssd/DnsSdBrowser.h"
#include "net/IOSocketTCP.h"
#include "net/MDnsPublication.h"
#include "net/MDnsWrapper.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "support/CaptureStream.h"

namespace {

const char* const TYPE = "_corvane_gps._tcp";
const int RESOLVE_MS = 10000;
// Long enough for the goodbye packet of a withdrawn service to reach a fresh browser.
const int WINDOW_MS = 2500;

// A server on all interfaces of the namespace, as the bridge starts it.
IOSocketTCP* bridgeServer(uint16_t port)
{
  IOSocketTCP* server = new IOSocketTCP();
  server->setServerOptions(nettest::bridgeOptions(), 0);
  return server->setSocketAddress(nullptr, port), server;
}
const auto accepts = [](uint16_t port) {
  int fd = nettest::connectRaw(port);
  return fd != -1 && close(fd) == 0;
};

// Sockets this process has open.
int openSockets()
{
  std::error_code ignored;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored))
    if (std::filesystem::read_symlink(entry.path(), ignored).string().rfind("socket:", 0) == 0) ++count;
  return count;
}

// The sandbox's daemon stopped as by SIGSTOP for the object's life: a daemon that does not
// answer. Continued however the test ends.
struct StoppedDaemon
{
  explicit StoppedDaemon(pid_t daemon) : m_daemon(daemon) { kill(m_daemon, SIGSTOP); }
  ~StoppedDaemon() { kill(m_daemon, SIGCONT); }
  pid_t m_daemon;
};

TEST(SocketPublicationTest, BridgeServerIsFoundWithItsPortAndExactlyItsTxtEntries)
{
  BaseAutorelease pool;
  LogCapture log("%S: %m\n", "I|src/net/MDns");
  IOSocketTCP* server = bridgeServer(21777);
  ASSERT_TRUE(server->createServer());
  EXPECT_TRUE(server->isPublishedWithMDNS());
  ASSERT_TRUE(nettest::waitUntil([&] { return log.contains("published with result"); }, RESOLVE_MS));
  EXPECT_EQ(
      log.text(),
      "Info: DNS-SD through Avahi's client library\nInfo: MDNS Service X-Plane published with result 0\n");

  ResolvedService found;
  ASSERT_TRUE(browseAndResolve(TYPE, "X-Plane", RESOLVE_MS, found));
  EXPECT_EQ(found.port, 21777);
  EXPECT_EQ(found.txtRecord, "\x09txtvers=1\x08qtotal=1\x0bpriority=30");  // exactly its entries, in order
  EXPECT_TRUE(accepts(21777));
  server->closeIO();  // closed but not destroyed: still advertised; destroyed: withdrawn
  EXPECT_TRUE(isBrowsable(TYPE, "X-Plane", WINDOW_MS));
  server->release();
  EXPECT_FALSE(isBrowsable(TYPE, "X-Plane", WINDOW_MS));
}

TEST(SocketPublicationTest, StoppedDaemonHoldsNeitherStartNorDestruction)
{
  BaseAutorelease pool;
  using Clock = std::chrono::steady_clock;
  const char* pid = getenv("DNSSD_SANDBOX_AVAHI_PID");
  ASSERT_NE(pid, nullptr) << "run through scripts/dnssd-sandbox.sh";
  const pid_t daemon = pid_t(atoi(pid));
  // Served at once, announced once the daemon answers.
  IOSocketTCP* server = bridgeServer(21779);
  {
    StoppedDaemon stopped(daemon);
    Clock::time_point begin = Clock::now();
    ASSERT_TRUE(server->createServer());
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));
    EXPECT_TRUE(accepts(21779));
  }
  ResolvedService found;
  EXPECT_TRUE(browseAndResolve(TYPE, "X-Plane", RESOLVE_MS, found));
  EXPECT_EQ(found.port, 21779);
  server->release();

  // Destroyed while its worker waits for the daemon: given up on, it lets go of the DNS-SD
  // libraries once the daemon answers, and nothing stays announced.
  MDnsWrapper* wrapper = MDnsWrapper::sharedMDNSWrapper();
  const int abandoned = MDnsPublication::abandonedCount();
  server = bridgeServer(21780);
  {
    StoppedDaemon stopped(daemon);
    const int sockets = openSockets();
    ASSERT_TRUE(server->createServer());
    // Once it talks to the bus, the worker is inside the registration call.
    ASSERT_TRUE(nettest::waitUntil([&] { return openSockets() > sockets; }));
    Clock::time_point begin = Clock::now();
    server->release();
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));
    EXPECT_EQ(MDnsPublication::abandonedCount(), abandoned + 1);
  }
  EXPECT_TRUE(nettest::waitUntil([&] { return wrapper->getRetainCount() == 1; }, RESOLVE_MS));
  wrapper->release();
  EXPECT_FALSE(isBrowsable(TYPE, "X-Plane", WINDOW_MS));
}

}  // namespace
