#include "platform/ReadySignal.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

namespace platform {

namespace {

SOCKET socketOf(intptr_t handle)
{
  return handle == -1 ? INVALID_SOCKET : SOCKET(handle);
}

}  // namespace

ReadySignal::ReadySignal() : m_readEnd(-1), m_writeEnd(-1)
{
  // Counted by the system: each signal starts and cleans up its own use of Winsock.
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET self = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long nonBlocking = 1;
  // Connected to itself: it takes datagrams from nobody else, and nothing leaves the machine.
  if (self == INVALID_SOCKET || bind(self, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(self, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(self, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ioctlsocket(self, FIONBIO, &nonBlocking) != 0) {
    if (self != INVALID_SOCKET) closesocket(self);
    WSACleanup();
    return;
  }
  m_readEnd = m_writeEnd = intptr_t(self);
}

ReadySignal::~ReadySignal()
{
  if (m_readEnd == -1) return;
  closesocket(socketOf(m_readEnd));
  WSACleanup();
}

void ReadySignal::signal()
{
  // A full buffer is readable already.
  if (m_writeEnd != -1) send(socketOf(m_writeEnd), "r", 1, 0);
}

void ReadySignal::clear()
{
  char bytes[64];
  while (m_readEnd != -1 && recv(socketOf(m_readEnd), bytes, sizeof bytes, 0) > 0) {
  }
}

int waitForReadable(const int* descriptors, bool* readable, int count, int timeoutMs, int* error)
{
  std::vector<WSAPOLLFD> watched;
  std::vector<int> indexOf;
  for (int i = 0; i < count; ++i) {
    readable[i] = false;
    if (descriptors[i] < 0) continue;
    watched.push_back({SOCKET(descriptors[i]), POLLRDNORM, 0});
    indexOf.push_back(i);
  }
  if (watched.empty()) {
    // WSAPoll refuses an empty set; there is nothing to wait for either.
    if (error) *error = WSAEINVAL;
    return -1;
  }
  int ready = WSAPoll(watched.data(), ULONG(watched.size()), timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) {
    if (error) *error = WSAGetLastError();
    return -1;
  }
  for (size_t i = 0; i < watched.size(); ++i) readable[indexOf[i]] = watched[i].revents != 0;
  return ready;
}

}  // namespace platform
