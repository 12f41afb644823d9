// Winsock behind the portable socket calls. What differs from Linux, and how it is met:
// - errors are Winsock's codes, mapped onto errno's and kept per thread, since errno is not
//   set by Winsock and WSAGetLastError is cleared by the next call;
// - a non-blocking connect under way fails with WSAEWOULDBLOCK: reported as EINPROGRESS;
// - WSAPoll takes sockets only and refuses POLLPRI: events are translated, urgent data is
//   never reported, and the wake-up is a pair of sockets connected over 127.0.0.1;
// - sends never raise a signal, so nothing is needed for SIGPIPE;
// - SO_REUSEADDR would let a second server take a port that is in use: address reuse is left
//   to the system, which already binds again while old connections linger;
// - keep-alive timing uses TCP_KEEPIDLE / TCP_KEEPINTVL / TCP_KEEPCNT (Windows 10 1709 and
//   later), else SIO_KEEPALIVE_VALS, which fixes the count of probes at 10; the user
//   time-out is TCP_MAXRT in whole seconds, and where that is refused the system's own
//   retransmission limit ends a connection whose data goes unacknowledged;
// - a shutdown does not end a receive blocked on another thread, and WSAPoll never reports
//   a socket we shut down: receives are cancelled, and polls report such sockets as hung up
//   (checked between slices of a quarter of a second);
// - there are no Unix-domain sockets (wine refuses them): the local family fails at once.
#include "platform/Sockets.h"

// In this order: each needs the ones before it.
#include <winsock2.h>
// clang-format off
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/windows/WideText.h"

// Options of Windows 10 that older headers do not name.
#ifndef TCP_KEEPIDLE
#define TCP_KEEPIDLE 3
#endif
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif
#ifndef TCP_KEEPINTVL
#define TCP_KEEPINTVL 17
#endif
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif

namespace platform {

static_assert(sizeof(SocketHandle) == sizeof(SOCKET) && INVALID_SOCKET_HANDLE == INVALID_SOCKET,
              "SocketHandle holds a SOCKET");

namespace {

std::atomic<int> startCount{0};
thread_local int lastError = 0;

const struct
{
  int winsock;
  int portable;
} ERROR_CODES[] = {
    {WSAEINTR, EINTR},
    {WSAEWOULDBLOCK, EWOULDBLOCK},
    {WSAEINPROGRESS, EINPROGRESS},
    {WSAEALREADY, EALREADY},
    {WSAENOTSOCK, ENOTSOCK},
    {WSAEMSGSIZE, EMSGSIZE},
    {WSAENOPROTOOPT, ENOPROTOOPT},
    {WSAEPROTONOSUPPORT, EPROTONOSUPPORT},
    {WSAEOPNOTSUPP, EOPNOTSUPP},
    {WSAEAFNOSUPPORT, EAFNOSUPPORT},
    {WSAEADDRINUSE, EADDRINUSE},
    {WSAEADDRNOTAVAIL, EADDRNOTAVAIL},
    {WSAENETDOWN, ENETDOWN},
    {WSAENETUNREACH, ENETUNREACH},
    {WSAENETRESET, ENETRESET},
    {WSAECONNABORTED, ECONNABORTED},
    {WSAECONNRESET, ECONNRESET},
    {WSAENOBUFS, ENOBUFS},
    {WSAEISCONN, EISCONN},
    {WSAENOTCONN, ENOTCONN},
    {WSAESHUTDOWN, EPIPE},  // a send after shutdown, as Linux reports it
    {WSAETIMEDOUT, ETIMEDOUT},
    {WSAECONNREFUSED, ECONNREFUSED},
    {WSAEHOSTUNREACH, EHOSTUNREACH},
    {WSAEMFILE, EMFILE},
    {WSAEINVAL, EINVAL},
    {WSAEFAULT, EFAULT},
    {WSAEBADF, EBADF},
    {WSAEACCES, EACCES},
    {WSAENAMETOOLONG, ENAMETOOLONG},
    {WSA_NOT_ENOUGH_MEMORY, ENOMEM},
};

int portableError(int winsock)
{
  for (const auto& code : ERROR_CODES)
    if (code.winsock == winsock) return code.portable;
  return winsock;
}

// Records the failure of the Winsock call just made; returns `result` for brevity.
template <typename T>
T failed(T result)
{
  lastError = portableError(WSAGetLastError());
  return result;
}

// Sockets shut down by us and not yet closed: polls report them as Linux does.
std::mutex shutDownLock;
std::vector<SOCKET> shutDownSockets;  // guarded by shutDownLock
const int POLL_SLICE_MS = 250;

void noteShutDown(SOCKET socket, bool shut)
{
  std::lock_guard<std::mutex> guard(shutDownLock);
  auto found = std::find(shutDownSockets.begin(), shutDownSockets.end(), socket);
  if (shut && found == shutDownSockets.end()) shutDownSockets.push_back(socket);
  if (!shut && found != shutDownSockets.end()) shutDownSockets.erase(found);
}

// Marks the entries of shut-down sockets as hung up (and readable or writable, as asked);
// how many it marked.
int reportShutDown(PollEntry* entries, unsigned int count)
{
  std::lock_guard<std::mutex> guard(shutDownLock);
  if (shutDownSockets.empty()) return 0;
  int marked = 0;
  for (unsigned int i = 0; i < count; ++i) {
    if (entries[i].handle == INVALID_SOCKET_HANDLE ||
        std::find(shutDownSockets.begin(), shutDownSockets.end(), SOCKET(entries[i].handle)) ==
            shutDownSockets.end())
      continue;
    entries[i].revents = short((entries[i].events & (ePollIn | ePollOut)) | ePollHangUp);
    ++marked;
  }
  return marked;
}

int clampedLength(size_t length)
{
  return length > size_t(INT_MAX) ? INT_MAX : int(length);
}

void keepFromChildren(SOCKET socket)
{
  SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

bool startSockets()
{
  WSADATA data;
  // Winsock counts its own starts; ours keeps an unpaired stop from ending someone else's.
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  startCount.fetch_add(1);
  return true;
}

void stopSockets()
{
  int count = startCount.load();
  while (count > 0 && !startCount.compare_exchange_weak(count, count - 1)) {
  }
  if (count > 0) WSACleanup();
}

int lastSocketError()
{
  return lastError;
}

void setLastSocketError(int code)
{
  lastError = code;
}

std::string socketErrorText(int code)
{
  int winsock = code;
  for (const auto& known : ERROR_CODES)
    if (known.portable == code) winsock = known.winsock;
  if (winsock < WSABASEERR && winsock != WSA_NOT_ENOUGH_MEMORY) return strerror(code);
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      DWORD(winsock), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length && text) {
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L'.'))
      --length;
    message = utf8FromWide(std::wstring(text, length));
  }
  if (text) LocalFree(text);
  // Wine has no texts for Winsock's codes: the C library's, where it knows the code.
  if (message.empty() && code < WSABASEERR) message = strerror(code);
  if (message.empty() || message.compare(0, 7, "Unknown") == 0)
    message = "socket error " + std::to_string(winsock);
  return message;
}

SocketHandle openSocket(eSocketFamily family, eSocketType type)
{
  if (family == eFamilyLocal) {
    lastError = EAFNOSUPPORT;
    return INVALID_SOCKET_HANDLE;
  }
  const int kind = type == eSocketDatagram ? SOCK_DGRAM : SOCK_STREAM;
  const int protocol = type == eSocketDatagram ? IPPROTO_UDP : IPPROTO_TCP;
  SOCKET made =
      WSASocketW(AF_INET, kind, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (made == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    // Systems without the flag: the handle is made private right after.
    made = WSASocketW(AF_INET, kind, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (made != INVALID_SOCKET) keepFromChildren(made);
  }
  return made == INVALID_SOCKET ? failed(INVALID_SOCKET_HANDLE) : SocketHandle(made);
}

void closeSocket(SocketHandle socket)
{
  if (socket == INVALID_SOCKET_HANDLE) return;
  // Forgotten before the number can be given to a new socket.
  noteShutDown(SOCKET(socket), false);
  closesocket(SOCKET(socket));
}

void resetSocket(SocketHandle socket)
{
  if (socket == INVALID_SOCKET_HANDLE) return;
  const linger reset = {1, 0};
  setsockopt(SOCKET(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
  closeSocket(socket);
}

void shutdownSocket(SocketHandle socket)
{
  noteShutDown(SOCKET(socket), true);
  shutdown(SOCKET(socket), SD_BOTH);
  // Unlike Linux, Windows leaves a receive that blocks on another thread waiting: it is
  // cancelled, and then reports the end of the stream as it would on Linux.
  CancelIoEx(reinterpret_cast<HANDLE>(SOCKET(socket)), nullptr);
}

void shutdownSocketSending(SocketHandle socket)
{
  shutdown(SOCKET(socket), SD_SEND);
}

bool setSocketBlocking(SocketHandle socket, bool blocking)
{
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(SOCKET(socket), FIONBIO, &nonBlocking) == 0 || failed(false);
}

bool isStreamSocket(SocketHandle socket)
{
  int type = 0;
  int length = sizeof type;
  return getsockopt(SOCKET(socket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0 &&
         type == SOCK_STREAM;
}

int pendingSocketError(SocketHandle socket)
{
  int error = 0;
  int length = sizeof error;
  if (getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
    return failed(0), lastError;
  return error == 0 ? 0 : portableError(error);
}

bool bindSocket(SocketHandle socket, const void* address, unsigned int addressLength)
{
  return bind(SOCKET(socket), static_cast<const struct sockaddr*>(address), int(addressLength)) == 0 ||
         failed(false);
}

bool listenSocket(SocketHandle socket, int backlog)
{
  return listen(SOCKET(socket), backlog) == 0 || failed(false);
}

unsigned int socketAddressSize(eSocketFamily family)
{
  return family == eFamilyLocal ? 0 : sizeof(struct sockaddr_in);
}

bool ipv4AddressParts(const void* address, unsigned int addressLength, char* dotted, uint16_t* port)
{
  if (!address || addressLength < sizeof(struct sockaddr_in)) return false;
  struct sockaddr_in ipv4;
  memcpy(&ipv4, address, sizeof ipv4);
  if (ipv4.sin_family != AF_INET) return false;
  if (dotted) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&ipv4.sin_addr);
    snprintf(dotted, IPV4_TEXT_SIZE, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  }
  if (port) *port = ntohs(ipv4.sin_port);
  return true;
}

bool socketLocalAddress(SocketHandle socket, void* address, unsigned int* addressLength)
{
  int length = int(*addressLength);
  if (getsockname(SOCKET(socket), static_cast<struct sockaddr*>(address), &length) != 0) return failed(false);
  *addressLength = unsigned(length);
  return true;
}

std::string localHostName()
{
  wchar_t name[256];
  DWORD length = sizeof name / sizeof name[0];
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return std::string();
  return utf8FromWide(std::wstring(name, length));
}

size_t localSocketPathCapacity()
{
  return 0;
}

bool makeLocalSocketAddress(const char*, void*, unsigned int*)
{
  lastError = EAFNOSUPPORT;
  return false;
}

void removeLocalSocketFile(const char*) {}

void shareLocalSocketFile(const char*) {}

ptrdiff_t receiveFrom(SocketHandle socket, void* buffer, size_t length, void* address,
                      unsigned int* addressLength)
{
  int size = int(*addressLength);
  int count = recvfrom(SOCKET(socket), static_cast<char*>(buffer), clampedLength(length), 0,
                       static_cast<struct sockaddr*>(address), &size);
  // A datagram longer than the buffer fills it and fails with WSAEMSGSIZE, where Linux
  // hands over the part that fits: both give that part, the rest is gone.
  if (count == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) count = clampedLength(length);
  if (count == SOCKET_ERROR) return failed(-1);
  *addressLength = unsigned(size);
  return count;
}

ptrdiff_t sendTo(SocketHandle socket, const void* bytes, size_t length, const void* address,
                 unsigned int addressLength)
{
  int count = sendto(SOCKET(socket), static_cast<const char*>(bytes), clampedLength(length), 0,
                     static_cast<const struct sockaddr*>(address), int(addressLength));
  return count == SOCKET_ERROR ? failed(-1) : count;
}

bool catchBrokenPipeSignal(void (*)(int))
{
  return true;
}

int pollSockets(PollEntry* entries, unsigned int count, int timeoutMs)
{
  // WSAPoll refuses invalid handles and POLLPRI, and knows its own event bits: the entries
  // it is given are translated copies of the valid ones.
  // The drivers poll one or two sockets before each read: those fit on the stack.
  WSAPOLLFD fewWatched[4];
  unsigned int fewIndexes[4];
  std::vector<WSAPOLLFD> manyWatched;
  std::vector<unsigned int> manyIndexes;
  if (count > 4) {
    manyWatched.resize(count);
    manyIndexes.resize(count);
  }
  WSAPOLLFD* watched = count > 4 ? manyWatched.data() : fewWatched;
  unsigned int* indexes = count > 4 ? manyIndexes.data() : fewIndexes;
  unsigned int watchedCount = 0;
  for (unsigned int i = 0; i < count; ++i) {
    entries[i].revents = 0;
    if (entries[i].handle == INVALID_SOCKET_HANDLE) continue;
    WSAPOLLFD& entry = watched[watchedCount];
    entry.fd = SOCKET(entries[i].handle);
    entry.events = short(((entries[i].events & ePollIn) ? POLLRDNORM : 0) |
                         ((entries[i].events & ePollOut) ? POLLWRNORM : 0));
    entry.revents = 0;
    indexes[watchedCount++] = i;
  }
  // A socket we shut down is never reported by WSAPoll, as Linux reports it at once: the
  // wait goes in slices, each of them ended early by a shutdown where the system allows.
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (int shut = reportShutDown(entries, count)) return shut;
    const ULONGLONG waited = GetTickCount64() - start;
    const int left = timeoutMs < 0                    ? POLL_SLICE_MS
                     : waited >= ULONGLONG(timeoutMs) ? 0
                                                      : int(timeoutMs - waited);
    const int slice = left < POLL_SLICE_MS ? left : POLL_SLICE_MS;
    int ready = 0;
    if (watchedCount == 0) {
      Sleep(DWORD(slice));
    } else {
      ready = WSAPoll(watched, ULONG(watchedCount), slice);
      if (ready == SOCKET_ERROR && WSAGetLastError() != WSA_OPERATION_ABORTED) return failed(-1);
    }
    if (ready > 0) {
      for (unsigned int i = 0; i < watchedCount; ++i) {
        const short seen = watched[i].revents;
        entries[indexes[i]].revents =
            short(((seen & (POLLRDNORM | POLLRDBAND)) ? ePollIn : 0) | ((seen & POLLWRNORM) ? ePollOut : 0) |
                  ((seen & POLLERR) ? ePollError : 0) | ((seen & POLLHUP) ? ePollHangUp : 0) |
                  ((seen & POLLNVAL) ? ePollInvalid : 0));
      }
      return ready;
    }
    if (left == 0) return 0;
  }
}

ptrdiff_t receiveBytes(SocketHandle socket, void* buffer, size_t length)
{
  int count = recv(SOCKET(socket), static_cast<char*>(buffer), clampedLength(length), 0);
  if (count != SOCKET_ERROR) return count;
  // Shut down by us (shutdownSocket): the end of the stream, as Linux reports it.
  const int error = WSAGetLastError();
  if (error == WSAESHUTDOWN || error == WSA_OPERATION_ABORTED) return 0;
  return failed(-1);
}

ptrdiff_t sendBytes(SocketHandle socket, const void* bytes, size_t length)
{
  int count = send(SOCKET(socket), static_cast<const char*>(bytes), clampedLength(length), 0);
  return count == SOCKET_ERROR ? failed(-1) : count;
}

SocketHandle acceptSocket(SocketHandle socket, void* address, unsigned int* addressLength)
{
  int length = addressLength ? int(*addressLength) : 0;
  SOCKET accepted =
      accept(SOCKET(socket), static_cast<struct sockaddr*>(address), addressLength ? &length : nullptr);
  if (accepted == INVALID_SOCKET) return failed(INVALID_SOCKET_HANDLE);
  keepFromChildren(accepted);
  if (addressLength) *addressLength = unsigned(length);
  return SocketHandle(accepted);
}

int connectSocket(SocketHandle socket, const void* address, unsigned int addressLength)
{
  if (connect(SOCKET(socket), static_cast<const struct sockaddr*>(address), int(addressLength)) == 0)
    return 0;
  failed(0);
  if (lastError == EWOULDBLOCK) lastError = EINPROGRESS;
  return -1;
}

// The SOL_SOCKET name of the options that map onto one here; 0 for the others.
static int socketLevelName(eSocketOption option)
{
  switch (option) {
    case eOptionReusePort:
      return SO_REUSEADDR;
    case eOptionSendBuffer:
      return SO_SNDBUF;
    case eOptionReceiveBuffer:
      return SO_RCVBUF;
    default:
      return 0;
  }
}

int setSocketOption(SocketHandle socket, eSocketOption option, int value)
{
  if (option == eOptionReuseAddress) return 0;
  if (option == eOptionUserTimeout) {
    const DWORD seconds = value <= 0 ? 0 : DWORD((value + 999) / 1000);
    setsockopt(SOCKET(socket), IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&seconds), sizeof seconds);
    return 0;
  }
  const int name = socketLevelName(option);
  if (name == 0) {
    lastError = ENOPROTOOPT;
    return -1;
  }
  if (setsockopt(SOCKET(socket), SOL_SOCKET, name, reinterpret_cast<const char*>(&value), sizeof value) == 0)
    return 0;
  return failed(-1);
}

bool getSocketOption(SocketHandle socket, eSocketOption option, int* value)
{
  if (option == eOptionReuseAddress) {
    // What the option stands for is the system's default here (see setSocketOption).
    *value = 1;
    return true;
  }
  const int name = socketLevelName(option);
  if (name == 0) {
    lastError = ENOPROTOOPT;
    return false;
  }
  int length = sizeof *value;
  return getsockopt(SOCKET(socket), SOL_SOCKET, name, reinterpret_cast<char*>(value), &length) == 0 ||
         failed(false);
}

int setKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int probes)
{
  const SOCKET native = SOCKET(socket);
  const DWORD on = TRUE;
  if (setsockopt(native, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on) != 0)
    return failed(-1);
  auto setTcp = [native](int name, int value) {
    const DWORD option = DWORD(value < 0 ? 0 : value);
    return setsockopt(native, IPPROTO_TCP, name, reinterpret_cast<const char*>(&option), sizeof option) == 0;
  };
  bool timed = setTcp(TCP_KEEPIDLE, idleSeconds);
  timed = setTcp(TCP_KEEPINTVL, intervalSeconds) && timed;
  if (!timed) {
    struct tcp_keepalive values;
    values.onoff = 1;
    values.keepalivetime = ULONG(idleSeconds < 0 ? 0 : idleSeconds) * 1000u;
    values.keepaliveinterval = ULONG(intervalSeconds < 0 ? 0 : intervalSeconds) * 1000u;
    DWORD returned = 0;
    if (WSAIoctl(native, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                 nullptr) != 0)
      return failed(-1);
  }
  // Refused before Windows 10 (1709), whose count is fixed at 10.
  setTcp(TCP_KEEPCNT, probes);
  return 0;
}

// ---------------------------------------------------------------------------------------
// The wake-up: two sockets connected over 127.0.0.1, non-blocking at both ends

bool SocketWakeUp::open()
{
  if (isOpen()) return true;
  SocketHandle listening = openSocket(eFamilyIPv4, eSocketStream);
  SocketHandle writer = openSocket(eFamilyIPv4, eSocketStream);
  SocketHandle reader = INVALID_SOCKET_HANDLE;
  struct sockaddr_in address;
  unsigned int length = sizeof address;
  bool made = listening != INVALID_SOCKET_HANDLE && writer != INVALID_SOCKET_HANDLE &&
              lookupIpv4Address("127.0.0.1", 0, &address) &&
              bindSocket(listening, &address, sizeof address) && listenSocket(listening, 1) &&
              socketLocalAddress(listening, &address, &length) &&
              connectSocket(writer, &address, length) == 0;
  if (made) {
    // Only our own writer may become the other end: another program could connect first.
    struct sockaddr_in writerAddress, peer;
    unsigned int writerLength = sizeof writerAddress, peerLength = sizeof peer;
    reader = acceptSocket(listening, &peer, &peerLength);
    made = reader != INVALID_SOCKET_HANDLE && socketLocalAddress(writer, &writerAddress, &writerLength) &&
           peerLength == writerLength && memcmp(&peer, &writerAddress, peerLength) == 0 &&
           setSocketBlocking(reader, false) && setSocketBlocking(writer, false);
  }
  closeSocket(listening);
  if (!made) {
    closeSocket(reader);
    closeSocket(writer);
    return false;
  }
  const DWORD noDelay = TRUE;
  setsockopt(SOCKET(writer), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
             sizeof noDelay);
  m_watched = reader;
  m_woken = writer;
  return true;
}

void SocketWakeUp::close()
{
  closeSocket(m_watched);
  closeSocket(m_woken);
  m_watched = m_woken = INVALID_SOCKET_HANDLE;
}

void SocketWakeUp::wake()
{
  if (m_woken == INVALID_SOCKET_HANDLE) return;
  const int saved = WSAGetLastError();
  const char byte = 1;
  // A full buffer already holds a wake-up.
  send(SOCKET(m_woken), &byte, 1, 0);
  WSASetLastError(saved);
}

void SocketWakeUp::drain()
{
  if (m_watched == INVALID_SOCKET_HANDLE) return;
  char drained[16];
  while (recv(SOCKET(m_watched), drained, sizeof drained, 0) > 0) {
  }
}

}  // namespace platform
