// What one position request costs end to end: the app session sends {"cmd_id": "1"}, the
// server session reads it on its thread, the delegate answers with the ten-double record
// filled again for the request, as GPSBridge does, and the app session reads the record. Against a raw TCP
// ping-pong on 127.0.0.1 with the same message sizes: alone first, then interleaved with
// the bridge's requests one for one, so that "vs_raw" (the ratio of the two medians) does
// not move with whatever else the machine runs meanwhile. Each request is timed on its
// own: median and 99th percentile in microseconds, and requests per second. Whether the
// two ends share a core moves the raw figure most (taskset -c 0 to compare): the bridge's
// own cost is the difference of the medians.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "BridgeBenchSupport.h"

using namespace bridgebench;

namespace {

struct Percentiles
{
  double median;
  double p99;
};

Percentiles percentilesOf(std::vector<double>& samples)
{
  if (samples.empty()) return {0, 0};
  std::sort(samples.begin(), samples.end());
  auto at = [&](double fraction) { return samples[size_t(fraction * double(samples.size() - 1) + 0.5)]; };
  return {at(0.5), at(0.99)};
}

double microsecondsSince(std::chrono::steady_clock::time_point start)
{
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

void reportFigures(benchmark::State& state, std::vector<double>& samples)
{
  Percentiles figures = percentilesOf(samples);
  state.counters["median_us"] = figures.median;
  state.counters["p99_us"] = figures.p99;
}

void BM_RawPingPong(benchmark::State& state)
{
  BaseAutorelease pool;
  BaseDictionary* request = newPositionRequest();
  size_t requestSize = encodedSize(request);
  size_t replySize = encodedSize(positionRecord());
  request->release();
  RawPingPong raw(requestSize, replySize);
  if (!raw.ready()) {
    state.SkipWithError("no loopback connection");
    return;
  }
  std::vector<double> samples;
  samples.reserve(size_t(state.max_iterations));
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!raw.roundTrip()) {
      state.SkipWithError("no reply");
      return;
    }
    samples.push_back(microsecondsSince(start));
  }
  reportFigures(state, samples);
  state.counters["req_per_s"] = benchmark::Counter(double(samples.size()), benchmark::Counter::kIsRate);
  state.counters["request_bytes"] = double(requestSize);
  state.counters["reply_bytes"] = double(replySize);
}
BENCHMARK(BM_RawPingPong)->Iterations(20000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The iteration time is the bridge's request alone (manual time); the raw exchange that
// follows each one only feeds "raw_median_us" and "vs_raw".
void BM_BridgeRoundTrip(benchmark::State& state)
{
  BaseAutorelease pool;
  BridgeLoopback bridge;
  BaseDictionary* request = newPositionRequest();
  RawPingPong raw(encodedSize(request), encodedSize(positionRecord()));
  request->release();
  if (!bridge.ready() || !raw.ready()) {
    state.SkipWithError("the app session did not log in");
    return;
  }
  std::vector<double> samples, rawSamples;
  samples.reserve(size_t(state.max_iterations));
  rawSamples.reserve(size_t(state.max_iterations));
  double total = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    bool answered = bridge.roundTrip();
    double elapsed = microsecondsSince(start);
    start = std::chrono::steady_clock::now();
    answered = raw.roundTrip() && answered;
    rawSamples.push_back(microsecondsSince(start));
    if (!answered) {
      state.SkipWithError("no reply");
      return;
    }
    samples.push_back(elapsed);
    total += elapsed;
    state.SetIterationTime(elapsed / 1e6);
  }
  reportFigures(state, samples);
  state.counters["req_per_s"] = total > 0 ? double(samples.size()) / (total / 1e6) : 0;
  double rawMedian = percentilesOf(rawSamples).median;
  state.counters["raw_median_us"] = rawMedian;
  if (rawMedian > 0) state.counters["vs_raw"] = percentilesOf(samples).median / rawMedian;
}
BENCHMARK(BM_BridgeRoundTrip)->Iterations(20000)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
