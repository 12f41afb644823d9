#include "e2e/BridgeFixture.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "net/SocketTestSupport.h"
#include "support/Settled.h"

namespace e2e {
namespace {

const std::string VIOLATIONS_LINE = "sim: threading violations: ";

std::vector<std::string> hostArguments(const std::vector<std::string>& options)
{
  std::vector<std::string> argv = {CORVANE_SIM, "--strict-threads", "--keep-loaded"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(CORVANE_PLUGIN_FILE);
  return argv;
}

size_t count(const std::string& text, const std::string& wanted)
{
  const std::vector<std::string> lines = linesOf(text);
  return size_t(std::count(lines.begin(), lines.end(), wanted));
}

// The counts of the "violations" answers and of the summary, in order.
std::vector<long> violationCounts(const std::string& out)
{
  std::vector<long> counts;
  for (const std::string& line : linesOf(out))
    if (line.compare(0, VIOLATIONS_LINE.size(), VIOLATIONS_LINE) == 0)
      counts.push_back(std::strtol(line.c_str() + VIOLATIONS_LINE.size(), nullptr, 10));
  return counts;
}

int descriptorsOf(const SimProcess& sim)
{
  return nettest::entriesOf(("/proc/" + std::to_string(sim.pid()) + "/fd").c_str(), 0);
}

int threadsOf(const SimProcess& sim)
{
  return nettest::entriesOf(("/proc/" + std::to_string(sim.pid()) + "/task").c_str(), 0);
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& options) : ChildProcess(hostArguments(options)) {}

long SimProcess::run(const std::string& command, int limitMs)
{
  if (!running() || !send(command + "\nviolations\n")) return -1;
  const size_t wanted = ++m_barriers;
  std::vector<long> counts;
  return waitForOut([&](const std::string& out) { return (counts = violationCounts(out)).size() >= wanted; },
                    limitMs)
             ? counts[wanted - 1]
             : -1;
}

bool SimProcess::startBridge()
{
  if (run("menu Start Corvane bridge") != 0) return false;
  const platform::SocketHandle socket = nettest::listenRaw(21777);
  platform::closeSocket(socket);
  return socket == platform::INVALID_SOCKET_HANDLE;
}

size_t SimProcess::countOutLines(const std::string& line) const
{
  return count(out(), line);
}

bool SimProcess::waitForOutLines(const std::string& line, size_t times, int limitMs) const
{
  return waitForOut([&](const std::string& out) { return count(out, line) >= times; }, limitMs);
}

ChildExit SimProcess::finish(int limitMs)
{
  send("quit\n");
  return ChildProcess::finish(limitMs);
}

void expectCleanExit(const ChildExit& end)
{
  EXPECT_EQ(end.status, 0) << end.out << end.err;
  // The summary's count, not one of the answers to "violations" before it.
  const std::vector<long> counts = violationCounts(end.out);
  EXPECT_TRUE(!counts.empty() && counts.back() == 0) << end.out;
}

HostLoad settledLoadOf(const SimProcess& sim)
{
  const auto counts = settledReading([&] { return std::make_pair(descriptorsOf(sim), threadsOf(sim)); });
  return HostLoad{counts.first, counts.second};
}

bool backTo(const SimProcess& sim, HostLoad idle, int limitMs)
{
  return nettest::waitUntil(
      [&] { return descriptorsOf(sim) <= idle.descriptors && threadsOf(sim) <= idle.threads; }, limitMs);
}

SimProcess* SharedBridgeTest::sim = nullptr;
bool SharedBridgeTest::bridgeStarted = false;
HostLoad SharedBridgeTest::idle = {-1, -1};

void SharedBridgeTest::SetUpTestSuite()
{
  sim = new SimProcess();
  bridgeStarted = sim->running() && sim->startBridge();
  idle = settledLoadOf(*sim);
}

void SharedBridgeTest::TearDownTestSuite()
{
  expectCleanExit(sim->finish());
  delete sim;
  sim = nullptr;
}

void SharedBridgeTest::SetUp()
{
  ASSERT_TRUE(bridgeStarted) << "no bridge listening on port 21777\n" << sim->out() << sim->err();
}

void SharedBridgeTest::TearDown()
{
  // The bridge's DNS-SD worker may end after `idle` was taken: the figure is then the lower one.
  EXPECT_TRUE(backTo(*sim, idle)) << "the bridge still holds an app";
  idle = settledLoadOf(*sim);
  EXPECT_EQ(sim->run(""), 0);
}

}  // namespace e2e
