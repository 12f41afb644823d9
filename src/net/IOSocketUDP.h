// IPv4 datagram sockets. A UDP server accepts no clients: its worker receives each
// datagram and posts "IOSOCKETUDP_INCOMMING_DATAGRAM" synchronously on the worker, with
// the sender and a copy of the bytes in the dictionary and this driver as context.
// read/write exchange single datagrams with any peer.
#pragma once

#include "net/IOSocketAbstract.h"

class IOSocketUDP : public IOSocketAbstract
{
public:
  IOSocketUDP();
  ~IOSocketUDP() override;

  const char* getClass() const override;
  const char* MDNSProtocolTag() override;
  bool makeSocket() override;
  // Bind (no listen), publish when options are set, start the receive loop.
  bool createServer() override;
  void waitForClients() override;

  // One datagram into `data` (capacity in `length`, received count out). `host` receives
  // the sender's dotted address when not null (16 characters at least).
  bool read(char* host, uint16_t& port, void* data, uint32_t& length);
  // The same after waiting at most `timeoutSeconds`.
  bool readWithTimeoutUDP(char* host, uint16_t& port, void* data, uint32_t& length, unsigned int timeoutSeconds);
  // One datagram to host:port; creates the socket on first use.
  bool write(const void* data, uint32_t length, const char* host, uint16_t port);
  // The local IPv4 address the system would use to reach `host`. Sends nothing.
  static bool getOurAddressForHost(const char* host, char* output, int outputLength);

  static const char* const IOSOCKETUDP_INCOMMING_DATAGRAM;
  static constexpr uint32_t DATAGRAM_BUFFER_SIZE = 8192;

protected:
  unsigned char* m_datagramBuffer;  // allocated by the first createServer
};
