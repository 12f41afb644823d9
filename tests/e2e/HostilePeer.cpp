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

int remainingMs(std::chrono::steady_clock::time_point end)
{
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
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

bool isLoggedInReply(const std::string& bytes)
{
  // The two entries come in the dictionary's order, which is not the order they were set in.
  const std::string head("\x15\x00\x02", 3);
  const std::string name = shortString("Connected device_name") + shortString("X-Plane");
  const std::string result = shortString("Result") + std::string("\x0C\x00\x00", 3);
  return bytes == head + name + result || bytes == head + result + name;
}

size_t loggedInReplyLength()
{
  return 3 + 2 + 1 + 21 + 2 + 1 + 7 + 2 + 1 + 6 + 3;
}

std::string positionRequestBytes()
{
  return std::string("\x15\x00\x01", 3) + shortString("cmd_id") + shortString("1");
}

std::string positionRecordHead()
{
  return std::string("\x15\x00\x0A", 3);
}

HostilePeer::HostilePeer(int receiveBuffer, int connectLimitMs)
{
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
    close(fd);
    return;
  }
  pollfd writable = {fd, POLLOUT, 0};
  int error = 0;
  socklen_t length = sizeof error;
  if (poll(&writable, 1, connectLimitMs) != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
      error != 0) {
    close(fd);
    return;
  }
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
    if (done > 0) {
      sent += size_t(done);
      continue;
    }
    if (done < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd writable = {m_fd, POLLOUT, 0};
    if (poll(&writable, 1, remainingMs(end)) <= 0) return false;
  }
  return sent == bytes.size();
}

size_t HostilePeer::sendWhatFits(const std::string& bytes)
{
  const ssize_t done = m_fd >= 0 ? ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) : -1;
  return done > 0 ? size_t(done) : 0;
}

std::string HostilePeer::receive(size_t length, int limitMs)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  std::string received;
  char block[4096];
  while (m_fd >= 0 && received.size() < length) {
    const size_t wanted = std::min(sizeof block, length - received.size());
    const ssize_t got = recv(m_fd, block, wanted, 0);
    if (got > 0) {
      received.append(block, size_t(got));
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) break;
    pollfd readable = {m_fd, POLLIN, 0};
    if (poll(&readable, 1, remainingMs(end)) <= 0) break;
  }
  return received;
}

bool HostilePeer::takeSlot()
{
  if (!send(loginBytes()) || !isLoggedInReply(receive(loggedInReplyLength()))) return false;
  return send(positionRequestBytes()) && receive(positionRecordHead().size()) == positionRecordHead();
}

void HostilePeer::finishSending()
{
  if (m_fd >= 0) shutdown(m_fd, SHUT_WR);
}

bool HostilePeer::closedByBridge(int limitMs, std::string* received)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  char block[4096];
  while (m_fd >= 0) {
    const ssize_t got = recv(m_fd, block, sizeof block, 0);
    if (got > 0) {
      if (received) received->append(block, size_t(got));
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) return true;
    pollfd readable = {m_fd, POLLIN, 0};
    if (poll(&readable, 1, remainingMs(end)) <= 0) return false;
  }
  return false;
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
