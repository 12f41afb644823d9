// Our own declarations of the part of X-Plane's plug-in interface (XPLM) that the
// Corvane plug-in and its stand-in host use, with the host SDK's signatures.
// The plug-in leaves these functions undefined; the host provides them when it
// loads the plug-in. Every function here must be called on the host's main thread.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The plug-in's export declarations. On Linux everything is hidden unless marked; on
// Windows a module exports what its .def file lists (src/plugin/Corvane.def,
// src/plugin/xplm/XPLM_64.def) and a call to another module's function goes through the
// import library, so nothing needs marking.
#if defined(_WIN32)
#define CORVANE_EXPORT
#else
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif
#define XPLM_API CORVANE_EXPORT
#define PLUGIN_API extern "C" CORVANE_EXPORT

typedef void* XPLMMenuID;
typedef void* XPLMDataRef;
typedef void* XPLMCommandRef;

// A menu item's check mark.
typedef int XPLMMenuCheck;
enum
{
  xplm_Menu_NoCheck = 0,
  xplm_Menu_Unchecked = 1,
  xplm_Menu_Checked = 2
};

// Where a command is: pressed, held (once per frame), released.
typedef int XPLMCommandPhase;
enum
{
  xplm_CommandBegin = 0,
  xplm_CommandContinue = 1,
  xplm_CommandEnd = 2
};

// Returns 1 to let the command go on to later handlers and the host, 0 to consume it.
typedef int (*XPLMCommandCallback_f)(XPLMCommandRef inCommand, XPLMCommandPhase inPhase, void* inRefcon);

// Called on the host's main thread when a menu item is chosen.
typedef void (*XPLMMenuHandler_f)(void* inMenuRef, void* inItemRef);

// Returns the next interval: positive seconds, negative frames, 0 to stop being called.
typedef float (*XPLMFlightLoop_f)(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                  int inCounter, void* inRefcon);

XPLM_API XPLMMenuID XPLMFindPluginsMenu(void);
XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName, XPLMMenuID inParentMenu, int inParentItem,
                                   XPLMMenuHandler_f inHandler, void* inMenuRef);
// Returns the index of the new item within its menu.
XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char* inItemName, void* inItemRef,
                                int inForceEnglish);

XPLM_API void XPLMEnableMenuItem(XPLMMenuID inMenu, int inIndex, int inEnabled);
XPLM_API void XPLMCheckMenuItem(XPLMMenuID inMenu, int inIndex, XPLMMenuCheck inCheck);

// Appends the text to the host's log (Log.txt) as it is: lines end with their own "\n".
XPLM_API void XPLMDebugString(const char* inString);

// Finds the command, creating it when it does not exist yet.
XPLM_API XPLMCommandRef XPLMCreateCommand(const char* inName, const char* inDescription);
XPLM_API XPLMCommandRef XPLMFindCommand(const char* inName);
// inBefore 1: called before the host handles the command.
XPLM_API void XPLMRegisterCommandHandler(XPLMCommandRef inCommand, XPLMCommandCallback_f inHandler, int inBefore,
                                         void* inRefcon);
XPLM_API void XPLMUnregisterCommandHandler(XPLMCommandRef inCommand, XPLMCommandCallback_f inHandler, int inBefore,
                                           void* inRefcon);

XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName);
XPLM_API double XPLMGetDatad(XPLMDataRef inDataRef);
XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef);

XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void* inRefcon);
XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void* inRefcon);
XPLM_API void XPLMSetFlightLoopCallbackInterval(XPLMFlightLoop_f inFlightLoop, float inInterval,
                                                int inRelativeToNow, void* inRefcon);

#ifdef __cplusplus
}
#endif
