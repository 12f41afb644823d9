// A plug-in that makes XPLM calls on the host's main thread and, when asked, on its own threads,
// for the host's threading tests; one "probe: ..." line on standard output per result.
#include "plugin/xplm/XPLM.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <thread>

namespace {

const char* const kLatitude = "sim/flightmodel/position/latitude";

#define say(format, ...) (std::printf("probe: " format "\n", ##__VA_ARGS__), std::fflush(stdout))

XPLMMenuID g_probeMenu = nullptr;
XPLMCommandRef g_tap = nullptr;

int commandHandler(XPLMCommandRef, XPLMCommandPhase, void*)
{
  return 1;
}

void readDataRefs()
{
  say("read %.17g", XPLMGetDatad(XPLMFindDataRef(kLatitude)));
}

// The handle is found on the main thread so that the thread makes exactly one XPLM call.
void readOnThread()
{
  XPLMDataRef handle = XPLMFindDataRef(kLatitude);
  double value = 0;
  std::thread reader([&] { value = XPLMGetDatad(handle); });
  reader.join();
  say("thread read %.17g", value);
}

// Every call but the data reads is refused off the main thread.
void appendFromThread()
{
  int index = 0;
  XPLMCommandRef created = nullptr, found = nullptr;
  std::thread appender([&] {
    index = XPLMAppendMenuItem(g_probeMenu, "Late item", nullptr, 1);
    XPLMEnableMenuItem(g_probeMenu, 0, 0);
    XPLMCheckMenuItem(g_probeMenu, 0, xplm_Menu_Checked);
    XPLMDebugString("Sim Probe: from a thread\n");
    created = XPLMCreateCommand("probe/thread", "From a thread");
    found = XPLMFindCommand("probe/tap");
    XPLMRegisterCommandHandler(g_tap, commandHandler, 0, nullptr);
    XPLMUnregisterCommandHandler(g_tap, commandHandler, 1, nullptr);
  });
  appender.join();
  say("append from thread -> %d, create command -> %s, find command -> %s", index, created ? "ref" : "null",
      found ? "ref" : "null");
}

void menuHandler(void*, void* itemRef)
{
  void (*const actions[])() = {readDataRefs, readOnThread, appendFromThread};
  const intptr_t item = reinterpret_cast<intptr_t>(itemRef);
  if (item >= 1 && item <= 3) actions[item - 1]();
}

}  // namespace

PLUGIN_API int XPluginStart(char* outName, char* outSig, char* outDesc)
{
  std::strcpy(outName, "Sim Probe");
  std::strcpy(outSig, "corvane.tests.simprobe");
  std::strcpy(outDesc, "Exercises the stand-in host");
  XPLMMenuID plugins = XPLMFindPluginsMenu();
  g_probeMenu = XPLMCreateMenu("Probe", plugins, XPLMAppendMenuItem(plugins, "Probe", nullptr, 1), menuHandler,
                               nullptr);
  intptr_t ref = 1;
  for (const char* name : {"Read datarefs", "Read on thread", "Append from thread"})
    XPLMAppendMenuItem(g_probeMenu, name, reinterpret_cast<void*>(ref++), 1);
  g_tap = XPLMCreateCommand("probe/tap", "Tap the probe");
  return 1;
}

PLUGIN_API int XPluginEnable(void)
{
  return 1;
}

PLUGIN_API void XPluginDisable(void) {}

PLUGIN_API void XPluginStop(void) {}

PLUGIN_API void XPluginReceiveMessage(int, int, void*) {}
