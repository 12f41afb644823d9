// The table of DNS-SD entry points through which every DNS-SD call goes, filled from a library
// loaded at run time (never linked: the plug-in must load on a machine without one) with the
// back-ends of this system (platform/DnsSd.h): on Linux Avahi's client library or a libdns_sd,
// on Windows the system's own service or Bonjour's dnssd.dll. Shared
// by the drivers that publish a service, one reference each; tests may put fakes in the public
// entries. sharedMDNSWrapper may be called from any thread; the table is not guarded: it is
// filled before the instance is handed out, and whoever changes it must not race its users.
#pragma once

#include "platform/DnsSd.h"

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

  enum eMDnsLibrary
  {
    eMDnsLibraryNone,
    // Avahi's own client library (libavahi-client.so.3): registration and the TXT record
    // building functions only; the browsing, resolving and query entries stay null.
    eMDnsLibraryAvahiClient,
    // A library that exports dns_sd.h's names (platform::DNS_SD_LIBRARY): libdns_sd.so.1,
    // Avahi's compatibility library or the one of Apple's daemon; Bonjour's dnssd.dll on
    // Windows. All entries.
    eMDnsLibraryDnsSd,
    // The system's own service (platform::SystemDnsSd: Windows' dnsapi.dll): registration and
    // the TXT record building functions only, as with Avahi's client library.
    eMDnsLibrarySystem
  };

  // Unless the table was filled before (so that fakes put in by a test survive), fills it from
  // the first library that loads: Avahi's client library (Linux) or the system's own service
  // (Windows), then the dns_sd library. Marks the wrapper loaded and logs the library used;
  // false when none loads.
  bool InitMDnsLibrary();
  // The same with that library alone, replacing another one loaded before. False when it does
  // not load (and always with eMDnsLibraryNone): the table is then empty.
  bool InitMDnsLibrary(eMDnsLibrary only);
  // Empties the table, drops both markers and closes the library. Every registration made
  // through the table must have been deallocated. Always true.
  bool CloseMDnsLibrary();
  bool MDnsIsLoaded() const { return m_loaded; }
  bool MDnsTableFilled() const { return m_tableFilled; }
  eMDnsLibrary MDnsLibrary() const { return m_library; }

  // Apple's codes for a daemon that is not running and one that did not answer in time,
  // which Avahi's dns_sd.h lacks.
  static constexpr DNSServiceErrorType ERR_SERVICE_NOT_RUNNING = -65563;
  static constexpr DNSServiceErrorType ERR_TIMEOUT = -65568;

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
  bool _loadInternal(eMDnsLibrary library);
  bool _loadAvahiClientInternal();
  bool _loadDnsSdInternal();
  bool _loadSystemInternal();
  // Our own TXT record building, for the back-ends without it.
  void _fillTxtBuildingInternal();

  bool m_loaded;
  bool m_tableFilled;  // set once the table is filled, so that filling happens once per object
  eMDnsLibrary m_library;
  void* m_libraries[2];  // what the loader gave for m_library, in opening order; null when unused
};

// The reply callback of a service registration: logs the daemon's verdict at Info,
// "MDNS Service <name> published with result <code>". Runs on the thread that processes
// the registration's result.
void servicePublished(DNSServiceRef service, DNSServiceFlags flags, DNSServiceErrorType errorCode,
                      const char* name, const char* regtype, const char* domain, void* context);
