#include "e2e/BridgeFixture.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
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
  size_t seen = 0;
  for (const std::string& line : linesOf(text)) seen += line == wanted;
  return seen;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& options) : ChildProcess(hostArguments(options)) {}

long SimProcess::run(const std::string& command, int limitMs)
{
  if (!running() || !send(command + "\nviolations\n")) return -1;
  const size_t wanted = ++m_barriers;
  std::string answer;
  const bool answered = waitForOut(
      [&](const std::string& out) {
        size_t seen = 0;
        for (const std::string& line : linesOf(out)) {
          if (line.compare(0, VIOLATIONS_LINE.size(), VIOLATIONS_LINE) == 0 && ++seen == wanted) {
            answer = line.substr(VIOLATIONS_LINE.size());
            return true;
          }
        }
        return false;
      },
      limitMs);
  return answered ? std::strtol(answer.c_str(), nullptr, 10) : -1;
}

bool SimProcess::startBridge()
{
  // The bridge binds and listens before the menu choice returns.
  return run("menu Start Corvane bridge") == 0 && isListening(21777);
}

bool SimProcess::isListening(uint16_t port) const
{
  // Sockets of the child's network namespace listening on the port, by inode...
  std::ifstream table("/proc/" + std::to_string(pid()) + "/net/tcp");
  std::set<std::string> inodes;
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    const size_t colon = local.find(':');
    if (state == "0A" && colon != std::string::npos &&
        std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port)
      inodes.insert("socket:[" + inode + "]");
  }
  // ...and one of them must be the child's own.
  const std::string fdDirectory = "/proc/" + std::to_string(pid()) + "/fd";
  DIR* dir = opendir(fdDirectory.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    char target[256];
    const ssize_t length = readlink((fdDirectory + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    found = found || inodes.count(target) != 0;
  }
  closedir(dir);
  return found;
}

size_t SimProcess::countOutLines(const std::string& line) const
{
  return count(out(), line);
}

bool SimProcess::waitForOutLines(const std::string& line, size_t times, int limitMs) const
{
  return waitForOut([&](const std::string& out) { return count(out, line) >= times; }, limitMs);
}

int SimProcess::openDescriptors() const
{
  return nettest::entriesOf(("/proc/" + std::to_string(pid()) + "/fd").c_str(), 0);
}

int SimProcess::threads() const
{
  return nettest::entriesOf(("/proc/" + std::to_string(pid()) + "/task").c_str(), 0);
}

long SimProcess::_statusKiB(const std::string& field) const
{
  std::ifstream status("/proc/" + std::to_string(pid()) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, field.size(), field) == 0)
      return std::strtol(line.c_str() + field.size(), nullptr, 10);
  return -1;
}

ChildExit SimProcess::finish(int limitMs)
{
  send("quit\n");
  return ChildProcess::finish(limitMs);
}

void expectCleanExit(const ChildExit& end)
{
  EXPECT_EQ(end.status, 0) << end.out << end.err;
  // The summary's line, not one of the answers to "violations" before it.
  std::string summary;
  for (const std::string& line : linesOf(end.out))
    if (line.compare(0, VIOLATIONS_LINE.size(), VIOLATIONS_LINE) == 0) summary = line;
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
  EXPECT_TRUE(bridgeIdle()) << "the bridge still holds an app: descriptors " << idle.descriptors << " -> "
                            << sim->openDescriptors() << ", threads " << idle.threads << " -> "
                            << sim->threads();
  EXPECT_EQ(sim->run(""), 0);
}

}  // namespace e2e
