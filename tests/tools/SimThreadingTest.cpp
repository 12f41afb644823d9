// corvane-sim's threading rules: an XPLM call from a plug-in thread is counted and reported under
// its own name, --strict-threads turns any into exit status 3, data reads from other threads are
// still served (and must be race-free while frames run), every other call from them is refused.
#include <gtest/gtest.h>

#include "tools/SimChild.h"

namespace {

std::vector<std::string> violationReports(const SimRun& run)
{
  std::vector<std::string> reports;
  for (const std::string& line : run.errLines())
    if (line.find("threading violation") != std::string::npos) reports.push_back(line);
  return reports;
}

TEST(SimThreadingTest, ReadFromPluginThreadIsOneReportedViolation)
{
  const SimRun run = runProbe(commands({"violations", "menu Read on thread", "violations"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"sim: threading violation: XPLMGetDatad called from a non-main thread"},
            violationReports(run));
  EXPECT_EQ((std::vector<std::string>{"sim: threading violations: 0", "sim: threading violations: 1",
                                      "sim: threading violations: 1"}),
            run.outLinesStartingWith("sim: threading violations: "));
  // The read is still served: the value is the airport's latitude region, not 0.
  EXPECT_EQ(1u, run.outLinesStartingWith("probe: thread read 47.").size());
}

TEST(SimThreadingTest, StrictThreadsFailsOnlyWhenAViolationHappened)
{
  const SimRun violated = runProbe({"--strict-threads", "-c", "menu Read on thread"});
  EXPECT_EQ(3, violated.status);
  const std::vector<std::string> lines = violated.outLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ((std::vector<std::string>{"sim: threading violations: 1", "sim: invalid dataref reads: 0",
                                      "sim: strict threads: failing with exit status 3"}),
            std::vector<std::string>(lines.end() - 3, lines.end()));
  EXPECT_EQ(0, runProbe({"--strict-threads", "-c", "menu Read datarefs"}).status);
}

TEST(SimThreadingTest, CallsFromPluginThreadOtherThanReadsAreRefused)
{
  const SimRun run = runProbe(commands({"menu Append from thread", "menus", "commands"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(
      std::vector<std::string>{
          "probe: append from thread -> -1, create command -> null, find command -> null"},
      run.outLinesStartingWith("probe: append from thread"));
  std::vector<std::string> expected;
  for (const char* function :
       {"XPLMAppendMenuItem", "XPLMEnableMenuItem", "XPLMCheckMenuItem", "XPLMDebugString",
        "XPLMCreateCommand", "XPLMFindCommand", "XPLMRegisterCommandHandler", "XPLMUnregisterCommandHandler"})
    expected.push_back(std::string("sim: threading violation: ") + function +
                       " called from a non-main thread");
  EXPECT_EQ(expected, violationReports(run));
  // Nothing changed: no item added, disabled or checked, no handler added or removed.
  EXPECT_TRUE(run.outLinesStartingWith("sim:     Late item").empty());
  EXPECT_EQ(std::vector<std::string>{"sim:     Read datarefs [ref 1]"},
            run.outLinesStartingWith("sim:     Read datarefs [ref 1]"));
  EXPECT_EQ(1u,
            run.outLinesStartingWith("sim: probe/tap: Tap the probe (handlers: 1 before, 1 after)").size());
}

TEST(SimThreadingTest, ReadsFromAPluginThreadWhileFramesRunAreServed)
{
  // The probe's thread reads latitude and heading 200 times each while the main thread publishes
  // new frames: under ThreadSanitizer this is where an unguarded flight state would show.
  const SimRun run = runProbe(
      commands({"menu Start background reads", "frames 3000", "menu Join background reads", "violations"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"probe: background reads in range: 200 of 200"},
            run.outLinesStartingWith("probe: background reads"));
  EXPECT_EQ(400u, violationReports(run).size());
  EXPECT_EQ(2u, run.outLinesStartingWith("sim: threading violations: 400").size());
}

}  // namespace
