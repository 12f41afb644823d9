// Hostile peers of every kind around a bridge, one at a time: before logging in and then holding
// the app's slot. Every peer must be let go, the app must get its slot back, no claim may make
// the host gather more than a request's worth, and the host must end where it began. A silent
// peer may not hold up the next login (each login has a thread of its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "e2e/HostilePeer.h"
#include "object/BaseAutorelease.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

long millisecondsSince(Clock::time_point start)
{
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A string header claiming 2^31-1 bytes (a buffer's when `buffer`), followed by three of them.
std::string hugeClaim(bool buffer = false)
{
  return std::string(buffer ? "\x01" : "\x0A") + std::string("\x00\x5F\xFF\xFF\xFF\x0F", 6) + "abc";
}
// {"Result": 2}: the reply to a wrong password.
const std::string WRONG_PASSWORD_REPLY("\x15\x00\x01\x0A\x00\x06Result\x0C\x00\x02", 15);

std::string deepNesting()
{
  std::string bytes;
  for (int level = 0; level < 5000; level++) bytes.append("\x14\x00\x01", 3);
  return bytes;
}

std::string garbage(size_t length, std::mt19937& random)
{
  std::string bytes(length, '\0');
  for (char& byte : bytes) byte = char(random());
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

// Where a file object tries to leave a file: the host's temporary directory, and one out of it.
const std::string TEMPORARY = getenv("TMPDIR") && *getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp";
const std::string PLAIN_FILE_NAME = "corvane-hostile-" + std::to_string(getpid()) + ".txt";
const std::string ESCAPING_FILE_NAME = "../" + PLAIN_FILE_NAME;

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
std::unique_ptr<HostilePeer> peerInService(int receiveBuffer)
{
  const auto start = Clock::now();
  while (millisecondsSince(start) < 10000) {
    std::unique_ptr<HostilePeer> peer(new HostilePeer(receiveBuffer));
    if (peer->connected() && peer->takeSlot()) return peer;
  }
  return nullptr;
}

// Streams a 2 GiB claim as fast as it can: true when the bridge cut it off well within 5 s.
bool cutOffEarly(HostilePeer& peer)
{
  const auto start = Clock::now();
  const std::string block(65536, 'x');
  bool sending = peer.send(hugeClaim().substr(0, 7));
  while (sending && millisecondsSince(start) < 9000) sending = peer.send(block, 1000);
  return millisecondsSince(start) < 5000;
}

enum Kind
{
  eGarbage,
  eWrongPassword,
  eHugeLength,
  eDeepNesting,
  eFileObject,
  eHalfObject,
  eFlood,
  eSlowReader,
  eHangUp
};
// The bytes of one peer of `kind` that has not logged in, or whose login the bridge turns away
// because the app holds the slot.
std::string unwelcomeBytes(Kind kind, unsigned int round, std::mt19937& random)
{
  if (kind == eGarbage) return garbage(1 + random() % 4096, random);
  if (kind == eWrongPassword) return wrongPasswordLoginBytes();
  if (kind == eHugeLength) return hugeClaim(round % 2);
  if (kind == eDeepNesting) return deepNesting();
  if (kind == eFileObject) return fileObject(round % 2 ? ESCAPING_FILE_NAME : PLAIN_FILE_NAME);
  if (kind == eHalfObject) return loginBytes() + positionRequestBytes().substr(0, 7);
  std::string flood;
  for (int i = 0; i < 200; i++) flood += positionRequestBytes();
  return flood;
}

// Its connection must be closed by the bridge, with nothing sent but a refusal (garbage may
// read as a dictionary, which is answered).
void unwelcomePeer(Kind kind, unsigned int round, std::mt19937& random)
{
  HostilePeer peer;
  if (!peer.send(unwelcomeBytes(kind, round, random))) return ADD_FAILURE() << "send failed";
  if (kind == eHalfObject || kind == eFlood) return peer.vanish();
  // Deep nesting is refused as soon as it is too deep; the others need the end of the stream.
  if (kind != eDeepNesting) peer.finishSending();
  std::string received;
  if (!peer.closedByBridge(15000, &received)) return ADD_FAILURE() << "still open";
  if (kind != eGarbage && received != (kind == eWrongPassword ? WRONG_PASSWORD_REPLY : ""))
    ADD_FAILURE() << "got " << received.size() << " bytes";
}

// One peer of `kind` that has the slot, to be let go by the bridge.
void peerInTheSlot(Kind kind)
{
  std::unique_ptr<HostilePeer> peer = peerInService(kind == eFlood ? 4096 : 0);
  if (!peer) return ADD_FAILURE() << "not served";
  const std::string request = positionRequestBytes();
  std::mt19937 random(7);
  if (kind == eGarbage) peer->send(garbage(65536, random));  // may be cut off before its end
  if (kind == eDeepNesting) peer->send(deepNesting());
  if (kind == eFileObject) peer->send(fileObject(ESCAPING_FILE_NAME));
  if (kind == eGarbage || kind == eFileObject) peer->finishSending();
  if (kind == eHugeLength && !cutOffEarly(*peer)) ADD_FAILURE() << "not cut off";
  if (kind == eHalfObject) peer->send(request.substr(0, 7));
  // Requests until neither side's buffers take any more: the bridge is then stuck sending to a
  // peer that does not read.
  for (const auto start = Clock::now(); kind == eFlood && millisecondsSince(start) < 5000;)
    if (peer->sendWhatFits(request) == 0 && !peer->send(request, 500)) break;
  for (int i = 0; kind >= eSlowReader && i < (kind == eSlowReader ? 200 : 50); i++) peer->send(request);
  // A slow reader takes a little at a time for a second; the other hangs up in the first record.
  for (int i = 0; kind == eSlowReader && i < 50; i++) peer->receive(64, 20);
  if (kind == eHangUp) peer->receive(100);
  if (kind >= eHalfObject) return peer->vanish();
  if (!peer->closedByBridge(10000)) ADD_FAILURE() << "still open";
}

TEST(BridgeHostilePeersTest, EachKindIsLetGoAndTheHostEndsWhereItBegan)
{
  BaseAutorelease pool;
  SimProcess sim;
  ASSERT_TRUE(sim.startBridge());
  const HostLoad idle = settledLoadOf(sim);

  // A peer that sends nothing is kept until its login time is up, but whoever comes next
  // is answered meanwhile.
  {
    const auto start = Clock::now();
    HostilePeer silent, next;
    ASSERT_TRUE(next.send(wrongPasswordLoginBytes()));
    EXPECT_EQ(next.receive(WRONG_PASSWORD_REPLY.size(), 20000), WRONG_PASSWORD_REPLY);
    EXPECT_LT(millisecondsSince(start), 2000) << "well under the 10 s login time-out";
    EXPECT_TRUE(silent.closedByBridge(20000));
  }
  // A stranger streaming a 2 GiB login string is cut off long before its login time is up.
  {
    HostilePeer streaming;
    EXPECT_TRUE(cutOffEarly(streaming)) << "the bridge took far more than a login";
    EXPECT_TRUE(streaming.closedByBridge(1000));
  }
  std::mt19937 random(1);
  for (unsigned int round = 0; round < 2; round++)
    for (int kind = eGarbage; kind <= eFlood; kind++) {
      SCOPED_TRACE(kind);
      unwelcomePeer(Kind(kind), round, random);
    }
  // One at a time in the app's slot; each time the app must get it back.
  for (Kind kind :
       {eGarbage, eHalfObject, eHugeLength, eDeepNesting, eFileObject, eFlood, eSlowReader, eHangUp}) {
    SCOPED_TRACE(kind);
    peerInTheSlot(kind);
    BaseAutorelease round;
    std::unique_ptr<BridgeApp> served = servedApp(10000);
    ASSERT_NE(served, nullptr) << "the app did not get its slot back";
    EXPECT_TRUE(served->leave());
  }

  EXPECT_TRUE(backTo(sim, idle));
  const bool escapingFileLanded = access((TEMPORARY + "/" + ESCAPING_FILE_NAME).c_str(), F_OK) == 0;
  unlink((TEMPORARY + "/" + PLAIN_FILE_NAME).c_str());
  unlink((TEMPORARY + "/" + ESCAPING_FILE_NAME).c_str());
  EXPECT_FALSE(escapingFileLanded);
  ASSERT_TRUE(sim.stopBridge());
  const ChildExit end = sim.finish();
  expectCleanExit(end);
  EXPECT_EQ(end.err, STARTING + STOPPING + DESTROYED + QUIT_WHILE_STOPPED);
}

}  // namespace
}  // namespace e2e
