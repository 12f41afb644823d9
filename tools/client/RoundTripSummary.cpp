#include "RoundTripSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::vector<double> RoundTripSummary::sorted() const
{
  std::vector<double> values = m_roundTrips;
  std::sort(values.begin(), values.end());
  return values;
}

double RoundTripSummary::median() const
{
  const std::vector<double> values = sorted();
  const size_t n = values.size();
  if (n == 0) return 0;
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double RoundTripSummary::percentile(double percent) const
{
  const std::vector<double> values = sorted();
  if (values.empty()) return 0;
  size_t rank = size_t(std::ceil(percent / 100 * double(values.size())));
  return values[std::min(std::max<size_t>(rank, 1), values.size()) - 1];
}

std::string RoundTripSummary::text() const
{
  char line[160];
  int length = snprintf(line, sizeof line, "%lld request%s, %zu repl%s", m_requests,
                        m_requests == 1 ? "" : "s", replies(), replies() == 1 ? "y" : "ies");
  if (replies() > 0)
    snprintf(line + length, sizeof line - length, "; round trip median %.3f ms, p99 %.3f ms", median(),
             percentile(99));
  return line;
}
