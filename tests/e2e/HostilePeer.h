// Hostile peers of the bridge, in the test process: raw TCP connections on 127.0.0.1 at the
// bridge's port that send exactly the bytes a test gives them (literal object-stream bytes
// for the few well-formed messages they need), with every wait bounded. One thread per peer.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Sockets.h"

namespace e2e {

// The login of the Corvane app, the same with a wrong password (result 2), and {"cmd_id": "1"}.
std::string loginBytes();
std::string wrongPasswordLoginBytes();
std::string positionRequestBytes();

class HostilePeer
{
public:
  // Connects at once (bounded); a small `receiveBuffer` (bytes) makes a peer that does not read
  // fill up quickly, 0 keeps the system's.
  explicit HostilePeer(int receiveBuffer = 0);
  ~HostilePeer();
  HostilePeer(const HostilePeer&) = delete;
  HostilePeer& operator=(const HostilePeer&) = delete;

  bool connected() const;
  // True when every byte was sent within `limitMs`.
  bool send(const std::string& bytes, int limitMs = 5000);
  // Exactly `length` bytes, or what came before the limit or the end of the connection.
  std::string receive(size_t length, int limitMs = 5000);
  // Sends without waiting; how many bytes the system took.
  size_t sendWhatFits(const std::string& bytes);
  // Logs in as the app does and asks for one position: true when the bridge took this peer into
  // service (it answered with the head of a record, the rest left unread).
  bool takeSlot();
  // Ends our sending side: the bridge reads the end of the stream after what was sent.
  void finishSending();
  // True when the bridge closes the connection within `limitMs`; what it sent before is added
  // to `received` when given.
  bool closedByBridge(int limitMs, std::string* received = nullptr);
  // Gone without a goodbye: the connection is reset, whatever is still unread.
  void vanish();

private:
  // Reads up to `length` bytes into `into` within `limitMs`: true when the connection ended.
  bool _read(size_t length, int limitMs, std::string& into);
  platform::SocketHandle m_socket = platform::INVALID_SOCKET_HANDLE;
};

}  // namespace e2e
