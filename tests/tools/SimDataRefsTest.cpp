// corvane-sim's data references as a plug-in reads them: what "get" prints in both precisions,
// overrides, pausing, and handles the host never handed out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tools/SimChild.h"

namespace {

const char* const kNames[] = {"sim/flightmodel/position/latitude",  "sim/flightmodel/position/longitude",
                              "sim/flightmodel/position/elevation", "sim/flightmodel/position/groundspeed",
                              "sim/flightmodel/position/hpath",     "sim/flightmodel/position/theta",
                              "sim/flightmodel/position/phi",       "sim/flightmodel/position/psi",
                              "sim/flightmodel/misc/slip",          "sim/flightmodel/position/local_az"};
const int kFirstFloat = 3;  // the references from groundspeed on are floats

std::vector<std::string> getAll()
{
  std::vector<std::string> list;
  for (const char* name : kNames) list.push_back(std::string("get ") + name);
  return list;
}

// Each "probe: read NAME = D as float F" line as {D, F}.
std::vector<std::pair<double, double>> probeReads(const SimRun& run, const std::string& name)
{
  std::vector<std::pair<double, double>> reads;
  const std::string prefix = "probe: read " + name + " = ";
  for (const std::string& line : run.outLinesStartingWith(prefix)) {
    char* end = nullptr;
    const double asDouble = std::strtod(line.c_str() + prefix.size(), &end);
    reads.emplace_back(asDouble, std::strtod(std::strstr(end, "as float ") + 9, nullptr));
  }
  return reads;
}

TEST(SimDataRefsTest, PluginReadsWhatGetPrintsInBothPrecisions)
{
  std::vector<std::string> list = {"frames 100", "menu Read datarefs"};
  for (const std::string& get : getAll()) list.push_back(get);
  const SimRun run = runProbe(commands(list));
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(kNames[i]);
    const std::vector<std::pair<double, double>> reads = probeReads(run, kNames[i]);
    const std::vector<double> host = run.values(kNames[i]);
    ASSERT_EQ(1u, reads.size());
    ASSERT_EQ(1u, host.size());
    EXPECT_EQ(host[0], reads[0].first);
    // Float references widen exactly; double ones round once to float.
    EXPECT_EQ(static_cast<double>(static_cast<float>(reads[0].first)), reads[0].second);
    if (i >= kFirstFloat) {
      EXPECT_EQ(reads[0].first, reads[0].second);
    }
  }
}

TEST(SimDataRefsTest, SetHoldsAValueUntilUnset)
{
  const char* const speed = kNames[3];
  const SimRun run = runProbe(commands(
      {std::string("set ") + speed + " 0.1", "set sim/flightmodel/position/latitude 12.345", "frames 30",
       "menu Read datarefs", std::string("get ") + speed, "get sim/flightmodel/position/latitude",
       std::string("unset ") + speed, std::string("get ") + speed}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ((std::vector<double>{0.10000000149011612, 60.0}), run.values(speed));
  EXPECT_EQ(std::vector<double>{12.345}, run.values(kNames[0]));
  const auto reads = probeReads(run, speed);
  ASSERT_EQ(1u, reads.size());
  EXPECT_EQ(0.10000000149011612, reads[0].first);  // the float 0.1, not the double nearest 0.1
}

TEST(SimDataRefsTest, PauseFreezesTheFlightModel)
{
  const std::vector<std::string> gets = getAll();
  std::vector<std::string> list = gets;
  for (const char* step : {"pause", "frames 60", "", "resume", "frames 60", ""}) {
    if (*step) {
      list.push_back(step);
    } else {
      list.insert(list.end(), gets.begin(), gets.end());
    }
  }
  const SimRun run = runProbe(commands(list));
  for (const char* name : kNames) {
    const std::vector<double> values = run.values(name);
    ASSERT_EQ(3u, values.size()) << name;
    EXPECT_EQ(values[0], values[1]) << name;
  }
  for (int moving : {0, 1, 2, 4, 7, 9})
    EXPECT_NE(run.values(kNames[moving])[1], run.values(kNames[moving])[2]);
}

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
