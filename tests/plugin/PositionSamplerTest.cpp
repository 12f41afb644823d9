// The position sampler in the stand-in host: it samples every frame on the main thread only,
// hands the latest record (ten numbers) to other threads, and keeps the last one once stopped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/SimChild.h"

namespace {

// The longitude in the `which`th record printed under `label` ("probe: LABEL KEY = VALUE (KIND)").
double longitude(const SimRun& run, const std::string& label, size_t which = 0)
{
  const std::string prefix = "probe: " + label + " longitude = ";
  const std::vector<std::string> lines = run.outLinesStartingWith(prefix);
  return which < lines.size() ? strtod(lines[which].c_str() + prefix.size(), nullptr) : -1000.0;
}

TEST(PositionSamplerTest, SamplesEveryFrameOnTheMainThreadAndHandsTheLatestToOtherThreads)
{
  std::vector<std::string> argv{kSimProgram, "--no-stdin", "--strict-threads"};
  for (const std::string& argument :
       commands({"menu Print latest", "menu Start sampling", "frames 3", "menu Print latest",
                 "get sim/flightmodel/position/longitude", "frames 2", "menu Print latest from a thread",
                 "get sim/flightmodel/position/longitude", "menu Stop sampling", "frames 2", "menu Print latest"}))
    argv.push_back(argument);
  argv.push_back(POSITION_PROBE_PLUGIN);
  const SimRun run = runChild(argv, std::nullopt);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.outLinesStartingWith("probe: latest valid"),
            (std::vector<std::string>{"probe: latest valid 0 entries 10", "probe: latest valid 1 entries 10",
                                      "probe: latest valid 1 entries 10"}));
  const std::vector<double> host = run.values("sim/flightmodel/position/longitude");
  ASSERT_EQ(host.size(), 2u);
  EXPECT_NE(host[0], host[1]) << "the flight should move";
  // The first print holds no sample; the sampled ones are the host's values.
  EXPECT_EQ(longitude(run, "latest", 1), host[0]);
  EXPECT_EQ(longitude(run, "thread"), host[1]);
  EXPECT_EQ(longitude(run, "latest", 2), host[1]);
}

}  // namespace
