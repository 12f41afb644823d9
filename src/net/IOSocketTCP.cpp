#include "net/IOSocketTCP.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "runtime/Debug.h"
#include "runtime/SystemCalls.h"

IOSocketTCP::~IOSocketTCP()
{
  // The worker runs our waitForClients: it must end while this part still exists.
  closeIO();
}

const char* IOSocketTCP::getClass() const
{
  return "IOSocketTCP";
}

IODriverAbstract* IOSocketTCP::makeIODriverObject()
{
  return new IOSocketTCP();
}

const char* IOSocketTCP::MDNSProtocolTag()
{
  return "_tcp";
}

bool IOSocketTCP::makeSocket()
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  m_socketfd.store(fd);
  if (fd == -1) {
    BASE_LOG(this, eMsgError, "unable to create socket");
    return false;
  }
  const int options[][2] = {{SO_REUSEADDR, 1}, {SO_SNDBUF, SOCKET_BUFFER_SIZE}, {SO_RCVBUF, SOCKET_BUFFER_SIZE}};
  for (const auto& option : options) {
    if (sysSetsockopt(fd, SOL_SOCKET, option[0], &option[1], sizeof option[1]) != 0)
      BASE_LOG(this, eMsgError, "Set socket options error (%i)", errno);
  }
  m_socketAddress = static_cast<unsigned char*>(calloc(1, sizeof(struct sockaddr_in)));
  m_socketAddressLength = sizeof(struct sockaddr_in);
  return true;
}
