// The DNS-SD service registration of the system itself, where it has one beside the DNS-SD
// libraries: on Windows 10 (1809 and later) DnsServiceRegister of dnsapi.dll, offered here as
// functions with dns_sd.h's signatures for the DNS-SD table; elsewhere none. The caller opens
// LIBRARY and attaches it here; every registration must be deallocated before the last detach.
// A registration is used by one thread at a time; the system reports to it from its own.
#pragma once

#include <string>

#include "platform/DnsSd.h"

namespace platform {

class SystemDnsSd
{
public:
  // The library that holds the service; null where the system has none.
  static const char* const LIBRARY;

  // Looks up the functions used here in the opened LIBRARY. The first attach fills the
  // process-wide table, the last detach empties it. False, with the reason in `problem`, when
  // the system has no such service or the library lacks a function (Windows before 1809).
  static bool attach(void* library, std::string& problem);
  static void detach();

  // Hands the service to the system, which announces it on its own thread; the verdict comes
  // later, through processResult. Never waits for the network. A service without a host is
  // announced on this computer's name in ".local"; only the domain "local" is served.
  static DNSServiceErrorType DNSSD_API registerService(DNSServiceRef* service, DNSServiceFlags flags,
                                                       uint32_t interfaceIndex, const char* name,
                                                       const char* regtype, const char* domain,
                                                       const char* host, uint16_t networkPort,
                                                       uint16_t txtLength, const void* txtRecord,
                                                       DNSServiceRegisterReply callback, void* context);
  // Readable (pollSockets) while a verdict is pending.
  static DnsSdSocket DNSSD_API refSockFD(DNSServiceRef service);
  // Runs the callback with the oldest pending verdict on the calling thread. Never waits: with
  // nothing pending it returns kDNSServiceErr_NoError having called nothing.
  static DNSServiceErrorType DNSSD_API processResult(DNSServiceRef service);
  // Withdraws the service and frees the reference. Waits at most DEREGISTER_WAIT_MS for the
  // system to confirm; a registration it has not let go of by then is left to the system's
  // last report, which frees it, and this module and the library stay loaded for it.
  static void DNSSD_API refDeallocate(DNSServiceRef service);

  static constexpr int DEREGISTER_WAIT_MS = 2000;
};

}  // namespace platform
