#include "e2e/BridgeFixture.h"

#include <chrono>
#include <sstream>
#include <thread>
#include <utility>

#include "support/Settled.h"

namespace e2e {

void expectCleanExit(const SimExit& end)
{
  EXPECT_EQ(end.status, 0) << end.out << end.err;
  // The summary's line, not one of the answers to "violations" before it.
  const std::string prefix = "sim: threading violations: ";
  std::string summary;
  std::istringstream lines(end.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) summary = line;
  }
  EXPECT_EQ(summary, "sim: threading violations: 0");
}

HostLoad loadOf(const SimProcess& sim)
{
  return HostLoad{sim.openDescriptors(), sim.threads(), sim.residentKiB()};
}

HostLoad settledLoadOf(const SimProcess& sim)
{
  const auto counts = settledReading([&] { return std::make_pair(sim.openDescriptors(), sim.threads()); });
  return HostLoad{counts.first, counts.second, sim.residentKiB()};
}

bool backTo(const SimProcess& sim, HostLoad idle, int limitMs)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    const HostLoad now = loadOf(sim);
    if (now.descriptors == idle.descriptors && now.threads == idle.threads) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
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
  EXPECT_TRUE(bridgeIdle()) << "the bridge still holds an app";
  EXPECT_EQ(sim->run(""), 0);
}

}  // namespace e2e
