// Our own declarations of the part of X-Plane's plug-in interface (XPLM) that the
// Corvane plug-in and its stand-in host use, with the host SDK's signatures.
// The plug-in leaves these functions undefined; the host provides them when it
// loads the plug-in. Every function here must be called on the host's main thread.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define XPLM_API __attribute__((visibility("default")))
#define PLUGIN_API extern "C" __attribute__((visibility("default")))

typedef void* XPLMMenuID;
typedef void* XPLMDataRef;

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
