#include "net/IOSocketAbstract.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "io/BaseBuffer.h"
#include "net/IOSocketAbstractInternal.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "platform/SystemCalls.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

using namespace platform;
using SocketInternal::socketError;

namespace {

int64_t monotonicMilliseconds()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// What a failed call on a connection says of how it ended: the peer or the path to it is gone
// (keep-alive or the user time-out gave up, a reset), or something else went wrong.
IOSocketAbstract::eEndReason endReasonOf(int error)
{
  switch (error) {
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case SOCKET_ERROR_HOST_DOWN:
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
int finishInterruptedConnect(SocketHandle fd)
{
  PollEntry watched = {fd, ePollOut, 0};
  int ready;
  do {
    ready = sysPoll(&watched, 1, -1);
  } while (ready < 0 && lastSocketError() == EINTR);
  if (ready < 0) return -1;
  int error = pendingSocketError(fd);
  if (error != 0) {
    setLastSocketError(error);
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
      m_socketfd(INVALID_SOCKET_HANDLE),
      m_readDeadline(0),
      m_readLimit(-1),
      m_endReason(eEndNone),
      m_socketLock(new BaseMutex()),
      m_serverOptions(nullptr),
      m_maxClientCount(0),
      m_publication(nullptr),
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
  if (!m_socketAddress || m_socketfd.load() == INVALID_SOCKET_HANDLE) {
    // Half a socket (a failed earlier creation) must not leak its descriptor.
    _releaseSocketInternal();
    makeSocket();
  }
  m_host = host ? strdup(host) : nullptr;
  m_port = port;
}

bool IOSocketAbstract::lookupHost(const char* host, uint16_t port, void* address)
{
  if (!host || !address) return false;
  return lookupIpv4Address(host, port, address);
}

bool IOSocketAbstract::lookupAddress()
{
  if (!m_socketAddress) {
    BASE_LOG(this, eMsgError, "NULL address or host");
    return false;
  }
  // Room for the address whatever the buffer's size: only the part that fits is kept.
  alignas(8) unsigned char address[64];
  const unsigned int size = socketAddressSize(eFamilyIPv4);
  if (m_host) {
    if (!lookupHost(m_host, m_port, address)) return false;
  } else {
    BASE_LOG(this, eMsgInfo, "setting socket as server on port %i", (int)m_port);
    lookupIpv4Address(nullptr, m_port, address);
  }
  memcpy(m_socketAddress, address, size < m_socketAddressLength ? size : m_socketAddressLength);
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

void IOSocketAbstract::setConnectedClientDescriptors(SocketHandle descriptor, const void* address,
                                                     unsigned int addressLength)
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
  alignas(8) unsigned char local[128];
  unsigned int length = sizeof local;
  char dotted[IPV4_TEXT_SIZE] = "";
  if (!socketLocalAddress(m_socketfd.load(), local, &length) || !ipv4AddressParts(local, length, dotted, nullptr))
    return;
  strncpy(output, dotted, outputLength - 1);
  output[outputLength - 1] = '\0';
}

BaseString* IOSocketAbstract::getRemoteAddress()
{
  char dotted[IPV4_TEXT_SIZE];
  if (!ipv4AddressParts(m_socketAddress, m_socketAddressLength, dotted, nullptr)) return nullptr;
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
  SocketHandle fd = m_socketfd.load();
  int connected = sysConnect(fd, m_socketAddress, m_socketAddressLength);
  // A signal does not stop a connection under way, only our wait for it: failing here
  // would leave a socket that may still connect, and then refuses every later attempt.
  if (connected != 0 && lastSocketError() == EINTR) connected = finishInterruptedConnect(fd);
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
  SocketHandle fd = m_socketfd.exchange(INVALID_SOCKET_HANDLE);
  if (fd != INVALID_SOCKET_HANDLE) {
    shutdownSocket(fd);
    closeSocket(fd);
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
  // Not connected before the peer can see the end: a peer that reconnects at once must find
  // this connection closed, not still in the way.
  m_socketLock->lock();
  m_connected.store(false);
  _releaseSocketInternal();
  _closeWakeUp();
  m_socketLock->unlock();
  IODriverAbstract::closeIO();
  return true;
}

// ---------------------------------------------------------------------------------------
// Waiting and waking (the server side is in IOSocketAbstractServer.cpp)

bool IOSocketAbstract::_openWakeUp()
{
  return m_wakeUp.open();
}

void IOSocketAbstract::_wakeWorker()
{
  m_wakeUp.wake();
}

void IOSocketAbstract::_closeWakeUp()
{
  m_wakeUp.close();
}

int IOSocketAbstract::_millisecondsOf(unsigned int timeoutSeconds)
{
  return timeoutSeconds >= unsigned(INT_MAX / 1000) ? INT_MAX : int(timeoutSeconds * 1000);
}

IOSocketAbstract::eWaitResult IOSocketAbstract::_waitForDescriptor(SocketHandle fd, short events, int timeoutMs)
{
  PollEntry watched[2];
  watched[0].handle = fd;
  watched[0].events = events;
  unsigned int count = 1;
  if (m_wakeUp.isOpen()) {
    watched[1].handle = m_wakeUp.handle();
    watched[1].events = ePollIn;
    count = 2;
  }
  int64_t deadline = monotonicMilliseconds() + timeoutMs;
  for (;;) {
    watched[0].revents = watched[1].revents = 0;
    int remaining = int(deadline - monotonicMilliseconds());
    if (remaining < 0) remaining = 0;
    int result = sysPoll(watched, count, remaining);
    if (result < 0 && lastSocketError() == EINTR) continue;
    if (result <= 0) return eWaitTimeout;
    if (count == 2 && watched[1].revents) {
      m_wakeUp.drain();
      return eWaitWoken;
    }
    // A peer's hang-up is readable: the read then sees the end of the stream.
    if (watched[0].revents & (events | ((events & ePollIn) ? ePollHangUp : 0))) return eWaitReady;
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

unsigned char* IOSocketAbstract::_readAheadBlock(SocketHandle fd)
{
  if (!m_readAheadChecked) {
    m_readAheadChecked = true;
    if (isStreamSocket(fd)) m_readAhead = static_cast<unsigned char*>(malloc(READ_AHEAD_SIZE));
  }
  return m_readAhead;
}

const unsigned char* IOSocketAbstract::bufferedIO(uint32_t& count)
{
  count = m_readAheadEnd - m_readAheadStart;
  if (m_readLimit >= 0 && count > m_readLimit) count = uint32_t(m_readLimit);
  if (m_socketfd.load() == INVALID_SOCKET_HANDLE) count = 0;
  // The block lives as long as the socket, so a close meanwhile leaves the bytes in place.
  return count ? m_readAhead + m_readAheadStart : nullptr;
}

void IOSocketAbstract::takeBufferedIO(uint32_t count)
{
  BASE_ASSERT(count <= m_readAheadEnd - m_readAheadStart);
  m_readAheadStart += count;
  if (m_readAheadStart == m_readAheadEnd) m_readAheadStart = m_readAheadEnd = 0;
  if (m_readLimit > 0) m_readLimit -= count;
}

bool IOSocketAbstract::readWithTimeout(void* buffer, uint32_t& length, unsigned int timeoutSeconds)
{
  // Most reads of an object, field by field, find their bytes already read ahead: those
  // need no wait and no system call.
  uint32_t available = 0;
  const unsigned char* bytes = IOSocketAbstract::bufferedIO(available);
  if (length != 0 && length <= available) {
    memcpy(buffer, bytes, length);
    IOSocketAbstract::takeBufferedIO(length);
    return true;
  }
  return _readReceiving(buffer, length, timeoutSeconds);
}

bool IOSocketAbstract::_readReceiving(void* buffer, uint32_t& length, unsigned int timeoutSeconds)
{
  if (length == 0) return true;
  SocketHandle fd = m_socketfd.load();
  if (fd == INVALID_SOCKET_HANDLE) {
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
      eWaitResult waited = _waitForDescriptor(fd, ePollIn | ePollPriority, waitMs);
      if (waited == eWaitTimeout || waited == eWaitWoken) {
        BASE_LOG(this, eMsgError, "Socket read timeout");
        break;
      }
      if (waited == eWaitException) {
        int error = socketError(fd);
        BASE_LOG(this, eMsgError, "Socket Select error while reading : %s", socketErrorText(error).c_str());
        _noteEnd(endReasonOf(error));
        closeIO();
        break;
      }
    }
    uint32_t rest = wanted - received;
    unsigned char* block = rest < READ_AHEAD_SIZE ? _readAheadBlock(fd) : nullptr;
    ptrdiff_t count = block ? sysRecv(fd, block, READ_AHEAD_SIZE) : sysRecv(fd, output + received, rest);
    if (count < 0) {
      int error = lastSocketError();
      if (error == EINTR) continue;
      BASE_LOG(this, eMsgError, "Socket read error : %s", socketErrorText(error).c_str());
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
  SocketHandle fd = m_socketfd.load();
  if (fd != INVALID_SOCKET_HANDLE) {
    _noteEnd(eEndLocal);
    shutdownSocket(fd);
  }
  m_socketLock->unlock();
}

bool IOSocketAbstract::enableKeepAlive(int idleSeconds, int intervalSeconds, int probes)
{
  SocketHandle fd = m_socketfd.load();
  // Without this, data waiting for an acknowledgement suspends the probes and a vanished
  // peer is only noticed after the retransmissions give up, many minutes later.
  const int userTimeoutMs = (idleSeconds + intervalSeconds * probes) * 1000;
  bool applied = sysSetKeepAlive(fd, idleSeconds, intervalSeconds, probes) == 0;
  int error = applied ? 0 : lastSocketError();
  if (sysSetOption(fd, eOptionUserTimeout, userTimeoutMs) != 0) applied = false, error = lastSocketError();
  if (!applied) BASE_LOG(this, eMsgError, "Set socket options error (%i)", error);
  return applied;
}

bool IOSocketAbstract::writeWithTimeout(const void* bytes, uint32_t length, unsigned int timeoutSeconds)
{
  SocketHandle fd = m_socketfd.load();
  if (fd == INVALID_SOCKET_HANDLE) return false;
  uint32_t sent = 0;
  while (sent < length) {
    if (!isIOConnected()) break;
    if (timeoutSeconds != NO_TIMEOUT) {
      eWaitResult waited = _waitForDescriptor(fd, ePollOut, _millisecondsOf(timeoutSeconds));
      if (waited == eWaitTimeout || waited == eWaitWoken) {
        BASE_LOG(this, eMsgError, "Socket write timeout");
        _noteEnd(eEndVanished);
        closeIO();
        break;
      }
      if (waited == eWaitException) {
        int error = socketError(fd);
        BASE_LOG(this, eMsgError, "Socket write error : %s", socketErrorText(error).c_str());
        _noteEnd(endReasonOf(error));
        closeIO();
        break;
      }
    }
    // Never SIGPIPE: a peer that went away must fail this call, not end the host process.
    ptrdiff_t count = sysSend(fd, static_cast<const char*>(bytes) + sent, length - sent);
    if (count < 0) {
      int error = lastSocketError();
      if (error == EINTR) continue;
      BASE_LOG(this, eMsgError, "Socket write error : %s", socketErrorText(error).c_str());
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
  SocketHandle fd = m_socketfd.load();
  if (fd == INVALID_SOCKET_HANDLE) {
    BASE_LOG(this, eMsgError, "bad descriptor");
    return false;
  }
  PollEntry watched = {fd, ePollIn, 0};
  int result = sysPoll(&watched, 1, 0);
  if (result < 0) {
    BASE_LOG(this, eMsgError, "select error");
    return false;
  }
  return result > 0 && (watched.revents & (ePollIn | ePollHangUp));
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
  if (catchBrokenPipeSignal(sig_catch))
    BASE_LOG(this, eMsgInfo, "signal catcher installed");
  else
    BASE_LOG(this, eMsgError, "can't install signal catcher ");
}
