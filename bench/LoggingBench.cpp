// What logging costs: a call site while no sink exists (against an empty loop), a call
// that a sink's filters refuse, a call written to a stream that discards it, and the
// formatting of a typical line by our engine (against snprintf), with and without the
// pool and the new string around it.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "io/IOAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"

namespace {

class DiscardStream : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    length = 0;
    return false;
  }
  bool writeIO(const void*, uint32_t) override { return true; }
};

void BM_EmptyLoop(benchmark::State& state)
{
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(i);
    i++;
  }
}
BENCHMARK(BM_EmptyLoop);

void BM_LogCallSiteWithoutSink(benchmark::State& state)
{
  int i = 0;
  for (auto _ : state) {
    BASE_LOG(nullptr, eMsgInfo, "iteration %i of %s", i, "the loop");
    benchmark::DoNotOptimize(i);
    i++;
  }
}
BENCHMARK(BM_LogCallSiteWithoutSink);

// A sink exists (so the call is made) but its filters refuse Debug calls.
void BM_LogCallRefusedByFilter(benchmark::State& state)
{
  DiscardStream* stream = new DiscardStream();
  char target[64];
  snprintf(target, sizeof target, "io:%p", static_cast<void*>(stream));
  DebugManager* sink = new DebugManager(nullptr, target, "info");
  int i = 0;
  for (auto _ : state) {
    BASE_LOG(nullptr, eMsgDebug, "iteration %i of %s", i, "the loop");
    benchmark::DoNotOptimize(i);
    i++;
  }
  sink->release();
  stream->release();
}
BENCHMARK(BM_LogCallRefusedByFilter);

// Filtered, formatted, built in the default line format and written to a stream.
void BM_LogCallWritten(benchmark::State& state)
{
  DiscardStream* stream = new DiscardStream();
  char target[64];
  snprintf(target, sizeof target, "io:%p", static_cast<void*>(stream));
  DebugManager* sink = new DebugManager(nullptr, target, "info");
  BaseAutorelease threadPool;  // framework threads run inside a pool of their own
  int i = 0;
  for (auto _ : state) {
    BASE_LOG(nullptr, eMsgInfo, "iteration %i of %s", i, "the loop");
    benchmark::DoNotOptimize(i);
    i++;
  }
  sink->release();
  stream->release();
}
BENCHMARK(BM_LogCallWritten);

void BM_FormatLineEngine(benchmark::State& state)
{
  BaseString* name = new BaseString("client-42");
  for (auto _ : state) {
    BaseAutorelease pool;
    BaseString* line = BaseString::stringWithFormat("connection %S from %s:%i after %.3f s", name,
                                                    "127.0.0.1", 21777, 1.234567);
    benchmark::DoNotOptimize(line->cString());
  }
  name->release();
}
BENCHMARK(BM_FormatLineEngine);

// The engine alone: the same line formatted again into one string, no pool and no new object.
void BM_FormatLineEngineInPlace(benchmark::State& state)
{
  BaseString* name = new BaseString("client-42");
  BaseString* line = new BaseString(64u);
  for (auto _ : state) {
    line->setCString("", 0);
    line->appendFormat("connection %S from %s:%i after %.3f s", name, "127.0.0.1", 21777, 1.234567);
    benchmark::DoNotOptimize(line->cString());
  }
  line->release();
  name->release();
}
BENCHMARK(BM_FormatLineEngineInPlace);

void BM_FormatLineSnprintf(benchmark::State& state)
{
  const char* name = "client-42";
  char line[256];
  for (auto _ : state) {
    int length = snprintf(line, sizeof line, "connection %s from %s:%i after %.3f s", name, "127.0.0.1",
                          21777, 1.234567);
    benchmark::DoNotOptimize(length);
    benchmark::DoNotOptimize(line);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FormatLineSnprintf);

}  // namespace
