// A driver on the system's sockets (platform/Sockets.h): holds the peer or listening
// address, connects as a client, binds, listens and accepts as a server (each accepted
// connection becomes a new driver of the concrete class in the client list), reads and
// writes with per-wait time-outs, and publishes a server through DNS-SD when server options
// are set. The socket itself comes from the subclass (makeSocket). Sends never raise
// SIGPIPE. A client driver has no lock around reads and writes: one reader and one writer at
// a time. closeIO may be called from any thread but the server's worker; it wakes the
// worker at once and waits for it.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/IODriverAbstract.h"
#include "platform/Sockets.h"

class BaseBuffer;
class BaseDictionary;
class BaseString;
class MDnsPublication;

class IOSocketAbstract : public IODriverAbstract
{
public:
  IOSocketAbstract();
  // Closes, then withdraws the publication. Concrete classes close in their own
  // destructor first, while the worker can still run their waitForClients.
  ~IOSocketAbstract() override;

  const char* getClass() const override;

  // Connect as a client; the connect call blocks with the system's own time-out.
  bool openIO() override;
  // Stops the worker, closes the socket and releases the clients. Always true.
  bool closeIO() override;
  // Bind, listen (backlog 5), publish when options are set, start the accept loop.
  bool createServer() override;
  void waitForClients() override;
  // True as well when bytes read ahead are waiting.
  bool isReadable() override;
  // Each wait is bounded by the time-out (seconds), not the whole call. A time-out keeps
  // the connection; any other failure or the peer closing closes it. True when at least
  // one byte was read; `length` is what arrived. A small read on a stream takes whatever
  // has arrived, up to READ_AHEAD_SIZE, and the next reads get the surplus first without
  // waiting: an object read field by field costs one system call, not one per field.
  bool readWithTimeout(void* buffer, uint32_t& length, unsigned int timeoutSeconds) override;
  // The bytes read ahead, as far as the read limit lets reads deliver them.
  const unsigned char* bufferedIO(uint32_t& count) override;
  void takeBufferedIO(uint32_t count) override;
  // True only when every byte was sent; a time-out or failure closes the connection.
  bool writeWithTimeout(const void* bytes, uint32_t length, unsigned int timeoutSeconds) override;

  // Stored only before the server starts; the options are retained. maxClients 0: no limit.
  virtual void setServerOptions(BaseDictionary* options, unsigned int maxClients);
  // The DNS-SD protocol label ("_tcp", "_udp"); null for sockets that cannot be published.
  virtual const char* MDNSProtocolTag();
  // Host name, dotted IPv4 address or local path (null: a server on all interfaces).
  // Creates the socket when the driver has none; refused while connected.
  virtual void setSocketAddress(const char* host, uint16_t port);
  // Creates the socket and a zeroed address buffer of the right size.
  virtual bool makeSocket();
  // Fills the address buffer from host and port.
  virtual bool lookupAddress();

  bool connect_socket(const char* host, uint16_t port);
  bool disconnect_socket();
  // Fails on a terminator not seen before `maxLength` bytes (terminator included).
  // A time-out of 0 reads without one.
  bool readUpTo(const char* terminator, BaseBuffer* buffer, unsigned int timeoutSeconds);
  bool readUpToWithMax(const char* terminator, BaseBuffer* buffer, unsigned int timeoutSeconds,
                       unsigned int maxLength);
  // Exactly `length` bytes into the buffer, without time-out.
  bool read_data(BaseBuffer* buffer, uint32_t length);
  // Adopts a connected socket (the driver closes it) and a copy of the peer address.
  void setConnectedClientDescriptors(platform::SocketHandle descriptor, const void* address,
                                     unsigned int addressLength);
  platform::SocketHandle getSocketfd() const { return m_socketfd.load(std::memory_order_acquire); }
  // Our local IPv4 address in dotted form; empty when neither connected nor serving.
  void getOurAddress(char* output, int outputLength);
  // The IPv4 address of the address buffer (the peer, for an accepted client),
  // autoreleased; null when there is none.
  BaseString* getRemoteAddress();
  // Resolves a host name or dotted address, with the port, into `address`
  // (platform::socketAddressSize(platform::eFamilyIPv4) bytes).
  static bool lookupHost(const char* host, uint16_t port, void* address);
  // Bounds every read until clearReadDeadline, plain stream reads included: once the
  // deadline (milliseconds from now) has passed, reads end as on a read time-out. For a
  // handshake that must not hold its thread whatever the peer does.
  void setReadDeadline(int milliseconds);
  void clearReadDeadline() { m_readDeadline.store(0); }
  // Bounds what reads deliver until clearReadLimit: once `bytes` have been read, the next
  // read fails and closes the connection. For a handshake that must not make its thread
  // gather whatever a stranger claims to send. The reading thread's.
  void setReadLimit(uint32_t bytes) { m_readLimit = int64_t(bytes); }
  void clearReadLimit() { m_readLimit = -1; }
  // Ends a read or write blocked on this connection from another thread: both directions
  // are shut down but the descriptor stays open until closeIO, so it cannot be reused
  // under the blocked call.
  void shutdownIO();
  // A peer that vanishes without closing (a phone leaving the network) is detected: probes
  // after `idleSeconds` of silence, every `intervalSeconds`, `probes` times; unacknowledged
  // sends give up after as long. False when the system refused an option.
  bool enableKeepAlive(int idleSeconds, int intervalSeconds, int probes);
  // Why the connection ended, as first seen: it stays eEndNone while connected, and until a
  // connection is opened or adopted.
  enum eEndReason
  {
    eEndNone,
    eEndPeerClosed,  // an orderly close: the read saw the end of the stream
    eEndVanished,    // reset, unreachable, or keep-alive / a time-out gave up on the peer
    eEndLocal,       // closed or shut down by us (closeIO, shutdownIO)
    eEndOther        // the read limit, or an error that says nothing of the peer
  };
  eEndReason endReason() const { return eEndReason(m_endReason.load()); }
  // Installs sig_catch for SIGPIPE. Not needed by the drivers, whose sends suppress it.
  void enableSignalHandler();

  // Starts announcing the service under the options' name and type (MDnsPublication) and
  // returns at once; the outcome comes as MDNS_SERVICE_PUBLICATION_NOTIFICATION. False when
  // nothing was started: options or DNS-SD library missing, a socket kind without DNS-SD.
  bool publishServerWithMDNS();
  // Withdraws the publication, waiting for the daemon a few milliseconds at most. Always true.
  bool stopServerPublicationWithMDNS();
  // A publication was started and not withdrawn; it need not be announced (yet).
  bool isPublishedWithMDNS() const { return m_publication != nullptr; }

  // How long a publication waits for the daemon's first reply before it reports that the
  // daemon did not answer. Any thread; tests shorten it.
  static void setMDNSReplyTimeout(int milliseconds) { s_mdnsReplyTimeoutMs.store(milliseconds); }

  static constexpr uint32_t READ_AHEAD_SIZE = 4096;

  static const char* const MDNS_SERVICE_NAME;
  static const char* const MDNS_SERVICE_TYPE;
  static const char* const SOCKET_TXT_RECORD_ENTRIES;

protected:
  enum eWaitResult
  {
    eWaitReady,      // the event asked for
    eWaitTimeout,    // nothing within the time-out, or the wait failed
    eWaitWoken,      // closeIO woke the worker
    eWaitException   // an error or hang-up without the event asked for
  };
  // One bounded wait for `events` (platform::ePollEvents) on `fd` (and on the wake-up when
  // serving). Interrupted waits go on with the time that is left.
  eWaitResult _waitForDescriptor(platform::SocketHandle fd, short events, int timeoutMs);
  // Resolves the address and binds the socket to it, logging what fails.
  bool _bindInternal();
  static int _millisecondsOf(unsigned int timeoutSeconds);
  bool _openWakeUp();
  void _wakeWorker();
  void _closeWakeUp();
  // Keeps the first reason only: closing after a failure does not overwrite it.
  void _noteEnd(eEndReason reason);
  // Frees the address and, when the descriptor is set, closes it; under no lock.
  void _releaseSocketInternal();
  // Moves up to `length` bytes read ahead into `output`; how many it moved.
  uint32_t _takeReadAhead(unsigned char* output, uint32_t length);
  // readWithTimeout for a read that the bytes read ahead cannot serve alone: the checks,
  // what is read ahead, then the waits and receives for the rest.
  bool _readReceiving(void* buffer, uint32_t& length, unsigned int timeoutSeconds);
  // The read-ahead block, made on first use; null for datagram sockets, whose surplus
  // belongs to no later read.
  unsigned char* _readAheadBlock(platform::SocketHandle fd);

  char* m_host;
  uint16_t m_port;
  unsigned char* m_socketAddress;
  unsigned int m_socketAddressLength;
  std::atomic<platform::SocketHandle> m_socketfd;
  std::atomic<int64_t> m_readDeadline;  // monotonic milliseconds; 0: none
  int64_t m_readLimit;                  // bytes reads may still deliver; -1: no limit
  std::atomic<int> m_endReason;         // an eEndReason
  BaseMutex* m_socketLock;              // serialises the accept loop against closing
  BaseDictionary* m_serverOptions;
  unsigned int m_maxClientCount;
  MDnsPublication* m_publication;  // null while not published
  // Woken by closeIO to end the worker's wait at once; watched by the worker.
  platform::SocketWakeUp m_wakeUp;
  // The reader's own: bytes received beyond what was asked for, [start, end) of the block.
  // Emptied when a connection is opened or adopted; closing leaves it to fail the next read.
  unsigned char* m_readAhead;
  uint32_t m_readAheadStart;
  uint32_t m_readAheadEnd;
  bool m_readAheadChecked;  // the socket type has been asked for the block

  static std::atomic<int> s_mdnsReplyTimeoutMs;
};

// The SIGPIPE handler of enableSignalHandler: logs the signal and returns.
void sig_catch(int signalNumber);
