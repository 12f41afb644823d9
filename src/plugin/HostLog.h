// Lines for X-Plane's Log.txt, where pilots and support look first: each starts "Corvane: ".
// The host's XPLMDebugString may only be called on its main thread, so any thread posts a
// line here and the main thread writes what is waiting (flush), from the frame callback
// and from the entry points. Lines keep their order; a line is never cut.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class HostLog
{
public:
  // Any thread: queues "Corvane: " + the formatted text + "\n" (printf formats).
  static void post(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Main thread: hands every queued line to the host, oldest first. Costs one atomic
  // read when nothing waits.
  static void flush();

private:
  static std::mutex s_lock;  // guards s_lines
  static std::vector<std::string> s_lines;
  static std::atomic<bool> s_pending;
};
