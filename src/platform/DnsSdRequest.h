// A DNS-SD service registration as plain values, read from DNSServiceRegister's arguments:
// the form in which Windows' own DnsServiceRegister takes a service (a full service name, a
// host, a port and TXT key/value strings). Pure: no system call, the same on every system.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/DnsSd.h"

namespace platform {

struct DnsSdRequest
{
  std::string instance;  // "X-Plane"
  std::string type;      // with its domain and no final dot: "_corvane_gps._tcp.local"
  std::string host;      // "machine.local"
  uint16_t port = 0;     // in host order
  // The TXT record's strings in order: "key=value" split at the first '=', a key alone
  // with an empty value.
  std::vector<std::pair<std::string, std::string>> properties;

  // The instance, its dots and backslashes escaped as DNS-SD names escape them, then the type.
  std::string serviceName() const;
};

// Reads a registration as DNSServiceRegister takes it (the port in network order, the TXT
// record as length-prefixed strings). `machine` (this computer's name) names an instance
// without a name and, with ".local", the host when none is given. kDNSServiceErr_BadParam
// without a type or for bytes that are no TXT record; kDNSServiceErr_Unsupported for a domain
// other than "local": multicast DNS serves no other.
DNSServiceErrorType dnsSdRequestOf(const char* name, const char* regtype, const char* domain,
                                   const char* host, uint16_t networkPort, uint16_t txtLength,
                                   const void* txtRecord, const std::string& machine, DnsSdRequest& request);

}  // namespace platform
