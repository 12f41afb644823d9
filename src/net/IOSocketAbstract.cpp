#include "net/IOSocketAbstract.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "io/BaseBuffer.h"
#include "net/IOSocketAbstractInternal.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "runtime/SystemCalls.h"

using SocketInternal::socketError;

namespace {

int64_t monotonicMilliseconds()
{
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What a failed call on a connection says of how it ended: the peer or the path to it is gone
// (keep-alive or the user time-out gave up, a reset), or something else went wrong.
IOSocketAbstract::eEndReason endReasonOf(int error)
{
  switch (error) {
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case ECONNRESET:
    case ECONNABORTED:
    case ECONNREFUSED:
    case EPIPE:
      return IOSocketAbstract::eEndVanished;
    default:
      return IOSocketAbstract::eEndOther;
  }
}

// The outcome of a connection that an interrupted connect left under way; bounded by the
// system's own connect time-out, as the connect call is.
int finishInterruptedConnect(int fd)
{
  struct pollfd watched = {fd, POLLOUT, 0};
  int ready;
  do {
    ready = sysPoll(&watched, 1, -1);
  } while (ready < 0 && errno == EINTR);
  int error = 0;
  socklen_t length = sizeof error;
  if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

}  // namespace

IOSocketAbstract::IOSocketAbstract()
    : m_host(nullptr),
      m_port(0),
      m_socketAddress(nullptr),
      m_socketAddressLength(0),
      m_socketfd(-1),
      m_readDeadline(0),
      m_readLimit(-1),
      m_endReason(eEndNone),
      m_socketLock(new BaseMutex()),
      m_serverOptions(nullptr),
      m_maxClientCount(0),
      m_publication(nullptr),
      m_wakeFds{-1, -1},
      m_readAhead(nullptr),
      m_readAheadStart(0),
      m_readAheadEnd(0),
      m_readAheadChecked(false)
{
}

IOSocketAbstract::~IOSocketAbstract()
{
  closeIO();
  stopServerPublicationWithMDNS();
  // A driver that made a socket but never connected or served still owns it.
  _releaseSocketInternal();
  free(m_host);
  m_socketLock->release();
  free(m_readAhead);
  BaseObject::release(m_serverOptions);
}

const char* IOSocketAbstract::getClass() const
{
  return "IOSocketAbstract";
}

// ---------------------------------------------------------------------------------------
// Addresses

void IOSocketAbstract::setSocketAddress(const char* host, uint16_t port)
{
  if (isIOConnected()) {
    BASE_LOG(this, eMsgError, "can't set the address of a connected socket");
    return;
  }
  free(m_host);
  m_host = nullptr;
  if (!m_socketAddress || m_socketfd.load() == -1) {
    // Half a socket (a failed earlier creation) must not leak its descriptor.
    _releaseSocketInternal();
    makeSocket();
  }
  m_host = host ? strdup(host) : nullptr;
  m_port = port;
}

bool IOSocketAbstract::lookupHost(const char* host, uint16_t port, struct sockaddr_in* address)
{
  if (!host || !address) return false;
  memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  struct addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) == 0 && found) {
    address->sin_addr = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
  } else {
    if (found) freeaddrinfo(found);
    if (inet_pton(AF_INET, host, &address->sin_addr) != 1) return false;
  }
  address->sin_port = htons(port);
  return true;
}

bool IOSocketAbstract::lookupAddress()
{
  if (!m_socketAddress) {
    BASE_LOG(this, eMsgError, "NULL address or host");
    return false;
  }
  struct sockaddr_in address;
  if (m_host) {
    if (!lookupHost(m_host, m_port, &address)) return false;
  } else {
    BASE_LOG(this, eMsgInfo, "setting socket as server on port %i", (int)m_port);
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(m_port);
  }
  memcpy(m_socketAddress, &address, sizeof address < m_socketAddressLength ? sizeof address : m_socketAddressLength);
  return true;
}

bool IOSocketAbstract::makeSocket()
{
  BASE_LOG(this, eMsgError, "abstract class");
  return false;
}

const char* IOSocketAbstract::MDNSProtocolTag()
{
  BASE_LOG(this, eMsgError, "MDNS not supported : unsupported protocol class");
  return nullptr;
}

void IOSocketAbstract::setConnectedClientDescriptors(int descriptor, const void* address, unsigned int addressLength)
{
  _releaseSocketInternal();
  m_socketAddress = static_cast<unsigned char*>(calloc(1, addressLength ? addressLength : 1));
  if (address && addressLength) memcpy(m_socketAddress, address, addressLength);
  m_socketAddressLength = addressLength;
  m_socketfd.store(descriptor);
  m_readAheadStart = m_readAheadEnd = 0;
  m_endReason.store(eEndNone);
  m_connected.store(true);
}

void IOSocketAbstract::getOurAddress(char* output, int outputLength)
{
  if (!output || outputLength <= 0) return;
  output[0] = '\0';
  if (!isIOConnected() && !isServerStarted()) {
    BASE_LOG(this, eMsgError, "unable to get our address, socket not connected");
    return;
  }
  struct sockaddr_in local;
  socklen_t length = sizeof local;
  char dotted[INET_ADDRSTRLEN] = "";
  if (getsockname(m_socketfd.load(), reinterpret_cast<struct sockaddr*>(&local), &length) != 0 ||
      local.sin_family != AF_INET || !inet_ntop(AF_INET, &local.sin_addr, dotted, sizeof dotted))
    return;
  strncpy(output, dotted, outputLength - 1);
  output[outputLength - 1] = '\0';
}

BaseString* IOSocketAbstract::getRemoteAddress()
{
  if (!m_socketAddress || m_socketAddressLength < sizeof(struct sockaddr_in)) return nullptr;
  const struct sockaddr_in* address = reinterpret_cast<const struct sockaddr_in*>(m_socketAddress);
  if (address->sin_family != AF_INET) return nullptr;
  char dotted[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted)) return nullptr;
  BaseString* text = new BaseString(dotted);
  text->autorelease();
  return text;
}

// ---------------------------------------------------------------------------------------
// Client side and closing

bool IOSocketAbstract::connect_socket(const char* host, uint16_t port)
{
  setSocketAddress(host, port);
  return openIO();
}

bool IOSocketAbstract::disconnect_socket()
{
  return closeIO();
}

bool IOSocketAbstract::openIO()
{
  if (isIOConnected()) {
    BASE_LOG(this, eMsgError, "Socket is already connected to %s", m_host);
    return false;
  }
  if (!lookupAddress()) {
    BASE_LOG(this, eMsgError, "Invalid address");
    return false;
  }
  int fd = m_socketfd.load();
  int connected = sysConnect(fd, reinterpret_cast<struct sockaddr*>(m_socketAddress), m_socketAddressLength);
  // A signal does not stop a connection under way, only our wait for it: failing here
  // would leave a socket that may still connect, and then refuses every later attempt.
  if (connected != 0 && errno == EINTR) connected = finishInterruptedConnect(fd);
  if (connected != 0) {
    BASE_LOG(this, eMsgError, "unable to connect to %s : %hu", m_host, m_port);
    return false;
  }
  m_readAheadStart = m_readAheadEnd = 0;
  m_endReason.store(eEndNone);
  m_connected.store(true);
  return true;
}

void IOSocketAbstract::_releaseSocketInternal()
{
  int fd = m_socketfd.exchange(-1);
  if (fd != -1) {
    shutdown(fd, SHUT_RDWR);
    close(fd);
  }
  free(m_socketAddress);
  m_socketAddress = nullptr;
  m_socketAddressLength = 0;
}

bool IOSocketAbstract::closeIO()
{
  if (!isIOConnected() && !isServerStarted()) {
    IODriverAbstract::closeIO();
    return true;
  }
  if (isIOConnected()) _noteEnd(eEndLocal);
  if (isThreadRunning()) {
    // Woken, the worker sees the cleared flag at once instead of after its 2-second wait.
    m_keepRunning.store(false);
    _wakeWorker();
    stopThread();
  }
  // A reader failing on its own thread may close at the same time as its owner: the lock
  // makes one of them release the descriptors and the other find them gone.
  m_socketLock->lock();
  _releaseSocketInternal();
  m_connected.store(false);
  _closeWakePipe();
  m_socketLock->unlock();
  IODriverAbstract::closeIO();
  return true;
}

// ---------------------------------------------------------------------------------------
// Waiting and waking (the server side is in IOSocketAbstractServer.cpp)

bool IOSocketAbstract::_openWakePipe()
{
  if (m_wakeFds[0] != -1) return true;
  return pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) == 0;
}

void IOSocketAbstract::_wakeWorker()
{
  if (m_wakeFds[1] == -1) return;
  char byte = 1;
  // A full pipe already holds a wake-up; nothing else can go wrong that matters here.
  ssize_t ignored = write(m_wakeFds[1], &byte, 1);
  (void)ignored;
}

void IOSocketAbstract::_closeWakePipe()
{
  for (int& fd : m_wakeFds) {
    if (fd != -1) close(fd);
    fd = -1;
  }
}

int IOSocketAbstract::_millisecondsOf(unsigned int timeoutSeconds)
{
  return timeoutSeconds >= unsigned(INT_MAX / 1000) ? INT_MAX : int(timeoutSeconds * 1000);
}

IOSocketAbstract::eWaitResult IOSocketAbstract::_waitForDescriptor(int fd, short events, int timeoutMs)
{
  struct pollfd watched[2];
  watched[0].fd = fd;
  watched[0].events = events;
  nfds_t count = 1;
  int wakeFd = m_wakeFds[0];
  if (wakeFd != -1) {
    watched[1].fd = wakeFd;
    watched[1].events = POLLIN;
    count = 2;
  }
  int64_t deadline = monotonicMilliseconds() + timeoutMs;
  for (;;) {
    watched[0].revents = watched[1].revents = 0;
    int remaining = int(deadline - monotonicMilliseconds());
    if (remaining < 0) remaining = 0;
    int result = sysPoll(watched, count, remaining);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return eWaitTimeout;
    if (count == 2 && watched[1].revents) {
      char drained[16];
      while (read(wakeFd, drained, sizeof drained) > 0) {
      }
      return eWaitWoken;
    }
    // A peer's hang-up is readable: the read then sees the end of the stream.
    if (watched[0].revents & (events | ((events & POLLIN) ? POLLHUP : 0))) return eWaitReady;
    return eWaitException;
  }
}

// ---------------------------------------------------------------------------------------
// Reading and writing

uint32_t IOSocketAbstract::_takeReadAhead(unsigned char* output, uint32_t length)
{
  uint32_t available = m_readAheadEnd - m_readAheadStart;
  uint32_t count = length < available ? length : available;
  if (count == 0) return 0;
  memcpy(output, m_readAhead + m_readAheadStart, count);
  m_readAheadStart += count;
  if (m_readAheadStart == m_readAheadEnd) m_readAheadStart = m_readAheadEnd = 0;
  return count;
}

unsigned char* IOSocketAbstract::_readAheadBlock(int fd)
{
  if (!m_readAheadChecked) {
    m_readAheadChecked = true;
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM)
      m_readAhead = static_cast<unsigned char*>(malloc(READ_AHEAD_SIZE));
  }
  return m_readAhead;
}

bool IOSocketAbstract::readWithTimeout(void* buffer, uint32_t& length, unsigned int timeoutSeconds)
{
  if (length == 0) return true;
  int fd = m_socketfd.load();
  if (fd == -1) {
    length = 0;
    return false;
  }
  if (m_readLimit == 0) {
    BASE_LOG(this, eMsgError, "Socket read limit reached");
    _noteEnd(eEndOther);
    closeIO();
    length = 0;
    return false;
  }
  if (m_readLimit > 0 && length > m_readLimit) length = uint32_t(m_readLimit);
  unsigned char* output = static_cast<unsigned char*>(buffer);
  uint32_t wanted = length;
  // What has already arrived is delivered without a wait.
  uint32_t received = _takeReadAhead(output, wanted);
  while (received < wanted) {
    int64_t deadline = m_readDeadline.load();
    if (timeoutSeconds != NO_TIMEOUT || deadline != 0) {
      int waitMs = timeoutSeconds != NO_TIMEOUT ? _millisecondsOf(timeoutSeconds) : INT_MAX;
      if (deadline != 0) {
        int64_t left = deadline - monotonicMilliseconds();
        if (left < waitMs) waitMs = left < 0 ? 0 : int(left);
      }
      eWaitResult waited = _waitForDescriptor(fd, POLLIN | POLLPRI, waitMs);
      if (waited == eWaitTimeout || waited == eWaitWoken) {
        BASE_LOG(this, eMsgError, "Socket read timeout");
        break;
      }
      if (waited == eWaitException) {
        int error = socketError(fd);
        BASE_LOG(this, eMsgError, "Socket Select error while reading : %s", strerror(error));
        _noteEnd(endReasonOf(error));
        closeIO();
        break;
      }
    }
    uint32_t rest = wanted - received;
    unsigned char* block = rest < READ_AHEAD_SIZE ? _readAheadBlock(fd) : nullptr;
    ssize_t count = block ? sysRecv(fd, block, READ_AHEAD_SIZE, 0) : sysRecv(fd, output + received, rest, 0);
    if (count < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      BASE_LOG(this, eMsgError, "Socket read error : %s", strerror(error));
      _noteEnd(endReasonOf(error));
      closeIO();
      break;
    }
    if (count == 0) {
      _noteEnd(eEndPeerClosed);
      closeIO();
      break;
    }
    if (block) {
      m_readAheadStart = 0;
      m_readAheadEnd = uint32_t(count);
      received += _takeReadAhead(output + received, rest);
    } else {
      received += uint32_t(count);
    }
  }
  length = received;
  if (m_readLimit > 0) m_readLimit -= received;
  return received > 0;
}

void IOSocketAbstract::_noteEnd(eEndReason reason)
{
  int none = eEndNone;
  m_endReason.compare_exchange_strong(none, reason);
}

void IOSocketAbstract::setReadDeadline(int milliseconds)
{
  int64_t deadline = monotonicMilliseconds() + (milliseconds < 0 ? 0 : milliseconds);
  m_readDeadline.store(deadline != 0 ? deadline : 1);
}

void IOSocketAbstract::shutdownIO()
{
  // Under the lock that closing takes, so that the number cannot be closed and reused
  // between reading it and shutting it down.
  m_socketLock->lock();
  int fd = m_socketfd.load();
  if (fd != -1) {
    _noteEnd(eEndLocal);
    shutdown(fd, SHUT_RDWR);
  }
  m_socketLock->unlock();
}

bool IOSocketAbstract::enableKeepAlive(int idleSeconds, int intervalSeconds, int probes)
{
  int fd = m_socketfd.load();
  const int on = 1;
  // Without this, data waiting for an acknowledgement suspends the probes and a vanished
  // peer is only noticed after the retransmissions give up, many minutes later.
  const unsigned int userTimeoutMs = unsigned(idleSeconds + intervalSeconds * probes) * 1000u;
  bool applied = sysSetsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
  applied = sysSetsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds) == 0 && applied;
  applied = sysSetsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds) == 0 && applied;
  applied = sysSetsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0 && applied;
  applied = sysSetsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs) == 0 && applied;
  if (!applied) BASE_LOG(this, eMsgError, "Set socket options error (%i)", errno);
  return applied;
}

bool IOSocketAbstract::writeWithTimeout(const void* bytes, uint32_t length, unsigned int timeoutSeconds)
{
  int fd = m_socketfd.load();
  if (fd == -1) return false;
  uint32_t sent = 0;
  while (sent < length) {
    if (!isIOConnected()) break;
    if (timeoutSeconds != NO_TIMEOUT) {
      eWaitResult waited = _waitForDescriptor(fd, POLLOUT, _millisecondsOf(timeoutSeconds));
      if (waited == eWaitTimeout || waited == eWaitWoken) {
        BASE_LOG(this, eMsgError, "Socket write timeout");
        _noteEnd(eEndVanished);
        closeIO();
        break;
      }
      if (waited == eWaitException) {
        int error = socketError(fd);
        BASE_LOG(this, eMsgError, "Socket write error : %s", strerror(error));
        _noteEnd(endReasonOf(error));
        closeIO();
        break;
      }
    }
    // MSG_NOSIGNAL: a peer that went away must fail this call, not end the host process.
    ssize_t count = sysSend(fd, static_cast<const char*>(bytes) + sent, length - sent, MSG_NOSIGNAL);
    if (count < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      BASE_LOG(this, eMsgError, "Socket write error : %s", strerror(error));
      _noteEnd(endReasonOf(error));
      closeIO();
      break;
    }
    sent += uint32_t(count);
  }
  return sent == length;
}

bool IOSocketAbstract::isReadable()
{
  if (!isIOConnected()) return false;
  if (m_readAheadEnd > m_readAheadStart) return true;
  int fd = m_socketfd.load();
  if (fd == -1) {
    BASE_LOG(this, eMsgError, "bad descriptor");
    return false;
  }
  struct pollfd watched = {fd, POLLIN, 0};
  int result = sysPoll(&watched, 1, 0);
  if (result < 0) {
    BASE_LOG(this, eMsgError, "select error");
    return false;
  }
  return result > 0 && (watched.revents & (POLLIN | POLLHUP));
}

bool IOSocketAbstract::readUpTo(const char* terminator, BaseBuffer* buffer, unsigned int timeoutSeconds)
{
  return readUpToWithMax(terminator, buffer, timeoutSeconds, UINT_MAX);
}

bool IOSocketAbstract::readUpToWithMax(const char* terminator, BaseBuffer* buffer, unsigned int timeoutSeconds,
                                       unsigned int maxLength)
{
  buffer->clear();
  while (!buffer->hasSuffix(terminator)) {
    char byte;
    if (timeoutSeconds != 0) {
      uint32_t length = 1;
      if (!readWithTimeout(&byte, length, timeoutSeconds)) {
        BASE_LOG(this, eMsgError, "readWithTimeout returned false");
        return false;
      }
    } else if (!readIOExact(&byte, 1)) {
      BASE_LOG(this, eMsgError, "readIO returned false");
      return false;
    }
    buffer->appendBytes(&byte, 1);
    if (buffer->length() >= maxLength) {
      BASE_LOG(this, eMsgError, "result too long : %d", (int)buffer->length());
      return false;
    }
  }
  return true;
}

bool IOSocketAbstract::read_data(BaseBuffer* buffer, uint32_t length)
{
  buffer->clear();
  if (!buffer->setLength(length)) return false;
  return readIOExact(buffer->bytes(), length);
}

// ---------------------------------------------------------------------------------------
// Signals

void sig_catch(int signalNumber)
{
  BASE_LOG(nullptr, eMsgError, "Received signal %i", signalNumber);
}

void IOSocketAbstract::enableSignalHandler()
{
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = sig_catch;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGPIPE, &action, nullptr) == 0)
    BASE_LOG(this, eMsgInfo, "signal catcher installed");
  else
    BASE_LOG(this, eMsgError, "can't install signal catcher ");
}
