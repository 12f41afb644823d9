#include "e2e/HostilePeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "e2e/BridgeApp.h"
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

std::string positionRequestBytes()
{
  return std::string("\x15\x00\x01", 3) + shortString("cmd_id") + shortString("1");
}

HostilePeer::HostilePeer(int receiveBuffer)
{
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  // A peer queued behind a stalled accept may wait a while; a blocking connect honours this.
  const timeval limit = {20, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return;
  }
  fcntl(fd, F_SETFL, O_NONBLOCK);
  m_fd = fd;
}

HostilePeer::~HostilePeer()
{
  if (m_fd >= 0) close(m_fd);
}

bool HostilePeer::send(const std::string& bytes, int limitMs)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  size_t sent = 0;
  while (m_fd >= 0 && sent < bytes.size()) {
    const ssize_t done = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    sent += done > 0 ? size_t(done) : 0;
    if (done < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd writable = {m_fd, POLLOUT, 0};
    if (done <= 0 && poll(&writable, 1, remainingMs(end)) <= 0) return false;
  }
  return sent == bytes.size();
}

size_t HostilePeer::sendWhatFits(const std::string& bytes)
{
  const ssize_t done = m_fd >= 0 ? ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) : -1;
  return done > 0 ? size_t(done) : 0;
}

bool HostilePeer::_read(size_t length, int limitMs, std::string& into)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char block[4096];
  for (size_t got = 0; m_fd >= 0 && got < length;) {
    const ssize_t done = recv(m_fd, block, std::min(sizeof block, length - got), 0);
    if (done == 0 || (done < 0 && errno != EAGAIN && errno != EINTR)) return true;
    into.append(block, done > 0 ? size_t(done) : 0);
    got += done > 0 ? size_t(done) : 0;
    pollfd readable = {m_fd, POLLIN, 0};
    if (done < 0 && poll(&readable, 1, remainingMs(end)) <= 0) return false;
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
  if (m_fd >= 0) shutdown(m_fd, SHUT_WR);
}

bool HostilePeer::closedByBridge(int limitMs, std::string* received)
{
  std::string ignored;
  return m_fd >= 0 && _read(std::string::npos, limitMs, received ? *received : ignored);
}

void HostilePeer::vanish()
{
  if (m_fd < 0) return;
  const linger reset = {1, 0};
  setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(m_fd);
  m_fd = -1;
}

}  // namespace e2e
