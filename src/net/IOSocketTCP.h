// IPv4 stream sockets: the transport of the bridge's server. Accepted clients are new
// IOSocketTCP drivers owned by the server's client list.
#pragma once

#include "net/IOSocketAbstract.h"

class IOSocketTCP : public IOSocketAbstract
{
public:
  IOSocketTCP() = default;
  ~IOSocketTCP() override;

  const char* getClass() const override;
  IODriverAbstract* makeIODriverObject() override;
  const char* MDNSProtocolTag() override;
  // Address reuse, 512 KiB send and receive buffers; a failing option is logged only.
  bool makeSocket() override;

  static constexpr int SOCKET_BUFFER_SIZE = 524288;
};
