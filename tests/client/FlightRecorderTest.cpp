// The flight log and the track are read back by standard parsers (Python's csv module and
// ElementTree): every value arrives bit for bit, the GPX is a GPX 1.1 document, and a point
// off the globe is left out of the track but kept in the log. The names the files get and
// a path that cannot be created.
#include "FlightRecorder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "support/TemporaryDirectory.h"

namespace {

// Prints what the parsers make of the two files, one line per row or track point, every
// number as Python's repr (which reads back exactly); a coordinate that is not in XML
// Schema's decimal form is marked.
const char* const READ_BACK = R"(import csv, re, sys, xml.etree.ElementTree as ET
base = sys.argv[1]
with open(base + ".csv", newline="") as f:
    rows = list(csv.reader(f))
print("header", *rows[0])
for row in rows[1:]:
    print("row", row[0], row[1], *[repr(float(v)) for v in row[2:-1]], row[-1])
root = ET.parse(base + ".gpx").getroot()
g = "{http://www.topografix.com/GPX/1/1}"
print("root", root.tag, root.get("version"), root.get("creator"), len(root.findall(g + "trk")),
      len(root.findall(g + "trk/" + g + "trkseg")))
decimal = re.compile(r"-?[0-9]+(\.[0-9]+)?")
for point in root.findall(g + "trk/" + g + "trkseg/" + g + "trkpt"):
    texts = [point.get("lat"), point.get("lon"), point.findtext(g + "ele")]
    print("trkpt", *[repr(float(t)) if decimal.fullmatch(t) else "not-decimal:" + t for t in texts],
          point.findtext(g + "time"))
)";

const double NaN = std::numeric_limits<double>::quiet_NaN();

// 2026-12-07T05:07:10.123Z
const FlightRecorder::TimePoint FIRST_TIME{std::chrono::milliseconds(1796620030123)};

struct Received
{
  PositionRecord record;
  const char* time;
};

Received received(std::initializer_list<double> values, const char* time)
{
  Received item{{}, time};
  std::copy(values.begin(), values.end(), item.record.values);
  return item;
}

std::vector<std::string> words(const std::string& line)
{
  std::istringstream in(line);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

// The parser's text is the same double as `expected`, down to the sign of zero.
void expectSame(const std::string& text, double expected, const std::string& where)
{
  const double parsed = strtod(text.c_str(), nullptr);
  if (std::isnan(expected))
    EXPECT_TRUE(std::isnan(parsed)) << where << ": " << text;
  else
    EXPECT_EQ(memcmp(&parsed, &expected, sizeof parsed), 0) << where << ": " << text;
}

class FlightRecorderTest : public ::testing::Test
{
protected:
  // Each line the parsers print, split into words; empty when python3 failed.
  std::vector<std::vector<std::string>> readBack(const std::string& base)
  {
    const std::string script = m_directory.path() + "/read_back.py";
    writeFile(script, READ_BACK);
    FILE* output = popen(("python3 " + script + " " + base + " 2>&1").c_str(), "r");
    if (!output) return {};
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, output)) > 0;) text.append(buffer, n);
    const int status = pclose(output);
    EXPECT_EQ(status, 0) << text;
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(words(line));
    return lines;
  }

  TemporaryDirectory m_directory{"corvane-record"};
};

TEST_F(FlightRecorderTest, ParsersReadBackEveryRecordExactlyAndTheTrackHoldsOnlyPointsOnTheGlobe)
{
  if (system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  ASSERT_FALSE(m_directory.path().empty());
  const Received records[] = {
      received({47.46470123456789, 8.5492, 432.5, 61.733333333333334, 271.25, -2.5, 15.000000000000002,
                0.100000001490116119384765625, -0.0, -0.98123456789012345},
               "2026-12-07T05:07:10.123Z"),
      // Tiny and whole numbers, which the short form writes with exponents; 180 is -180 in GPX.
      received({-1e-7, 180, 60, 0, 0, 0, 0, 0, 0, 1e300}, "2026-12-07T05:07:10.623Z"),
      received({NaN, 8.5, 400, 1, 2, 3, 4, 5, 6, 7}, "2026-12-07T05:07:11.123Z"),
      received({45, -180.5, 400, 1, 2, 3, 4, 5, 6, 7}, "2026-12-07T05:07:11.623Z")};
  const std::string base = m_directory.path() + "/flight";
  {
    FlightRecorder recorder;
    std::string problem;
    ASSERT_TRUE(recorder.open(base + ".gpx", problem)) << problem;
    for (int i = 0; i < 4; ++i)
      recorder.add(i + 1, records[i].record, 0.4126, FIRST_TIME + std::chrono::milliseconds(500 * i));
    ASSERT_TRUE(recorder.finish(problem)) << problem;
  }

  const std::vector<std::vector<std::string>> lines = readBack(base);
  ASSERT_EQ(lines.size(), 1 + 4 + 1 + 2u);
  EXPECT_EQ(lines[0], words("header time_utc n latitude longitude altitude speed course pitch roll yaw slip "
                            "accelerationZ rtt_ms"));
  for (int i = 0; i < 4; ++i) {
    const std::vector<std::string>& row = lines[1 + i];
    ASSERT_EQ(row.size(), 14u) << "row " << i;
    EXPECT_EQ(row[1], records[i].time);
    EXPECT_EQ(row[2], std::to_string(i + 1));
    for (int field = 0; field < PositionRecord::FIELD_COUNT; ++field)
      expectSame(row[3 + field], records[i].record.values[field],
                 "row " + std::to_string(i) + " " + PositionRecord::FIELD_NAMES[field]);
    EXPECT_EQ(row[13], "0.413");
  }
  EXPECT_EQ(lines[5], words("root {http://www.topografix.com/GPX/1/1}gpx 1.1 corvane-client 1 1"));
  const double onTrack[2][3] = {{47.46470123456789, 8.5492, 432.5}, {-1e-7, -180, 60}};
  for (int i = 0; i < 2; ++i) {
    const std::vector<std::string>& point = lines[6 + i];
    ASSERT_EQ(point.size(), 5u) << "point " << i;
    for (int j = 0; j < 3; ++j) expectSame(point[1 + j], onTrack[i][j], "point " + std::to_string(i));
    EXPECT_EQ(point[4], records[i].time);
  }
}

TEST_F(FlightRecorderTest, FilesAreNamedAfterTheBaseAndAPathThatCannotBeMadeLeavesNothing)
{
  ASSERT_FALSE(m_directory.path().empty());
  const std::string base = m_directory.path() + "/flight";
  for (const std::string& file : {base, base + ".csv", base + ".GPX"}) {
    FlightRecorder recorder;
    std::string problem;
    ASSERT_TRUE(recorder.open(file, problem)) << problem;
    EXPECT_EQ(recorder.csvPath(), base + ".csv") << file;
    EXPECT_EQ(recorder.gpxPath(), base + ".gpx") << file;
    EXPECT_TRUE(present(base + ".csv") && present(base + ".gpx")) << file;
  }

  FlightRecorder recorder;
  std::string problem;
  EXPECT_FALSE(recorder.open(m_directory.path() + "/missing/flight", problem));
  EXPECT_EQ(problem, "cannot create " + m_directory.path() + "/missing/flight.csv: " + strerror(ENOENT));
  EXPECT_FALSE(recorder.isOpen());
  // The log can be made but not the track: the log that was just made goes again.
  ASSERT_EQ(mkdir((m_directory.path() + "/blocked.gpx").c_str(), 0700), 0);
  EXPECT_FALSE(recorder.open(m_directory.path() + "/blocked", problem));
  EXPECT_EQ(problem, "cannot create " + m_directory.path() + "/blocked.gpx: " + strerror(EISDIR));
  EXPECT_FALSE(present(m_directory.path() + "/blocked.csv"));
}

}  // namespace
