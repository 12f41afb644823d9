// Reads command lines from a file descriptor (standard input) on its own thread and hands them to
// the main thread, which waits for the next line or its next frame, whichever comes first. The
// reader never calls the plug-in. It owns its thread: stop() wakes it through a pipe and joins it,
// so a reader blocked on a silent terminal still ends. start/stop/waitLine: main thread only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <string>
#include <thread>

#include "SimMutex.h"

class SimCommandReader
{
public:
  struct Line
  {
    std::string text;
    bool tooLong = false;  // the text was dropped: longer than kMaxLine
  };
  enum Wait
  {
    eLine,
    eTimeout,
    eEnd
  };

  static constexpr size_t kMaxLine = 64 * 1024;
  static constexpr size_t kMaxQueued = 1024;  // the reader stops reading while this many wait

  explicit SimCommandReader(int fd);
  SimCommandReader(const SimCommandReader&) = delete;
  SimCommandReader& operator=(const SimCommandReader&) = delete;
  ~SimCommandReader();

  bool start();
  void stop() EXCLUDES(m_lock);
  // eEnd only once every line before the end of input has been handed out.
  Wait waitLine(Line& line, std::chrono::steady_clock::time_point deadline) EXCLUDES(m_lock);

private:
  void run() EXCLUDES(m_lock);
  bool push(Line line) EXCLUDES(m_lock);  // false when stopping
  void finish() EXCLUDES(m_lock);

  int m_fd;
  int m_wake[2] = {-1, -1};
  std::thread m_thread;

  SimMutex m_lock;
  std::condition_variable_any m_changed;  // waited on with m_lock held
  std::deque<Line> m_lines GUARDED_BY(m_lock);
  bool m_ended GUARDED_BY(m_lock) = false;
  bool m_stopping GUARDED_BY(m_lock) = false;
};
