// The pilot's log: a log.conf in the plug-in's folder (the one holding lin_x64/) is read
// when the host starts the plug-in and gets the failures a pilot needs to see; a file that is
// no configuration leaves the plug-in working and silent. Each test runs a copy of the plug-in in a folder of its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/Files.h"
#include "platform/Sockets.h"
#include "support/TemporaryDirectory.h"
#include "tools/SimChild.h"

namespace fs = std::filesystem;

namespace {

const std::string START = "menu Start Corvane bridge";
// Everything the plug-in writes to standard error for a start and the host's quit.
const std::string LIFECYCLE_LINES =
    "\n*** Starting Corvane bridge\n\n*** Stopping Corvane bridge\n\nWARNING : Destroying bridge\n"
    "\nWARNING : bridge is already stopped\n";
const std::string EXAMPLE_TARGET = "\nfile:/tmp/corvane-bridge.log\n";

// Holds the bridge's port as another program on the machine would.
class PortTaken
{
public:
  PortTaken() : m_socket(platform::openSocket(platform::eFamilyIPv4, platform::eSocketStream))
  {
    alignas(std::max_align_t) unsigned char address[64];
    m_taken = m_socket != platform::INVALID_SOCKET_HANDLE &&
              platform::lookupIpv4Address("127.0.0.1", 21777, address) &&
              // As the bridge does: connections of earlier runs waiting out TIME_WAIT do not count.
              platform::setSocketOption(m_socket, platform::eOptionReuseAddress, 1) == 0 &&
              platform::bindSocket(m_socket, address, platform::socketAddressSize(platform::eFamilyIPv4)) &&
              platform::listenSocket(m_socket, 1);
  }
  ~PortTaken() { platform::closeSocket(m_socket); }
  bool taken() const { return m_taken; }

private:
  platform::SocketLibrary m_library;
  platform::SocketHandle m_socket;
  bool m_taken;
};

class LogConfigurationTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    // Beside the test rather than in /tmp, which may forbid loading code from it.
    std::string pattern = (fs::current_path() / "logconf-XXXXXX").string();
    ASSERT_TRUE(platform::createUniqueDirectory(pattern.data()));
    m_root = pattern;
    m_folder = m_root / "Corvane";
    fs::create_directories(m_folder / "lin_x64");
    fs::copy_file(CORVANE_PLUGIN_FILE, m_folder / "lin_x64" / "Corvane.xpl");
  }
  void TearDown() override
  {
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }

  // Starts the bridge in the stand-in host, runs `then` and quits.
  SimRun runStarted(const std::string& then = "#")
  {
    return runChild(
        {kSimProgram, "--no-stdin", "-c", START, "-c", then, (m_folder / "lin_x64" / "Corvane.xpl").string()},
        std::nullopt);
  }

  // The example shipped beside lin_x64/, made to write to `logFile`.
  static std::string exampleWritingTo(const fs::path& logFile)
  {
    std::string example = readFile(CORVANE_LOG_EXAMPLE);
    size_t target = example.find(EXAMPLE_TARGET);
    if (target == std::string::npos) return "";
    return example.replace(target, EXAMPLE_TARGET.size(), "\nfile:" + logFile.string() + "\n");
  }

  fs::path m_root;
  fs::path m_folder;
};

TEST_F(LogConfigurationTest, BesideThePluginItNamesThePortInUseAndTheMissingDnsSdDaemon)
{
  const fs::path logFile = m_root / "bridge.log";
  const std::string configuration = exampleWritingTo(logFile);
  ASSERT_FALSE(configuration.empty()) << "the example no longer writes to " << EXAMPLE_TARGET;
  writeFile((m_folder / "log.conf").string(), configuration);

  {
    PortTaken port;
    ASSERT_TRUE(port.taken());
    SimRun run = runStarted();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, LIFECYCLE_LINES);
  }
  std::string log = readTextFile(logFile.string());
  EXPECT_NE(log.find(" Error: Socket bind error : " + std::to_string(EADDRINUSE) + "  ("), std::string::npos)
      << log;
  // Each line in the example's format, and nothing from its explanatory first sink.
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (Error|Warning|Info): .*  \(.+:\d+, .+\))");
  std::istringstream lines(log);
  for (std::string text; std::getline(lines, text);) EXPECT_TRUE(std::regex_match(text, line)) << text;

  // The port free: the bridge serves, but no DNS-SD daemon is reachable from a test's host.
  // The publication learns that on its own thread, within milliseconds: the host gives it a
  // second before it stops the bridge.
  EXPECT_EQ(runStarted("sleep 1").status, 0);
  log = readTextFile(logFile.string());
  EXPECT_NE(log.find(" Warning: unable to publish our service via MDNS  ("), std::string::npos) << log;
  EXPECT_EQ(log.find("Socket bind error"), std::string::npos) << "the file is rewritten at each start";
}

TEST_F(LogConfigurationTest, WhatIsNoConfigurationLeavesThePluginWorkingAndSilent)
{
  // A file without a single "__|__" line would otherwise log to the host's standard output;
  // opening a FIFO to read would wait for a writer.
  const fs::path conf = m_folder / "log.conf";
  for (bool fifo : {false, true}) {
    SCOPED_TRACE(fifo);
    std::error_code ignored;
    fs::remove_all(conf, ignored);
    if (fifo && !platform::makeNamedPipe(conf.string().c_str())) {
      ASSERT_EQ(errno, ENOSYS);
      std::printf("[ LEFT OUT ] a named pipe: this system makes none\n");
      continue;
    }
    if (!fifo)
      writeFile(conf.string(), "%m %m\nnot a log configuration\n");
    SimRun run = runStarted();
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, LIFECYCLE_LINES);
    for (const std::string& text : run.outLines()) EXPECT_EQ(text.rfind("sim: ", 0), 0u) << text;
  }
}

}  // namespace
