#include "SimCallTimes.h"

#include "SimOutput.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace {

// Below this every microsecond is its own bucket; above it each doubling has kSteps buckets.
constexpr uint64_t kExact = 1024;
constexpr uint32_t kSteps = 512;
constexpr int kExactBits = 10;  // log2(kExact)
constexpr int kStepBits = 9;    // log2(kSteps)

}  // namespace

SimCallTimes::Scope::Scope(SimCallTimes& times, std::string kind, bool perFrame)
    : m_times(times), m_kind(std::move(kind)), m_perFrame(perFrame), m_start(std::chrono::steady_clock::now())
{
}

SimCallTimes::Scope::~Scope()
{
  const auto took = std::chrono::steady_clock::now() - m_start;
  const uint64_t microseconds =
      static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(took).count());
  m_times.record(m_kind, microseconds);
  if (m_times.m_printEach && !m_perFrame)
    SimOutput::say("took %" PRIu64 " us: %s", microseconds, m_kind.c_str());
}

uint32_t SimCallTimes::bucketOf(uint64_t microseconds)
{
  if (microseconds < kExact) return static_cast<uint32_t>(microseconds);
  const int exponent = 63 - __builtin_clzll(microseconds);
  const uint32_t step = static_cast<uint32_t>(microseconds >> (exponent - kStepBits)) & (kSteps - 1);
  return static_cast<uint32_t>(kExact) + static_cast<uint32_t>(exponent - kExactBits) * kSteps + step;
}

uint64_t SimCallTimes::lowestIn(uint32_t bucket)
{
  if (bucket < kExact) return bucket;
  const uint32_t above = bucket - static_cast<uint32_t>(kExact);
  const int exponent = static_cast<int>(above / kSteps) + kExactBits;
  return (uint64_t{kSteps} + above % kSteps) << (exponent - kStepBits);
}

void SimCallTimes::record(const std::string& kind, uint64_t microseconds)
{
  auto found = m_index.find(kind);
  if (found == m_index.end()) {
    found = m_index.emplace(kind, m_kinds.size()).first;
    m_kinds.push_back(Kind{kind, 0, 0, {}});
  }
  Kind& entry = m_kinds[found->second];
  ++entry.count;
  if (microseconds > entry.max) entry.max = microseconds;
  ++entry.buckets[bucketOf(microseconds)];
}

std::vector<std::string> SimCallTimes::lines() const
{
  std::vector<std::string> lines;
  for (const Kind& kind : m_kinds) {
    // The lower median: the middle call of an odd count, the first of the middle two otherwise.
    const uint64_t rank = (kind.count + 1) / 2;
    uint64_t seen = 0, median = 0;
    for (const auto& bucket : kind.buckets) {
      seen += bucket.second;
      if (seen >= rank) {
        median = lowestIn(bucket.first);
        break;
      }
    }
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ": %" PRIu64 " calls, median %" PRIu64 " us, max %" PRIu64 " us",
                  kind.count, median, kind.max);
    lines.push_back(kind.name + numbers);
  }
  return lines;
}
