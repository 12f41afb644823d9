// corvane-sim's call times: every call into the plug-in counted under its kind in lines that
// parse, and with --print-times one line per call as it returns, flight loops excepted.
#include "SimChild.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(SimCallTimesTest, EveryCallIntoThePluginIsTimedUnderItsKind)
{
  // Three frames after "Start loops" make five flight-loop calls: "every" in each frame, "rearm"
  // in the first and "self" in the third.
  const SimRun run = runProbe({"--print-times", "-c", "menu Start loops", "-c", "frames 3", "-c",
                               "menu Loop report", "-c", "menu Loop report", "-c", "menu-ref 4 Probe", "-c",
                               "message 1 2", "-c", "command probe/swallow", "-c", "disable", "-c", "times"});
  EXPECT_EQ(0, run.status);
  // Each line must parse in full: "sim: time: KIND: N calls, median M us, max X us" (KIND may hold
  // ": " itself) and "sim: took N us: KIND".
  std::vector<std::string> counted, printed;
  for (const std::string& line : run.outLinesStartingWith("sim: time: ")) {
    const size_t numbers = line.rfind(": ");
    unsigned long long calls = 0, median = 0, max = 0;
    int end = 0;
    ASSERT_EQ(3, std::sscanf(line.c_str() + numbers, ": %llu calls, median %llu us, max %llu us%n", &calls,
                             &median, &max, &end))
        << line;
    EXPECT_EQ(line.size(), numbers + static_cast<size_t>(end)) << line;
    EXPECT_LE(median, max) << line;
    counted.push_back(line.substr(11, numbers - 11) + ": " + std::to_string(calls) + " calls");
  }
  for (const std::string& line : run.outLinesStartingWith("sim: took ")) {
    unsigned long long took = 0;
    int kind = 0;
    ASSERT_EQ(1, std::sscanf(line.c_str(), "sim: took %llu us: %n", &took, &kind)) << line;
    ASSERT_GT(kind, 0) << line;
    printed.push_back(line.substr(static_cast<size_t>(kind)));
  }
  const std::vector<std::string> expectedCounts = {"XPluginStart: 1 calls",
                                                   "XPluginEnable: 1 calls",
                                                   "menu 'Start loops': 1 calls",
                                                   "flight loop: 5 calls",
                                                   "menu 'Loop report': 2 calls",
                                                   "menu-ref 4 'Probe': 1 calls",
                                                   "XPluginReceiveMessage: 1 calls",
                                                   "command probe/swallow (begin): 1 calls",
                                                   "command probe/swallow (end): 1 calls",
                                                   "XPluginDisable: 1 calls"};
  EXPECT_EQ(expectedCounts, counted);

  // One line per call as it returns, flight loops excepted, up to the quit's XPluginStop.
  const std::vector<std::string> expectedPrinted = {"XPluginStart",
                                                    "XPluginEnable",
                                                    "menu 'Start loops'",
                                                    "menu 'Loop report'",
                                                    "menu 'Loop report'",
                                                    "menu-ref 4 'Probe'",
                                                    "XPluginReceiveMessage",
                                                    "command probe/swallow (begin)",
                                                    "command probe/swallow (end)",
                                                    "XPluginDisable",
                                                    "XPluginStop"};
  EXPECT_EQ(expectedPrinted, printed);
}

}  // namespace
