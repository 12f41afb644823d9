// A long flight: one million position requests over one app session, as in
// BridgeRoundTripBench, with the process's resident memory read after a warm-up and again
// at the end. Every request's temporaries live in per-request pools on both sides, so the
// two figures must match. One run of about half a minute (Release build, 127.0.0.1).
#include <benchmark/benchmark.h>

#include "BridgeBenchSupport.h"

using namespace bridgebench;

namespace {

const int WARM_UP_REQUESTS = 20000;
const int SOAK_REQUESTS = 1000000;

void BM_BridgeSoak(benchmark::State& state)
{
  BaseAutorelease pool;
  BridgeLoopback bridge;
  if (!bridge.ready()) {
    state.SkipWithError("the app session did not log in");
    return;
  }
  // Buffers, pools and the allocator's arenas reach their working size first.
  for (int i = 0; i < WARM_UP_REQUESTS; i++) {
    if (!bridge.roundTrip()) {
      state.SkipWithError("no reply during the warm-up");
      return;
    }
  }
  long before = residentKiB();
  for (auto _ : state) {
    for (int i = 0; i < SOAK_REQUESTS; i++) {
      if (!bridge.roundTrip()) {
        state.SkipWithError("no reply");
        return;
      }
    }
  }
  long after = residentKiB();
  state.counters["rss_before_kib"] = double(before);
  state.counters["rss_after_kib"] = double(after);
  state.counters["rss_growth_kib"] = double(after - before);
  state.counters["req_per_s"] = benchmark::Counter(double(SOAK_REQUESTS), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BridgeSoak)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
