// corvane-sim's commands: which handlers each phase reaches in which order, consumption, holding,
// the list "commands" prints, misuse of command refs and handlers, and handlers left at stop.
#include "SimChild.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> handlerCalls(const std::vector<std::string>& names, const std::string& phase,
                                      const std::vector<int>& handlers)
{
  std::vector<std::string> lines;
  for (const std::string& name : names) {
    for (int handler : handlers)
      lines.push_back("probe: command " + name + " " + phase + " handler " + std::to_string(handler));
  }
  return lines;
}

// The probe's probe/tap has before handlers 1 and 3 and after handler 2, and handler 3 leaves in
// its first end phase; probe/swallow's before handler 4 consumes every phase, so after handler 5
// never runs.
TEST(SimCommandsTest, PhasesReachBeforeThenAfterHandlersUntilOneConsumes)
{
  struct Case
  {
    std::vector<std::string> commands;
    std::vector<std::vector<std::string>> lines;
  };
  const std::vector<std::string> tap{"probe/tap"};
  const Case cases[] = {
      {{"command probe/tap", "command probe/tap"},
       {handlerCalls(tap, "begin", {1, 3, 2}), handlerCalls(tap, "end", {1, 3, 2}),
        handlerCalls(tap, "begin", {1, 2}), handlerCalls(tap, "end", {1, 2})}},
      {{"command probe/swallow"},
       {handlerCalls({"probe/swallow"}, "begin", {4}), handlerCalls({"probe/swallow"}, "end", {4})}},
      {{"command-begin probe/tap", "frames 2", "command-end probe/tap", "frames 1", "command-end probe/tap"},
       {handlerCalls(tap, "begin", {1, 3, 2}),
        handlerCalls({"probe/tap", "probe/tap"}, "continue", {1, 3, 2}),
        handlerCalls(tap, "end", {1, 3, 2}),
        {"sim: command 'probe/tap' is not held"}}},
      {{"command nope", "command", "disable", "command probe/tap", "commands"},
       {{"sim: no command 'nope'", "sim: no command ''", "probe: disable", "sim: plugin disabled",
         "sim: plugin is disabled; command refused",
         "sim: probe/tap: Tap the probe (handlers: 2 before, 1 after)",
         "sim: probe/swallow: Swallowed by the probe (handlers: 1 before, 1 after)"}}},
  };
  for (const Case& test : cases) {
    std::vector<std::string> expected;
    for (const std::vector<std::string>& part : test.lines)
      expected.insert(expected.end(), part.begin(), part.end());
    const SimRun run = runProbe(commands(test.commands));
    EXPECT_EQ(0, run.status);
    const std::vector<std::string> lines = run.outLines();
    ASSERT_GE(lines.size(), 5 + expected.size()) << test.commands[0];
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 5, lines.begin() + 5 + expected.size()))
        << test.commands[0];
  }
}

TEST(SimCommandsTest, BadRefsAndHandlersAreRefusedAndReported)
{
  const SimRun run = runProbe(commands({"menu Misuse host", "commands"}));
  EXPECT_EQ(0, run.status);
  for (const char* line : {"probe: find unknown command -> null", "probe: create null command -> null",
                           "sim: probe/tap: Tap the probe (handlers: 2 before, 1 after)"})
    EXPECT_EQ(1u, run.outLinesStartingWith(line).size()) << line;
  for (const char* report : {"sim: XPLMCreateCommand: null name, refused\n",
                             "sim: XPLMRegisterCommandHandler: invalid command ref 0x1234, refused\n",
                             "sim: XPLMRegisterCommandHandler: null handler for 'probe/tap', refused\n",
                             " with refcon 0x1 is not registered after 'probe/tap'\n",
                             "sim: XPLMDebugString: null string, ignored\n"})
    EXPECT_NE(std::string::npos, run.err.find(report)) << report;
}

TEST(SimCommandsTest, HandlersLeftAtStopAreReportedAndDroppedButCommandsStay)
{
  const SimRun run = runProbe(commands({"stop", "commands"}), std::nullopt, {"SIM_PROBE_KEEP_HANDLERS=1"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("sim: 5 command handlers left registered: probe/tap, probe/swallow\n", run.err);
  EXPECT_EQ(1u,
            run.outLinesStartingWith("sim: probe/tap: Tap the probe (handlers: 0 before, 0 after)").size());
}

}  // namespace
