// The round trips of one run, in milliseconds, and the closing summary made of them:
// requests, replies, median and 99th percentile. Owned by the polling loop; one thread.
#pragma once

#include <string>
#include <vector>

class RoundTripSummary
{
public:
  void addRequest() { ++m_requests; }
  void addReply(double milliseconds) { m_roundTrips.push_back(milliseconds); }

  long long requests() const { return m_requests; }
  size_t replies() const { return m_roundTrips.size(); }
  // The middle value, or the mean of the two middle ones; 0 without replies.
  double median() const;
  // Nearest rank: the smallest value with at least `percent` % of the values at or below
  // it; 0 without replies.
  double percentile(double percent) const;
  // "3 requests, 3 replies; round trip median 0.412 ms, p99 0.873 ms" (no newline).
  std::string text() const;

private:
  std::vector<double> sorted() const;

  long long m_requests = 0;
  std::vector<double> m_roundTrips;
};
