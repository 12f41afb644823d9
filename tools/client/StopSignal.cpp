#include "StopSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

volatile sig_atomic_t stopRaised = 0;
int stopPipe[2] = {-1, -1};

void onStop(int)
{
  const int saved = errno;
  stopRaised = 1;
  const char byte = 1;
  // Non-blocking: a full pipe already says all there is to say.
  ssize_t written = write(stopPipe[1], &byte, 1);
  (void)written;
  errno = saved;
}

}  // namespace

bool StopSignal::install()
{
  if (stopPipe[0] != -1) return true;
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action = {};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return true;
}

bool StopSignal::raised()
{
  return stopRaised != 0;
}

int StopSignal::descriptor()
{
  return stopPipe[0];
}

bool StopSignal::sleepFor(int milliseconds)
{
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  pollfd stop = {stopPipe[0], POLLIN, 0};
  while (!raised()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    // Other signals end the wait early; it goes on with the time that is left.
    poll(&stop, stopPipe[0] == -1 ? 0 : 1, int(left));
  }
  return raised();
}
