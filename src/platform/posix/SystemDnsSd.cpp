#include "platform/SystemDnsSd.h"

// Linux has no DNS-SD service of its own: Avahi's client library and libdns_sd provide it.
namespace platform {

const char* const SystemDnsSd::LIBRARY = nullptr;

bool SystemDnsSd::attach(void*, std::string& problem)
{
  problem = "no DNS-SD service of the system's own";
  return false;
}

void SystemDnsSd::detach() {}

DNSServiceErrorType SystemDnsSd::registerService(DNSServiceRef*, DNSServiceFlags, uint32_t, const char*,
                                                 const char*, const char*, const char*, uint16_t, uint16_t,
                                                 const void*, DNSServiceRegisterReply, void*)
{
  return kDNSServiceErr_Unsupported;
}

DnsSdSocket SystemDnsSd::refSockFD(DNSServiceRef)
{
  return -1;
}

DNSServiceErrorType SystemDnsSd::processResult(DNSServiceRef)
{
  return kDNSServiceErr_BadReference;
}

void SystemDnsSd::refDeallocate(DNSServiceRef) {}

}  // namespace platform
