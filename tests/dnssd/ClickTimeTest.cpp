// Runs beside a private Avahi daemon (through scripts/dnssd-sandbox.sh): how long each click
// holds the simulator's main thread, with the daemon working, absent (no system bus to reach
// it) and hung (stopped with SIGSTOP: it accepts but never answers). corvane-sim times every
// call into the plug-in; twenty Start and Stop clicks each, then XPluginDisable with the
// bridge running and XPluginStop. The figures are printed; the check only catches a click
// that waits for the daemon (its probing, a reply time-out, a D-Bus time-out), which takes
// from most of a second to 25 s. With the daemon hung the app is still served, and once the
// daemon goes on the instance appears.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "dnssd/DnsSdBrowser.h"
#include "tools/SimChild.h"

namespace {

const std::string SANDBOX_BUS = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket";
const std::string NO_BUS = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus";
// Far above what a click costs, far below the shortest wait for the daemon. Sanitizer builds
// are many times slower (a first dlopen alone takes a few hundred ms): there the bound only
// catches the long waits, the reply and D-Bus time-outs.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
const long CLICK_LIMIT_US = 2000000;
#else
const long CLICK_LIMIT_US = 250000;
#endif

// The sandbox's daemon, stopped from stop() until resume(), and at the latest until the
// object goes away.
class HungDaemon
{
public:
  ~HungDaemon() { resume(); }
  bool stop()
  {
    std::ifstream("/run/avahi-daemon/pid") >> m_pid;
    m_stopped = m_pid > 0 && kill(m_pid, SIGSTOP) == 0;
    return m_stopped;
  }
  void resume()
  {
    if (m_stopped) kill(m_pid, SIGCONT);
    m_stopped = false;
  }

private:
  pid_t m_pid = 0;
  bool m_stopped = false;
};

struct ClickTime
{
  long calls = 0, medianUs = -1, maxUs = -1;
};

// The one "sim: took N us: KIND" line of a call made once; -1 without one.
long onceTimeOf(const SimRun& run, const std::string& kind)
{
  const std::string end = " us: " + kind;
  for (const std::string& text : run.outLines())
    if (text.rfind("sim: took ", 0) == 0 && text.size() > end.size() &&
        text.compare(text.size() - end.size(), end.size(), end) == 0)
      return std::stol(text.substr(10));
  return -1;
}

// "sim: time: KIND: N calls, median M us, max X us" for that kind of call.
ClickTime timeOf(const SimRun& run, const std::string& kind)
{
  const std::regex line("sim: time: (.*): (\\d+) calls, median (\\d+) us, max (\\d+) us");
  std::smatch match;
  for (const std::string& text : run.outLines())
    if (std::regex_match(text, match, line) && match[1] == kind)
      return ClickTime{std::stol(match[2]), std::stol(match[3]), std::stol(match[4])};
  return ClickTime();
}

enum eDaemon
{
  eWorking,
  eAbsent,
  eHung
};

class ClickTimeTest : public ::testing::TestWithParam<eDaemon>
{
};

TEST_P(ClickTimeTest, ClicksNeverWaitForTheNetwork)
{
  const eDaemon daemon = GetParam();
  HungDaemon hung;
  if (daemon == eHung) ASSERT_TRUE(hung.stop()) << "no daemon to stop";
  std::vector<std::string> host = {CORVANE_SIM, "--no-stdin", "--strict-threads", "--print-times"};
  for (int i = 0; i < 20; ++i) {
    for (const char* click : {"-c", "menu Start Corvane bridge", "-c", "frames 1", "-c", "menu Stop Corvane bridge"})
      host.push_back(click);
  }
  // The last start stays up: the app is served meanwhile, and the host's quit stops it.
  for (const char* step : {"-c", "menu Start Corvane bridge", "-c", "sleep 10", "-c", "times", "-c", "quit"})
    host.push_back(step);
  host.push_back(CORVANE_PLUGIN_FILE);

  SimRun sim;
  std::thread hostThread([&] { sim = runChild(host, std::nullopt, {daemon == eAbsent ? NO_BUS : SANDBOX_BUS}, 90); });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const SimRun app = runChild({CORVANE_CLIENT, "--host", "127.0.0.1", "--count", "1", "--wait", "5", "--csv"},
                              std::nullopt, {}, 30);
  hung.resume();
  const bool announced = isBrowsable("_corvane_gps._tcp", "X-Plane", 6000);
  hostThread.join();

  EXPECT_EQ(sim.status, 0) << sim.err;
  EXPECT_EQ(app.status, 0) << app.err;
  EXPECT_EQ(announced, daemon != eAbsent);
  // The host's summary comes after "times": quitting disables and stops the plug-in.
  for (const char* kind : {"menu 'Start Corvane bridge'", "menu 'Stop Corvane bridge'"}) {
    const ClickTime time = timeOf(sim, kind);
    std::printf("%s, daemon %s: median %ld us, worst %ld us of %ld\n", kind,
                daemon == eWorking ? "working" : daemon == eAbsent ? "absent" : "hung", time.medianUs, time.maxUs,
                time.calls);
    EXPECT_GE(time.calls, 20) << kind << "\n" << sim.out;
    EXPECT_LT(time.maxUs, CLICK_LIMIT_US) << kind;
  }
  // Quitting with the bridge running: the disable stops it.
  for (const char* kind : {"XPluginDisable", "XPluginStop"}) {
    const long us = onceTimeOf(sim, kind);
    std::printf("%s: %ld us\n", kind, us);
    EXPECT_GE(us, 0) << kind << "\n" << sim.out;
    EXPECT_LT(us, CLICK_LIMIT_US) << kind;
  }
}

INSTANTIATE_TEST_SUITE_P(Daemon, ClickTimeTest, ::testing::Values(eWorking, eAbsent, eHung),
                         [](const ::testing::TestParamInfo<eDaemon>& info) {
                           return std::string(info.param == eWorking  ? "Working"
                                              : info.param == eAbsent ? "Absent"
                                                                      : "Hung");
                         });

}  // namespace
