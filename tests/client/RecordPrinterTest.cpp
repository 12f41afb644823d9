// The three output forms of a fixed record, line for line, and the exact number text that
// lets printed values be compared bit for bit.
#include "RecordPrinter.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

PositionRecord fixedRecord()
{
  PositionRecord record;
  const double values[PositionRecord::FIELD_COUNT] = {
      47.46470123456789,  8.5492, 432.5, 61.733333333333334,  271.25, -2.5,
      15.000000000000002, 0.1,    -0.0,  -0.98123456789012345};
  std::copy(values, values + PositionRecord::FIELD_COUNT, record.values);
  return record;
}

const double ROUND_TRIP_MS = 0.4126;

TEST(RecordPrinterFormatsTest, EachFormHasItsHeaderAndOneLinePerRecord)
{
  const struct
  {
    ClientOptions::eFormat format;
    const char* header;
    const char* line;
  } cases[] = {{ClientOptions::eFormatTable,
                "    n            latitude           longitude            altitude               speed"
                "              course               pitch                roll                 yaw"
                "                slip       accelerationZ   rtt_ms\n",
                "    3   47.46470123456789              8.5492               432.5  61.733333333333334"
                "              271.25                -2.5  15.000000000000002                 0.1"
                "                  -0 -0.9812345678901234    0.413\n"},
               {ClientOptions::eFormatCSV,
                "n,latitude,longitude,altitude,speed,course,pitch,roll,yaw,slip,accelerationZ,rtt_ms\n",
                "3,47.46470123456789,8.5492,432.5,61.733333333333334,271.25,-2.5,15.000000000000002,0.1,-0,"
                "-0.9812345678901234,0.413\n"},
               {ClientOptions::eFormatJSON, "",
                "{\"n\":3,\"latitude\":47.46470123456789,\"longitude\":8.5492,\"altitude\":432.5,"
                "\"speed\":61.733333333333334,\"course\":271.25,\"pitch\":-2.5,\"roll\":15.000000000000002,"
                "\"yaw\":0.1,\"slip\":-0,\"accelerationZ\":-0.9812345678901234,\"rtt_ms\":0.413}\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    RecordPrinter printer(c.format);
    EXPECT_EQ(printer.header(), c.header);
    EXPECT_EQ(printer.line(3, fixedRecord(), ROUND_TRIP_MS), c.line);
  }
}

TEST(RecordPrinterNumbersTest, ShortestTextThatReadsBackExactly)
{
  const struct
  {
    double value;
    const char* text;
  } cases[] = {{0.1, "0.1"},       {1.0 / 3, "0.3333333333333333"},
               {-0.0, "-0"},       {123456789012345678.0, "1.2345678901234568e+17"},
               {5e-324, "5e-324"}, {123456.0, "123456"},
               {1e16, "1e+16"},    {0.0001, "0.0001"},
               {0.00001, "1e-05"}};
  for (const auto& c : cases) EXPECT_EQ(RecordPrinter::exactNumber(c.value), c.text);
  // The same digits without an exponent, as GPX coordinates need them.
  for (const auto& c :
       {std::make_pair(0.00001, "0.00001"), std::make_pair(-1.25e-7, "-0.000000125"),
        std::make_pair(1e16, "10000000000000000"), std::make_pair(432.5, "432.5"), std::make_pair(-0.0, "-0"),
        std::make_pair(123456789012345678.0, "123456789012345680")})
    EXPECT_EQ(RecordPrinter::decimalNumber(c.first), c.second);
}

}  // namespace
