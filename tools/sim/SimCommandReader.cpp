#include "SimCommandReader.h"

#include <unistd.h>

#include <cerrno>

#include "platform/Descriptor.h"

SimCommandReader::SimCommandReader(int fd) : m_fd(fd) {}

SimCommandReader::~SimCommandReader()
{
  stop();
}

bool SimCommandReader::start()
{
  if (!platform::openPipe(m_wake)) return false;
  m_thread = std::thread(&SimCommandReader::run, this);
  return true;
}

void SimCommandReader::stop()
{
  {
    SimMutexLocker guard(m_lock);
    m_stopping = true;
  }
  m_changed.notify_all();
  if (m_wake[1] >= 0) {
    const char byte = 0;
    int written;
    do {
      written = write(m_wake[1], &byte, 1);
    } while (written < 0 && errno == EINTR);
  }
  if (m_thread.joinable()) m_thread.join();
  for (int& fd : m_wake) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

SimCommandReader::Wait SimCommandReader::waitLine(Line& line, std::chrono::steady_clock::time_point deadline)
{
  {
    SimMutexLocker guard(m_lock);
    while (m_lines.empty() && !m_ended) {
      if (m_changed.wait_until(m_lock, deadline) == std::cv_status::timeout) break;
    }
    if (m_lines.empty()) return m_ended ? eEnd : eTimeout;
    line = std::move(m_lines.front());
    m_lines.pop_front();
  }
  m_changed.notify_all();  // the reader may be waiting for room
  return eLine;
}

bool SimCommandReader::push(Line line)
{
  {
    SimMutexLocker guard(m_lock);
    // Bounded by stop(): a main thread that no longer takes lines always sets m_stopping.
    while (m_lines.size() >= kMaxQueued && !m_stopping) m_changed.wait(m_lock);
    if (m_stopping) return false;
    m_lines.push_back(std::move(line));
  }
  m_changed.notify_all();
  return true;
}

void SimCommandReader::finish()
{
  {
    SimMutexLocker guard(m_lock);
    m_ended = true;
  }
  m_changed.notify_all();
}

void SimCommandReader::run()
{
  Line pending;
  char buffer[4096];
  for (;;) {
    const int fds[2] = {m_fd, m_wake[0]};
    const int ready = platform::waitForInput(fds, 2, -1);
    if (ready < 0) break;
    if (ready & 2) return;  // stop(): the main thread no longer wants lines
    if (!(ready & 1)) continue;
    const int got = int(read(m_fd, buffer, sizeof buffer));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    for (int i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c == '\n') {
        if (!push(std::move(pending))) return;
        pending = Line();
      } else if (pending.text.size() >= kMaxLine) {
        pending.text.clear();
        pending.tooLong = true;
      } else if (!pending.tooLong) {
        pending.text.push_back(c);
      }
    }
  }
  // End of input (or an unreadable descriptor): a last line without a newline still counts.
  if ((!pending.text.empty() || pending.tooLong) && !push(std::move(pending))) return;
  finish();
}
