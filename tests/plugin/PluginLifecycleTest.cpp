// The plug-in in the stand-in host: its identity and menu, and every transition of its
// Stopped/Running states with exactly the standard-error lines it must write. The host
// disables and stops the plug-in when it quits, as X-Plane does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/SimChild.h"

namespace {

const std::string STARTING = "\n*** Starting Corvane bridge\n";
const std::string STOPPING = "\n*** Stopping Corvane bridge\n";
const std::string DESTROYED = "\nWARNING : Destroying bridge\n";
const std::string ALREADY_RUNNING = "\nWARNING : bridge is already running\n";
const std::string ALREADY_STOPPED = "\nWARNING : bridge is already stopped\n";
const std::string START = "menu Start Corvane bridge";
const std::string STOP = "menu Stop Corvane bridge";

SimRun runPlugin(const std::vector<std::string>& commandList, const std::vector<std::string>& options = {})
{
  std::vector<std::string> argv{kSimProgram, "--no-stdin"};
  argv.insert(argv.end(), options.begin(), options.end());
  for (const std::string& argument : commands(commandList)) argv.push_back(argument);
  argv.push_back(CORVANE_PLUGIN_FILE);
  return runChild(argv, std::nullopt);
}

struct Transition
{
  const char* name;
  std::vector<std::string> commands;
  // Everything the plug-in writes to standard error, including what the host's quit causes.
  std::string stderrText;
};

class PluginStateTableTest : public ::testing::TestWithParam<Transition>
{
};

TEST_P(PluginStateTableTest, WritesExactlyItsLines)
{
  const Transition& transition = GetParam();
  SimRun run = runPlugin(transition.commands);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, transition.stderrText);
}

INSTANTIATE_TEST_SUITE_P(
    Transitions, PluginStateTableTest,
    ::testing::Values(
        // The menu offers Start only while stopped; its handler still refuses a second bridge.
        Transition{"MenuStartsOneBridgeAndStopsIt",
                   {START, "menu-ref 1 Corvane", "menu-ref 0", "menu-ref 3", STOP, "menu-ref 2 Corvane"},
                   STARTING + ALREADY_RUNNING + STOPPING + DESTROYED + ALREADY_STOPPED + ALREADY_STOPPED +
                       ALREADY_STOPPED},
        // Only the press acts: holding the key or letting it go does nothing more.
        Transition{"CommandsDoWhatTheMenuDoes",
                   {"command-begin corvane/bridge/toggle", "command-end corvane/bridge/toggle",
                    "command corvane/bridge/toggle", "command corvane/bridge/start", "command corvane/bridge/start",
                    "command corvane/bridge/stop", "command corvane/bridge/stop"},
                   STARTING + STOPPING + DESTROYED + STARTING + ALREADY_RUNNING + STOPPING + DESTROYED +
                       ALREADY_STOPPED + ALREADY_STOPPED + ALREADY_STOPPED},
        Transition{"DisableStopsEnableDoesNotRestartMessagesAreIgnored",
                   {"message 1 2", START, "message 123 104 1", "disable", "enable"},
                   STARTING + STOPPING + DESTROYED + ALREADY_STOPPED + ALREADY_STOPPED}),
    [](const ::testing::TestParamInfo<Transition>& info) { return std::string(info.param.name); });

// One run of the host: the plug-in names itself, installs its submenu and commands, asks for
// frames only while the bridge runs, calls the host only from its main thread (--strict-threads
// fails the run otherwise) and leaves no command handler behind.
TEST(PluginLoadTest, NamesItselfInstallsItsMenuAndCommandsAndCleansUp)
{
  SimRun run = runPlugin({"menus", "commands", "frames 10", START, "frames 10", STOP, "frames 10", START,
                          "frames 30", STOP, "times"},
                         {"--strict-threads"});
  EXPECT_EQ(run.status, 0);
  const std::vector<std::string> lines = run.outLines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(
      std::vector<std::string>(lines.begin(), lines.begin() + 6),
      (std::vector<std::string>{"sim: loaded plugin 'Corvane' signature 'com.corvane.bridge': "
                                "A plugin that forward navigation coordinates to Corvane for iPhone/iPad.",
                                "sim: plugin enabled", "sim: Plugins", "sim:   Corvane",
                                "sim:     Start Corvane bridge [ref 1] [unchecked]",
                                "sim:     Stop Corvane bridge [ref 2] (disabled)"}));
  EXPECT_EQ(
      run.outLinesStartingWith("sim: corvane/"),
      (std::vector<std::string>{
          "sim: corvane/bridge/start: Start the Corvane bridge (handlers: 1 before, 0 after)",
          "sim: corvane/bridge/stop: Stop the Corvane bridge (handlers: 1 before, 0 after)",
          "sim: corvane/bridge/toggle: Start or stop the Corvane bridge (handlers: 1 before, 0 after)"}));
  const std::vector<std::string> loops = run.outLinesStartingWith("sim: time: flight loop: ");
  ASSERT_EQ(loops.size(), 1u) << run.out;
  EXPECT_EQ(loops[0].rfind("sim: time: flight loop: 40 calls,", 0), 0u) << loops[0];
  EXPECT_EQ(run.outLinesStartingWith("sim: threading violations:"),
            std::vector<std::string>{"sim: threading violations: 0"});
  EXPECT_EQ(run.outLines().back(), "sim: invalid dataref reads: 0");
  EXPECT_EQ(run.err.find("left registered"), std::string::npos) << run.err;
}

}  // namespace
