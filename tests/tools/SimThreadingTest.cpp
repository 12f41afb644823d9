// corvane-sim's threading rules: an XPLM call from a plug-in thread is counted and reported under
// its own name, --strict-threads turns any into exit status 3, data reads from other threads are
// still served, every other call from them is refused.
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

TEST(SimThreadingTest, ReadFromPluginThreadIsOneReportedViolationAndStillServed)
{
  const SimRun run = runProbe(commands({"violations", "menu Read on thread", "violations"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"sim: threading violation: XPLMGetDatad called from a non-main thread"},
            violationReports(run));
  EXPECT_EQ((std::vector<std::string>{"sim: threading violations: 0", "sim: threading violations: 1",
                                      "sim: threading violations: 1"}),
            run.outLinesStartingWith("sim: threading violations: "));
  EXPECT_EQ(1u, run.outLinesStartingWith("probe: thread read 47.").size());
}

TEST(SimThreadingTest, StrictThreadsFailsOnlyWhenAViolationHappened)
{
  const SimRun violated = runProbe({"--strict-threads", "-c", "menu Read on thread"});
  EXPECT_EQ(3, violated.status);
  EXPECT_EQ("sim: strict threads: failing with exit status 3", violated.outLines().back());
  EXPECT_EQ(0, runProbe({"--strict-threads", "-c", "menu Read datarefs"}).status);
}

TEST(SimThreadingTest, CallsFromPluginThreadOtherThanReadsAreRefused)
{
  const SimRun run = runProbe(commands({"menu Append from thread", "menus"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"probe: append from thread -> -1, create command -> null, find command -> null"},
            run.outLinesStartingWith("probe: append from thread"));
  std::vector<std::string> expected;
  for (const char* function :
       {"XPLMAppendMenuItem", "XPLMEnableMenuItem", "XPLMCheckMenuItem", "XPLMDebugString",
        "XPLMCreateCommand", "XPLMFindCommand", "XPLMRegisterCommandHandler", "XPLMUnregisterCommandHandler"})
    expected.push_back(std::string("sim: threading violation: ") + function + " called from a non-main thread");
  EXPECT_EQ(expected, violationReports(run));
  EXPECT_TRUE(run.outLinesStartingWith("sim:     Late item").empty());
}

}  // namespace
