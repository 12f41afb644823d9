// SIGINT and SIGTERM as a request to stop: the handler only sets a flag and makes a pipe
// readable, so that every bounded wait of the client (DNS-SD, connecting, replies, the pause
// between requests) can poll the pipe beside what it waits for and end at once. Installed
// once by main; raised() and descriptor() may be used from any thread.
#pragma once

class StopSignal
{
public:
  // Installs the handlers (without SA_RESTART). False when the pipe cannot be made.
  static bool install();
  static bool raised();
  // Readable once a signal came; -1 before install.
  static int descriptor();
  // Waits up to `milliseconds` or until a signal came; true when one came.
  static bool sleepFor(int milliseconds);
};
