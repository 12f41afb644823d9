// corvane-sim's data references: handles the host never handed out read as zero and are counted,
// so that a plug-in test's "invalid dataref reads: 0" means something. (What a plug-in reads
// against what "get" prints: the position sampler's tests.)
#include <gtest/gtest.h>

#include "tools/SimChild.h"

namespace {

TEST(SimDataRefsTest, UnknownNamesAndForeignHandlesReadAsZeroAndAreCounted)
{
  const SimRun run = runProbe(commands({"menu Misuse host"}));
  EXPECT_EQ(0, run.status);
  for (const char* line :
       {"probe: find unknown dataref -> null", "probe: read null -> 0 0", "probe: read foreign -> 0 0"})
    EXPECT_EQ(1u, run.outLinesStartingWith(line).size()) << line;
  size_t reports = 0;
  for (const std::string& line : run.errLines())
    reports += line.find("invalid data reference") != std::string::npos;
  EXPECT_EQ(4u, reports);
  EXPECT_EQ("sim: invalid dataref reads: 4", run.outLines().back());
}

}  // namespace
