// A reading of something that other threads or processes are still winding down, for a
// figure to come back to: a thread that was just joined can stay listed in /proc for a
// moment after pthread_join returns (it is unlisted after it wakes its joiner).
#pragma once

#include <chrono>
#include <thread>

// The value of `read()` once two readings 20 ms apart agree (at most about 1 s).
template <typename Read>
auto settledReading(Read read) -> decltype(read())
{
  auto value = read();
  for (int tries = 0; tries < 50; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto again = read();
    if (again == value) break;
    value = again;
  }
  return value;
}
