// The plug-in's face to the X-Plane host: its identity, the "Corvane" submenu and the
// commands a pilot can bind to keys, the creation and release of the one bridge, and the
// log sinks of a pilot's log.conf, kept while the plug-in is loaded. The host calls
// everything here on its main thread, one call at a time, so the state here needs no lock.

#include <cstring>
#include <string>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "net/MDnsPublication.h"
#include "platform/Console.h"
#include "platform/DynamicLibrary.h"
#include "platform/Sockets.h"
#include "plugin/GPSBridge.h"
#include "plugin/HostLog.h"
#include "plugin/LogConfiguration.h"
#include "plugin/xplm/XPLM.h"

namespace {

const char PLUGIN_NAME[] = "Corvane";
const char PLUGIN_SIGNATURE[] = "com.corvane.bridge";
const char PLUGIN_DESCRIPTION[] = "A plugin that forward navigation coordinates to Corvane for iPhone/iPad.";

const intptr_t START_ITEM = 1;
const intptr_t STOP_ITEM = 2;

// The running bridge, owning one reference; null when stopped.
GPSBridge* bridge = nullptr;

// The submenu and its two items, so that the menu can show whether the bridge runs.
XPLMMenuID menu = nullptr;
int startItem = -1;
int stopItem = -1;

// The commands, bound by the pilot to keys or buttons; each acts when pressed.
struct BridgeCommand
{
  const char* name;
  const char* description;
  XPLMCommandRef ref;
};
enum
{
  START_COMMAND,
  STOP_COMMAND,
  TOGGLE_COMMAND,
  COMMAND_COUNT
};
BridgeCommand commands[COMMAND_COUNT] = {
    {"corvane/bridge/start", "Start the Corvane bridge", nullptr},
    {"corvane/bridge/stop", "Stop the Corvane bridge", nullptr},
    {"corvane/bridge/toggle", "Start or stop the Corvane bridge", nullptr},
};

// The sinks of the pilot's log.conf, one reference each, from XPluginStart to XPluginStop;
// null while the plug-in logs nothing.
BaseArray* logSinks = nullptr;

// Plain, unbuffered writes: these lines must not depend on the logging facility or on
// the host's stdio buffering.
void writeStderr(const char* message)
{
  platform::writeStandardError(message, strlen(message));
}

// The host hands out 256-byte buffers.
void copyIdentity(char* out, const char* text)
{
  strncpy(out, text, 255);
  out[255] = 0;
}

void MyMenuHandlerCallback(void* menuRef, void* itemRef);
int commandHandler(XPLMCommandRef command, XPLMCommandPhase phase, void* refcon);

// Start is offered while stopped, Stop while running; Start carries a check mark while running.
void showState()
{
  if (!menu) return;
  XPLMEnableMenuItem(menu, startItem, bridge ? 0 : 1);
  XPLMEnableMenuItem(menu, stopItem, bridge ? 1 : 0);
  XPLMCheckMenuItem(menu, startItem, bridge ? xplm_Menu_Checked : xplm_Menu_Unchecked);
}

// A DNS-SD registration given up while its daemon hung may still be running our code after
// the host unloads us: then this module stays mapped for the rest of the process.
bool socketsStarted = false;  // by XPluginStart, until XPluginStop

void keepModuleIfThreadsRemain()
{
  if (MDnsPublication::abandonedCount() == 0) return;
  platform::pinModuleOf(reinterpret_cast<const void*>(&keepModuleIfThreadsRemain));
}

}  // namespace

PLUGIN_API void startGPSBridge()
{
  BaseAutorelease pool;
  if (bridge) {
    writeStderr("\nWARNING : bridge is already running\n");
    return;
  }
  writeStderr("\n*** Starting Corvane bridge\n");
  bridge = new GPSBridge();
  showState();
  HostLog::flush();
}

PLUGIN_API void stopGPSBridge()
{
  BaseAutorelease pool;
  if (!bridge) {
    writeStderr("\nWARNING : bridge is already stopped\n");
    return;
  }
  writeStderr("\n*** Stopping Corvane bridge\n");
  GPSBridge* stopping = bridge;
  bridge = nullptr;
  stopping->stop();
  stopping->release();
  showState();
  HostLog::flush();
}

PLUGIN_API int XPluginStart(char* outName, char* outSig, char* outDesc)
{
  // First, so that whatever goes wrong from here on can reach the pilot's log file.
  if (!logSinks) {
    std::string folder = LogConfiguration::pluginFolder();
    if (!folder.empty()) logSinks = LogConfiguration::loadSinks(folder + "/" + LogConfiguration::FILE_NAME);
  }
  // Counted: another plug-in's use of the socket library is not disturbed by ours.
  if (!socketsStarted) socketsStarted = platform::startSockets();
  copyIdentity(outName, PLUGIN_NAME);
  copyIdentity(outSig, PLUGIN_SIGNATURE);
  copyIdentity(outDesc, PLUGIN_DESCRIPTION);

  XPLMMenuID pluginsMenu = XPLMFindPluginsMenu();
  int item = XPLMAppendMenuItem(pluginsMenu, "Corvane", nullptr, 1);
  menu = XPLMCreateMenu("Corvane", pluginsMenu, item, MyMenuHandlerCallback, nullptr);
  startItem = XPLMAppendMenuItem(menu, "Start Corvane bridge", reinterpret_cast<void*>(START_ITEM), 1);
  stopItem = XPLMAppendMenuItem(menu, "Stop Corvane bridge", reinterpret_cast<void*>(STOP_ITEM), 1);
  showState();
  for (BridgeCommand& command : commands) {
    command.ref = XPLMCreateCommand(command.name, command.description);
    XPLMRegisterCommandHandler(command.ref, commandHandler, 1, &command);
  }
  return 1;
}

PLUGIN_API int XPluginEnable(void)
{
  return 1;
}

PLUGIN_API void XPluginDisable(void)
{
  stopGPSBridge();
}

PLUGIN_API void XPluginStop(void)
{
  stopGPSBridge();
  for (BridgeCommand& command : commands) {
    if (command.ref) XPLMUnregisterCommandHandler(command.ref, commandHandler, 1, &command);
    command.ref = nullptr;
  }
  menu = nullptr;
  keepModuleIfThreadsRemain();
  // A registration still running keeps its sockets: the library stays started under it.
  if (socketsStarted && MDnsPublication::abandonedCount() == 0) platform::stopSockets(), socketsStarted = false;
  // After the bridge's stop, the last thing worth logging. Destroying the sinks closes the
  // log file and takes them out of the logging facility (a line that a late thread is
  // still writing is waited for).
  BaseObject::release(logSinks);
  logSinks = nullptr;
}

PLUGIN_API void XPluginReceiveMessage(int, int, void*) {}

namespace {

int commandHandler(XPLMCommandRef, XPLMCommandPhase phase, void* refcon)
{
  if (phase != xplm_CommandBegin) return 1;
  const BridgeCommand* command = static_cast<const BridgeCommand*>(refcon);
  if (command == &commands[START_COMMAND] || (command == &commands[TOGGLE_COMMAND] && !bridge))
    startGPSBridge();
  else
    stopGPSBridge();
  return 1;
}

void MyMenuHandlerCallback(void*, void* itemRef)
{
  intptr_t item = reinterpret_cast<intptr_t>(itemRef);
  if (item == STOP_ITEM)
    stopGPSBridge();
  else if (item == START_ITEM)
    startGPSBridge();
}

}  // namespace
