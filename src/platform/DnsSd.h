// The DNS-SD declarations (dns_sd.h's types, codes and function signatures) and where this
// system's DNS-SD comes from. On Linux they are those of Avahi's dns_sd.h; Windows has no such
// header, so the few that we use are declared here, with the values every DNS-SD library
// shares. Only declarations: the functions are always looked up at run time.
#pragma once

#ifdef _WIN32

#include <cstdint>

#define DNSSD_API __stdcall

extern "C" {

typedef struct _DNSServiceRef_t* DNSServiceRef;
typedef uint32_t DNSServiceFlags;
typedef int32_t DNSServiceErrorType;

// Room for a record being built; its layout belongs to whoever builds it.
typedef union _TXTRecordRef_t {
  char PrivateData[16];
  char* ForceNaturalAlignment;
} TXTRecordRef;

enum
{
  kDNSServiceErr_NoError = 0,
  kDNSServiceErr_Unknown = -65537,
  kDNSServiceErr_NoMemory = -65539,
  kDNSServiceErr_BadParam = -65540,
  kDNSServiceErr_BadReference = -65541,
  kDNSServiceErr_BadState = -65542,
  kDNSServiceErr_Unsupported = -65544,
  kDNSServiceErr_NameConflict = -65548,
  kDNSServiceErr_Invalid = -65549,
  kDNSServiceErr_Refused = -65553
};

enum
{
  kDNSServiceFlagsAdd = 0x2
};

enum
{
  kDNSServiceClass_IN = 1,
  kDNSServiceType_A = 1
};

typedef void(DNSSD_API* DNSServiceRegisterReply)(DNSServiceRef service, DNSServiceFlags flags,
                                                 DNSServiceErrorType errorCode, const char* name,
                                                 const char* regtype, const char* domain, void* context);
typedef void(DNSSD_API* DNSServiceBrowseReply)(DNSServiceRef service, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                               const char* serviceName, const char* regtype,
                                               const char* replyDomain, void* context);
typedef void(DNSSD_API* DNSServiceResolveReply)(DNSServiceRef service, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                const char* fullname, const char* hosttarget, uint16_t port,
                                                uint16_t txtLen, const unsigned char* txtRecord,
                                                void* context);
typedef void(DNSSD_API* DNSServiceQueryRecordReply)(DNSServiceRef service, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                                                    const char* fullname, uint16_t rrtype, uint16_t rrclass,
                                                    uint16_t rdlen, const void* rdata, uint32_t ttl,
                                                    void* context);

DNSServiceErrorType DNSSD_API DNSServiceRegister(DNSServiceRef* service, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, const char* name,
                                                 const char* regtype, const char* domain, const char* host,
                                                 uint16_t port, uint16_t txtLen, const void* txtRecord,
                                                 DNSServiceRegisterReply callBack, void* context);
DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* service, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* domain, DNSServiceBrowseReply callBack,
                                               void* context);
DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* service, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context);
DNSServiceErrorType DNSSD_API DNSServiceQueryRecord(DNSServiceRef* service, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, const char* fullname,
                                                    uint16_t rrtype, uint16_t rrclass,
                                                    DNSServiceQueryRecordReply callBack, void* context);
// Bonjour for Windows hands back a SOCKET, as wide as a pointer.
typedef uintptr_t dnssd_sock_t;
dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef service);
DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef service);
void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef service);

void DNSSD_API TXTRecordCreate(TXTRecordRef* txtRecord, uint16_t bufferLen, void* buffer);
void DNSSD_API TXTRecordDeallocate(TXTRecordRef* txtRecord);
DNSServiceErrorType DNSSD_API TXTRecordSetValue(TXTRecordRef* txtRecord, const char* key, uint8_t valueSize,
                                                const void* value);
uint16_t DNSSD_API TXTRecordGetLength(const TXTRecordRef* txtRecord);
const void* DNSSD_API TXTRecordGetBytesPtr(const TXTRecordRef* txtRecord);
uint16_t DNSSD_API TXTRecordGetCount(uint16_t txtLen, const void* txtRecord);
const void* DNSSD_API TXTRecordGetValuePtr(uint16_t txtLen, const void* txtRecord, const char* key,
                                           uint8_t* valueLen);
DNSServiceErrorType DNSSD_API TXTRecordGetItemAtIndex(uint16_t txtLen, const void* txtRecord,
                                                      uint16_t itemIndex, uint16_t keyBufLen, char* key,
                                                      uint8_t* valueLen, const void** value);

}  // extern "C"

namespace platform {
// Where DNS-SD comes from here: Windows' own service in dnsapi.dll (SystemDnsSd), then the
// library of Bonjour for Windows, which exports dns_sd.h's names.
constexpr bool DNS_SD_THROUGH_AVAHI = false;
constexpr const char* DNS_SD_LIBRARY = "dnssd.dll";
}  // namespace platform

#else

#include <dns_sd.h>

namespace platform {
// Where DNS-SD comes from here: Avahi's own client library, then a libdns_sd (Avahi's
// compatibility library or that of Apple's daemon).
constexpr bool DNS_SD_THROUGH_AVAHI = true;
constexpr const char* DNS_SD_LIBRARY = "libdns_sd.so.1";
}  // namespace platform

#endif

namespace platform {
// What DNSServiceRefSockFD hands back: an int on Linux, a SOCKET on Windows. Either converts
// to a SocketHandle as it is, the invalid value (-1) included.
using DnsSdSocket = decltype(DNSServiceRefSockFD(nullptr));
}  // namespace platform
