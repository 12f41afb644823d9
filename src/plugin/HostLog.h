// Lines for X-Plane's Log.txt, where pilots and support look first: each starts "Corvane: ".
// The host's XPLMDebugString may only be called on its main thread, so any thread posts a
// line here and the main thread writes what is waiting (flush), from the frame callback
// and from the entry points. Lines keep their order; a line is never cut.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "runtime/BaseMutex.h"

class HostLog
{
public:
  // Any thread: queues "Corvane: " + the formatted text + "\n" (printf formats).
  static void post(const char* format, ...) __attribute__((format(printf, 1, 2))) EXCLUDES(s_lock);
  // Main thread: hands every queued line to the host, oldest first. Costs one atomic
  // read when nothing waits.
  static void flush() EXCLUDES(s_lock);

private:
  static BaseMutex s_lock;
  static std::vector<std::string> s_lines GUARDED_BY(s_lock);
  static std::atomic<bool> s_pending;
};
