#include "net/IOSocketUDP.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "io/BaseBuffer.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "runtime/NotificationCenter.h"
#include "runtime/SystemCalls.h"

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
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  m_socketfd.store(fd);
  if (fd == -1) {
    BASE_LOG(this, eMsgError, "unable to create socket");
    return false;
  }
  const int on = 1;
  if (sysSetsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
    BASE_LOG(this, eMsgError, "Set socket options error");
  m_socketAddress = static_cast<unsigned char*>(calloc(1, sizeof(struct sockaddr_in)));
  m_socketAddressLength = sizeof(struct sockaddr_in);
  return true;
}

bool IOSocketUDP::createServer()
{
  if (!_bindInternal()) return false;
  if (!m_datagramBuffer) m_datagramBuffer = static_cast<unsigned char*>(malloc(DATAGRAM_BUFFER_SIZE));
  if (m_serverOptions && !publishServerWithMDNS())
    BASE_LOG(this, eMsgWarning, "unable to publish our service via MDNS");
  _openWakePipe();
  m_serverStarted.store(true);
  return startThread();
}

void IOSocketUDP::waitForClients()
{
  BaseString* name = new BaseString(IOSOCKETUDP_INCOMMING_DATAGRAM);
  while (m_keepRunning.load() && isServerStarted()) {
    int fd = m_socketfd.load();
    if (_waitForDescriptor(fd, POLLIN, RECEIVE_WAIT_MS) != eWaitReady) continue;
    struct sockaddr_in sender;
    socklen_t senderLength = sizeof sender;
    ssize_t count = recvfrom(fd, m_datagramBuffer, DATAGRAM_BUFFER_SIZE, 0,
                             reinterpret_cast<struct sockaddr*>(&sender), &senderLength);
    if (count < 0) {
      BASE_LOG(this, eMsgError, "revc datagram");
      continue;
    }
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &sender.sin_addr, dotted, sizeof dotted);
    BaseDictionary* info = new BaseDictionary();
    BaseString* host = new BaseString(dotted);
    // Not autoreleased: the worker's pool lasts as long as the server.
    BaseString* port = new BaseString();
    port->setFormat("%hu", ntohs(sender.sin_port));
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
  struct sockaddr_in sender;
  socklen_t senderLength = sizeof sender;
  ssize_t count;
  do {
    count = recvfrom(m_socketfd.load(), data, length, 0, reinterpret_cast<struct sockaddr*>(&sender), &senderLength);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    length = 0;
    return false;
  }
  if (host && !inet_ntop(AF_INET, &sender.sin_addr, host, INET_ADDRSTRLEN)) host[0] = '\0';
  port = ntohs(sender.sin_port);
  length = uint32_t(count);
  return true;
}

bool IOSocketUDP::readWithTimeoutUDP(char* host, uint16_t& port, void* data, uint32_t& length,
                                     unsigned int timeoutSeconds)
{
  eWaitResult waited = _waitForDescriptor(m_socketfd.load(), POLLIN, _millisecondsOf(timeoutSeconds));
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
  struct sockaddr_in address;
  if (!lookupHost(host, port, &address)) {
    BASE_LOG(this, eMsgError, "Lookup %s port %i", host, (int)port);
    return false;
  }
  ssize_t sent;
  do {
    sent = sendto(m_socketfd.load(), data, length, MSG_NOSIGNAL, reinterpret_cast<struct sockaddr*>(&address),
                  sizeof address);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
    BASE_LOG(this, eMsgError, "Sendto command failed %s : %hu : %s", dotted, port, strerror(errno));
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
