// Hostile peers against a running bridge, while the Corvane app is being served. The app
// logs in first and polls the whole time; peers that stay silent, send garbage, fail the
// login, claim 2 GiB payloads, nest thousands of arrays deep or send file objects come and
// go around it, first all at once and then, one at a time, each holding the app's slot:
// they send garbage, half an object, a 2 GiB claim (and its bytes), deep nesting or a file
// after logging in, or ask for positions faster than they read, read slowly, or hang up in
// the middle of a reply. Every record the app gets must be right, every peer must be let
// go, the app must get its slot back each time, no claim may make the host gather more
// than a request's worth, and the host must end where it began: its descriptors and
// threads exactly, its memory roughly, and the bridge must stop cleanly. Each login has a
// thread of its own, so a silent peer may not hold up the next login for anything like the
// login time-out (10 s).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "e2e/HostilePeer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

long millisecondsSince(Clock::time_point start)
{
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// ---------------------------------------------------------------------------------------
// Hostile bytes, written out literally.

// A string or buffer header claiming 2^31-1 bytes, followed by three of them.
const std::string HUGE_STRING(
    "\x0A\x00\x5F\xFF\xFF\xFF\x0F"
    "abc",
    10);
const std::string HUGE_BUFFER(
    "\x01\x00\x5F\xFF\xFF\xFF\x0F"
    "abc",
    10);
// {"Result": 2}: the reply to a wrong password.
const std::string WRONG_PASSWORD_REPLY("\x15\x00\x01\x0A\x00\x06Result\x0C\x00\x02", 15);

// Five thousand arrays, each holding the next.
std::string deepNesting()
{
  std::string bytes;
  for (int level = 0; level < 5000; level++) bytes.append("\x14\x00\x01", 3);
  return bytes;
}

// A file object (kind 2) of 16 bytes called `name`.
std::string fileObject(const std::string& name)
{
  auto text = [](const std::string& value) {
    return std::string("\x0A\x00", 2) + char(value.size()) + value;
  };
  return std::string("\x02\x00\x15\x00\x03", 5) + text("fa_name") + text(name) + text("fa_type") +
         text("ft_reg") + text("fa_size") + std::string("\x0C\x00\x10", 3) + "sixteen bytes..!";
}

std::string temporaryDirectory()
{
  const char* value = getenv("TMPDIR");
  return value && *value ? value : "/tmp";
}

// The names a file object tries to leave behind in the host's temporary directory: one
// plain, one climbing out of it.
const std::string PLAIN_FILE_NAME = "corvane-hostile-" + std::to_string(getpid()) + ".txt";
const std::string ESCAPING_FILE_NAME = "../corvane-hostile-" + std::to_string(getpid()) + ".txt";

// ---------------------------------------------------------------------------------------
// The app.

// The record's keys in their order on the wire.
const char* const RECORD_KEYS[10] = {"pitch",         "course",    "altitude", "roll",     "yaw",
                                     "accelerationZ", "longitude", "speed",    "latitude", "slip"};

// A record of the host's flight: ten doubles under the record's keys, in its order, placing
// the aircraft on its circle of 3 km round the airport at Zurich, climbing at most 3000 m.
::testing::AssertionResult isFlightRecord(BaseObject* object)
{
  ::testing::AssertionResult form = isPositionRecord(object);
  if (!form) return form;
  BaseDictionary* record = static_cast<BaseDictionary*>(object);
  for (unsigned int i = 0; i < 10; i++) {
    if (strcmp(record->keyAtIndex(i)->cString(), RECORD_KEYS[i]) != 0)
      return ::testing::AssertionFailure()
             << "key " << i << " is '" << record->keyAtIndex(i)->cString() << "'";
  }
  auto value = [record](const char* key) {
    return static_cast<BaseNumber*>(record->objectForKey(key))->getDouble();
  };
  const double latitude = value("latitude"), longitude = value("longitude"), altitude = value("altitude");
  if (!(std::fabs(latitude - 47.4647) < 0.1 && std::fabs(longitude - 8.5492) < 0.1 && altitude > 400 &&
        altitude < 3500))
    return ::testing::AssertionFailure()
           << "aircraft at " << latitude << ", " << longitude << ", " << altitude << " m";
  return ::testing::AssertionSuccess();
}

// One position request and its answer: false, with the first fault noted, unless it is a record.
bool askPosition(BridgeApp& app, std::string& fault)
{
  BaseAutorelease pool;
  app.send(commandRequest(text("1")));
  ::testing::AssertionResult good = isFlightRecord(app.receive());
  if (!good && fault.empty()) fault = good.message();
  return good;
}

// An app that logs in and is served within `limitMs`: a newcomer is turned away while the
// bridge still serves the one before, so it tries again. Null when none was served.
std::unique_ptr<BridgeApp> servedApp(int limitMs)
{
  const auto start = Clock::now();
  while (millisecondsSince(start) < limitMs) {
    BaseAutorelease pool;
    std::unique_ptr<BridgeApp> app(new BridgeApp());
    if (app->logIn() && app->isServed()) return app;
  }
  return nullptr;
}

// A peer that holds the app's slot: one that the bridge turned away tries again.
std::unique_ptr<HostilePeer> peerInService(int receiveBuffer = 0)
{
  const auto start = Clock::now();
  while (millisecondsSince(start) < 10000) {
    std::unique_ptr<HostilePeer> peer(new HostilePeer(receiveBuffer));
    if (peer->connected() && peer->takeSlot()) return peer;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// The peers.

enum Kind
{
  eSilent,
  eGarbage,
  eWrongPassword,
  eHugeLength,
  eDeepNesting,
  eFileObject,
  eHalfObject,
  eFlood,
  eSlowReader,
  eHangUpMidReply,
  KINDS
};
const char* const KIND_NAMES[KINDS] = {"silent",       "garbage",          "wrong password", "huge length",
                                       "deep nesting", "file object",      "half object",    "flood",
                                       "slow reader",  "mid-reply hang-up"};

struct PeerFaults
{
  std::mutex lock;  // guards faults
  std::vector<std::string> faults;

  void fault(const std::string& what)
  {
    std::lock_guard<std::mutex> guard(lock);
    if (faults.size() < 10) faults.push_back(what);
  }
};

// One peer of `kind` that has not logged in, or whose login the bridge turns away because
// the app holds the slot. Its connection must be closed by the bridge, with nothing sent
// but a refusal.
void unwelcomePeer(Kind kind, unsigned int round, std::mt19937& random, PeerFaults& figures)
{
  HostilePeer peer;
  if (!peer.connected()) return figures.fault(std::string(KIND_NAMES[kind]) + ": no connection");
  std::string sent, expected;
  bool hangUp = false;
  switch (kind) {
    case eGarbage: {
      sent.resize(1 + random() % 4096);
      for (char& byte : sent) byte = char(random());
      expected = "?";  // garbage may read as a dictionary, which is answered
      break;
    }
    case eWrongPassword:
      sent = wrongPasswordLoginBytes();
      expected = WRONG_PASSWORD_REPLY;
      break;
    case eHugeLength:
      sent = round % 2 ? HUGE_STRING : HUGE_BUFFER;
      break;
    case eDeepNesting:
      sent = deepNesting();
      break;
    case eFileObject:
      sent = fileObject(round % 2 ? ESCAPING_FILE_NAME : PLAIN_FILE_NAME);
      break;
    case eHalfObject:
      sent = loginBytes() + positionRequestBytes().substr(0, 7);
      hangUp = true;
      break;
    case eFlood:
      for (int i = 0; i < 200; i++) sent += positionRequestBytes();
      hangUp = true;
      break;
    default:
      return;
  }
  if (!peer.send(sent)) return figures.fault(std::string(KIND_NAMES[kind]) + ": send failed");
  if (hangUp) return peer.vanish();
  // Deep nesting is refused as soon as it is too deep; the others need the end of the stream.
  if (kind != eDeepNesting) peer.finishSending();
  std::string received;
  if (!peer.closedByBridge(15000, &received))
    return figures.fault(std::string(KIND_NAMES[kind]) + ": still open");
  if (expected != "?" && received != expected)
    figures.fault(std::string(KIND_NAMES[kind]) + ": got " + std::to_string(received.size()) + " bytes");
}

// One peer of `kind` that has the slot: true when the bridge let it go and served the app
// again afterwards.
void peerInTheSlot(Kind kind, PeerFaults& figures)
{
  std::unique_ptr<HostilePeer> peer = peerInService(kind == eFlood ? 4096 : 0);
  if (!peer) return figures.fault(std::string(KIND_NAMES[kind]) + " in the slot: not served");
  const std::string request = positionRequestBytes();
  switch (kind) {
    case eGarbage: {
      std::mt19937 random(7);
      std::string garbage(65536, '\0');
      for (char& byte : garbage) byte = char(random());
      // The bridge may give up reading before it has taken everything.
      peer->send(garbage);
      peer->finishSending();
      break;
    }
    case eHalfObject:
      peer->send(request.substr(0, 7));
      return peer->vanish();
    case eHugeLength: {
      // A logged-in peer may not make the host gather 2 GiB either: it is cut off.
      const auto start = Clock::now();
      const std::string block(65536, 'x');
      bool sending = peer->send(HUGE_STRING.substr(0, 7));
      while (sending && millisecondsSince(start) < 9000) sending = peer->send(block, 1000);
      if (millisecondsSince(start) > 5000) figures.fault("huge length in the slot: not cut off");
      break;
    }
    case eDeepNesting:
      peer->send(deepNesting());
      break;
    case eFileObject:
      peer->send(fileObject(ESCAPING_FILE_NAME));
      peer->finishSending();
      break;
    case eFlood: {
      // Requests until neither side's buffers take any more: the bridge is then stuck
      // sending to a peer that does not read.
      const auto start = Clock::now();
      while (millisecondsSince(start) < 5000)
        if (peer->sendWhatFits(request) == 0 && !peer->send(request, 500)) break;
      return peer->vanish();
    }
    case eSlowReader: {
      for (int i = 0; i < 200; i++) peer->send(request);
      // A reader on a bad link: a little at a time, for a second.
      for (int i = 0; i < 50; i++) peer->receive(64, 20);
      return peer->vanish();
    }
    case eHangUpMidReply:
      for (int i = 0; i < 50; i++) peer->send(request);
      peer->receive(100);  // into the first record
      return peer->vanish();
    default:
      return;
  }
  if (!peer->closedByBridge(10000)) figures.fault(std::string(KIND_NAMES[kind]) + " in the slot: still open");
}

TEST(BridgeHostilePeersTest, AppIsServedThroughoutAndTheHostEndsWhereItBegan)
{
  BaseAutorelease pool;
  SimProcess sim;
  ASSERT_TRUE(sim.startBridge());
  const HostLoad idle = settledLoadOf(sim);
  ASSERT_GT(idle.descriptors, 0);
  ASSERT_GT(idle.residentKiB, 0);
  PeerFaults peers;

  // The app, polling as fast as it is answered until told to leave.
  std::string appFault;
  std::atomic<bool> leave{false};
  std::promise<bool> started;
  std::future<bool> appStarted = started.get_future();
  bool appLeft = false;
  std::thread polling([&] {
    BaseAutorelease threadPool;
    std::unique_ptr<BridgeApp> served = servedApp(5000);
    started.set_value(served != nullptr);
    if (!served) return;
    while (!leave.load() && askPosition(*served, appFault)) {
    }
    appLeft = served->leave();
  });
  // Told to leave and joined however the test ends.
  struct Joiner
  {
    std::atomic<bool>& leave;
    std::thread& thread;
    ~Joiner()
    {
      leave.store(true);
      if (thread.joinable()) thread.join();
    }
  } joiner{leave, polling};
  ASSERT_EQ(appStarted.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  ASSERT_TRUE(appStarted.get()) << "the app was never served";

  // A peer that sends nothing is kept until its login time is up, but whoever comes next
  // is answered meanwhile.
  {
    const auto start = Clock::now();
    HostilePeer silent;
    ASSERT_TRUE(silent.connected());
    HostilePeer next;
    ASSERT_TRUE(next.connected());
    ASSERT_TRUE(next.send(wrongPasswordLoginBytes()));
    EXPECT_EQ(next.receive(WRONG_PASSWORD_REPLY.size(), 20000), WRONG_PASSWORD_REPLY);
    EXPECT_LT(millisecondsSince(start), 2000) << "well under the 10 s login time-out";
    EXPECT_TRUE(silent.closedByBridge(20000));
  }

  // A stranger that claims a 2 GiB login string and sends it as fast as it can is cut off
  // long before its login time is up: the host gathers no more than a login's worth.
  {
    HostilePeer streaming;
    ASSERT_TRUE(streaming.connected());
    const auto start = Clock::now();
    const std::string block(65536, 'x');
    bool sending = streaming.send(HUGE_STRING.substr(0, 7));
    while (sending && millisecondsSince(start) < 9000) sending = streaming.send(block, 1000);
    EXPECT_LT(millisecondsSince(start), 5000) << "the bridge took far more than a login";
    EXPECT_TRUE(streaming.closedByBridge(1000));
  }

  // All at once, for ten seconds.
  {
    const auto end = Clock::now() + std::chrono::seconds(10);
    std::vector<std::thread> workers;
    for (unsigned int worker = 0; worker < 3; worker++) {
      workers.emplace_back([&, worker] {
        std::mt19937 random(worker);
        const Kind kinds[] = {eGarbage,    eWrongPassword, eHugeLength, eDeepNesting,
                              eFileObject, eHalfObject,    eFlood};
        for (unsigned int round = worker; Clock::now() < end; round++)
          unwelcomePeer(kinds[round % 7], round / 7, random, peers);
      });
    }
    for (std::thread& worker : workers) worker.join();
  }
  leave.store(true);
  polling.join();
  EXPECT_TRUE(appLeft);
  EXPECT_EQ(appFault, "");

  // One at a time in the app's slot; each time the app must get it back.
  for (Kind kind : {eGarbage, eHalfObject, eHugeLength, eDeepNesting, eFileObject, eFlood, eSlowReader,
                    eHangUpMidReply}) {
    SCOPED_TRACE(KIND_NAMES[kind]);
    peerInTheSlot(kind, peers);
    BaseAutorelease round;
    std::unique_ptr<BridgeApp> served = servedApp(10000);
    ASSERT_NE(served, nullptr) << "the app did not get its slot back";
    for (int i = 0; i < 20 && askPosition(*served, appFault); i++) {
    }
    EXPECT_EQ(appFault, "");
    EXPECT_TRUE(served->leave());
  }

  const bool settled = backTo(sim, idle);
  const HostLoad after = loadOf(sim);
  const bool escapingFileLanded =
      access((temporaryDirectory() + "/" + ESCAPING_FILE_NAME).c_str(), F_OK) == 0;
  unlink((temporaryDirectory() + "/" + PLAIN_FILE_NAME).c_str());
  unlink((temporaryDirectory() + "/" + ESCAPING_FILE_NAME).c_str());
  for (const std::string& fault : peers.faults) ADD_FAILURE() << fault;
  EXPECT_FALSE(escapingFileLanded);
  EXPECT_TRUE(settled);
  EXPECT_EQ(after.descriptors, idle.descriptors);
  EXPECT_EQ(after.threads, idle.threads);
  // Freed memory is not always given back to the system. Under a sanitizer it is held back
  // on purpose (AddressSanitizer keeps up to 256 MiB in quarantine), and leaks are its own
  // report's to find when the host exits.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(after.residentKiB, idle.residentKiB + 8 * 1024);
  EXPECT_LT(sim.peakResidentKiB(), idle.residentKiB + 64 * 1024);
#endif

  ASSERT_TRUE(sim.stopBridge());
  const ChildExit end = sim.finish();
  expectCleanExit(end);
  EXPECT_EQ(end.err, STARTING + STOPPING + DESTROYED + QUIT_WHILE_STOPPED);
}

}  // namespace
}  // namespace e2e
