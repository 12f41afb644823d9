// The closing summary: median and nearest-rank 99th percentile of the round trips.
#include "RoundTripSummary.h"

#include <gtest/gtest.h>

namespace {

TEST(RoundTripSummaryTest, MedianOfOddAndEvenCounts)
{
  RoundTripSummary summary;
  for (double ms : {5.0, 1.0, 3.0}) summary.addReply(ms);
  EXPECT_EQ(summary.median(), 3.0);
  summary.addReply(4.0);
  EXPECT_EQ(summary.median(), 3.5);
}

TEST(RoundTripSummaryTest, NinetyNinthPercentileIsTheNearestRank)
{
  RoundTripSummary summary;
  // 1 .. 200 shuffled: rank ceil(0.99 * 200) = 198.
  for (int i = 0; i < 200; ++i) summary.addReply(double((i * 37) % 200 + 1));
  EXPECT_EQ(summary.percentile(99), 198.0);
  RoundTripSummary few;
  for (double ms : {2.0, 9.0, 4.0}) few.addReply(ms);
  EXPECT_EQ(few.percentile(99), 9.0);
  EXPECT_EQ(few.percentile(0), 2.0);
}

TEST(RoundTripSummaryTest, TextCountsRequestsAndReplies)
{
  RoundTripSummary summary;
  summary.addRequest();
  EXPECT_EQ(summary.text(), "1 request, 0 replies");
  summary.addReply(0.25);
  summary.addRequest();
  summary.addReply(0.5);
  EXPECT_EQ(summary.text(), "2 requests, 2 replies; round trip median 0.375 ms, p99 0.500 ms");
}

}  // namespace
