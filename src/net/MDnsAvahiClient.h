// Service registration through Avahi's own client library, as functions with dns_sd.h's exact
// signatures for MDnsWrapper's table. The library is never linked: the wrapper opens it and
// attaches it here; every registration must be deallocated before the last detach. A
// registration may be used by one thread at a time; its results come from Avahi's own thread.
#pragma once

#include "platform/DnsSd.h"

#include <string>

class MDnsAvahiClient
{
public:
  // Looks up every Avahi function used here in the two opened libraries. The first attach fills
  // the process-wide function table, the last detach empties it. False, with the missing
  // function named in `problem`, when either library lacks one; nothing is attached then.
  static bool attach(void* avahiCommon, void* avahiClient, std::string& problem);
  static void detach();

  // Connects to the daemon, adds the service to an entry group and commits it; the daemon's
  // verdict comes later, through processResult. Blocks for the synchronous D-Bus calls of
  // Avahi's client (connecting, creating and committing the group): a daemon that does not
  // answer holds the caller until D-Bus gives up on each call.
  static DNSServiceErrorType DNSSD_API registerService(DNSServiceRef* service, DNSServiceFlags flags,
                                                       uint32_t interfaceIndex, const char* name,
                                                       const char* regtype, const char* domain,
                                                       const char* host, uint16_t networkPort,
                                                       uint16_t txtLength, const void* txtRecord,
                                                       DNSServiceRegisterReply callback, void* context);
  // Readable while a result is pending.
  static platform::DnsSdSocket DNSSD_API refSockFD(DNSServiceRef service);
  // Runs the callback with the oldest pending result on the calling thread. Never waits: with
  // nothing pending it returns kDNSServiceErr_NoError having called nothing.
  static DNSServiceErrorType DNSSD_API processResult(DNSServiceRef service);
  // Stops Avahi's thread for this registration, withdraws the service and frees the reference.
  // Withdrawing is one synchronous D-Bus call to the daemon.
  static void DNSSD_API refDeallocate(DNSServiceRef service);
};
