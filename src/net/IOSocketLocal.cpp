#include "net/IOSocketLocal.h"

#include <cstdlib>
#include <cstring>

#include "runtime/Debug.h"

using namespace platform;

IOSocketLocal::~IOSocketLocal()
{
  // Our closeIO removes the socket file; the base destructor could only run its own.
  closeIO();
}

const char* IOSocketLocal::getClass() const
{
  return "IOSocketLocal";
}

IODriverAbstract* IOSocketLocal::makeIODriverObject()
{
  return new IOSocketLocal();
}

bool IOSocketLocal::makeSocket()
{
  // Refused where the system has no local sockets (Windows): the driver then stays
  // without a socket, and connecting or serving fails with a line of its own.
  SocketHandle fd = openSocket(eFamilyLocal, eSocketStream);
  m_socketfd.store(fd);
  if (fd == INVALID_SOCKET_HANDLE) {
    BASE_LOG(this, eMsgError, "unable to create socket");
    return false;
  }
  m_socketAddressLength = socketAddressSize(eFamilyLocal);
  m_socketAddress = static_cast<unsigned char*>(calloc(1, m_socketAddressLength));
  return true;
}

bool IOSocketLocal::lookupAddress()
{
  if (!m_socketAddress || !m_host) {
    BASE_LOG(this, eMsgError, "NULL address or host");
    return false;
  }
  // A cut path would name another file: refuse it instead.
  unsigned int length = m_socketAddressLength;
  if (strlen(m_host) >= localSocketPathCapacity() || !makeLocalSocketAddress(m_host, m_socketAddress, &length)) {
    BASE_LOG(this, eMsgError, "socket path too long : %s", m_host);
    return false;
  }
  return true;
}

bool IOSocketLocal::createServer()
{
  if (m_host) removeLocalSocketFile(m_host);
  bool created = IOSocketAbstract::createServer();
  if (created && m_host) shareLocalSocketFile(m_host);
  return created;
}

bool IOSocketLocal::closeIO()
{
  bool serving = isServerStarted();
  bool closed = IOSocketAbstract::closeIO();
  if (serving && m_host) removeLocalSocketFile(m_host);
  return closed;
}
