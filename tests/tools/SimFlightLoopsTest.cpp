// corvane-sim's flight loops: exact call counts over a number of frames for intervals in seconds
// and in frames, a callback that unregisters itself, and when loops run (paused: yes; plug-in
// disabled or stopped: no).
#include <gtest/gtest.h>

#include "tools/SimChild.h"

namespace {

std::string loopReport(const std::vector<std::string>& arguments)
{
  const SimRun run = runProbe(arguments);
  EXPECT_EQ(0, run.status);
  // The probe reports a call that reached it while disabled or stopped on standard output.
  EXPECT_TRUE(run.outLinesStartingWith("probe: everyFrame").empty());
  const std::vector<std::string> lines = run.outLinesStartingWith("probe: loops ");
  return lines.empty() ? std::string() : lines.back();
}

// Registered before frame 1: every frame (-1), every 0.5 s, once after 10 frames, and every 3
// frames until it unregisters itself in its second call.
TEST(SimFlightLoopsTest, CallCountsFollowSecondsAndFrameIntervalsExactly)
{
  EXPECT_EQ("probe: loops every=120 half=4 oneshot=1 self=2",
            loopReport(commands({"pause", "menu Start loops", "frames 120", "menu Loop report"})));
  // At 10 fps half a second is 5 frames.
  EXPECT_EQ(
      "probe: loops every=25 half=5 oneshot=1 self=2",
      loopReport({"--fps", "10", "-c", "menu Start loops", "-c", "frames 25", "-c", "menu Loop report"}));
  EXPECT_EQ(0u, loopReport(commands({"menu Start loops", "frames 10", "disable", "frames 10", "enable",
                                     "frames 10", "menu Loop report", "stop", "frames 50"}))
                    .find("probe: loops every=20 "));
}

}  // namespace
