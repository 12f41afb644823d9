// The plug-in's face to the X-Plane host: its identity, the "Corvane" submenu, the
// creation and release of the one bridge, and the log sinks of a pilot's log.conf, kept
// while the plug-in is loaded. The host calls everything here on its main thread, one
// call at a time, so `bridge` and `logSinks` need no lock.
#include <unistd.h>

#include <cstring>
#include <string>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "plugin/GPSBridge.h"
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

// The sinks of the pilot's log.conf, one reference each, from XPluginStart to XPluginStop;
// null while the plug-in logs nothing.
BaseArray* logSinks = nullptr;

// Plain, unbuffered writes: these lines must not depend on the logging facility or on
// the host's stdio buffering.
void writeStderr(const char* message)
{
  ssize_t written = write(STDERR_FILENO, message, strlen(message));
  (void)written;
}

// The host hands out 256-byte buffers.
void copyIdentity(char* out, const char* text)
{
  strncpy(out, text, 255);
  out[255] = 0;
}

void MyMenuHandlerCallback(void* menuRef, void* itemRef);

}  // namespace

extern "C" __attribute__((visibility("default"))) void startGPSBridge()
{
  BaseAutorelease pool;
  if (bridge) {
    writeStderr("\nWARNING : bridge is already running\n");
    return;
  }
  writeStderr("\n*** Starting Corvane bridge\n");
  bridge = new GPSBridge();
}

extern "C" __attribute__((visibility("default"))) void stopGPSBridge()
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
}

PLUGIN_API int XPluginStart(char* outName, char* outSig, char* outDesc)
{
  // First, so that whatever goes wrong from here on can reach the pilot's log file.
  if (!logSinks) {
    std::string folder = LogConfiguration::pluginFolder();
    if (!folder.empty()) logSinks = LogConfiguration::loadSinks(folder + "/" + LogConfiguration::FILE_NAME);
  }
  copyIdentity(outName, PLUGIN_NAME);
  copyIdentity(outSig, PLUGIN_SIGNATURE);
  copyIdentity(outDesc, PLUGIN_DESCRIPTION);

  XPLMMenuID pluginsMenu = XPLMFindPluginsMenu();
  int item = XPLMAppendMenuItem(pluginsMenu, "Corvane", nullptr, 1);
  XPLMMenuID menu = XPLMCreateMenu("Corvane", pluginsMenu, item, MyMenuHandlerCallback, nullptr);
  XPLMAppendMenuItem(menu, "Start Corvane bridge", reinterpret_cast<void*>(START_ITEM), 1);
  XPLMAppendMenuItem(menu, "Stop Corvane bridge", reinterpret_cast<void*>(STOP_ITEM), 1);
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
  // After the bridge's stop, the last thing worth logging. Destroying the sinks closes the
  // log file and takes them out of the logging facility (a line that a late thread is
  // still writing is waited for).
  BaseObject::release(logSinks);
  logSinks = nullptr;
}

PLUGIN_API void XPluginReceiveMessage(int, int, void*) {}

namespace {

void MyMenuHandlerCallback(void*, void* itemRef)
{
  intptr_t item = reinterpret_cast<intptr_t>(itemRef);
  if (item == STOP_ITEM)
    stopGPSBridge();
  else if (item == START_ITEM)
    startGPSBridge();
}

}  // namespace
