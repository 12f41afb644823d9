#include "net/IOSocketUDP.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "io/BaseBuffer.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "platform/SystemCalls.h"
#include "runtime/NotificationCenter.h"

using namespace platform;

const char* const IOSocketUDP::IOSOCKETUDP_INCOMMING_DATAGRAM = "IOSOCKETUDP_INCOMMING_DATAGRAM";

namespace {

const int RECEIVE_WAIT_MS = 2000;

}  // namespace

IOSocketUDP::IOSocketUDP() : m_datagramBuffer(nullptr) {}

IOSocketUDP::~IOSocketUDP()
{
  closeIO();
  free(m_datagramBuffer);
}

const char* IOSocketUDP::getClass() const
{
  return "IOSocketUDP";
}

const char* IOSocketUDP::MDNSProtocolTag()
{
  return "_udp";
}

bool IOSocketUDP::makeSocket()
{
  SocketHandle fd = openSocket(eFamilyIPv4, eSocketDatagram);
  m_socketfd.store(fd);
  if (fd == INVALID_SOCKET_HANDLE) {
    BASE_LOG(this, eMsgError, "unable to create socket");
    return false;
  }
  if (sysSetOption(fd, eOptionReusePort, 1) != 0) BASE_LOG(this, eMsgError, "Set socket options error");
  m_socketAddressLength = socketAddressSize(eFamilyIPv4);
  m_socketAddress = static_cast<unsigned char*>(calloc(1, m_socketAddressLength));
  return true;
}

bool IOSocketUDP::createServer()
{
  if (!_bindInternal()) return false;
  if (!m_datagramBuffer) m_datagramBuffer = static_cast<unsigned char*>(malloc(DATAGRAM_BUFFER_SIZE));
  if (m_serverOptions && !publishServerWithMDNS())
    BASE_LOG(this, eMsgWarning, "unable to publish our service via MDNS");
  _openWakeUp();
  m_serverStarted.store(true);
  return startThread();
}

void IOSocketUDP::waitForClients()
{
  BaseString* name = new BaseString(IOSOCKETUDP_INCOMMING_DATAGRAM);
  while (m_keepRunning.load() && isServerStarted()) {
    SocketHandle fd = m_socketfd.load();
    if (_waitForDescriptor(fd, ePollIn, RECEIVE_WAIT_MS) != eWaitReady) continue;
    alignas(8) unsigned char sender[128];
    unsigned int senderLength = sizeof sender;
    ptrdiff_t count = receiveFrom(fd, m_datagramBuffer, DATAGRAM_BUFFER_SIZE, sender, &senderLength);
    if (count < 0) {
      BASE_LOG(this, eMsgError, "revc datagram");
      continue;
    }
    char dotted[IPV4_TEXT_SIZE] = "";
    uint16_t senderPort = 0;
    ipv4AddressParts(sender, senderLength, dotted, &senderPort);
    BaseDictionary* info = new BaseDictionary();
    BaseString* host = new BaseString(dotted);
    // Not autoreleased: the worker's pool lasts as long as the server.
    BaseString* port = new BaseString();
    port->setFormat("%hu", senderPort);
    BaseBuffer* data = new BaseBuffer(m_datagramBuffer, uint32_t(count));
    info->setObjectForKey(host, "REMOTE_HOST");
    info->setObjectForKey(port, "REMOTE_PORT");
    info->setObjectForKey(data, "DATAGRAM_DATA");
    host->release();
    port->release();
    data->release();
    NotificationCenter::sharedNotificationCenter()->postMessage(name, info, this);
    info->release();
  }
  name->release();
}

bool IOSocketUDP::read(char* host, uint16_t& port, void* data, uint32_t& length)
{
  alignas(8) unsigned char sender[128];
  unsigned int senderLength;
  ptrdiff_t count;
  do {
    senderLength = sizeof sender;
    count = receiveFrom(m_socketfd.load(), data, length, sender, &senderLength);
  } while (count < 0 && lastSocketError() == EINTR);
  if (count < 0) {
    length = 0;
    return false;
  }
  port = 0;
  if (!ipv4AddressParts(sender, senderLength, host, &port) && host) host[0] = '\0';
  length = uint32_t(count);
  return true;
}

bool IOSocketUDP::readWithTimeoutUDP(char* host, uint16_t& port, void* data, uint32_t& length,
                                     unsigned int timeoutSeconds)
{
  eWaitResult waited = _waitForDescriptor(m_socketfd.load(), ePollIn, _millisecondsOf(timeoutSeconds));
  if (waited == eWaitReady) return read(host, port, data, length);
  if (waited == eWaitException) {
    BASE_LOG(this, eMsgError, "while receiving data");
  } else {
    BASE_LOG(this, eMsgWarning, "Timeout while receiving data on UDP");
  }
  length = 0;
  return false;
}

bool IOSocketUDP::write(const void* data, uint32_t length, const char* host, uint16_t port)
{
  setSocketAddress(host, port);
  alignas(8) unsigned char address[128];
  if (!lookupHost(host, port, address)) {
    BASE_LOG(this, eMsgError, "Lookup %s port %i", host, (int)port);
    return false;
  }
  const unsigned int addressLength = socketAddressSize(eFamilyIPv4);
  ptrdiff_t sent;
  do {
    sent = sendTo(m_socketfd.load(), data, length, address, addressLength);
  } while (sent < 0 && lastSocketError() == EINTR);
  if (sent < 0) {
    const int error = lastSocketError();
    char dotted[IPV4_TEXT_SIZE] = "";
    ipv4AddressParts(address, addressLength, dotted, nullptr);
    BASE_LOG(this, eMsgError, "Sendto command failed %s : %hu : %s", dotted, port, socketErrorText(error).c_str());
    return false;
  }
  return true;
}

bool IOSocketUDP::getOurAddressForHost(const char* host, char* output, int outputLength)
{
  IOSocketUDP* probe = new IOSocketUDP();
  // Connecting a datagram socket only makes the system choose the route.
  bool connected = probe->connect_socket(host, 80);
  if (connected) probe->getOurAddress(output, outputLength);
  probe->release();
  return connected;
}
