// A plug-in for the position tests: it drives the position sampler from its own menu and
// prints what it samples, so tests can compare it with the host's own values.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "plugin/PositionSampler.h"
#include "plugin/xplm/XPLM.h"

namespace {

PositionSampler* sampler = nullptr;

void printRecord(const char* label, const PositionSample& sample)
{
  BaseAutorelease pool;
  BaseDictionary* record = PositionSampler::recordFromSample(sample);
  printf("probe: %s valid %d entries %u\n", label, sample.valid ? 1 : 0, record->count());
  for (unsigned int i = 0; i < record->count(); i++) {
    printf("probe: %s %s = %.17g\n", label, record->keyAtIndex(i)->cString(),
           static_cast<BaseNumber*>(record->objectForKeyIndex(i))->getDouble());
  }
  fflush(stdout);
}

void handler(void*, void* itemRef)
{
  switch (reinterpret_cast<intptr_t>(itemRef)) {
    case 1: sampler->startSampling(); break;
    case 2: sampler->stopSampling(); break;
    case 3: printRecord("latest", sampler->latestSample()); break;
    case 4: std::thread([] { printRecord("thread", sampler->latestSample()); }).join(); break;
    default: break;
  }
}

}  // namespace

PLUGIN_API int XPluginStart(char* outName, char* outSig, char* outDesc)
{
  strcpy(outName, "Position Probe");
  strcpy(outSig, "corvane.tests.positionprobe");
  strcpy(outDesc, "Samples the position record");
  XPLMMenuID plugins = XPLMFindPluginsMenu();
  int item = XPLMAppendMenuItem(plugins, "Position Probe", nullptr, 1);
  XPLMMenuID menu = XPLMCreateMenu("Position Probe", plugins, item, handler, nullptr);
  const char* items[] = {"Start sampling", "Stop sampling", "Print latest", "Print latest from a thread"};
  for (intptr_t i = 0; i < 4; i++) XPLMAppendMenuItem(menu, items[i], reinterpret_cast<void*>(i + 1), 1);
  sampler = new PositionSampler();
  return 1;
}

PLUGIN_API int XPluginEnable(void)
{
  return 1;
}

PLUGIN_API void XPluginDisable(void)
{
  sampler->stopSampling();
}

PLUGIN_API void XPluginStop(void)
{
  sampler->release();
  sampler = nullptr;
}

PLUGIN_API void XPluginReceiveMessage(int, int, void*) {}
