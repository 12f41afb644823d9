#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace platform {

static_assert(sizeof(PollEntry) == sizeof(struct pollfd) &&
                  offsetof(PollEntry, revents) == offsetof(struct pollfd, revents),
              "a PollEntry is handed to poll as it is");
static_assert(ePollIn == POLLIN && ePollPriority == POLLPRI && ePollOut == POLLOUT && ePollError == POLLERR &&
                  ePollHangUp == POLLHUP && ePollInvalid == POLLNVAL,
              "poll's own event bits");

bool startSockets()
{
  return true;
}

void stopSockets() {}

int lastSocketError()
{
  return errno;
}

void setLastSocketError(int code)
{
  errno = code;
}

std::string socketErrorText(int code)
{
  return strerror(code);
}

SocketHandle openSocket(eSocketFamily family, eSocketType type)
{
  return socket(family == eFamilyLocal ? AF_UNIX : AF_INET,
                (type == eSocketDatagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
}

void closeSocket(SocketHandle socket)
{
  if (socket != INVALID_SOCKET_HANDLE) close(socket);
}

void shutdownSocket(SocketHandle socket)
{
  shutdown(socket, SHUT_RDWR);
}

void resetSocket(SocketHandle socket)
{
  if (socket == INVALID_SOCKET_HANDLE) return;
  const linger reset = {1, 0};
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(socket);
}

void shutdownSocketSending(SocketHandle socket)
{
  shutdown(socket, SHUT_WR);
}

bool setSocketBlocking(SocketHandle socket, bool blocking)
{
  const int flags = fcntl(socket, F_GETFL);
  return flags != -1 && fcntl(socket, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

bool isStreamSocket(SocketHandle socket)
{
  int type = 0;
  socklen_t length = sizeof type;
  return getsockopt(socket, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

int pendingSocketError(SocketHandle socket)
{
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
}

bool bindSocket(SocketHandle socket, const void* address, unsigned int addressLength)
{
  return bind(socket, static_cast<const struct sockaddr*>(address), addressLength) == 0;
}

bool listenSocket(SocketHandle socket, int backlog)
{
  return listen(socket, backlog) == 0;
}

unsigned int socketAddressSize(eSocketFamily family)
{
  return family == eFamilyLocal ? sizeof(struct sockaddr_un) : sizeof(struct sockaddr_in);
}

bool ipv4AddressParts(const void* address, unsigned int addressLength, char* dotted, uint16_t* port)
{
  if (!address || addressLength < sizeof(struct sockaddr_in)) return false;
  struct sockaddr_in ipv4;
  memcpy(&ipv4, address, sizeof ipv4);
  if (ipv4.sin_family != AF_INET) return false;
  if (dotted && !inet_ntop(AF_INET, &ipv4.sin_addr, dotted, IPV4_TEXT_SIZE)) return false;
  if (port) *port = ntohs(ipv4.sin_port);
  return true;
}

bool socketLocalAddress(SocketHandle socket, void* address, unsigned int* addressLength)
{
  socklen_t length = *addressLength;
  if (getsockname(socket, static_cast<struct sockaddr*>(address), &length) != 0) return false;
  *addressLength = length;
  return true;
}

std::string localHostName()
{
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

size_t localSocketPathCapacity()
{
  return sizeof(((struct sockaddr_un*)nullptr)->sun_path);
}

bool makeLocalSocketAddress(const char* path, void* address, unsigned int* addressLength)
{
  struct sockaddr_un local;
  size_t length = path ? strlen(path) : 0;
  if (!path || length >= sizeof local.sun_path) return false;
  memset(&local, 0, sizeof local);
  local.sun_family = AF_UNIX;
  memcpy(local.sun_path, path, length);
  memcpy(address, &local, sizeof local);
  *addressLength = sizeof local;
  return true;
}

void removeLocalSocketFile(const char* path)
{
  if (path) unlink(path);
}

void shareLocalSocketFile(const char* path)
{
  if (path) chmod(path, 0777);
}

ptrdiff_t receiveFrom(SocketHandle socket, void* buffer, size_t length, void* address,
                      unsigned int* addressLength)
{
  socklen_t size = *addressLength;
  ssize_t count = recvfrom(socket, buffer, length, 0, static_cast<struct sockaddr*>(address), &size);
  *addressLength = size;
  return count;
}

ptrdiff_t sendTo(SocketHandle socket, const void* bytes, size_t length, const void* address,
                 unsigned int addressLength)
{
  return sendto(socket, bytes, length, MSG_NOSIGNAL, static_cast<const struct sockaddr*>(address),
                addressLength);
}

bool catchBrokenPipeSignal(void (*handler)(int))
{
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGPIPE, &action, nullptr) == 0;
}

int pollSockets(PollEntry* entries, unsigned int count, int timeoutMs)
{
  return poll(reinterpret_cast<struct pollfd*>(entries), nfds_t(count), timeoutMs < 0 ? -1 : timeoutMs);
}

ptrdiff_t receiveBytes(SocketHandle socket, void* buffer, size_t length)
{
  return recv(socket, buffer, length, 0);
}

ptrdiff_t sendBytes(SocketHandle socket, const void* bytes, size_t length)
{
  return send(socket, bytes, length, MSG_NOSIGNAL);
}

SocketHandle acceptSocket(SocketHandle socket, void* address, unsigned int* addressLength)
{
  socklen_t length = addressLength ? *addressLength : 0;
  int accepted = accept4(socket, static_cast<struct sockaddr*>(address), addressLength ? &length : nullptr,
                         SOCK_CLOEXEC);
  if (addressLength && accepted != -1) *addressLength = length;
  return accepted;
}

int connectSocket(SocketHandle socket, const void* address, unsigned int addressLength)
{
  return connect(socket, static_cast<const struct sockaddr*>(address), addressLength);
}

namespace {

bool nativeOption(eSocketOption option, int& level, int& name)
{
  level = SOL_SOCKET;
  switch (option) {
    case eOptionReuseAddress:
      name = SO_REUSEADDR;
      return true;
    case eOptionReusePort:
      name = SO_REUSEPORT;
      return true;
    case eOptionSendBuffer:
      name = SO_SNDBUF;
      return true;
    case eOptionReceiveBuffer:
      name = SO_RCVBUF;
      return true;
    case eOptionUserTimeout:
      level = IPPROTO_TCP, name = TCP_USER_TIMEOUT;
      return true;
  }
  return false;
}

}  // namespace

int setSocketOption(SocketHandle socket, eSocketOption option, int value)
{
  int level, name;
  if (!nativeOption(option, level, name)) return errno = ENOPROTOOPT, -1;
  return setsockopt(socket, level, name, &value, sizeof value);
}

bool getSocketOption(SocketHandle socket, eSocketOption option, int* value)
{
  int level, name;
  socklen_t length = sizeof *value;
  return nativeOption(option, level, name) && getsockopt(socket, level, name, value, &length) == 0;
}

int setKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int probes)
{
  const int on = 1;
  // Every option is tried; the error is the last refusal's.
  bool applied = setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
  int error = applied ? 0 : errno;
  const int tcpOptions[][2] = {
      {TCP_KEEPIDLE, idleSeconds}, {TCP_KEEPINTVL, intervalSeconds}, {TCP_KEEPCNT, probes}};
  for (const auto& option : tcpOptions) {
    if (setsockopt(socket, IPPROTO_TCP, option[0], &option[1], sizeof option[1]) != 0)
      applied = false, error = errno;
  }
  if (applied) return 0;
  errno = error;
  return -1;
}

// ---------------------------------------------------------------------------------------
// The wake-up: a pipe, non-blocking at both ends

bool SocketWakeUp::open()
{
  if (isOpen()) return true;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  m_watched = ends[0];
  m_woken = ends[1];
  return true;
}

void SocketWakeUp::close()
{
  for (SocketHandle* end : {&m_watched, &m_woken}) {
    if (*end != INVALID_SOCKET_HANDLE) ::close(*end);
    *end = INVALID_SOCKET_HANDLE;
  }
}

void SocketWakeUp::wake()
{
  if (m_woken == INVALID_SOCKET_HANDLE) return;
  const int saved = errno;
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing else can go wrong that matters here.
  ssize_t ignored = write(m_woken, &byte, 1);
  (void)ignored;
  errno = saved;
}

void SocketWakeUp::drain()
{
  if (m_watched == INVALID_SOCKET_HANDLE) return;
  char drained[16];
  while (read(m_watched, drained, sizeof drained) > 0) {
  }
}

}  // namespace platform
