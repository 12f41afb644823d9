// The socket calls that the drivers make, reached through one replaceable table so that
// tests can produce what a real peer or kernel rarely does on demand: EINTR, short sends,
// failing options or accepts. Production code never changes the table; a test replaces an
// entry while no driver is in use (a replacement may pass calls on to the functions of
// Sockets.h, which are the native ones) and puts the native one back afterwards.
#pragma once

#include <atomic>

#include "platform/Sockets.h"

namespace platform {

struct SystemCalls
{
  using PollFunction = int (*)(PollEntry*, unsigned int, int);
  using RecvFunction = ptrdiff_t (*)(SocketHandle, void*, size_t);
  using SendFunction = ptrdiff_t (*)(SocketHandle, const void*, size_t);
  using AcceptFunction = SocketHandle (*)(SocketHandle, void*, unsigned int*);
  using SetOptionFunction = int (*)(SocketHandle, eSocketOption, int);
  using KeepAliveFunction = int (*)(SocketHandle, int, int, int);
  using ConnectFunction = int (*)(SocketHandle, const void*, unsigned int);

  static std::atomic<PollFunction> poll;
  static std::atomic<RecvFunction> recv;
  static std::atomic<SendFunction> send;
  static std::atomic<AcceptFunction> accept;
  static std::atomic<SetOptionFunction> setOption;
  static std::atomic<KeepAliveFunction> keepAlive;
  static std::atomic<ConnectFunction> connect;

  // Puts every native entry back.
  static void restore();
};

inline int sysPoll(PollEntry* entries, unsigned int count, int timeoutMs)
{
  return SystemCalls::poll.load(std::memory_order_relaxed)(entries, count, timeoutMs);
}
inline ptrdiff_t sysRecv(SocketHandle socket, void* buffer, size_t length)
{
  return SystemCalls::recv.load(std::memory_order_relaxed)(socket, buffer, length);
}
inline ptrdiff_t sysSend(SocketHandle socket, const void* bytes, size_t length)
{
  return SystemCalls::send.load(std::memory_order_relaxed)(socket, bytes, length);
}
inline SocketHandle sysAccept(SocketHandle socket, void* address, unsigned int* addressLength)
{
  return SystemCalls::accept.load(std::memory_order_relaxed)(socket, address, addressLength);
}
inline int sysSetOption(SocketHandle socket, eSocketOption option, int value)
{
  return SystemCalls::setOption.load(std::memory_order_relaxed)(socket, option, value);
}
inline int sysSetKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int probes)
{
  return SystemCalls::keepAlive.load(std::memory_order_relaxed)(socket, idleSeconds, intervalSeconds, probes);
}
inline int sysConnect(SocketHandle socket, const void* address, unsigned int addressLength)
{
  return SystemCalls::connect.load(std::memory_order_relaxed)(socket, address, addressLength);
}

}  // namespace platform
