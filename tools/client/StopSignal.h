// Ctrl-C and the like (platform/StopSignals.h) as a request to stop: the handler only sets a
// flag and wakes a wake-up, so that every bounded wait of the client (DNS-SD, connecting,
// replies, the pause between requests) can poll it beside what it waits for and end at
// once. Installed once by main; raised() and descriptor() may be used from any thread.
#pragma once

#include "platform/Sockets.h"

class StopSignal
{
public:
  // Installs the handler. False when the wake-up cannot be made.
  static bool install();
  static bool raised();
  // Readable once a request came; INVALID_SOCKET_HANDLE before install.
  static platform::SocketHandle descriptor();
  // Waits up to `milliseconds` or until a request came; true when one came.
  static bool sleepFor(int milliseconds);
};
