// Test helpers for log lines: a stream that keeps what is written to it, and LogCapture, a
// sink that writes every call into one for the lifetime of the capture. Create captures
// before the threads whose lines they catch.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "io/IOAbstract.h"
#include "runtime/Debug.h"

// A stream that keeps what the facility writes.
class CaptureStream : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    length = 0;
    return false;
  }
  bool writeIO(const void* bytes, uint32_t length) override
  {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_text.append(static_cast<const char*>(bytes), length);
    }
    if (onWrite) onWrite();
    return true;
  }
  std::string text()
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_text;
  }
  void clear()
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_text.clear();
  }

  std::function<void()> onWrite;

private:
  std::mutex m_mutex;
  std::string m_text;
};

// The target text that makes a sink write into `stream`.
inline std::string targetFor(IOAbstract* stream)
{
  char text[64];
  snprintf(text, sizeof text, "io:%p", static_cast<void*>(stream));
  return text;
}

class LogCapture
{
public:
  explicit LogCapture(const char* format = "%S: %m\n", const char* filter = "V")
      : m_stream(new CaptureStream()), m_sink(new DebugManager(format, targetFor(m_stream).c_str(), filter))
  {
  }
  ~LogCapture()
  {
    m_sink->release();
    m_stream->release();
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string text() { return m_stream->text(); }
  bool contains(const std::string& line) { return text().find(line) != std::string::npos; }
  void clear() { m_stream->clear(); }

private:
  CaptureStream* m_stream;
  DebugManager* m_sink;
};
