// Unix-domain stream sockets addressed by a file-system path (held in the host field; the
// port is unused). A server replaces whatever file is at its path, opens the socket to
// everybody, and removes the file when it closes. Local sockets are never published. Where
// the system has none (Windows), connecting and serving fail, each with a log line.
#pragma once

#include "net/IOSocketAbstract.h"

class IOSocketLocal : public IOSocketAbstract
{
public:
  IOSocketLocal() = default;
  ~IOSocketLocal() override;

  const char* getClass() const override;
  bool closeIO() override;
  bool createServer() override;
  IODriverAbstract* makeIODriverObject() override;
  bool makeSocket() override;
  // False when there is no path, or a path longer than the system's address holds.
  bool lookupAddress() override;
};
