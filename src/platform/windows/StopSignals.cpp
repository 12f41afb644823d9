#include "platform/StopSignals.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<void (*)()> stopHandler{nullptr};

BOOL WINAPI onControlEvent(DWORD event)
{
  void (*handler)() = stopHandler.load();
  if (!handler) return FALSE;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      handler();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool onStopSignals(void (*handler)())
{
  // Added once: a second registration would run the handler twice.
  static const bool added = SetConsoleCtrlHandler(onControlEvent, TRUE) != 0;
  stopHandler = handler;
  return added;
}

}  // namespace platform
