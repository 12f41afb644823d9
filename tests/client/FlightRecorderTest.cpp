// The flight log and the track, byte for byte: every value arrives bit for bit, the GPX is a GPX
// 1.1 document, and a point off the globe is left out of the track but kept in the log. The names
// the files get and a path that cannot be created.
#include "FlightRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "support/TemporaryDirectory.h"

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// 2026-12-07T05:07:10.123Z
const FlightRecorder::TimePoint FIRST_TIME{std::chrono::milliseconds(1796620030123)};

class FlightRecorderTest : public ::testing::Test
{
protected:
  TemporaryDirectory m_directory{"corvane-record"};
  const std::string base = m_directory.path() + "/flight";
};

// Every value in the shortest text that reads back to the same double, the sign of zero kept; the
// track holds only the points on the globe, in decimal form as XML Schema wants, 180 as -180.
TEST_F(FlightRecorderTest, LogHoldsEveryRecordExactlyAndTheTrackOnlyPointsOnTheGlobe)
{
  ASSERT_FALSE(m_directory.path().empty());
  const double records[4][PositionRecord::FIELD_COUNT] = {
      {47.46470123456789, 8.5492, 432.5, 61.733333333333334, 271.25, -2.5, 15.000000000000002,
       0.100000001490116119384765625, -0.0, -0.98123456789012345},
      {-1e-7, 180, 60, 0, 0, 0, 0, 0, 0, 1e300},
      {NaN, 8.5, 400, 1, 2, 3, 4, 5, 6, 7},
      {45, -180.5, 400, 1, 2, 3, 4, 5, 6, 7}};
  const std::string base = m_directory.path() + "/flight";
  {
    FlightRecorder recorder;
    std::string problem;
    ASSERT_TRUE(recorder.open(base + ".gpx", problem)) << problem;
    for (int i = 0; i < 4; ++i) {
      PositionRecord record;
      std::copy(records[i], records[i] + PositionRecord::FIELD_COUNT, record.values);
      recorder.add(i + 1, record, 0.4126, FIRST_TIME + std::chrono::milliseconds(500 * i));
    }
    ASSERT_TRUE(recorder.finish(problem)) << problem;
  }
  EXPECT_EQ(readFile(base + ".csv"),
            "time_utc,n,latitude,longitude,altitude,speed,course,pitch,roll,yaw,slip,accelerationZ,rtt_ms\n"
            "2026-12-07T05:07:10.123Z,1,47.46470123456789,8.5492,432.5,61.733333333333334,271.25,-2.5,"
            "15.000000000000002,0.10000000149011612,-0,-0.9812345678901234,0.413\n"
            "2026-12-07T05:07:10.623Z,2,-1e-07,180,60,0,0,0,0,0,0,1e+300,0.413\n"
            "2026-12-07T05:07:11.123Z,3,nan,8.5,400,1,2,3,4,5,6,7,0.413\n"
            "2026-12-07T05:07:11.623Z,4,45,-180.5,400,1,2,3,4,5,6,7,0.413\n");
  EXPECT_EQ(readFile(base + ".gpx"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<gpx xmlns=\"http://www.topografix.com/GPX/1/1\" version=\"1.1\" creator=\"corvane-client\"\n"
            "     xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
            "     xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
            "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
            "  <trk>\n    <trkseg>\n"
            "      <trkpt lat=\"47.46470123456789\" lon=\"8.5492\"><ele>432.5</ele>"
            "<time>2026-12-07T05:07:10.123Z</time></trkpt>\n"
            "      <trkpt lat=\"-0.0000001\" "
            "lon=\"-180\"><ele>60</ele><time>2026-12-07T05:07:10.623Z</time></trkpt>\n"
            "    </trkseg>\n  </trk>\n</gpx>\n");
}

TEST_F(FlightRecorderTest, FilesAreNamedAfterTheBaseAndAPathThatCannotBeMadeLeavesNothing)
{
  {
    FlightRecorder recorder;
    std::string problem;
    ASSERT_TRUE(recorder.open(base + ".GPX", problem)) << problem;
    EXPECT_EQ(recorder.csvPath() + " " + recorder.gpxPath(), base + ".csv " + base + ".gpx");
  }
  FlightRecorder recorder;
  std::string problem;
  EXPECT_FALSE(recorder.open(m_directory.path() + "/missing/flight", problem));
  EXPECT_EQ(problem, "cannot create " + m_directory.path() + "/missing/flight.csv: " + strerror(ENOENT));
  // The log can be made but not the track: the log that was just made goes again.
  ASSERT_EQ(mkdir((m_directory.path() + "/blocked.gpx").c_str(), 0700), 0);
  EXPECT_FALSE(recorder.open(m_directory.path() + "/blocked", problem));
  EXPECT_EQ(problem, "cannot create " + m_directory.path() + "/blocked.gpx: " + strerror(EISDIR));
  EXPECT_FALSE(present(m_directory.path() + "/blocked.csv"));
}

}  // namespace
