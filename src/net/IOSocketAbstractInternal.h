// What the sources of IOSocketAbstract share and nobody else needs.
#pragma once

#include <cerrno>

#include "platform/Sockets.h"

namespace SocketInternal {

// The pending error of a socket, for messages about exceptional conditions.
inline int socketError(platform::SocketHandle fd)
{
  int error = platform::pendingSocketError(fd);
  if (error == 0) error = platform::lastSocketError() ? platform::lastSocketError() : EIO;
  return error;
}

}  // namespace SocketInternal
