// corvane-sim's Log.txt (--log): the host's own lines and the plug-in's XPLMDebugString text, byte
// for byte, in a file emptied at start; a log that cannot be opened ends the host before loading.
#include "SimChild.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(SimLogTest, LogHoldsHostLinesAndDebugStringsExactly)
{
  const std::string log = temporaryPath("Log.txt");
  std::ofstream(log) << "left from an earlier run\n";
  const SimRun run = runProbe({"--log", log, "-c", "menu Write log"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::string("Log.txt for corvane-sim, a stand-in X-Plane host\n"
                        "Sim Probe: starting\n"
                        "Loaded: ") +
                kProbePlugin +
                " (corvane.tests.simprobe).\n"
                "Sim Probe: no newline, then the rest\n"
                "tab\tand UTF-8 \xc3\xa9\n",
            takeFile(log));
}

TEST(SimLogTest, UnopenableLogEndsTheHostWithStatus2)
{
  const SimRun run = runProbe({"--log", "/nonexistent/dir/Log.txt"});
  EXPECT_EQ(2, run.status);
  EXPECT_EQ("sim: cannot open log '/nonexistent/dir/Log.txt': No such file or directory\n", run.err);
  EXPECT_EQ("", run.out);
}

}  // namespace
