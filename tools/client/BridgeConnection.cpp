#include "BridgeConnection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "StopSignal.h"
#include "net/IOSocketTCP.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "platform/Sockets.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"

using namespace platform;

namespace {

using Clock = std::chrono::steady_clock;

// Rounded up, so that a wait never ends before its deadline.
int millisecondsUntil(Clock::time_point deadline)
{
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : int((left + 999) / 1000);
}

// Waits for `events` on `fd` or for a stop request: the events seen, 0 on time-out, -1 when
// stopped.
int waitFor(SocketHandle fd, short events, Clock::time_point deadline)
{
  PollEntry fds[2] = {{fd, events, 0}, {StopSignal::descriptor(), ePollIn, 0}};
  for (;;) {
    if (StopSignal::raised()) return -1;
    const int ready = pollSockets(fds, fds[1].handle == INVALID_SOCKET_HANDLE ? 1 : 2, millisecondsUntil(deadline));
    if (ready > 0 && fds[0].revents) return fds[0].revents;
    // Interrupted waits go on with the time that is left.
    if (ready == 0 || (ready < 0 && lastSocketError() != EINTR)) return 0;
  }
}

BaseString* textOrNull(const std::string& text)
{
  return text.empty() ? nullptr : new (eRetainAutorelease) BaseString(text.c_str());
}

}  // namespace

BridgeConnection::~BridgeConnection()
{
  close();
}

SocketHandle BridgeConnection::_connectOnce(const void* address, unsigned int addressLength, int timeoutMs)
{
  const SocketHandle fd = openSocket(eFamilyIPv4, eSocketStream);
  if (fd == INVALID_SOCKET_HANDLE) return INVALID_SOCKET_HANDLE;
  int error = setSocketBlocking(fd, false) ? 0 : lastSocketError();
  if (error == 0 && connectSocket(fd, address, addressLength) != 0) {
    error = lastSocketError();
    if (error == EINPROGRESS) {
      const int events = waitFor(fd, ePollOut, Clock::now() + std::chrono::milliseconds(timeoutMs));
      if (events > 0)
        error = pendingSocketError(fd);
      else
        error = events < 0 ? EINTR : ETIMEDOUT;
    }
  }
  // The driver reads and writes with blocking calls bounded by its own waits.
  if (error == 0 && !setSocketBlocking(fd, true)) error = lastSocketError();
  if (error != 0) {
    closeSocket(fd);
    setLastSocketError(error);
    return INVALID_SOCKET_HANDLE;
  }
  return fd;
}

BridgeConnection::eConnect BridgeConnection::connect(const std::string& host, uint16_t port, int timeoutMs)
{
  close();
  alignas(8) unsigned char address[128];
  const unsigned int addressLength = socketAddressSize(eFamilyIPv4);
  if (!IOSocketAbstract::lookupHost(host.c_str(), port, address)) {
    m_problem = "unknown host \"" + host + "\"";
    return eConnectFailed;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  SocketHandle fd = INVALID_SOCKET_HANDLE;
  for (;;) {
    // At least one attempt with a useful bound, even with no time left to wait.
    fd = _connectOnce(address, addressLength, std::max(millisecondsUntil(deadline), RETRY_MS));
    if (fd != INVALID_SOCKET_HANDLE || StopSignal::raised()) break;
    const int error = lastSocketError();
    m_problem = "cannot connect to " + host + ":" + std::to_string(port) + ": " + socketErrorText(error);
    // Only a refusal may pass: nothing listens yet. Anything else will not get better soon.
    if (error != ECONNREFUSED || Clock::now() >= deadline) return eConnectFailed;
    if (StopSignal::sleepFor(std::min(millisecondsUntil(deadline), RETRY_MS))) break;
  }
  if (fd == INVALID_SOCKET_HANDLE) return eConnectStopped;
  IOSocketTCP* driver = new IOSocketTCP();
  driver->setConnectedClientDescriptors(fd, address, addressLength);
  m_session = new DistantObjectsCenter(driver);
  driver->release();
  return eConnected;
}

int BridgeConnection::login(const std::string& userAgent, const std::string& user,
                            const std::string& password, int timeoutMs)
{
  DistantObjectsCenter::setLoginTimeout(timeoutMs);
  return m_session->performLogin(textOrNull(userAgent), textOrNull(user), textOrNull(password));
}

std::string BridgeConnection::bridgeName() const
{
  BaseString* name = m_session ? m_session->getOtherSideName() : nullptr;
  return name ? name->cString() : "";
}

BridgeConnection::eReply BridgeConnection::request(const std::string& command, int timeoutMs,
                                                   BaseObject*& reply, double& roundTripMs)
{
  reply = nullptr;
  IOSocketAbstract* socket = dynamic_cast<IOSocketAbstract*>(m_session->getDriver());
  BaseDictionary* question = new (eRetainAutorelease) BaseDictionary();
  question->setObjectForKey(new (eRetainAutorelease) BaseString(command.c_str()), "cmd_id");

  const Clock::time_point sent = Clock::now();
  const Clock::time_point deadline = sent + std::chrono::milliseconds(timeoutMs);
  m_session->sendObject(question);
  if (m_session->isClosed()) {
    m_problem = "the bridge closed the connection";
    return eReplyClosed;
  }
  // Waiting for the first byte outside the serializer keeps a late reply from leaving the
  // stream out of step: nothing has been read when the wait ends without one.
  const int events = waitFor(socket->getSocketfd(), ePollIn, deadline);
  if (events < 0) return eReplyStopped;
  if (events == 0) {
    m_problem = "no reply within " + std::to_string(timeoutMs) + " ms";
    return eReplyNone;
  }
  socket->setReadDeadline(std::max(millisecondsUntil(deadline), 1));
  reply = m_session->getSerializer()->unserializeObjectFromIO();
  socket->clearReadDeadline();
  roundTripMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
  if (reply) return eReplyReceived;
  if (m_session->isClosed()) {
    m_problem = "the bridge closed the connection";
    return eReplyClosed;
  }
  m_problem = "the reply was not a whole object within " + std::to_string(timeoutMs) + " ms";
  return eReplyUnreadable;
}

void BridgeConnection::close()
{
  if (!m_session) return;
  m_session->close();
  m_session->release();
  m_session = nullptr;
}
