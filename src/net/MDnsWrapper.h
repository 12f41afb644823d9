// The table of DNS-SD entry points through which every DNS-SD call of the framework goes,
// shared by the socket drivers that publish a service; each holder keeps one reference.
// The entries are public so that tests can put fakes in place of the daemon's replies.
// sharedMDNSWrapper may be called from any thread; the table itself is not guarded: it is
// filled before the instance is handed out, and whoever changes it (tests, CloseMDnsLibrary)
// must not race its users.
#pragma once

#include <dns_sd.h>

#include "object/BaseObject.h"

class MDnsWrapper : public BaseObject
{
public:
  // An empty table; sharedMDNSWrapper is the usual way to get a filled one.
  MDnsWrapper();
  // Clears the table and, when this is the shared instance, the shared pointer.
  ~MDnsWrapper() override;

  const char* getClass() const override;

  // The shared instance with one reference for the caller. The first call, and the first
  // one after the last holder let go, makes a new instance and fills its table.
  static MDnsWrapper* sharedMDNSWrapper();

  // Fills the table with the linked functions unless it was filled before, so that fakes
  // put in by a test survive; marks the library loaded. Always true.
  bool InitMDnsLibrary();
  // Empties the table and drops both markers. Always true.
  bool CloseMDnsLibrary();
  bool MDnsIsLoaded() const { return m_loaded; }
  bool MDnsTableFilled() const { return m_tableFilled; }

  decltype(&::DNSServiceBrowse) m_browse;
  decltype(&::DNSServiceResolve) m_resolve;
  decltype(&::DNSServiceProcessResult) m_processResult;
  decltype(&::DNSServiceRefSockFD) m_refSockFD;
  decltype(&::DNSServiceRefDeallocate) m_refDeallocate;
  decltype(&::TXTRecordGetCount) m_txtGetCount;
  decltype(&::TXTRecordGetValuePtr) m_txtGetValuePtr;
  decltype(&::TXTRecordGetItemAtIndex) m_txtGetItemAtIndex;
  decltype(&::DNSServiceRegister) m_register;
  decltype(&::TXTRecordGetLength) m_txtGetLength;
  decltype(&::TXTRecordGetBytesPtr) m_txtGetBytesPtr;
  decltype(&::TXTRecordSetValue) m_txtSetValue;
  decltype(&::TXTRecordCreate) m_txtCreate;
  decltype(&::TXTRecordDeallocate) m_txtDeallocate;
  decltype(&::DNSServiceQueryRecord) m_queryRecord;

protected:
  void _clearTableInternal();

  bool m_loaded;
  bool m_tableFilled;  // set once the table is filled, so that filling happens once per object
};

// The reply callback of a service registration: logs the daemon's verdict at Info,
// "MDNS Service <name> published with result <code>". Runs on the thread that processes
// the registration's result.
void servicePublished(DNSServiceRef service, DNSServiceFlags flags, DNSServiceErrorType errorCode,
                      const char* name, const char* regtype, const char* domain, void* context);
