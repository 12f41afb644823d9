#include "platform/StopSignals.h"

#include <signal.h>

namespace platform {

namespace {

void (*volatile stopHandler)() = nullptr;

void onSignal(int)
{
  if (void (*handler)() = stopHandler) handler();
}

}  // namespace

bool onStopSignals(void (*handler)())
{
  stopHandler = handler;
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

}  // namespace platform
