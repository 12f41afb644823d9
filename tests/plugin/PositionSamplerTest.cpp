// The position record as sampled from the stand-in host: ten double numbers under their
// keys, read on the host's main thread only, equal to the host's own values.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tools/SimChild.h"

namespace {

const char* const KEYS_IN_WIRE_ORDER[] = {"pitch", "course", "altitude", "roll", "yaw",
                                          "accelerationZ", "longitude", "speed", "latitude", "slip"};
const std::map<std::string, std::string> DATAREF_OF_KEY = {
    {"latitude", "sim/flightmodel/position/latitude"},   {"longitude", "sim/flightmodel/position/longitude"},
    {"altitude", "sim/flightmodel/position/elevation"},  {"speed", "sim/flightmodel/position/groundspeed"},
    {"course", "sim/flightmodel/position/hpath"},        {"pitch", "sim/flightmodel/position/theta"},
    {"roll", "sim/flightmodel/position/phi"},            {"yaw", "sim/flightmodel/position/psi"},
    {"slip", "sim/flightmodel/misc/slip"},               {"accelerationZ", "sim/flightmodel/position/local_az"}};

SimRun runProbe(const std::vector<std::string>& commandList)
{
  std::vector<std::string> argv{kSimProgram, "--no-stdin", "--strict-threads"};
  for (const std::string& argument : commands(commandList)) argv.push_back(argument);
  argv.push_back(POSITION_PROBE_PLUGIN);
  return runChild(argv, std::nullopt);
}

struct Entry
{
  std::string key;
  double value;
  std::string kind;
};

// The "probe: LABEL KEY = VALUE (KIND)" lines of one printed record, in order.
std::vector<Entry> record(const SimRun& run, const std::string& label, size_t which = 0)
{
  std::vector<Entry> entries;
  std::vector<std::string> lines = run.outLinesStartingWith("probe: " + label + " ");
  size_t skip = which * 11;
  for (size_t i = skip + 1; i < lines.size() && i <= skip + 10; i++) {
    std::string rest = lines[i].substr(8 + label.size());
    size_t equals = rest.find(" = "), open = rest.rfind(" (");
    entries.push_back({rest.substr(0, equals), strtod(rest.c_str() + equals + 3, nullptr),
                       rest.substr(open + 2, rest.size() - open - 3)});
  }
  return entries;
}

TEST(PositionSamplerTest, RecordHoldsTenDoublesInBucketOrderEqualToTheHostsValues)
{
  std::vector<std::string> list = {"pause", "menu Sample now"};
  for (const auto& pair : DATAREF_OF_KEY) list.push_back("get " + pair.second);
  SimRun run = runProbe(list);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outLinesStartingWith("probe: now valid"), std::vector<std::string>{"probe: now valid 1 entries 10"});
  std::vector<Entry> entries = record(run, "now");
  ASSERT_EQ(entries.size(), 10u);
  for (size_t i = 0; i < 10; i++) {
    EXPECT_EQ(entries[i].key, KEYS_IN_WIRE_ORDER[i]);
    EXPECT_EQ(entries[i].kind, "number");
    std::vector<double> host = run.values(DATAREF_OF_KEY.at(entries[i].key));
    ASSERT_EQ(host.size(), 1u) << entries[i].key;
    EXPECT_EQ(entries[i].value, host[0]) << entries[i].key;
  }
}

TEST(PositionSamplerTest, SinglePrecisionValuesWidenExactly)
{
  SimRun run = runProbe({"pause", "set sim/flightmodel/position/groundspeed 0.1",
                         "set sim/flightmodel/position/latitude 0.1", "menu Sample now"});
  ASSERT_EQ(run.status, 0) << run.err;
  int checked = 0;
  for (const Entry& entry : record(run, "now")) {
    if (entry.key == "speed") {
      EXPECT_EQ(entry.value, 0.100000001490116119384765625);
      checked++;
    } else if (entry.key == "latitude") {
      EXPECT_EQ(entry.value, 0.1);
      checked++;
    }
  }
  EXPECT_EQ(checked, 2);
}

TEST(PositionSamplerTest, SamplesEveryFrameOnTheMainThreadAndHandsTheLatestToOtherThreads)
{
  SimRun run = runProbe({"menu Print latest", "menu Start sampling", "frames 3", "menu Print latest",
                         "get sim/flightmodel/position/longitude", "frames 2", "menu Print latest from a thread",
                         "get sim/flightmodel/position/longitude", "menu Stop sampling", "frames 2",
                         "menu Print latest"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outLinesStartingWith("sim: threading violations:"),
            std::vector<std::string>{"sim: threading violations: 0"});
  EXPECT_EQ(run.outLinesStartingWith("probe: latest valid"),
            (std::vector<std::string>{"probe: latest valid 0 entries 10", "probe: latest valid 1 entries 10",
                                      "probe: latest valid 1 entries 10"}));
  std::vector<double> host = run.values("sim/flightmodel/position/longitude");
  ASSERT_EQ(host.size(), 2u);
  EXPECT_NE(host[0], host[1]) << "the flight should move";

  auto longitude = [](const std::vector<Entry>& entries) {
    for (const Entry& entry : entries)
      if (entry.key == "longitude") return entry.value;
    return -1000.0;
  };
  EXPECT_EQ(longitude(record(run, "latest", 1)), host[0]);
  EXPECT_EQ(longitude(record(run, "thread")), host[1]);
  // Stopped: the last frame's values stay.
  EXPECT_EQ(longitude(record(run, "latest", 2)), host[1]);
}

}  // namespace
