// What the sources of IOSocketAbstract share and nobody else needs.
#pragma once

#include <sys/socket.h>

#include <cerrno>

namespace SocketInternal {

// The pending error of a socket, for messages about exceptional conditions.
inline int socketError(int fd)
{
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error == 0) error = errno ? errno : EIO;
  return error;
}

}  // namespace SocketInternal
