// Publication of socket servers through the DNS-SD entry table, with the table's
// registration entries replaced by fakes: what is registered, how a silent or failing
// daemon is handled, and when the service is withdrawn. The real daemon is exercised by
// the tests that run in their own network namespace.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "net/IOSocketTCP.h"
#include "net/IOSocketUDP.h"
#include "net/MDnsWrapper.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "support/CaptureStream.h"
#include "net/SocketTestSupport.h"

using namespace nettest;

namespace {

// What the fake daemon saw and how it answers.
struct FakeDaemon
{
  int registrations = 0;
  int deallocations = 0;
  DNSServiceErrorType registerResult = kDNSServiceErr_NoError;
  DNSServiceErrorType replyResult = kDNSServiceErr_NoError;  // the daemon's word in its reply
  bool answers = true;
  std::string name, type, txt;
  uint16_t networkPort = 0;
  DNSServiceFlags flags = 1;
  uint32_t interfaceIndex = 1;
  bool defaultDomainAndHost = false;
  DNSServiceRegisterReply callback = nullptr;
  void* context = nullptr;
  int pair[2] = {-1, -1};  // [0] is the reference's socket, readable when the daemon answered
};
FakeDaemon* daemonState = nullptr;
// The bridge's TXT entries as they travel: length-prefixed strings, in the options' order.
const std::string BRIDGE_TXT = "\x09txtvers=1\x08qtotal=1\x0bpriority=30";

_DNSServiceRef_t* const FAKE_REFERENCE = reinterpret_cast<_DNSServiceRef_t*>(0x5d);

DNSServiceErrorType fakeRegister(DNSServiceRef* reference, DNSServiceFlags flags, uint32_t interfaceIndex,
                                 const char* name, const char* type, const char* domain, const char* host,
                                 uint16_t port, uint16_t txtLength, const void* txt,
                                 DNSServiceRegisterReply callback, void* context)
{
  FakeDaemon& fake = *daemonState;
  ++fake.registrations;
  fake.name = name;
  fake.type = type;
  fake.flags = flags;
  fake.interfaceIndex = interfaceIndex;
  fake.defaultDomainAndHost = !domain && !host;
  fake.networkPort = port;
  fake.txt.assign(static_cast<const char*>(txt), txtLength);
  fake.callback = callback;
  fake.context = context;
  if (fake.registerResult != kDNSServiceErr_NoError) return fake.registerResult;
  *reference = FAKE_REFERENCE;
  if (fake.answers) ::send(fake.pair[1], "r", 1, MSG_NOSIGNAL);
  return kDNSServiceErr_NoError;
}

int fakeSockFD(DNSServiceRef)
{
  return daemonState->pair[0];
}

DNSServiceErrorType fakeProcessResult(DNSServiceRef reference)
{
  char answer;
  ::recv(daemonState->pair[0], &answer, 1, 0);
  daemonState->callback(reference, 0, daemonState->replyResult, daemonState->name.c_str(),
                        daemonState->type.c_str(), "local.", daemonState->context);
  return kDNSServiceErr_NoError;
}

void fakeDeallocate(DNSServiceRef reference)
{
  EXPECT_EQ(reference, FAKE_REFERENCE);
  ++daemonState->deallocations;
}

class MDnsPublicationTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    setenv("AVAHI_COMPAT_NOWARN", "1", 1);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fake.pair), 0);
    daemonState = &m_fake;
    // Held for the whole test, so that the drivers find this very table.
    m_wrapper = MDnsWrapper::sharedMDNSWrapper();
    m_wrapper->m_register = fakeRegister;
    m_wrapper->m_refSockFD = fakeSockFD;
    m_wrapper->m_processResult = fakeProcessResult;
    m_wrapper->m_refDeallocate = fakeDeallocate;
    IOSocketAbstract::setMDNSReplyTimeout(200);
  }
  void TearDown() override
  {
    IOSocketAbstract::setMDNSReplyTimeout(5000);
    m_wrapper->CloseMDnsLibrary();
    m_wrapper->InitMDnsLibrary();
    m_wrapper->release();
    daemonState = nullptr;
    close(m_fake.pair[0]);
    close(m_fake.pair[1]);
  }

  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  template <class Driver>
  Driver* server(BaseDictionary* options)
  {
    Driver* driver = new Driver();
    driver->setServerOptions(options, 0);
    driver->setSocketAddress("127.0.0.1", 0);
    return driver;
  }
  BaseAutorelease m_pool;
  FakeDaemon m_fake;
  MDnsWrapper* m_wrapper = nullptr;
};

TEST_F(MDnsPublicationTest, TcpServerRegistersNameTypePortAndTxtEntries)
{
  IOSocketTCP* driver = server<IOSocketTCP>(bridgeOptions());
  LogCapture log("%S: %m\n", "I|src/net/MDns");
  ASSERT_TRUE(driver->createServer());
  uint16_t port = boundPort(driver->getSocketfd());
  EXPECT_TRUE(driver->isPublishedWithMDNS());
  EXPECT_EQ(m_fake.registrations, 1);
  EXPECT_EQ(m_fake.name, "X-Plane");
  EXPECT_EQ(m_fake.type, "_corvane_gps._tcp.");
  EXPECT_EQ(ntohs(m_fake.networkPort), port);
  EXPECT_EQ(m_fake.flags, 0u);
  EXPECT_EQ(m_fake.interfaceIndex, 0u);
  EXPECT_TRUE(m_fake.defaultDomainAndHost);
  EXPECT_EQ(m_fake.context, driver);
  EXPECT_EQ(m_fake.txt, BRIDGE_TXT);
  EXPECT_EQ(log.text(), "Info: MDNS Service X-Plane published with result 0\n");

  // Closing stops serving but keeps the service advertised; destruction withdraws it.
  driver->closeIO();
  EXPECT_EQ(m_fake.deallocations, 0);
  driver->release();
  EXPECT_EQ(m_fake.deallocations, 1);
}

TEST_F(MDnsPublicationTest, UdpServerUsesTheUdpLabelAndNoTxtMeansAnEmptyRecord)
{
  IOSocketUDP* driver = server<IOSocketUDP>(bridgeOptions(true, false));
  ASSERT_TRUE(driver->createServer());
  EXPECT_EQ(m_fake.type, "_corvane_gps._udp.");
  EXPECT_EQ(m_fake.txt, "");
  driver->release();
  EXPECT_EQ(m_fake.deallocations, 1);
}

TEST_F(MDnsPublicationTest, OverlongTxtValueIsLeftOutRatherThanCut)
{
  BaseDictionary* options = bridgeOptions();
  static_cast<BaseDictionary*>(options->objectForKey("SOCKET_TXT_RECORD_ENTRIES"))
      ->setObjectForKey(str(std::string(300, 'v').c_str()), "long");
  IOSocketTCP* driver = server<IOSocketTCP>(options);
  LogCapture log("%S: %m\n", "W|src/net/");
  ASSERT_TRUE(driver->createServer());
  EXPECT_EQ(m_fake.txt, BRIDGE_TXT);
  EXPECT_EQ(log.text(), "Warning: TXT record value of long longer than 255 bytes, entry left out\n");
  driver->release();
}

// Each way of failing leaves an unpublished server that still accepts clients.
class MDnsPublicationFailureTest : public MDnsPublicationTest
{
protected:
  void expectServingUnpublished(IOSocketTCP* driver, const std::string& expectedLog)
  {
    LogCapture log("%S: %m\n", "W|src/net/");
    ASSERT_TRUE(driver->createServer());
    EXPECT_EQ(log.text(), expectedLog);
    EXPECT_FALSE(driver->isPublishedWithMDNS());
    int peer = connectRaw(boundPort(driver->getSocketfd()));
    EXPECT_NE(peer, -1);
    EXPECT_TRUE(waitUntil([&] {
      driver->lockClients();
      unsigned int count = driver->clientsCount();
      driver->unlockClients();
      return count == 1;
    }));
    close(peer);
    driver->release();
  }
};

TEST_F(MDnsPublicationFailureTest, SilentDaemonIsWaitedForOnlyBriefly)
{
  m_fake.answers = false;
  expectServingUnpublished(server<IOSocketTCP>(bridgeOptions()),
                           "Warning: no reply from the DNS-SD service\n"
                           "Warning: unable to publish our service via MDNS\n");
  EXPECT_EQ(m_fake.registrations, 1);
  EXPECT_EQ(m_fake.deallocations, 1);  // the pending request is given up at once
}

TEST_F(MDnsPublicationFailureTest, RefusedRegistration)
{
  m_fake.registerResult = kDNSServiceErr_NameConflict;
  expectServingUnpublished(server<IOSocketTCP>(bridgeOptions()), "Warning: unable to publish our service via MDNS\n");
  EXPECT_EQ(m_fake.deallocations, 0);
}

TEST_F(MDnsPublicationTest, RegistrationRefusedInTheDaemonsReplyIsAWarning)
{
  m_fake.replyResult = kDNSServiceErr_NameConflict;
  IOSocketTCP* driver = server<IOSocketTCP>(bridgeOptions());
  LogCapture log("%S: %m\n", "W|src/net/");
  ASSERT_TRUE(driver->createServer());
  EXPECT_EQ(log.text(), "Warning: DNS-SD registration of X-Plane refused by the daemon (error -65548)\n");
  driver->release();
}

TEST_F(MDnsPublicationFailureTest, OptionsWithoutAName)
{
  expectServingUnpublished(server<IOSocketTCP>(bridgeOptions(false)),
                           "Warning: unable to publish our service via MDNS\n");
  EXPECT_EQ(m_fake.registrations, 0);
}

TEST_F(MDnsPublicationTest, UnpublishedDriverWithdrawsNothing)
{
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  EXPECT_TRUE(driver->stopServerPublicationWithMDNS());
  IOSocketTCP* plain = server<IOSocketTCP>(nullptr);
  ASSERT_TRUE(plain->createServer());
  plain->release();
  EXPECT_EQ(m_fake.registrations, 0);
  EXPECT_EQ(m_fake.deallocations, 0);
}

// With the real library (the first that loads: Avahi's client) and no reachable DNS-SD
// daemon. Run by its own test entry, whose environment points the system bus at nothing,
// so that no machine's daemon (and no network) is ever involved.
TEST(MDnsWithoutDaemonTest, PublicationFailsAndTheServerStillAccepts)
{
  const char* bus = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (!bus || std::string(bus).find("corvane-no-bus") == std::string::npos)
    GTEST_SKIP() << "needs DBUS_SYSTEM_BUS_ADDRESS pointing at a missing socket";
  BaseAutorelease pool;
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  BaseDictionary* options = new (eRetainAutorelease) BaseDictionary();
  options->setObjectForKey(new (eRetainAutorelease) BaseString("X-Plane"), "MDNS_SERVICE_NAME");
  options->setObjectForKey(new (eRetainAutorelease) BaseString("corvane_gps"), "MDNS_SERVICE_TYPE");
  driver->setServerOptions(options, 0);
  driver->setSocketAddress("127.0.0.1", 0);
  LogCapture log("%S: %m\n", "W|src/net/");
  ASSERT_TRUE(driver->createServer());
  EXPECT_EQ(log.text(),
            "Warning: DNS-SD registration through Avahi failed: Daemon not running\n"
            "Warning: unable to publish our service via MDNS\n");
  EXPECT_FALSE(driver->isPublishedWithMDNS());
  int peer = connectRaw(boundPort(driver->getSocketfd()));
  EXPECT_NE(peer, -1);
  close(peer);
}

}  // namespace
