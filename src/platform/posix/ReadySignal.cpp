#include "platform/ReadySignal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace platform {

ReadySignal::ReadySignal() : m_readEnd(-1), m_writeEnd(-1)
{
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  m_readEnd = ends[0];
  m_writeEnd = ends[1];
}

ReadySignal::~ReadySignal()
{
  if (m_readEnd != -1) close(int(m_readEnd));
  if (m_writeEnd != -1) close(int(m_writeEnd));
}

void ReadySignal::signal()
{
  if (m_writeEnd == -1) return;
  char byte = 1;
  // A full pipe is readable already.
  ssize_t ignored = write(int(m_writeEnd), &byte, 1);
  (void)ignored;
}

void ReadySignal::clear()
{
  char bytes[64];
  while (m_readEnd != -1 && read(int(m_readEnd), bytes, sizeof bytes) > 0) {
  }
}

int waitForReadable(const int* descriptors, bool* readable, int count, int timeoutMs, int* error)
{
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::vector<pollfd> watched(count);
  for (int i = 0; i < count; ++i) watched[i] = {descriptors[i], POLLIN, 0};
  int ready;
  for (;;) {
    int left = timeoutMs;
    if (timeoutMs >= 0) {
      auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = remaining < 0 ? 0 : int(remaining);
    }
    ready = poll(watched.data(), nfds_t(count), left);
    if (ready >= 0 || errno != EINTR) break;
  }
  if (ready < 0 && error) *error = errno;
  for (int i = 0; i < count; ++i) readable[i] = ready > 0 && watched[i].revents != 0;
  return ready;
}

}  // namespace platform
