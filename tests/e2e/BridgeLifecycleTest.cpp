// Stopping and starting the bridge with apps around, as the host's log tells it: each start,
// each app that comes and goes, a stop that lets the app (and a peer that never logged in) go,
// and a start with the port held by another program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
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

// The lines a pilot or support reads in X-Plane's Log.txt, in the host's log file.
std::vector<std::string> bridgeLogLines(const std::string& path)
{
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);)
    if (line.rfind("Corvane: ", 0) == 0) lines.push_back(line);
  return lines;
}

// 1 + the index of the line saying that the bridge is not announced; 0 without one.
size_t announcement(const std::vector<std::string>& lines)
{
  const auto line = std::find_if(lines.begin(), lines.end(), [](const std::string& text) {
    return text.rfind("Corvane: not announced on the local network (", 0) == 0;
  });
  return line == lines.end() ? 0 : size_t(line - lines.begin()) + 1;
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
    HostilePeer silent;
    ASSERT_TRUE(silent.connected());
    // The announcement's outcome comes from its own thread, whenever the daemon answers: a
    // stop before it would take it along, so the host runs frames until it is in (or 20 s).
    for (int i = 0; i < 200 && !announcement(bridgeLogLines(path)); ++i) ASSERT_EQ(sim.run("sleep 0.1"), 0);
    ASSERT_TRUE(sim.stopBridge());
    EXPECT_TRUE(silent.closedByBridge(1000));
    {
      // Another program on the port: the pilot is told, and the menu still works.
      const platform::SocketHandle holder = nettest::listenRaw(BRIDGE_PORT);
      ASSERT_NE(holder, platform::INVALID_SOCKET_HANDLE);
      ASSERT_EQ(sim.run("menu Start Corvane bridge"), 0);
      ASSERT_TRUE(sim.stopBridge());
      platform::closeSocket(holder);
    }
    expectCleanExit(sim.finish());
  }
  std::vector<std::string> lines = bridgeLogLines(path);
  unlink(path.c_str());
  const auto announced = announcement(lines);
  ASSERT_TRUE(announced);
  lines.erase(lines.begin() + (announced - 1));
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
