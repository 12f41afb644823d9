// corvane-sim's plug-in lifecycle: the order of entry-point calls at load and quit, and the
// enable/disable/stop/message commands with the X-Plane rules about when each may be called.
#include "SimChild.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kLoaded = {
    "probe: start",
    "probe: menu item 0, submenu items at 0 1 2 3 4 5 6 7 8 9 10 11",
    "sim: loaded plugin 'Sim Probe' signature 'corvane.tests.simprobe': Exercises the stand-in host",
    "probe: enable",
    "sim: plugin enabled",
};

std::vector<std::string> afterLoad(const SimRun& run)
{
  std::vector<std::string> lines = run.outLines();
  if (lines.size() < kLoaded.size()) return {};
  return std::vector<std::string>(lines.begin() + static_cast<long>(kLoaded.size()), lines.end());
}

TEST(SimLifecycleTest, LoadEnableAndQuitCallEntryPointsInOrder)
{
  const SimRun run = runProbe({});
  EXPECT_EQ(0, run.status);
  std::vector<std::string> expected = kLoaded;
  expected.insert(expected.end(),
                  {"probe: disable", "sim: plugin disabled", "probe: stop", "sim: plugin stopped",
                   "sim: threading violations: 0", "sim: invalid dataref reads: 0"});
  EXPECT_EQ(expected, run.outLines());
  EXPECT_EQ("", run.err);
}

TEST(SimLifecycleTest, KeepLoadedStillDisablesAndStopsAtQuit)
{
  const SimRun run = runProbe({"--keep-loaded"});
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {"probe: disable",
                                             "sim: plugin disabled",
                                             "probe: stop",
                                             "sim: plugin stopped",
                                             "sim: plugin left loaded (--keep-loaded)",
                                             "sim: threading violations: 0",
                                             "sim: invalid dataref reads: 0"};
  EXPECT_EQ(expected, afterLoad(run));
}

TEST(SimLifecycleTest, RefusedEnableLeavesPluginDisabledUntilStop)
{
  const SimRun run =
      runProbe(commands({"menu Read datarefs", "message 1 2"}), std::nullopt, {"SIM_PROBE_REFUSE_ENABLE=1"});
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {"sim: plugin refused to enable",
                                             "sim: plugin is disabled; menu choice refused",
                                             "sim: plugin is disabled; message refused",
                                             "probe: stop",
                                             "sim: plugin stopped",
                                             "sim: threading violations: 0",
                                             "sim: invalid dataref reads: 0"};
  const std::vector<std::string> lines = run.outLines();
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(expected,
            std::vector<std::string>(lines.end() - static_cast<long>(expected.size()), lines.end()));
}

TEST(SimLifecycleTest, FailedStartExitsWithStatus2WithoutEnabling)
{
  const SimRun run = runProbe(commands({"menus"}), std::nullopt, {"SIM_PROBE_FAIL_START=1"});
  EXPECT_EQ(2, run.status);
  EXPECT_EQ(std::vector<std::string>{"probe: start"}, run.outLines());
  EXPECT_NE(std::string::npos, run.err.find("sim: plugin 'Sim Probe' failed to start"));
}

TEST(SimLifecycleTest, EnableDisableAndStopFollowTheHostRules)
{
  const SimRun run = runProbe(commands({"disable", "disable", "enable", "enable", "stop", "stop", "enable",
                                        "disable", "menu-ref 1 Probe", "message 1 2"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {
      "probe: disable", "sim: plugin disabled", "sim: plugin is already disabled", "probe: enable",
      "sim: plugin enabled", "sim: plugin is already enabled",
      // stop on an enabled plug-in disables it first, as X-Plane does at exit
      "probe: disable", "sim: plugin disabled", "probe: stop", "sim: plugin stopped",
      "sim: plugin is already stopped", "sim: plugin is stopped; enable refused",
      "sim: plugin is stopped; disable refused", "sim: no menu 'Probe'",
      "sim: plugin is stopped; message refused", "sim: threading violations: 0",
      "sim: invalid dataref reads: 0"};
  EXPECT_EQ(expected, afterLoad(run));
}

TEST(SimLifecycleTest, MessagePassesSenderMessageAndParameter)
{
  const SimRun run = runProbe(commands({"message 7 12345 99", "message -1 0x10", "message 1 2 -5"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {"probe: message from=7 msg=12345 param=99",
                                             "probe: message from=-1 msg=16 param=0",
                                             "probe: message from=1 msg=2 param=-5"};
  EXPECT_EQ(expected, run.outLinesStartingWith("probe: message"));
}

TEST(SimLifecycleTest, QuitEndsTheSessionBeforeLaterCommands)
{
  const SimRun run = runProbe(commands({"message 1 1", "quit", "message 2 2"}), std::string("message 3 3\n"));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"probe: message from=1 msg=1 param=0"},
            run.outLinesStartingWith("probe: message"));
  EXPECT_EQ(1u, run.outLinesStartingWith("probe: stop").size());
}

}  // namespace
