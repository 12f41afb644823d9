// The system calls that the socket drivers make, reached through one replaceable table so
// that tests can produce what a real peer or kernel rarely does on demand: EINTR, short
// sends, failing options or accepts. Production code never changes the table; a test
// replaces an entry while no driver is in use and puts the native one back afterwards.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>

struct SystemCalls
{
  using PollFunction = int (*)(struct pollfd*, nfds_t, int);
  using RecvFunction = ssize_t (*)(int, void*, size_t, int);
  using SendFunction = ssize_t (*)(int, const void*, size_t, int);
  using Accept4Function = int (*)(int, struct sockaddr*, socklen_t*, int);
  using SetsockoptFunction = int (*)(int, int, int, const void*, socklen_t);
  using ConnectFunction = int (*)(int, const struct sockaddr*, socklen_t);

  static std::atomic<PollFunction> poll;
  static std::atomic<RecvFunction> recv;
  static std::atomic<SendFunction> send;
  static std::atomic<Accept4Function> accept4;
  static std::atomic<SetsockoptFunction> setsockopt;
  static std::atomic<ConnectFunction> connect;

  // Puts every native entry back.
  static void restore();
};

inline int sysPoll(struct pollfd* fds, nfds_t count, int timeoutMs)
{
  return SystemCalls::poll.load(std::memory_order_relaxed)(fds, count, timeoutMs);
}
inline ssize_t sysRecv(int fd, void* buffer, size_t length, int flags)
{
  return SystemCalls::recv.load(std::memory_order_relaxed)(fd, buffer, length, flags);
}
inline ssize_t sysSend(int fd, const void* bytes, size_t length, int flags)
{
  return SystemCalls::send.load(std::memory_order_relaxed)(fd, bytes, length, flags);
}
inline int sysAccept4(int fd, struct sockaddr* address, socklen_t* length, int flags)
{
  return SystemCalls::accept4.load(std::memory_order_relaxed)(fd, address, length, flags);
}
inline int sysSetsockopt(int fd, int level, int name, const void* value, socklen_t length)
{
  return SystemCalls::setsockopt.load(std::memory_order_relaxed)(fd, level, name, value, length);
}
inline int sysConnect(int fd, const struct sockaddr* address, socklen_t length)
{
  return SystemCalls::connect.load(std::memory_order_relaxed)(fd, address, length);
}
