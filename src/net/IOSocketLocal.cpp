#include "net/IOSocketLocal.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "runtime/Debug.h"

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
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  m_socketfd.store(fd);
  if (fd == -1) {
    BASE_LOG(this, eMsgError, "unable to create socket");
    return false;
  }
  m_socketAddress = static_cast<unsigned char*>(calloc(1, sizeof(struct sockaddr_un)));
  m_socketAddressLength = sizeof(struct sockaddr_un);
  return true;
}

bool IOSocketLocal::lookupAddress()
{
  if (!m_socketAddress || !m_host) {
    BASE_LOG(this, eMsgError, "NULL address or host");
    return false;
  }
  struct sockaddr_un* address = reinterpret_cast<struct sockaddr_un*>(m_socketAddress);
  size_t length = strlen(m_host);
  // A cut path would name another file: refuse it instead.
  if (length >= sizeof address->sun_path) {
    BASE_LOG(this, eMsgError, "socket path too long : %s", m_host);
    return false;
  }
  memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  memcpy(address->sun_path, m_host, length);
  return true;
}

bool IOSocketLocal::createServer()
{
  if (m_host) unlink(m_host);
  bool created = IOSocketAbstract::createServer();
  if (created && m_host) chmod(m_host, 0777);
  return created;
}

bool IOSocketLocal::closeIO()
{
  bool serving = isServerStarted();
  bool closed = IOSocketAbstract::closeIO();
  if (serving && m_host) unlink(m_host);
  return closed;
}
