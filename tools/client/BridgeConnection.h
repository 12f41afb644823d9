// The client's one session with the bridge: a TCP connection made within a bound (a refused
// attempt is retried, since the bridge may still be starting), handed to a
// DistantObjectsCenter session for the login and the request/reply exchange. Owns the
// session (one reference). The session's receive thread is never started: every read is
// the caller's own, bounded, and ends early when StopSignal is raised. One thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Sockets.h"

class BaseObject;
class DistantObjectsCenter;

class BridgeConnection
{
public:
  enum eConnect
  {
    eConnected,
    eConnectFailed,
    eConnectStopped
  };
  enum eReply
  {
    eReplyReceived,
    eReplyNone,        // nothing arrived within the bound; the connection stays usable
    eReplyClosed,      // the bridge closed the connection
    eReplyUnreadable,  // bytes came that are no object, or not all of one in time
    eReplyStopped
  };

  BridgeConnection() = default;
  ~BridgeConnection();
  BridgeConnection(const BridgeConnection&) = delete;
  BridgeConnection& operator=(const BridgeConnection&) = delete;

  // `host` is a host name or dotted IPv4 address.
  eConnect connect(const std::string& host, uint16_t port, int timeoutMs);
  // Sends the login (an empty text leaves its entry out) and waits up to `timeoutMs` for
  // the answer; the bridge's result code (LoginManager::eLoginResult).
  int login(const std::string& userAgent, const std::string& user, const std::string& password,
            int timeoutMs);
  // The name the bridge gave in its login reply; empty when none.
  std::string bridgeName() const;
  // Sends {"cmd_id": command} and waits up to `timeoutMs` for one object. On
  // eReplyReceived, `reply` lives in the caller's innermost pool and `roundTripMs` is the
  // monotonic time from before the send to the end of the read.
  eReply request(const std::string& command, int timeoutMs, BaseObject*& reply, double& roundTripMs);
  void close();
  // What went wrong in the last call that failed, in words.
  const std::string& problem() const { return m_problem; }

  static constexpr int RETRY_MS = 200;

private:
  // One non-blocking connect bounded by `timeoutMs`: the socket, or INVALID_SOCKET_HANDLE
  // with the last socket error set.
  static platform::SocketHandle _connectOnce(const void* address, unsigned int addressLength, int timeoutMs);

  DistantObjectsCenter* m_session = nullptr;
  std::string m_problem;
};
