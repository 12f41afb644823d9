// Sockets as the drivers use them, the same on every system: handles, addresses held as
// opaque bytes in the system's own layout, options, bounded polls, host-name lookup, and a
// wake-up that a poll can watch beside sockets. Errors are errno's codes everywhere (on
// Windows, Winsock's codes are mapped onto them), read with lastSocketError() on the
// failing thread. The calls that tests replace go through SystemCalls.h. Any thread.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

#ifdef _WIN32
using SocketHandle = uintptr_t;  // Winsock's SOCKET
constexpr SocketHandle INVALID_SOCKET_HANDLE = ~SocketHandle(0);
// Codes that C++'s <cerrno> does not name. WSAEHOSTDOWN passes unmapped; Windows has no
// code for a machine off the network, so that one is WSAENETDOWN, which is never reported
// (it becomes ENETDOWN).
constexpr int SOCKET_ERROR_HOST_DOWN = 10064;
constexpr int SOCKET_ERROR_NO_NETWORK = 10050;
#else
using SocketHandle = int;
constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;
constexpr int SOCKET_ERROR_HOST_DOWN = EHOSTDOWN;
constexpr int SOCKET_ERROR_NO_NETWORK = ENONET;
#endif

// The socket library: started before the first socket and stopped after the last, by the
// plug-in's and each tool's start and stop. Counted: nested users pair their own calls.
// Nothing to do on Linux. False when the library cannot be started.
bool startSockets();
void stopSockets();

// Starts the library for the lifetime of a scope (a tool's main, a test program).
class SocketLibrary
{
public:
  SocketLibrary() : m_started(startSockets()) {}
  ~SocketLibrary()
  {
    if (m_started) stopSockets();
  }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
  bool isStarted() const { return m_started; }

private:
  bool m_started;
};

// The last socket error of this thread, as an errno code, and its text.
int lastSocketError();
void setLastSocketError(int code);
std::string socketErrorText(int code);

enum eSocketFamily
{
  eFamilyIPv4,
  eFamilyLocal  // Unix-domain sockets named by a path; refused on Windows
};
enum eSocketType
{
  eSocketStream,
  eSocketDatagram
};

// A new socket, not inherited by child processes; INVALID_SOCKET_HANDLE on failure.
SocketHandle openSocket(eSocketFamily family, eSocketType type);
// Closing an invalid handle does nothing.
void closeSocket(SocketHandle socket);
// Closes a connection with a reset instead of its orderly end, whatever is still unsent or
// unread: the peer's next call fails with ECONNRESET.
void resetSocket(SocketHandle socket);
// Ends both directions; the handle stays open (and its number taken) until closed.
void shutdownSocket(SocketHandle socket);
// Ends our direction only: the peer reads the end of the stream, and may still send.
void shutdownSocketSending(SocketHandle socket);
bool setSocketBlocking(SocketHandle socket, bool blocking);
bool isStreamSocket(SocketHandle socket);
// The error a socket holds (a connection that failed in the background), 0 when none; the
// last error when the socket cannot be asked.
int pendingSocketError(SocketHandle socket);
bool bindSocket(SocketHandle socket, const void* address, unsigned int addressLength);
bool listenSocket(SocketHandle socket, int backlog);

// Addresses, in buffers of socketAddressSize(family) bytes (or more), aligned as malloc's.
unsigned int socketAddressSize(eSocketFamily family);
constexpr unsigned int IPV4_TEXT_SIZE = 16;  // "255.255.255.255" and its terminator
// `host` as a name or a dotted address (null: every interface), with the port. Names are
// looked up with the system's resolver, which bounds its own wait.
bool lookupIpv4Address(const char* host, uint16_t port, void* address);
// The dotted address (IPV4_TEXT_SIZE bytes at `dotted`, when not null) and the port of an
// IPv4 address; false for any other family.
bool ipv4AddressParts(const void* address, unsigned int addressLength, char* dotted, uint16_t* port);
// The address a socket is bound to; `addressLength` is the buffer's size in, the address's out.
bool socketLocalAddress(SocketHandle socket, void* address, unsigned int* addressLength);
// The bound port of an IPv4 socket, 0 when it has none.
uint16_t socketLocalPort(SocketHandle socket);
// This machine's host name, empty when the system cannot tell.
std::string localHostName();

// Unix-domain addresses: the longest path an address holds (0 where there are none), the
// address of a path that fits, and the file a server leaves at its path.
size_t localSocketPathCapacity();
bool makeLocalSocketAddress(const char* path, void* address, unsigned int* addressLength);
void removeLocalSocketFile(const char* path);
// Lets every user of the machine connect to a local server.
void shareLocalSocketFile(const char* path);

// Datagrams to and from any peer; -1 on failure. Sending never raises a signal.
ptrdiff_t receiveFrom(SocketHandle socket, void* buffer, size_t length, void* address,
                      unsigned int* addressLength);
ptrdiff_t sendTo(SocketHandle socket, const void* bytes, size_t length, const void* address,
                 unsigned int addressLength);

// Hands SIGPIPE to `handler` (the signal number is passed; SIG_IGN ignores it). Windows has
// no such signal: true without doing anything.
bool catchBrokenPipeSignal(void (*handler)(int));

// The calls below are the system's; the drivers reach them through SystemCalls.h so that
// tests can replace them.

// What a poll watches for and reports (revents adds the last three on its own).
enum ePollEvents : short
{
  ePollIn = 0x1,
  ePollPriority = 0x2,  // urgent data; Windows has none to report
  ePollOut = 0x4,
  ePollError = 0x8,
  ePollHangUp = 0x10,
  ePollInvalid = 0x20
};
struct PollEntry
{
  SocketHandle handle;  // INVALID_SOCKET_HANDLE: ignored
  short events;
  short revents;
};
// Waits up to `timeoutMs` (negative: without bound) for any entry's events: how many
// entries have some, 0 on time-out, -1 on failure (EINTR when a signal came, on Linux).
int pollSockets(PollEntry* entries, unsigned int count, int timeoutMs);
ptrdiff_t receiveBytes(SocketHandle socket, void* buffer, size_t length);
// Never raises SIGPIPE: a peer that went away fails the call with EPIPE instead.
ptrdiff_t sendBytes(SocketHandle socket, const void* bytes, size_t length);
// The accepted socket is not inherited by child processes. `addressLength`: the buffer's
// size in, the peer address's out.
SocketHandle acceptSocket(SocketHandle socket, void* address, unsigned int* addressLength);
int connectSocket(SocketHandle socket, const void* address, unsigned int addressLength);

enum eSocketOption
{
  eOptionReuseAddress,  // bind again while old connections linger (Windows does by default)
  eOptionReusePort,     // several datagram sockets on one port
  eOptionSendBuffer,
  eOptionReceiveBuffer,
  eOptionUserTimeout  // milliseconds that sent data may stay unacknowledged
};
// 0 on success, -1 with the error set.
int setSocketOption(SocketHandle socket, eSocketOption option, int value);
bool getSocketOption(SocketHandle socket, eSocketOption option, int* value);
// Probes a silent peer after `idleSeconds`, every `intervalSeconds`, `probes` times before
// giving up on it; 0 on success, -1 with the error set. Windows before 10 (1709) fixes the
// count of probes at 10.
int setKeepAlive(SocketHandle socket, int idleSeconds, int intervalSeconds, int probes);

// Something a poll can watch beside sockets, for another thread (or a signal handler) to
// end the wait at once: a pipe on Linux; on Windows, whose poll takes sockets only, a pair
// of sockets connected over 127.0.0.1. Opened and closed by its owner while nobody waits.
class SocketWakeUp
{
public:
  SocketWakeUp() = default;
  ~SocketWakeUp() { close(); }
  SocketWakeUp(const SocketWakeUp&) = delete;
  SocketWakeUp& operator=(const SocketWakeUp&) = delete;

  // True when open (already, or now).
  bool open();
  void close();
  bool isOpen() const { return m_watched != INVALID_SOCKET_HANDLE; }
  // What to poll for ePollIn; INVALID_SOCKET_HANDLE when not open.
  SocketHandle handle() const { return m_watched; }
  // Makes the handle readable; safe in a signal handler. Never blocks.
  void wake();
  // Reads every pending wake-up, so that the next wait blocks again.
  void drain();

private:
  SocketHandle m_watched = INVALID_SOCKET_HANDLE;
  SocketHandle m_woken = INVALID_SOCKET_HANDLE;
};

}  // namespace platform
