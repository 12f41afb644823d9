// corvane-sim's flight loops: exact call counts over a number of frames for intervals in seconds
// and in frames, the arguments callbacks receive, callbacks that change the schedule while being
// called, and when loops run (paused: yes; plug-in disabled: no).
#include "SimChild.h"

#include <gtest/gtest.h>

namespace {

std::string loopReport(const std::vector<std::string>& arguments)
{
  const SimRun run = runProbe(arguments);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("", run.err);
  const std::vector<std::string> lines = run.outLinesStartingWith("probe: loops ");
  return lines.empty() ? std::string() : lines.back();
}

// Registered before frame 1: every frame (-1), every 0.5 s, once after 10 frames, every 3 frames until
// it unregisters itself in its second call, and after 4 frames a juggler that registers "late" and
// "tail" (every frame) and stops; "late" unregisters "tail" in its third call, in the frame where
// "tail" is due next. "rearm" runs once at frame 1.
TEST(SimFlightLoopsTest, CallCountsFollowSecondsAndFrameIntervalsExactly)
{
  EXPECT_EQ("probe: loops every=120 half=4 oneshot=1 self=2 late=116 tail=2 rearm=1",
            loopReport(commands({"menu Start loops", "frames 120", "menu Loop report"})));
  // At 10 fps half a second is 5 frames.
  EXPECT_EQ(
      "probe: loops every=25 half=5 oneshot=1 self=2 late=21 tail=2 rearm=1",
      loopReport({"--fps", "10", "-c", "menu Start loops", "-c", "frames 25", "-c", "menu Loop report"}));
}

TEST(SimFlightLoopsTest, CallbackReceivesElapsedTimesAndCounter)
{
  const SimRun run = runProbe(commands({"frames 7", "menu Start loops", "frames 60", "menu Loop report"}));
  EXPECT_EQ(
      std::vector<std::string>{
          "probe: half-second first call elapsed=0.500000 since-loop=0.016667 counter=37"},
      run.outLinesStartingWith("probe: half-second"));
}

TEST(SimFlightLoopsTest, LoopsKeepRunningWhileFlightModelIsPaused)
{
  EXPECT_EQ("probe: loops every=120 half=4 oneshot=1 self=2 late=116 tail=2 rearm=1",
            loopReport(commands({"pause", "menu Start loops", "frames 120", "menu Loop report"})));
}

TEST(SimFlightLoopsTest, DisabledPluginMissesItsLoopsUntilEnabledAgain)
{
  const std::string report = loopReport(commands(
      {"menu Start loops", "frames 10", "disable", "frames 10", "enable", "frames 10", "menu Loop report"}));
  EXPECT_EQ(0u, report.find("probe: loops every=20 "));
}

TEST(SimFlightLoopsTest, NoLoopReachesADisabledOrStoppedPlugin)
{
  const SimRun run = runProbe(commands(
      {"menu Start loops", "frames 5", "disable", "frames 5", "enable", "frames 5", "stop", "frames 50"}));
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(run.outLinesStartingWith("probe: everyFrame").empty());
}

TEST(SimFlightLoopsTest, SetIntervalCountsFromLastCallOrFromNow)
{
  // "rearm" ran at frame 1 and returned 0; at frame 20 it is set to 30 frames.
  const std::string fromLastCall = loopReport(commands(
      {"menu Start loops", "frames 20", "menu Rearm from last call", "frames 40", "menu Loop report"}));
  EXPECT_NE(std::string::npos, fromLastCall.find(" rearm=1,31"));
  const std::string fromNow = loopReport(
      commands({"menu Start loops", "frames 20", "menu Rearm from now", "frames 40", "menu Loop report"}));
  EXPECT_NE(std::string::npos, fromNow.find(" rearm=1,50"));
}

}  // namespace
