// The host's Log.txt: what plug-ins write with XPLMDebugString, byte for byte, after the host's
// own lines. Written straight to the file descriptor, so every call is on disk as it returns, as
// X-Plane flushes the log on every call. Without a file the text is discarded. Main thread only.
#pragma once

#include <string>

class SimLog
{
public:
  SimLog() = default;
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;
  ~SimLog();

  // Creates or truncates `path` and writes the header line; on failure `error` says why.
  bool open(const std::string& path, std::string& error);
  // Appends the text as it is; a failed write is reported once and ends the log.
  void write(const std::string& text);

private:
  int m_fd = -1;
};
