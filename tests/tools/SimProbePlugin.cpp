// A plug-in that exercises what the Corvane plug-in needs of corvane-sim: menus and their item
// states, commands, flight loops, data reads on the main thread and, when asked, XPLM calls on its
// own threads; one "probe: ..." line on standard output per event. Its state belongs to the host's
// main thread; its threads hand results back through join. SIM_PROBE_KEEP_HANDLERS in the
// environment leaves its command handlers registered at stop.
#include "plugin/xplm/XPLM.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

enum ItemRef
{
  eReadDataRefs = 1,
  eReadOnThread,
  eStartLoops,
  eLoopReport,
  eMisuseHost,
  eStartBackground,
  eJoinBackground,
  eAppendFromThread,
  eItemStates,
};
const char* const kItemNames[] = {"Read datarefs",         "Read on thread",     "Start loops",
                                  "Loop report",           "Misuse host",        "Start background reads",
                                  "Join background reads", "Append from thread", "Item states"};
const char* const kDataRefNames[] = {"sim/flightmodel/position/latitude", "sim/flightmodel/position/psi"};
const int kBackgroundReads = 200;
void* const kProbeMenuRef = reinterpret_cast<void*>(77);

#define say(format, ...) (std::printf("probe: " format "\n", ##__VA_ARGS__), std::fflush(stdout))

XPLMMenuID g_probeMenu = nullptr;
int g_probeItem = -1;
XPLMCommandRef g_tap = nullptr;
std::thread g_background;
int g_backgroundInRange = 0;
bool g_enabled = false;
bool g_stopped = false;

struct LoopCounts
{
  int every = 0, half = 0, oneShot = 0, self = 0;
} g_loops;

// Checks its command by the ref XPLMFindCommand gives, so a ref that differs from the created one shows.
int commandHandler(XPLMCommandRef command, XPLMCommandPhase phase, void* refcon)
{
  static const char* const kPhases[] = {"begin", "continue", "end"};
  say("command %s %s handler %ld", command == XPLMFindCommand("probe/tap") ? "probe/tap" : "?",
      phase >= 0 && phase <= 2 ? kPhases[phase] : "?", static_cast<long>(reinterpret_cast<intptr_t>(refcon)));
  return 1;
}

float everyFrame(float, float, int, void* refcon)
{
  if (refcon != &g_loops) say("everyFrame: wrong refcon %p", refcon);
  if (!g_enabled || g_stopped) say("everyFrame: called while %s", g_stopped ? "stopped" : "disabled");
  ++g_loops.every;
  return -1.0f;
}

float halfSecond(float, float, int, void*)
{
  ++g_loops.half;
  return 0.5f;
}

float oneShot(float, float, int, void*)
{
  ++g_loops.oneShot;
  return 0.0f;
}

float selfRemoving(float, float, int, void*)
{
  if (++g_loops.self == 2) XPLMUnregisterFlightLoopCallback(selfRemoving, nullptr);
  return -3.0f;  // ignored once unregistered
}

void startLoops()
{
  XPLMRegisterFlightLoopCallback(everyFrame, -1.0f, &g_loops);
  XPLMRegisterFlightLoopCallback(halfSecond, 0.5f, nullptr);
  XPLMRegisterFlightLoopCallback(oneShot, -10.0f, nullptr);
  XPLMRegisterFlightLoopCallback(selfRemoving, -3.0f, nullptr);
}

void loopReport()
{
  say("loops every=%d half=%d oneshot=%d self=%d", g_loops.every, g_loops.half, g_loops.oneShot,
      g_loops.self);
}

void readDataRefs()
{
  for (const char* name : kDataRefNames) {
    XPLMDataRef handle = XPLMFindDataRef(name);
    say("read %s = %.17g as float %.17g", name, XPLMGetDatad(handle),
        static_cast<double>(XPLMGetDataf(handle)));
  }
}

// The handle is found on the main thread so that the thread makes exactly one XPLM call.
void readOnThread()
{
  XPLMDataRef handle = XPLMFindDataRef(kDataRefNames[0]);
  double value = 0;
  std::thread reader([&] { value = XPLMGetDatad(handle); });
  reader.join();
  say("thread read %.17g", value);
}

// Handles the host never handed out: they read as zero, and the host counts each read.
void misuseHost()
{
  int local = 0;
  say("find unknown dataref -> %s", XPLMFindDataRef("sim/no/such/dataref") ? "handle" : "null");
  say("read null -> %g %g", XPLMGetDatad(nullptr), static_cast<double>(XPLMGetDataf(nullptr)));
  say("read foreign -> %g %g", XPLMGetDatad(&local), static_cast<double>(XPLMGetDataf(&local)));
}

void startBackground()
{
  XPLMDataRef latitude = XPLMFindDataRef(kDataRefNames[0]);
  XPLMDataRef heading = XPLMFindDataRef(kDataRefNames[1]);
  g_background = std::thread([latitude, heading] {
    int inRange = 0;
    for (int i = 0; i < kBackgroundReads; ++i) {
      const double lat = XPLMGetDatad(latitude);
      const float psi = XPLMGetDataf(heading);
      if (std::fabs(lat) <= 90.0 && psi >= 0.0f && psi < 360.0f) ++inRange;
      std::this_thread::yield();
    }
    g_backgroundInRange = inRange;
  });
}

void joinBackground()
{
  if (g_background.joinable()) g_background.join();
  say("background reads in range: %d of %d", g_backgroundInRange, kBackgroundReads);
}

// Every call but the data reads is refused off the main thread; the host's state must not change.
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
    XPLMUnregisterCommandHandler(g_tap, commandHandler, 1, reinterpret_cast<void*>(1));
  });
  appender.join();
  say("append from thread -> %d, create command -> %s, find command -> %s", index, created ? "ref" : "null",
      found ? "ref" : "null");
}

void setItemStates()
{
  XPLMCheckMenuItem(g_probeMenu, eReadDataRefs - 1, xplm_Menu_Unchecked);
  XPLMCheckMenuItem(g_probeMenu, eLoopReport - 1, xplm_Menu_Checked);
  XPLMCheckMenuItem(g_probeMenu, eLoopReport - 1, xplm_Menu_NoCheck);
  XPLMEnableMenuItem(g_probeMenu, eMisuseHost - 1, 0);
  XPLMEnableMenuItem(g_probeMenu, eMisuseHost - 1, 1);
  XPLMEnableMenuItem(g_probeMenu, eStartLoops - 1, 0);
  XPLMCheckMenuItem(g_probeMenu, eStartLoops - 1, xplm_Menu_Checked);
  XPLMCheckMenuItem(g_probeMenu, eItemStates - 1, xplm_Menu_Checked);
}

void menuHandler(void* menuRef, void* itemRef)
{
  const intptr_t item = reinterpret_cast<intptr_t>(itemRef);
  say("menu handler menuRef=%ld itemRef=%ld", static_cast<long>(reinterpret_cast<intptr_t>(menuRef)),
      static_cast<long>(item));
  if (menuRef != kProbeMenuRef) return;
  void (*const actions[])() = {readDataRefs,    readOnThread,   startLoops,       loopReport,   misuseHost,
                               startBackground, joinBackground, appendFromThread, setItemStates};
  if (item >= eReadDataRefs && item <= eItemStates) actions[item - eReadDataRefs]();
}

void buildMenus()
{
  XPLMMenuID plugins = XPLMFindPluginsMenu();
  g_probeItem = XPLMAppendMenuItem(plugins, "Probe", nullptr, 1);
  g_probeMenu = XPLMCreateMenu("Probe", plugins, g_probeItem, menuHandler, kProbeMenuRef);
  std::string indexes;
  intptr_t ref = eReadDataRefs;
  for (const char* name : kItemNames)
    indexes += " " + std::to_string(XPLMAppendMenuItem(g_probeMenu, name, reinterpret_cast<void*>(ref++), 1));
  say("menu item %d, submenu items at%s", g_probeItem, indexes.c_str());
}

// probe/tap: before handler 1 and after handler 2. The second create must find the first
// command, description and all.
void registerCommands()
{
  g_tap = XPLMCreateCommand("probe/tap", "Tap the probe");
  XPLMRegisterCommandHandler(g_tap, commandHandler, 1, reinterpret_cast<void*>(1));
  XPLMRegisterCommandHandler(XPLMCreateCommand("probe/tap", "Other text"), commandHandler, 0,
                             reinterpret_cast<void*>(2));
}

void unregisterCommands()
{
  XPLMUnregisterCommandHandler(g_tap, commandHandler, 1, reinterpret_cast<void*>(1));
  XPLMUnregisterCommandHandler(g_tap, commandHandler, 0, reinterpret_cast<void*>(2));
}

}  // namespace

PLUGIN_API int XPluginStart(char* outName, char* outSig, char* outDesc)
{
  say("start");
  std::strcpy(outName, "Sim Probe");
  std::strcpy(outSig, "corvane.tests.simprobe");
  std::strcpy(outDesc, "Exercises the stand-in host");
  buildMenus();
  registerCommands();
  return 1;
}

PLUGIN_API int XPluginEnable(void)
{
  say("enable");
  g_enabled = true;
  return 1;
}

PLUGIN_API void XPluginDisable(void)
{
  say("disable");
  g_enabled = false;
}

PLUGIN_API void XPluginStop(void)
{
  if (g_background.joinable()) g_background.join();
  if (std::getenv("SIM_PROBE_KEEP_HANDLERS") == nullptr) unregisterCommands();
  g_stopped = true;
  say("stop");
}

PLUGIN_API void XPluginReceiveMessage(int inFrom, int inMessage, void* inParam)
{
  say("message from=%d msg=%d param=%ld", inFrom, inMessage,
      static_cast<long>(reinterpret_cast<intptr_t>(inParam)));
}
