#include "platform/Descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool openPipe(int ends[2])
{
  return pipe2(ends, O_CLOEXEC) == 0;
}

int createFile(const char* path)
{
  return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int waitForInput(const int* fds, int count, int timeoutMs)
{
  pollfd watched[8];
  if (count < 0 || count > 8) return -1;
  for (int i = 0; i < count; ++i) watched[i] = {fds[i], POLLIN, 0};
  const int ready = poll(watched, nfds_t(count), timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  int bits = 0;
  for (int i = 0; i < count; ++i)
    if (watched[i].revents != 0) bits |= 1 << i;
  return bits;
}

bool waitForRoom(int fd, int timeoutMs)
{
  pollfd writable = {fd, POLLOUT, 0};
  return poll(&writable, 1, timeoutMs) == 1;
}

void setNonBlocking(int fd)
{
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void setBinaryMode(int) {}

}  // namespace platform
