#include "e2e/HostilePeer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "e2e/BridgeApp.h"
#include "platform/Sockets.h"
#include "support/ChildProcess.h"

namespace e2e {
namespace {

// A string object of fewer than 64 bytes: kind 10, version 0, length, text.
std::string shortString(const std::string& value)
{
  return std::string("\x0A\x00", 2) + char(value.size()) + value;
}

std::string loginWith(const char* password)
{
  return std::string("\x15\x00\x03", 3) + shortString("User-Agent") + shortString(USER_AGENT) +
         shortString("Username") + shortString("pilot") + shortString("Password") + shortString(password);
}

}  // namespace

std::string loginBytes()
{
  return loginWith(PASSWORD);
}

std::string wrongPasswordLoginBytes()
{
  return loginWith("9a1c73b7ed7dfd81d8b67613edc86095");
}

// A call that found no room or nothing to read, or was interrupted: wait and try again.
bool mustWait()
{
  const int error = platform::lastSocketError();
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Waits up to `limitMs` for `events` on the peer's socket.
bool waitFor(platform::SocketHandle socket, short events, int limitMs)
{
  platform::PollEntry entry = {socket, events, 0};
  return platform::pollSockets(&entry, 1, limitMs) > 0;
}

std::string positionRequestBytes()
{
  return std::string("\x15\x00\x01", 3) + shortString("cmd_id") + shortString("1");
}

HostilePeer::HostilePeer(int receiveBuffer)
{
  using namespace platform;
  const SocketHandle socket = openSocket(eFamilyIPv4, eSocketStream);
  if (socket == INVALID_SOCKET_HANDLE) return;
  if (receiveBuffer > 0) setSocketOption(socket, eOptionReceiveBuffer, receiveBuffer);
  alignas(8) unsigned char address[64];
  const unsigned int length = socketAddressSize(eFamilyIPv4);
  // A peer queued behind a stalled accept may wait a while for its connection.
  bool connected = setSocketBlocking(socket, false) && lookupIpv4Address("127.0.0.1", BRIDGE_PORT, address);
  if (connected && connectSocket(socket, address, length) != 0) {
    const int error = lastSocketError();
    connected = (error == EINPROGRESS || error == EWOULDBLOCK) && waitFor(socket, ePollOut, 20000) &&
                pendingSocketError(socket) == 0;
  }
  if (!connected) {
    closeSocket(socket);
    return;
  }
  m_socket = socket;
}

HostilePeer::~HostilePeer()
{
  platform::closeSocket(m_socket);
}

bool HostilePeer::connected() const
{
  return m_socket != platform::INVALID_SOCKET_HANDLE;
}

bool HostilePeer::send(const std::string& bytes, int limitMs)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  size_t sent = 0;
  while (connected() && sent < bytes.size()) {
    const ptrdiff_t done = platform::sendBytes(m_socket, bytes.data() + sent, bytes.size() - sent);
    sent += done > 0 ? size_t(done) : 0;
    if (done < 0 && !mustWait()) return false;
    if (done <= 0 && !waitFor(m_socket, platform::ePollOut, remainingMs(end))) return false;
  }
  return sent == bytes.size();
}

size_t HostilePeer::sendWhatFits(const std::string& bytes)
{
  const ptrdiff_t done = connected() ? platform::sendBytes(m_socket, bytes.data(), bytes.size()) : -1;
  return done > 0 ? size_t(done) : 0;
}

bool HostilePeer::_read(size_t length, int limitMs, std::string& into)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char block[4096];
  for (size_t got = 0; connected() && got < length;) {
    const ptrdiff_t done = platform::receiveBytes(m_socket, block, std::min(sizeof block, length - got));
    if (done == 0 || (done < 0 && !mustWait())) return true;
    into.append(block, done > 0 ? size_t(done) : 0);
    got += done > 0 ? size_t(done) : 0;
    if (done < 0 && !waitFor(m_socket, platform::ePollIn, remainingMs(end))) return false;
  }
  return false;
}

std::string HostilePeer::receive(size_t length, int limitMs)
{
  std::string received;
  _read(length, limitMs, received);
  return received;
}

bool HostilePeer::takeSlot()
{
  // The login reply's two entries come in the dictionary's order, not the order they were set in.
  const std::string head("\x15\x00\x02", 3),
      name = shortString("Connected device_name") + shortString("X-Plane"),
      result = shortString("Result") + std::string("\x0C\x00\x00", 3);
  const std::string reply = send(loginBytes()) ? receive(head.size() + name.size() + result.size()) : "";
  return (reply == head + name + result || reply == head + result + name) && send(positionRequestBytes()) &&
         receive(3) == std::string("\x15\x00\x0A", 3);
}

void HostilePeer::finishSending()
{
  if (connected()) platform::shutdownSocketSending(m_socket);
}

bool HostilePeer::closedByBridge(int limitMs, std::string* received)
{
  std::string ignored;
  return connected() && _read(std::string::npos, limitMs, received ? *received : ignored);
}

void HostilePeer::vanish()
{
  platform::resetSocket(m_socket);
  m_socket = platform::INVALID_SOCKET_HANDLE;
}

}  // namespace e2e
