// The end-to-end run's entry point. Bridges listen on a fixed port on every interface, and
// other programs on this machine may use that port too: when the system allows it, the run
// moves into a network namespace of its own first, with only its loopback interface up, so
// that the hosts it starts (they inherit the namespace) neither collide with nor reach
// anything outside. Without the privilege it stays in the machine's namespace, where CTest's
// resource lock keeps its own bridges apart.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Process.h"

int main(int argc, char** argv)
{
  // A host that has gone away must not kill the run through its command pipe.
  platform::ignoreBrokenPipes();
  // Before any thread starts: a namespace belongs to the thread that enters it, and the
  // threads and children it starts later.
  if (platform::isolateNetwork() == platform::eIsolationFailed) {
    std::fprintf(stderr, "no loopback interface in the private network namespace: %s\n", strerror(errno));
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
