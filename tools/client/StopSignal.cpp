#include "StopSignal.h"

#include <atomic>
#include <chrono>
#include <csignal>

#include "platform/StopSignals.h"

namespace {

volatile std::sig_atomic_t stopRaised = 0;
std::atomic<bool> installed{false};
// Never closed: the handler may run until the process ends.
platform::SocketWakeUp& stopWakeUp = *new platform::SocketWakeUp();

void onStop()
{
  stopRaised = 1;
  stopWakeUp.wake();
}

}  // namespace

bool StopSignal::install()
{
  if (installed.load()) return true;
  if (!stopWakeUp.open()) return false;
  installed.store(true);
  platform::onStopSignals(onStop);
  return true;
}

bool StopSignal::raised()
{
  return stopRaised != 0;
}

platform::SocketHandle StopSignal::descriptor()
{
  return stopWakeUp.handle();
}

bool StopSignal::sleepFor(int milliseconds)
{
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  platform::PollEntry stop = {descriptor(), platform::ePollIn, 0};
  while (!raised()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    // Other signals end the wait early; it goes on with the time that is left.
    platform::pollSockets(&stop, 1, int(left));
  }
  return raised();
}
