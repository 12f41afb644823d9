// corvane-sim's plug-in lifecycle: the entry points it calls at load and quit, in order, and the
// enable/disable/stop/message commands with the X-Plane rules about when each may be called.
#include <gtest/gtest.h>

#include "tools/SimChild.h"

namespace {

const std::vector<std::string> kLoaded = {
    "probe: start", "probe: menu item 0, submenu items at 0 1 2 3 4 5 6 7 8",
    "sim: loaded plugin 'Sim Probe' signature 'corvane.tests.simprobe': Exercises the stand-in host",
    "probe: enable", "sim: plugin enabled"};
const std::vector<std::string> kQuit = {
    "probe: disable",      "sim: plugin disabled",         "probe: stop",
    "sim: plugin stopped", "sim: threading violations: 0", "sim: invalid dataref reads: 0"};

TEST(SimLifecycleTest, EntryPointsFollowTheHostRules)
{
  const struct
  {
    std::vector<std::string> arguments;
    std::vector<std::string> lines;  // after the load lines
  } cases[] = {
      {{}, kQuit},
      {{"--keep-loaded"},
       {kQuit[0], kQuit[1], kQuit[2], kQuit[3], "sim: plugin left loaded (--keep-loaded)", kQuit[4],
        kQuit[5]}},
      {commands({"disable", "disable", "enable", "enable", "stop", "stop", "enable", "disable",
                 "menu-ref 1 Probe", "message 1 2"}),
       {"probe: disable", "sim: plugin disabled", "sim: plugin is already disabled", "probe: enable",
        "sim: plugin enabled", "sim: plugin is already enabled",
        // stop on an enabled plug-in disables it first, as X-Plane does at exit
        "probe: disable", "sim: plugin disabled", "probe: stop", "sim: plugin stopped",
        "sim: plugin is already stopped", "sim: plugin is stopped; enable refused",
        "sim: plugin is stopped; disable refused", "sim: no menu 'Probe'",
        "sim: plugin is stopped; message refused", kQuit[4], kQuit[5]}},
      {commands({"message 7 12345 99", "message -1 0x10", "quit", "message 2 2"}),
       {"probe: message from=7 msg=12345 param=99", "probe: message from=-1 msg=16 param=0", kQuit[0],
        kQuit[1], kQuit[2], kQuit[3], kQuit[4], kQuit[5]}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.arguments.empty() ? "(none)" : test.arguments.back());
    const SimRun run = runProbe(test.arguments);
    EXPECT_EQ(0, run.status);
    std::vector<std::string> expected = kLoaded;
    expected.insert(expected.end(), test.lines.begin(), test.lines.end());
    EXPECT_EQ(expected, run.outLines());
    EXPECT_EQ("", run.err);
  }
}

// probe/tap has before handler 1 and after handler 2: each phase reaches both, in that order.
TEST(SimLifecycleTest, CommandPhasesReachBeforeThenAfterHandlers)
{
  const SimRun run = runProbe(
      commands({"command probe/tap", "command-begin probe/tap", "frames 2", "command-end probe/tap",
                "command-end probe/tap", "command nope", "disable", "command probe/tap", "commands"}));
  EXPECT_EQ(0, run.status);
  std::vector<std::string> expected;
  for (const char* phase : {"begin", "end", "begin", "continue", "continue", "end"})
    for (int handler : {1, 2})
      expected.push_back(std::string("probe: command probe/tap ") + phase + " handler " +
                         std::to_string(handler));
  for (const char* line : {"sim: command 'probe/tap' is not held", "sim: no command 'nope'", "probe: disable",
                           "sim: plugin disabled", "sim: plugin is disabled; command refused",
                           "sim: probe/tap: Tap the probe (handlers: 1 before, 1 after)"})
    expected.push_back(line);
  const std::vector<std::string> lines = run.outLines();
  ASSERT_GE(lines.size(), 5 + expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 5, lines.begin() + 5 + expected.size()));
}

TEST(SimLifecycleTest, HandlersLeftAtStopAreReportedAndDroppedButCommandsStay)
{
  const SimRun run = runProbe(commands({"stop", "commands"}), std::nullopt, {"SIM_PROBE_KEEP_HANDLERS=1"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("sim: 2 command handlers left registered: probe/tap\n", run.err);
  EXPECT_EQ(1u,
            run.outLinesStartingWith("sim: probe/tap: Tap the probe (handlers: 0 before, 0 after)").size());
}

}  // namespace
