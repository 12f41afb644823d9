// TXT records built as libdns_sd builds them (same bytes, same results), as functions with
// dns_sd.h's exact signatures for MDnsWrapper's table, for the back-ends that have no TXT
// functions of their own (Avahi's client library, Windows' DnsServiceRegister). No library
// needed; a record belongs to one thread at a time.
#pragma once

#include "platform/DnsSd.h"

class MDnsTxtRecord
{
public:
  static void DNSSD_API txtCreate(TXTRecordRef* txt, uint16_t bufferLength, void* buffer);
  static DNSServiceErrorType DNSSD_API txtSetValue(TXTRecordRef* txt, const char* key, uint8_t valueLength,
                                                   const void* value);
  static uint16_t DNSSD_API txtGetLength(const TXTRecordRef* txt);
  static const void* DNSSD_API txtGetBytesPtr(const TXTRecordRef* txt);
  static void DNSSD_API txtDeallocate(TXTRecordRef* txt);
};
