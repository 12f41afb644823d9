// The XPLM functions the plug-in imports, exported from the executable (XPLM_API plus
// ENABLE_EXPORTS) so that dlopen resolves them here. Each one checks its thread first: data
// reference reads are served from any thread, everything else (menus, commands, the log, flight
// loops) only on the main thread, because those structures belong to it alone.
#include "SimHost.h"
#include "SimOutput.h"
#include "plugin/xplm/XPLM.h"

XPLM_API XPLMMenuID XPLMFindPluginsMenu(void)
{
  SimHost* host = SimHost::current();
  if (host == nullptr) return nullptr;
  host->checkThread("XPLMFindPluginsMenu");
  return host->menus().pluginsMenu();  // a constant: safe to hand to any thread
}

XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName, XPLMMenuID inParentMenu, int inParentItem,
                                   XPLMMenuHandler_f inHandler, void* inMenuRef)
{
  SimHost* host = SimHost::current();
  if (host == nullptr || !host->checkThread("XPLMCreateMenu")) return nullptr;
  return host->menus().create(inName, inParentMenu, inParentItem, inHandler, inMenuRef);
}

XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char* inItemName, void* inItemRef,
                                int inForceEnglish)
{
  SimHost* host = SimHost::current();
  if (host == nullptr || !host->checkThread("XPLMAppendMenuItem")) return -1;
  return host->menus().append(inMenu, inItemName, inItemRef);
}

XPLM_API void XPLMEnableMenuItem(XPLMMenuID inMenu, int inIndex, int inEnabled)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMEnableMenuItem"))
    host->menus().enableItem(inMenu, inIndex, inEnabled != 0);
}

XPLM_API void XPLMCheckMenuItem(XPLMMenuID inMenu, int inIndex, XPLMMenuCheck inCheck)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMCheckMenuItem"))
    host->menus().checkItem(inMenu, inIndex, inCheck);
}

XPLM_API void XPLMDebugString(const char* inString)
{
  SimHost* host = SimHost::current();
  if (host == nullptr || !host->checkThread("XPLMDebugString")) return;
  if (inString == nullptr)
    SimOutput::report("XPLMDebugString: null string, ignored");
  else
    host->log().write(inString);
}

XPLM_API XPLMCommandRef XPLMCreateCommand(const char* inName, const char* inDescription)
{
  SimHost* host = SimHost::current();
  if (host == nullptr || !host->checkThread("XPLMCreateCommand")) return nullptr;
  return host->commands().create(inName, inDescription);
}

XPLM_API XPLMCommandRef XPLMFindCommand(const char* inName)
{
  SimHost* host = SimHost::current();
  if (host == nullptr || !host->checkThread("XPLMFindCommand")) return nullptr;
  return host->commands().find(inName);
}

XPLM_API void XPLMRegisterCommandHandler(XPLMCommandRef inCommand, XPLMCommandCallback_f inHandler,
                                         int inBefore, void* inRefcon)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMRegisterCommandHandler"))
    host->commands().registerHandler(inCommand, inHandler, inBefore != 0, inRefcon);
}

XPLM_API void XPLMUnregisterCommandHandler(XPLMCommandRef inCommand, XPLMCommandCallback_f inHandler,
                                           int inBefore, void* inRefcon)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMUnregisterCommandHandler"))
    host->commands().unregisterHandler(inCommand, inHandler, inBefore != 0, inRefcon);
}

XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName)
{
  SimHost* host = SimHost::current();
  if (host != nullptr) host->checkThread("XPLMFindDataRef");
  return SimDataRefs::find(inDataRefName);
}

XPLM_API double XPLMGetDatad(XPLMDataRef inDataRef)
{
  SimHost* host = SimHost::current();
  if (host == nullptr) return 0.0;
  host->checkThread("XPLMGetDatad");
  return host->dataRefs().readDouble(inDataRef, "XPLMGetDatad");
}

XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef)
{
  SimHost* host = SimHost::current();
  if (host == nullptr) return 0.0f;
  host->checkThread("XPLMGetDataf");
  return host->dataRefs().readFloat(inDataRef, "XPLMGetDataf");
}

XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void* inRefcon)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMRegisterFlightLoopCallback"))
    host->flightLoops().registerLoop(inFlightLoop, inInterval, inRefcon);
}

XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void* inRefcon)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMUnregisterFlightLoopCallback"))
    host->flightLoops().unregisterLoop(inFlightLoop, inRefcon);
}

XPLM_API void XPLMSetFlightLoopCallbackInterval(XPLMFlightLoop_f inFlightLoop, float inInterval,
                                                int inRelativeToNow, void* inRefcon)
{
  SimHost* host = SimHost::current();
  if (host != nullptr && host->checkThread("XPLMSetFlightLoopCallbackInterval"))
    host->flightLoops().setInterval(inFlightLoop, inInterval, inRelativeToNow != 0, inRefcon);
}
