// Publication of socket servers through the DNS-SD entry table, with the table's
// registration entries replaced by fakes: what is registered, which outcome is posted for an
// answering, refusing, silent or hung daemon, and when the service is withdrawn. The real
// daemon is exercised by the tests that run in their own network namespace.

#include <arpa/inet.h>
#include <unistd.h>

#include <climits>
#include <condition_variable>

#include "net/IOSocketUDP.h"
#include "net/MDnsPublication.h"
#include "net/MDnsWrapper.h"
#include "net/SocketTestSupport.h"
#include "object/BaseNumber.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

// What the fake daemon saw (name, type, flags, interface, default domain and host, port in
// network order, TXT record) and how it answers. The test reads what the worker wrote once
// a notification (or an atomic count) says the worker got that far.
using Registration =
    std::tuple<std::string, std::string, DNSServiceFlags, uint32_t, bool, uint16_t, std::string>;
struct FakeDaemon
{
  std::atomic<int> registrations{0}, deallocations{0};
  DNSServiceErrorType registerResult = kDNSServiceErr_NoError;
  std::atomic<DNSServiceErrorType> replyResult{kDNSServiceErr_NoError};  // the daemon's word in its reply
  bool answers = true, hangs = false, released = false;  // a hung daemon blocks until released (30 s at most)
  Registration seen;
  DNSServiceRegisterReply callback = nullptr;
  void* context = nullptr;
  int pair[2] = {-1, -1};  // [0] is the reference's socket, readable when the daemon answered
  std::mutex lock;
  std::condition_variable letGo;
  void answer() { ::send(pair[1], "r", 1, MSG_NOSIGNAL); }
  void release()
  {
    std::lock_guard<std::mutex> guard(lock);
    released = true, letGo.notify_all();
  }
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
  fake.seen = {
      name, type, flags, interfaceIndex, !domain && !host, port, std::string((const char*)txt, txtLength)};
  fake.callback = callback;
  fake.context = context;
  ++fake.registrations;
  std::unique_lock<std::mutex> guard(fake.lock);
  if (fake.hangs) fake.letGo.wait_for(guard, std::chrono::seconds(30), [&] { return fake.released; });
  if (fake.registerResult != kDNSServiceErr_NoError) return fake.registerResult;
  *reference = FAKE_REFERENCE;
  if (fake.answers) fake.answer();
  return kDNSServiceErr_NoError;
}

DNSServiceErrorType fakeProcessResult(DNSServiceRef reference)
{
  char answer;
  ::recv(daemonState->pair[0], &answer, 1, 0);
  const std::string &name = std::get<0>(daemonState->seen), &type = std::get<1>(daemonState->seen);
  daemonState->callback(reference, 0, daemonState->replyResult, name.c_str(), type.c_str(), "local.",
                        daemonState->context);
  return kDNSServiceErr_NoError;
}

int integerFor(BaseDictionary* info, const char* key)
{
  BaseNumber* number = dynamic_cast<BaseNumber*>(BaseDictionary::objectForKey(info, key));
  return number ? number->getInteger() : INT32_MIN;
}
std::string textFor(BaseDictionary* info, const char* key)
{
  BaseString* text = dynamic_cast<BaseString*>(BaseDictionary::objectForKey(info, key));
  return text ? text->cString() : "(none)";
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
    m_wrapper->m_refSockFD = [](DNSServiceRef) { return daemonState->pair[0]; };
    m_wrapper->m_processResult = fakeProcessResult;
    m_wrapper->m_refDeallocate = [](DNSServiceRef ref) {
      daemonState->deallocations += ref == FAKE_REFERENCE ? 1 : 100;
    };
    IOSocketAbstract::setMDNSReplyTimeout(200);
  }
  void TearDown() override
  {
    m_outcomes->stop(), m_outcomes->release();
    // A worker given up on still holds the table until the fake lets it go. The last
    // reference gone, the fakes go with the instance.
    m_fake.release();
    EXPECT_TRUE(waitUntil([&] { return m_wrapper->getRetainCount() == 1; }));
    IOSocketAbstract::setMDNSReplyTimeout(5000);
    m_wrapper->release();
    close(m_fake.pair[0]), close(m_fake.pair[1]), daemonState = nullptr;
  }

  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  template <class Driver>
  Driver* server(BaseDictionary* options)
  {
    Driver* driver = new Driver();
    driver->setServerOptions(options, 0);
    return driver->setSocketAddress("127.0.0.1", 0), driver;
  }
  // The info of the count-th outcome posted, once it came.
  BaseDictionary* outcome(int count)
  {
    return waitUntil([&] { return m_outcomes->count() >= count; }) ? m_outcomes->info(count - 1) : nullptr;
  }

  BaseAutorelease m_pool;
  FakeDaemon m_fake;
  MDnsWrapper* m_wrapper = nullptr;
  NotificationRecorder* m_outcomes = new NotificationRecorder("MDNS_SERVICE_PUBLICATION_NOTIFICATION");
};

TEST_F(MDnsPublicationTest, TcpServerRegistersNameTypePortAndTxtEntriesAndPostsTheOutcome)
{
  BaseDictionary* options = bridgeOptions();
  static_cast<BaseDictionary*>(options->objectForKey("SOCKET_TXT_RECORD_ENTRIES"))
      ->setObjectForKey(str(std::string(300, 'v').c_str()), "long");
  IOSocketTCP* driver = server<IOSocketTCP>(options);
  LogCapture log("%S: %m\n", "I|src/net/MDns");
  ASSERT_TRUE(driver->createServer());
  uint16_t port = boundPort(driver->getSocketfd());
  EXPECT_TRUE(driver->isPublishedWithMDNS());
  BaseDictionary* info = outcome(1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(m_outcomes->context(0), driver);
  EXPECT_EQ(textFor(info, "name"), "X-Plane");
  EXPECT_EQ(textFor(info, "type"), "_corvane_gps._tcp.");
  EXPECT_EQ(integerFor(info, "port"), port);
  EXPECT_EQ(integerFor(info, "result"), 0);
  EXPECT_EQ(textFor(info, "reason"), "(none)");

  EXPECT_EQ(m_fake.registrations, 1);
  // An overlong value is left out rather than cut.
  EXPECT_EQ(m_fake.seen, Registration("X-Plane", "_corvane_gps._tcp.", 0, 0, true, htons(port), BRIDGE_TXT));
  EXPECT_EQ(log.text(),
            "Warning: TXT record value of long longer than 255 bytes, entry left out\n"
            "Info: MDNS Service X-Plane published with result 0\n");

  // A later verdict is posted too.
  m_fake.replyResult = kDNSServiceErr_Refused;
  m_fake.answer();
  info = outcome(2);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(integerFor(info, "result"), kDNSServiceErr_Refused);
  EXPECT_EQ(textFor(info, "reason"), "the DNS-SD daemon refused the registration (error -65553)");

  // Closing stops serving but keeps the service advertised; destruction withdraws it.
  driver->closeIO();
  EXPECT_EQ(m_fake.deallocations, 0);
  driver->release();
  EXPECT_TRUE(waitUntil([&] { return m_fake.deallocations == 1; }));
  EXPECT_EQ(m_outcomes->count(), 2);
}

// A daemon that does not answer at all (its registration call blocks, as Avahi's does for
// 25 s when the daemon is stopped) holds neither the server's start nor its destruction.
TEST_F(MDnsPublicationTest, HungDaemonDelaysNeitherStartNorDestruction)
{
  using Clock = std::chrono::steady_clock;
  m_fake.hangs = true;
  IOSocketTCP* driver = server<IOSocketTCP>(bridgeOptions());
  Clock::time_point begin = Clock::now();
  ASSERT_TRUE(driver->createServer());
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));
  ASSERT_TRUE(waitUntil([&] { return m_fake.registrations == 1; }));
  EXPECT_EQ(close(connectRaw(boundPort(driver->getSocketfd()))), 0);  // served all the same

  const int abandoned = MDnsPublication::abandonedCount();
  begin = Clock::now();
  driver->release();
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(1));
  EXPECT_EQ(MDnsPublication::abandonedCount(), abandoned + 1);

  // Let go, the worker withdraws what it got and lets go of the table, posting nothing.
  m_fake.release();
  EXPECT_TRUE(waitUntil([&] { return m_fake.deallocations == 1 && m_wrapper->getRetainCount() == 1; }));
  EXPECT_EQ(m_outcomes->count(), 0);
}

// Without options, or without a name, nothing is registered, posted or withdrawn; a UDP
// server is registered under the UDP label, and no TXT entries make an empty record.
TEST_F(MDnsPublicationTest, UnpublishedDriverRegistersNothingAndUdpServerItsOwnLabel)
{
  IOSocketTCP* plain = server<IOSocketTCP>(nullptr);
  IOSocketTCP* nameless = server<IOSocketTCP>(bridgeOptions(false));
  LogCapture log("%S: %m\n", "W|src/net/");
  ASSERT_TRUE(plain->createServer());
  ASSERT_TRUE(nameless->createServer());
  EXPECT_EQ(log.text(), "Warning: unable to publish our service via MDNS\n");
  EXPECT_FALSE(nameless->isPublishedWithMDNS());
  EXPECT_TRUE(nameless->stopServerPublicationWithMDNS());
  plain->release();
  nameless->release();
  EXPECT_EQ(m_fake.registrations, 0);
  EXPECT_EQ(m_fake.deallocations, 0);
  EXPECT_EQ(m_outcomes->count(), 0);

  IOSocketUDP* udp = server<IOSocketUDP>(bridgeOptions(true, false));
  ASSERT_TRUE(udp->createServer());
  ASSERT_NE(outcome(1), nullptr);
  EXPECT_EQ(std::get<1>(m_fake.seen), "_corvane_gps._udp.");
  EXPECT_EQ(std::get<6>(m_fake.seen), "");
  udp->release();
}

// Each way of not being announced is logged and posted with its reason, and the server
// serves all the same; a silent daemon's registration is still withdrawn at the end.
TEST_F(MDnsPublicationTest, FailuresArePostedWithTheirReasonWhileTheServerServes)
{
  const std::tuple<const char*, DNSServiceErrorType, const char*, const char*, int> cases[] = {
      {"taken", kDNSServiceErr_NameConflict, "the name is already taken on the network",
       "Warning: DNS-SD registration of X-Plane refused by the daemon (error -65548)\n", 1},
      {"silent", MDnsWrapper::ERR_TIMEOUT, "the DNS-SD daemon did not answer",
       "Warning: no reply from the DNS-SD service\n", 1},
      {"no daemon", MDnsWrapper::ERR_SERVICE_NOT_RUNNING, "no DNS-SD daemon is running",
       "Warning: unable to publish our service via MDNS\n", 0},
      {"no library", MDnsPublication::ERR_NO_LIBRARY, "no DNS-SD library found",
       "Warning: no DNS-SD library found: the service is not announced; clients must connect by address\n"
       "Warning: unable to publish our service via MDNS\n",
       0}};
  int posted = 0;
  for (auto [name, result, reason, lines, deallocations] : cases) {
    SCOPED_TRACE(name);
    m_fake.deallocations = 0;
    m_fake.replyResult = name[0] == 't' ? result : kDNSServiceErr_NoError;
    m_fake.answers = name[0] != 's';
    m_fake.registerResult = name[3] == 'd' ? result : kDNSServiceErr_NoError;
    if (name[3] == 'l') m_wrapper->CloseMDnsLibrary();
    IOSocketTCP* driver = server<IOSocketTCP>(bridgeOptions());
    LogCapture log("%S: %m\n", "W|src/net/");
    ASSERT_TRUE(driver->createServer());
    BaseDictionary* info = outcome(++posted);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(m_outcomes->context(posted - 1), driver);
    EXPECT_EQ(textFor(info, "name"), "X-Plane");
    EXPECT_EQ(integerFor(info, "result"), result);
    EXPECT_EQ(textFor(info, "reason"), reason);
    EXPECT_EQ(log.text(), lines);
    EXPECT_EQ(close(connectRaw(boundPort(driver->getSocketfd()))), 0);  // served all the same
    driver->release();
    EXPECT_TRUE(waitUntil([&] { return m_fake.deallocations == deallocations; }));
    EXPECT_EQ(m_outcomes->count(), posted);
  }
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
  NotificationRecorder* outcomes = new NotificationRecorder("MDNS_SERVICE_PUBLICATION_NOTIFICATION");
  IOSocketTCP* driver = new IOSocketTCP();
  driver->setServerOptions(bridgeOptions(), 0);
  driver->setSocketAddress("127.0.0.1", 0);
  LogCapture log("%S: %m\n", "W|src/net/");
  ASSERT_TRUE(driver->createServer());
  EXPECT_EQ(close(connectRaw(boundPort(driver->getSocketfd()))), 0);  // served all the same
  ASSERT_TRUE(waitUntil([&] { return outcomes->count() == 1; }));
  EXPECT_EQ(integerFor(outcomes->info(0), "result"), MDnsWrapper::ERR_SERVICE_NOT_RUNNING);
  EXPECT_EQ(textFor(outcomes->info(0), "reason"), "no DNS-SD daemon is running");
  EXPECT_EQ(log.text(),
            "Warning: DNS-SD registration through Avahi failed: Daemon not running\n"
            "Warning: unable to publish our service via MDNS\n");
  driver->release();
  outcomes->stop();
  outcomes->release();
}

}  // namespace
