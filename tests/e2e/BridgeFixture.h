// What the bridge's end-to-end tests share: the plug-in's standard-error lines, the end every
// host must come to, and a fixture whose cases share one host with a started bridge. Tests
// that read the host's whole standard error run a host of their own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "e2e/SimProcess.h"

namespace e2e {

const std::string STARTING = "\n*** Starting Corvane bridge\n";
const std::string STOPPING = "\n*** Stopping Corvane bridge\n";
const std::string DISCONNECTING = "\nWARNING : Disconnecting user from bridge\n";
const std::string DESTROYED = "\nWARNING : Destroying bridge\n";
// The host's quit after a stop: XPluginDisable, then XPluginStop, each find no bridge.
const std::string QUIT_WHILE_STOPPED =
    "\nWARNING : bridge is already stopped\n\nWARNING : bridge is already stopped\n";

// Exit status 0, and the host's summary counts no call into it from another thread.
void expectCleanExit(const SimExit& end);

// The host's descriptors, threads and resident memory (KiB). backTo compares the first two:
// memory only settles, it does not return to an exact figure.
struct HostLoad
{
  int descriptors;
  int threads;
  long residentKiB = -1;
};
HostLoad loadOf(const SimProcess& sim);
// The load to come back to: descriptors and threads once the host's threads that just
// ended are no longer listed (support/Settled.h).
HostLoad settledLoadOf(const SimProcess& sim);
// True once the host is back at `idle` (taken with the bridge listening and no app): the
// bridge has let every app go, which it does a moment after closing the app's connection.
bool backTo(const SimProcess& sim, HostLoad idle, int limitMs = 5000);

class SharedBridgeTest : public ::testing::Test
{
protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  // After each case the bridge must have let every app go, and the host must still count
  // no threading violation.
  void TearDown() override;
  static bool bridgeIdle() { return backTo(*sim, idle); }

  static SimProcess* sim;
  static bool bridgeStarted;
  static HostLoad idle;
};

}  // namespace e2e
