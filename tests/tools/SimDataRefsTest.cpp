// corvane-sim's data references: what the plug-in reads against what "get" prints, float and double
// conversions, overrides, pausing, and the simulated flight staying in range and self-consistent
// (position, track, bank, climb and acceleration agree with each other) over a full circle.
#include "SimChild.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kNames[] = {"sim/flightmodel/position/latitude",  "sim/flightmodel/position/longitude",
                              "sim/flightmodel/position/elevation", "sim/flightmodel/position/groundspeed",
                              "sim/flightmodel/position/hpath",     "sim/flightmodel/position/theta",
                              "sim/flightmodel/position/phi",       "sim/flightmodel/position/psi",
                              "sim/flightmodel/misc/slip",          "sim/flightmodel/position/local_az"};
enum
{
  eLat,
  eLon,
  eElevation,
  eSpeed,
  eTrack,
  eTheta,
  ePhi,
  ePsi,
  eSlip,
  eAz,
  eCount
};
constexpr double kPi = 3.14159265358979323846;

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

// Samples every data reference `samples` times, `frames` frames apart.
std::vector<std::vector<double>> fly(const std::vector<std::string>& options, int samples, int frames)
{
  std::vector<std::string> list;
  for (int i = 0; i < samples; ++i) {
    list.push_back("frames " + std::to_string(frames));
    for (const std::string& get : getAll()) list.push_back(get);
  }
  std::vector<std::string> arguments = options;
  for (const std::string& argument : commands(list)) arguments.push_back(argument);
  const SimRun run = runProbe(arguments);
  EXPECT_EQ(0, run.status);
  std::vector<std::vector<double>> series;
  for (const char* name : kNames) {
    series.push_back(run.values(name));
    EXPECT_EQ(static_cast<size_t>(samples), series.back().size()) << name;
  }
  return series;
}

double wrap180(double degrees)
{
  return std::remainder(degrees, 360.0);
}

TEST(SimDataRefsTest, PluginReadsWhatGetPrintsInBothPrecisions)
{
  std::vector<std::string> list = {"frames 100", "menu Read datarefs"};
  for (const std::string& get : getAll()) list.push_back(get);
  const SimRun run = runProbe(commands(list));
  for (int i = 0; i < eCount; ++i) {
    const std::vector<std::pair<double, double>> reads = probeReads(run, kNames[i]);
    const std::vector<double> host = run.values(kNames[i]);
    ASSERT_EQ(1u, reads.size()) << kNames[i];
    ASSERT_EQ(1u, host.size()) << kNames[i];
    EXPECT_EQ(host[0], reads[0].first) << kNames[i];
    // Float references widen exactly; double ones round once to float.
    EXPECT_EQ(static_cast<double>(static_cast<float>(reads[0].first)), reads[0].second) << kNames[i];
    if (i >= eSpeed) {
      EXPECT_EQ(reads[0].first, reads[0].second) << kNames[i];
    }
  }
}

TEST(SimDataRefsTest, SetHoldsAValueUntilUnset)
{
  const SimRun run = runProbe(
      commands({"set sim/flightmodel/position/groundspeed 0.1", "set sim/flightmodel/position/local_az -1.5",
                "set sim/flightmodel/position/latitude 12.345", "frames 30", "menu Read datarefs",
                "get sim/flightmodel/position/groundspeed", "get sim/flightmodel/position/local_az",
                "get sim/flightmodel/position/latitude", "unset sim/flightmodel/position/groundspeed",
                "get sim/flightmodel/position/groundspeed"}));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(1u, run.outLinesStartingWith("sim: holding sim/flightmodel/position/groundspeed at "
                                         "0.10000000149011612")
                    .size());
  EXPECT_EQ((std::vector<double>{0.10000000149011612, 60.0}), run.values(kNames[eSpeed]));
  EXPECT_EQ(std::vector<double>{-1.5}, run.values(kNames[eAz]));
  EXPECT_EQ(std::vector<double>{12.345}, run.values(kNames[eLat]));
  const auto speed = probeReads(run, kNames[eSpeed]);
  ASSERT_EQ(1u, speed.size());
  EXPECT_EQ(0.10000000149011612, speed[0].first);  // the float 0.1, not the double nearest 0.1
  EXPECT_EQ(0.10000000149011612, speed[0].second);
  EXPECT_EQ(1u, run.outLinesStartingWith("sim: released sim/flightmodel/position/groundspeed").size());
}

TEST(SimDataRefsTest, PauseFreezesTheFlightModel)
{
  const std::vector<std::string> gets = getAll();
  std::vector<std::string> list = gets;
  list.push_back("pause");
  list.push_back("frames 60");
  list.insert(list.end(), gets.begin(), gets.end());
  list.push_back("resume");
  list.push_back("frames 60");
  list.insert(list.end(), gets.begin(), gets.end());
  const SimRun run = runProbe(commands(list));
  for (const char* name : kNames) {
    const std::vector<double> values = run.values(name);
    ASSERT_EQ(3u, values.size()) << name;
    EXPECT_EQ(values[0], values[1]) << name;
  }
  for (int moving : {eLat, eLon, eElevation, eTrack, ePsi, eAz})
    EXPECT_NE(run.values(kNames[moving])[1], run.values(kNames[moving])[2]) << kNames[moving];
}

TEST(SimDataRefsTest, FlightIsAConsistentClimbingRightTurn)
{
  // 400 s at 10 fps: more than one full circle (about 314 s), so headings wrap through north.
  const auto v = fly({"--fps", "10"}, 80, 50);
  const double latitude0 = 47.4647, metresPerDegree = 6371000.0 * kPi / 180.0;
  for (size_t i = 0; i < v[eLat].size(); ++i) {
    for (int r = 0; r < eCount; ++r) ASSERT_TRUE(std::isfinite(v[r][i])) << kNames[r];
    const double north = (v[eLat][i] - latitude0) * metresPerDegree;
    EXPECT_NEAR(432.0 + 2.5 * 5.0 * static_cast<double>(i + 1), v[eElevation][i], 1e-6);
    EXPECT_EQ(60.0, v[eSpeed][i]);
    EXPECT_EQ(v[ePsi][i], v[eTrack][i]);  // no wind
    EXPECT_GE(v[ePsi][i], 0.0);
    EXPECT_LT(v[ePsi][i], 360.0);
    EXPECT_NEAR(6.98, v[ePhi][i], 0.01);  // right bank for a 3 km turn at 60 m/s
    EXPECT_NEAR(2.0 + std::atan(2.5 / 60.0) * 180.0 / kPi, v[eTheta][i], 1e-5);
    EXPECT_EQ(0.0, v[eSlip][i]);
    // Centripetal, towards the airport: +z (south) while north of it.
    EXPECT_NEAR(1.2 * north / 3000.0, v[eAz][i], 0.01);
    if (i == 0) continue;
    const double dNorth = (v[eLat][i] - v[eLat][i - 1]) * metresPerDegree;
    const double dEast = (v[eLon][i] - v[eLon][i - 1]) * metresPerDegree * std::cos(latitude0 * kPi / 180.0);
    const double chord = std::atan2(dEast, dNorth) * 180.0 / kPi;
    const double midHeading = v[ePsi][i - 1] + wrap180(v[ePsi][i] - v[ePsi][i - 1]) / 2.0;
    EXPECT_NEAR(0.0, wrap180(chord - midHeading), 0.5) << "sample " << i;
    EXPECT_NEAR(0.1 * 180.0 / kPi, wrap180(v[ePsi][i] - v[ePsi][i - 1]), 1e-3);  // turning right
  }
}

TEST(SimDataRefsTest, LongitudeWrapsAcrossTheAntimeridian)
{
  const auto v = fly({"--fps", "10", "--airport", "-33.9,179.99,5"}, 35, 100);
  bool east = false, west = false;
  for (size_t i = 0; i < v[eLon].size(); ++i) {
    EXPECT_GE(v[eLon][i], -180.0);
    EXPECT_LT(v[eLon][i], 180.0);
    east = east || v[eLon][i] > 0.0;
    west = west || v[eLon][i] < 0.0;
    if (i > 0) {
      EXPECT_LT(std::fabs(wrap180(v[eLon][i] - v[eLon][i - 1])), 0.1);  // about 600 m per sample
    }
  }
  EXPECT_TRUE(east && west);
}

TEST(SimDataRefsTest, ClimbLevelsOffAboveTheAirport)
{
  const auto v = fly({"--fps", "10"}, 1, 13000);
  EXPECT_EQ(3432.0, v[eElevation][0]);
  EXPECT_EQ(2.0, v[eTheta][0]);
}

TEST(SimDataRefsTest, UnknownNamesAndForeignHandlesReadAsZeroAndAreCounted)
{
  const SimRun run = runProbe(commands({"menu Misuse host"}));
  EXPECT_EQ(0, run.status);
  for (const char* line : {"probe: find unknown dataref -> null", "probe: find null name -> null",
                           "probe: read null -> 0 0", "probe: read foreign -> 0 0"})
    EXPECT_EQ(1u, run.outLinesStartingWith(line).size()) << line;
  size_t reports = 0;
  for (const std::string& line : run.errLines())
    reports += line.find("invalid data reference") != std::string::npos;
  EXPECT_EQ(4u, reports);
  EXPECT_EQ("sim: invalid dataref reads: 4", run.outLines().back());
}

}  // namespace
