// Stopping and starting the bridge with apps around: a stop lets a connected app go first (and
// says so), closes its connection, and a bridge started again serves the next app; a peer that
// connects and never logs in does not hold a stop up; the host's log tells each of these. Every
// case runs a host of its own, whose whole standard error it checks. (A silent peer holding up
// the next app, and a stop after the app left: BridgeHostilePeersTest.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "e2e/HostilePeer.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(BridgeStopTest, StopDisconnectsTheAppFirstAndABridgeStartedAgainServesTheNext)
{
  BaseAutorelease pool;
  SimProcess sim;
  ASSERT_TRUE(sim.startBridge());
  {
    BridgeApp app;
    ASSERT_TRUE(app.logIn());
    ASSERT_TRUE(app.isServed());
    ASSERT_TRUE(sim.stopBridge());
    EXPECT_EQ(sim.err(), STARTING + STOPPING + DISCONNECTING + DESTROYED);
    EXPECT_TRUE(app.closedByBridge());
    EXPECT_FALSE(sim.isListening(BRIDGE_PORT));
  }
  // The port is bound again at once, although the connection just closed lingers.
  ASSERT_TRUE(sim.startBridge());
  const HostLoad idle = settledLoadOf(sim);
  BridgeApp next;
  ASSERT_TRUE(next.logIn());
  EXPECT_TRUE(next.isServed());
  EXPECT_TRUE(next.leave());
  ASSERT_TRUE(backTo(sim, idle));
  const ChildExit end = sim.finish();
  expectCleanExit(end);
  // The host's quit stops the second bridge (XPluginDisable); XPluginStop finds none.
  EXPECT_EQ(end.err, STARTING + STOPPING + DISCONNECTING + DESTROYED + STARTING + STOPPING + DESTROYED +
                         "\nWARNING : bridge is already stopped\n");
}

TEST(BridgeSilentPeerTest, DoesNotDelayAStop)
{
  SimProcess sim;
  ASSERT_TRUE(sim.startBridge());
  // Once the host has taken the silent peer's connection, the bridge waits for its login.
  // Settled: the bridge's DNS-SD worker may still be opening and closing descriptors.
  const int before = settledLoadOf(sim).descriptors;
  HostilePeer peer;
  ASSERT_TRUE(peer.connected());
  ASSERT_TRUE(nettest::waitUntil([&] { return sim.openDescriptors() == before + 1; }));
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(sim.stopBridge());
  // Far below the 10 s the bridge waits for a login.
  EXPECT_LT(secondsSince(start), 3.0);
  EXPECT_TRUE(peer.closedByBridge(1000));
  const ChildExit end = sim.finish();
  expectCleanExit(end);
  // A peer that never logged in is no user to disconnect.
  EXPECT_EQ(end.err, STARTING + STOPPING + DESTROYED + QUIT_WHILE_STOPPED);
}

// The lines a pilot or support reads in X-Plane's Log.txt, in the host's log file.
std::vector<std::string> bridgeLogLines(const std::string& path)
{
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);)
    if (line.rfind("Corvane: ", 0) == 0) lines.push_back(line);
  return lines;
}

TEST(BridgeLogTest, TellsEachStartAppAndStopInTheHostsLog)
{
  BaseAutorelease pool;
  const std::string path = "/tmp/corvane-e2e-log-" + std::to_string(getpid()) + ".txt";
  {
    SimProcess sim({"--log", path});
    ASSERT_TRUE(sim.startBridge());
    {
      BridgeApp app;
      ASSERT_TRUE(app.logIn());
      ASSERT_TRUE(app.isServed());
      ASSERT_TRUE(app.leave());
    }
    BridgeApp next;
    ASSERT_TRUE(next.logIn());
    ASSERT_TRUE(next.isServed());
    ASSERT_TRUE(sim.stopBridge());
    {
      // Another program on the port: the pilot is told, and the menu still works.
      const int holder = nettest::listenRaw(BRIDGE_PORT);
      ASSERT_GE(holder, 0);
      ASSERT_EQ(sim.run("menu Start Corvane bridge"), 0);
      ASSERT_TRUE(sim.stopBridge());
      close(holder);
    }
    expectCleanExit(sim.finish());
  }
  std::vector<std::string> lines = bridgeLogLines(path);
  unlink(path.c_str());
  // The announcement's outcome comes from its own thread, whenever the daemon answers.
  const auto announced = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("Corvane: not announced on the local network (", 0) == 0;
  });
  ASSERT_NE(announced, lines.end());
  lines.erase(announced);
  const std::vector<std::string> expected = {
      "Corvane: bridge started, listening on port 21777",
      "Corvane: app connected from 127.0.0.1",
      "Corvane: app at 127.0.0.1 disconnected (it closed the connection)",
      "Corvane: app connected from 127.0.0.1",
      "Corvane: app at 127.0.0.1 disconnected (the bridge stopped)",
      "Corvane: bridge stopped",
      "Corvane: port 21777 is in use by another program, so no app can connect: stop the bridge, close that "
      "program and start the bridge again",
      "Corvane: bridge stopped"};
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace e2e
