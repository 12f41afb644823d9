#include "net/IOSocketTCP.h"

#include <cstdlib>
#include <utility>

#include "platform/SystemCalls.h"
#include "runtime/Debug.h"

using namespace platform;

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
  SocketHandle fd = openSocket(eFamilyIPv4, eSocketStream);
  m_socketfd.store(fd);
  if (fd == INVALID_SOCKET_HANDLE) {
    BASE_LOG(this, eMsgError, "unable to create socket");
    return false;
  }
  const std::pair<eSocketOption, int> options[] = {
      {eOptionReuseAddress, 1}, {eOptionSendBuffer, SOCKET_BUFFER_SIZE}, {eOptionReceiveBuffer, SOCKET_BUFFER_SIZE}};
  for (const auto& option : options) {
    if (sysSetOption(fd, option.first, option.second) != 0)
      BASE_LOG(this, eMsgError, "Set socket options error (%i)", lastSocketError());
  }
  m_socketAddressLength = socketAddressSize(eFamilyIPv4);
  m_socketAddress = static_cast<unsigned char*>(calloc(1, m_socketAddressLength));
  return true;
}
