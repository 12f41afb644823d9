// What the bridge's end-to-end tests share: corvane-sim with the Corvane plug-in as a running
// child, the plug-in's standard-error lines, the end every host must come to, and a fixture whose
// cases share one host with a started bridge.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/ChildProcess.h"

namespace e2e {

const std::string STARTING = "\n*** Starting Corvane bridge\n";
const std::string STOPPING = "\n*** Stopping Corvane bridge\n";
const std::string DESTROYED = "\nWARNING : Destroying bridge\n";
// The host's quit after a stop: XPluginDisable, then XPluginStop, each find no bridge.
const std::string QUIT_WHILE_STOPPED =
    "\nWARNING : bridge is already stopped\n\nWARNING : bridge is already stopped\n";

// corvane-sim --strict-threads --keep-loaded OPTIONS PLUGIN, driven one command line at a time.
class SimProcess : public ChildProcess
{
public:
  explicit SimProcess(const std::vector<std::string>& options = {});
  // Sends `command` and waits until the host has carried it out: a "violations" command after it
  // must have answered. The threading violations counted so far, or -1 when it did not answer.
  long run(const std::string& command, int limitMs = 10000);
  // "menu Start Corvane bridge", then true once a program listens on the bridge's port.
  bool startBridge();
  bool stopBridge() { return run("menu Stop Corvane bridge") == 0; }
  // Whole lines of standard output equal to `line`; true once there are `times` of them.
  size_t countOutLines(const std::string& line) const;
  bool waitForOutLines(const std::string& line, size_t times, int limitMs = 10000) const;
  // "quit", then ChildProcess::finish.
  ChildExit finish(int limitMs = 30000);

private:
  size_t m_barriers = 0;  // "violations" answers awaited so far
};

// Exit status 0, and the host's summary counts no call into it from another thread.
void expectCleanExit(const ChildExit& end);

// The host's descriptors and threads, once those of threads that just ended are no longer listed.
struct HostLoad
{
  int descriptors;
  int threads;
};
HostLoad settledLoadOf(const SimProcess& sim);
// True once the host holds no more than at `idle` (taken with the bridge listening and no app):
// the bridge has let every app go, which it does a moment after closing the app's connection.
bool backTo(const SimProcess& sim, HostLoad idle, int limitMs = 5000);

class SharedBridgeTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  // After each case the bridge must have let every app go, and the host must still count no
  // threading violation.
  void TearDown() override;

  static SimProcess* sim;
  static bool bridgeStarted;
  static HostLoad idle;
};

}  // namespace e2e
