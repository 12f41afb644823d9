// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): no menu click in the
// stand-in host waits for the DNS-SD daemon, whether it works, is absent (no system bus to
// reach it) or hung (stopped with SIGSTOP: it accepts but never answers). corvane-sim times
// every call into the plug-in; twenty Start and Stop clicks, then quitting with the bridge
// running. A wait for the daemon takes from most of a second to 25 s. With the daemon hung
// the app is still served, and once the daemon goes on the instance appears.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "dnssd/DnsSdBrowser.h"
#include "tools/SimChild.h"

namespace {

// Far below the shortest wait for the daemon; sanitizer builds only catch the long waits.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
const long CLICK_LIMIT_US = 2000000;
#else
const long CLICK_LIMIT_US = 250000;
#endif

class ClickTimeTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(ClickTimeTest, ClicksNeverWaitForTheDaemon)
{
  const std::string daemon = GetParam();
  pid_t avahi = 0;
  if (daemon == "Hung") std::ifstream("/run/avahi-daemon/pid") >> avahi;
  ASSERT_TRUE(daemon != "Hung" || (avahi > 0 && kill(avahi, SIGSTOP) == 0)) << "no daemon to stop";
  std::vector<std::string> host = {CORVANE_SIM, "--no-stdin", "--strict-threads", "--print-times"};
  for (int i = 0; i < 20; ++i)
    host.insert(host.end(),
                {"-c", "menu Start Corvane bridge", "-c", "frames 1", "-c", "menu Stop Corvane bridge"});
  // The last start stays up: the app is served meanwhile, and quitting stops it.
  host.insert(host.end(), {"-c", "menu Start Corvane bridge", "-c", "sleep 15", "-c", "times", "-c", "quit",
                           CORVANE_PLUGIN_FILE});
  const std::string bus = daemon == "Absent" ? "/nonexistent/corvane-no-bus" : "/run/dbus/system_bus_socket";
  SimRun sim;
  std::thread hostThread(
      [&] { sim = runChild(host, std::nullopt, {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + bus}, 90); });
  // The app comes while the last start stays up; on a slow machine the clicks before it may
  // still be running at its first try.
  SimRun app;
  for (int attempt = 0; attempt < 4 && (attempt == 0 || app.status != 0); ++attempt) {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    app = runChild({CORVANE_CLIENT, "--host", "127.0.0.1", "--count", "1", "--wait", "5", "--csv"}, std::nullopt,
                   {}, 30);
  }
  if (avahi > 0) kill(avahi, SIGCONT);
  EXPECT_EQ(isBrowsable("_corvane_gps._tcp", "X-Plane", 6000), daemon != "Absent");
  hostThread.join();
  EXPECT_EQ(sim.status, 0) << sim.err;
  EXPECT_EQ(app.status, 0) << app.err;
  // "sim: time: KIND: N calls, median M us, max X us", and "sim: took N us: KIND" for a call made once.
  const std::regex timed(
      "sim: time: menu '(Start|Stop) Corvane bridge': (\\d+) calls, median \\d+ us, max (\\d+) us|"
      "sim: took (\\d+) us: (XPluginDisable|XPluginStop)");
  int kinds = 0;
  std::smatch match;
  for (const std::string& line : sim.outLines()) {
    if (!std::regex_match(line, match, timed)) continue;
    std::printf("daemon %s: %s\n", daemon.c_str(), line.c_str());
    EXPECT_GE(match[2].matched ? std::stol(match[2].str()) : 20, 20) << line;
    EXPECT_LT(std::stol((match[3].matched ? match[3] : match[4]).str()), CLICK_LIMIT_US) << line;
    ++kinds;
  }
  EXPECT_EQ(kinds, 4) << sim.out;
}

INSTANTIATE_TEST_SUITE_P(Daemon, ClickTimeTest, ::testing::Values("Working", "Absent", "Hung"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return info.param; });

}  // namespace
