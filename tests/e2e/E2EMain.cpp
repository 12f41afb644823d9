// The end-to-end run's entry point. Bridges listen on a fixed port on every interface, and
// other programs on this machine may use that port too: when the system allows it, the run
// moves into a network namespace of its own first, with only its loopback interface up, so
// that the hosts it starts (they inherit the namespace) neither collide with nor reach
// anything outside. Without the privilege it stays in the machine's namespace, where CTest's
// resource lock keeps its own bridges apart.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

bool bringLoopbackUp()
{
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq loopback = {};
  strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
  loopback.ifr_flags |= IFF_UP;
  up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
  if (fd >= 0) close(fd);
  return up;
}

}  // namespace

int main(int argc, char** argv)
{
  // A host that has gone away must not kill the run through its command pipe.
  std::signal(SIGPIPE, SIG_IGN);
  // Before any thread starts: a namespace belongs to the thread that enters it, and the
  // threads and children it starts later.
  if (unshare(CLONE_NEWNET) == 0 && !bringLoopbackUp()) {
    std::fprintf(stderr, "no loopback interface in the private network namespace: %s\n", strerror(errno));
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
