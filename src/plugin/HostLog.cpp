#include "plugin/HostLog.h"

#include <cstdarg>
#include <cstdio>

#include "plugin/xplm/XPLM.h"

BaseMutex HostLog::s_lock;
std::vector<std::string> HostLog::s_lines;
std::atomic<bool> HostLog::s_pending{false};

void HostLog::post(const char* format, ...)
{
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  int length = vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  std::string line = "Corvane: ";
  line.append(text, size_t(length) < sizeof text ? size_t(length) : sizeof text - 1);
  line += '\n';
  BaseMutexLocker guard(s_lock);
  s_lines.push_back(std::move(line));
  s_pending.store(true, std::memory_order_release);
}

void HostLog::flush()
{
  if (!s_pending.load(std::memory_order_acquire)) return;
  std::vector<std::string> lines;
  {
    BaseMutexLocker guard(s_lock);
    lines.swap(s_lines);
    s_pending.store(false, std::memory_order_relaxed);
  }
  // Outside the lock: the host may take its time, and other threads must not wait for it.
  for (const std::string& line : lines) XPLMDebugString(line.c_str());
}
