// What the bridge costs the simulator per frame, measured inside a host: a plug-in whose menu
// item runs the benchmarks on the host's main thread, where the frame callback runs. The
// frame's work (ten data reference reads, the hand-over to the app's thread, the check for
// lines waiting for the host's log) beside one XPLMGetDatad call of the same host:
//   corvane-sim --no-stdin -c "menu Run frame benchmark" frame_bench.xpl
#include <benchmark/benchmark.h>

#include "object/BaseAutorelease.h"
#include "plugin/PositionSampler.h"
#include "plugin/xplm/XPLM.h"

namespace {

PositionSampler* sampler = nullptr;

void BM_HostGetDatad(benchmark::State& state)
{
  XPLMDataRef latitude = XPLMFindDataRef(PositionSampler::dataRefAt(0));
  for (auto _ : state) benchmark::DoNotOptimize(XPLMGetDatad(latitude));
}
BENCHMARK(BM_HostGetDatad)->Repetitions(10)->ReportAggregatesOnly(true);

void BM_FrameCallback(benchmark::State& state)
{
  for (auto _ : state) sampler->sampleFrame();
}
BENCHMARK(BM_FrameCallback)->Repetitions(10)->ReportAggregatesOnly(true);

void runBenchmarks(void*, void*)
{
  BaseAutorelease pool;
  sampler = new PositionSampler();
  int argc = 1;
  char name[] = "frame_bench";
  char* argv[] = {name, nullptr};
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  sampler->release();
  sampler = nullptr;
}

}  // namespace

PLUGIN_API int XPluginStart(char* name, char* signature, char* description)
{
  snprintf(name, 256, "Corvane frame benchmark");
  snprintf(signature, 256, "com.corvane.framebench");
  snprintf(description, 256, "Measures the bridge's work per frame.");
  XPLMMenuID plugins = XPLMFindPluginsMenu();
  int item = XPLMAppendMenuItem(plugins, "Corvane frame benchmark", nullptr, 1);
  XPLMMenuID menu = XPLMCreateMenu("Corvane frame benchmark", plugins, item, runBenchmarks, nullptr);
  XPLMAppendMenuItem(menu, "Run frame benchmark", nullptr, 1);
  return 1;
}
PLUGIN_API int XPluginEnable(void)
{
  return 1;
}
PLUGIN_API void XPluginDisable(void) {}
PLUGIN_API void XPluginStop(void) {}
PLUGIN_API void XPluginReceiveMessage(int, int, void*) {}
