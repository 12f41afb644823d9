#include "net/MDnsWrapper.h"

#include <mutex>
#include <string>
#include <type_traits>

#include "net/MDnsAvahiClient.h"
#include "net/MDnsTxtRecord.h"
#include "platform/DynamicLibrary.h"
#include "platform/SystemDnsSd.h"
#include "runtime/Debug.h"

namespace {

const char* const AVAHI_COMMON = "libavahi-common.so.3";
const char* const AVAHI_CLIENT = "libavahi-client.so.3";
const char* const DNS_SD = platform::DNS_SD_LIBRARY;

// Guards sharedWrapper, and keeps a holder's last release from racing a new caller's retain.
std::mutex sharedLock;
MDnsWrapper* sharedWrapper = nullptr;
// Taken around our dlopen, dlsym and dlclose calls. The loader has a lock of its own, but one
// that ThreadSanitizer does not see, so that wrappers opening and closing on several threads
// would look like races inside the loader.
std::mutex loaderLock;

void* openLibrary(const char* name)
{
  // Local: its names must never meet those of the host or of another plug-in.
  std::string reason;
  void* library = platform::openLibrary(name, &reason);
  if (!library) BASE_LOG(nullptr, eMsgDebug, "%s not loaded: %s", name, reason.c_str());
  return library;
}

// libdbus, which Avahi's libraries bring in, keeps process-wide state that nothing frees:
// unloaded with them, it would strand that state at every close. Once in, it stays.
void keepDBusLoaded()
{
  if (platform::DNS_SD_THROUGH_AVAHI) platform::pinLoadedLibrary("libdbus-1.so.3");
}

const char* describe(MDnsWrapper::eMDnsLibrary library)
{
  switch (library) {
    case MDnsWrapper::eMDnsLibraryAvahiClient:
      return "Avahi's client library";
    case MDnsWrapper::eMDnsLibrarySystem:
      return "the system's own service";
    default:
      return DNS_SD;
  }
}

}  // namespace

MDnsWrapper::MDnsWrapper()
    : m_loaded(false), m_tableFilled(false), m_library(eMDnsLibraryNone), m_libraries{nullptr, nullptr}
{
  _clearTableInternal();
}

MDnsWrapper::~MDnsWrapper()
{
  CloseMDnsLibrary();
  std::lock_guard<std::mutex> guard(sharedLock);
  // A caller may already have replaced a dying shared instance with a new one.
  if (sharedWrapper == this) sharedWrapper = nullptr;
}

const char* MDnsWrapper::getClass() const
{
  return "MDnsWrapper";
}

MDnsWrapper* MDnsWrapper::sharedMDNSWrapper()
{
  std::lock_guard<std::mutex> guard(sharedLock);
  if (sharedWrapper) {
    // Zero references means its last holder is inside release and the destructor is on
    // its way (blocked on our lock): it must not be brought back.
    int32_t count = sharedWrapper->m_retainCount.load(std::memory_order_relaxed);
    while (count > 0) {
      if (sharedWrapper->m_retainCount.compare_exchange_weak(count, count + 1, std::memory_order_relaxed))
        return sharedWrapper;
    }
  }
  sharedWrapper = new MDnsWrapper();
  sharedWrapper->InitMDnsLibrary();
  return sharedWrapper;
}

bool MDnsWrapper::InitMDnsLibrary()
{
  const eMDnsLibrary first = platform::DNS_SD_THROUGH_AVAHI ? eMDnsLibraryAvahiClient : eMDnsLibrarySystem;
  if (!m_tableFilled && !_loadInternal(first) && !_loadInternal(eMDnsLibraryDnsSd)) return false;
  m_loaded = true;
  return true;
}

bool MDnsWrapper::InitMDnsLibrary(eMDnsLibrary only)
{
  if (!m_tableFilled || m_library != only) {
    CloseMDnsLibrary();
    if (!_loadInternal(only)) return false;
  }
  m_loaded = true;
  return true;
}

bool MDnsWrapper::CloseMDnsLibrary()
{
  _clearTableInternal();
  // Only Linux builds Avahi's client adapter: elsewhere it is never referred to.
  if constexpr (platform::DNS_SD_THROUGH_AVAHI) {
    if (m_library == eMDnsLibraryAvahiClient) MDnsAvahiClient::detach();
  }
  if (m_library == eMDnsLibrarySystem) platform::SystemDnsSd::detach();
  std::lock_guard<std::mutex> guard(loaderLock);
  // The client library before the common one it needs.
  for (int i = 1; i >= 0; --i) {
    platform::closeLibrary(m_libraries[i]);
    m_libraries[i] = nullptr;
  }
  m_library = eMDnsLibraryNone;
  m_tableFilled = false;
  m_loaded = false;
  return true;
}

bool MDnsWrapper::_loadInternal(eMDnsLibrary library)
{
  bool loaded;
  {
    std::lock_guard<std::mutex> guard(loaderLock);
    loaded = library == eMDnsLibraryAvahiClient ? _loadAvahiClientInternal()
             : library == eMDnsLibraryDnsSd     ? _loadDnsSdInternal()
             : library == eMDnsLibrarySystem    ? _loadSystemInternal()
                                                : false;
    if (loaded) keepDBusLoaded();
  }
  if (!loaded) {
    CloseMDnsLibrary();
    return false;
  }
  m_library = library;
  m_tableFilled = true;
  BASE_LOG(this, eMsgInfo, "DNS-SD through %s", describe(library));
  return true;
}

bool MDnsWrapper::_loadAvahiClientInternal()
{
  if constexpr (!platform::DNS_SD_THROUGH_AVAHI) {
    return false;
  } else {
    if (!(m_libraries[0] = openLibrary(AVAHI_COMMON)) || !(m_libraries[1] = openLibrary(AVAHI_CLIENT)))
      return false;
    std::string problem;
    if (!MDnsAvahiClient::attach(m_libraries[0], m_libraries[1], problem)) {
      BASE_LOG(this, eMsgDebug, "%s not usable: %s", AVAHI_CLIENT, problem.c_str());
      return false;
    }
    m_register = &MDnsAvahiClient::registerService;
    m_processResult = &MDnsAvahiClient::processResult;
    m_refSockFD = &MDnsAvahiClient::refSockFD;
    m_refDeallocate = &MDnsAvahiClient::refDeallocate;
    _fillTxtBuildingInternal();
    return true;
  }
}

bool MDnsWrapper::_loadSystemInternal()
{
  using platform::SystemDnsSd;
  if (!SystemDnsSd::LIBRARY || !(m_libraries[0] = openLibrary(SystemDnsSd::LIBRARY))) return false;
  std::string problem;
  if (!SystemDnsSd::attach(m_libraries[0], problem)) {
    BASE_LOG(this, eMsgDebug, "%s not usable: %s", SystemDnsSd::LIBRARY, problem.c_str());
    return false;
  }
  m_register = &SystemDnsSd::registerService;
  m_processResult = &SystemDnsSd::processResult;
  m_refSockFD = &SystemDnsSd::refSockFD;
  m_refDeallocate = &SystemDnsSd::refDeallocate;
  _fillTxtBuildingInternal();
  return true;
}

void MDnsWrapper::_fillTxtBuildingInternal()
{
  m_txtCreate = &MDnsTxtRecord::txtCreate;
  m_txtSetValue = &MDnsTxtRecord::txtSetValue;
  m_txtGetLength = &MDnsTxtRecord::txtGetLength;
  m_txtGetBytesPtr = &MDnsTxtRecord::txtGetBytesPtr;
  m_txtDeallocate = &MDnsTxtRecord::txtDeallocate;
}

bool MDnsWrapper::_loadDnsSdInternal()
{
  void* library = m_libraries[0] = openLibrary(DNS_SD);
  if (!library) return false;
  const char* missing = nullptr;
  auto lookUp = [&](auto& entry, const char* name) {
    entry =
        reinterpret_cast<std::remove_reference_t<decltype(entry)>>(platform::librarySymbol(library, name));
    if (!entry && !missing) missing = name;
  };
  lookUp(m_browse, "DNSServiceBrowse");
  lookUp(m_resolve, "DNSServiceResolve");
  lookUp(m_processResult, "DNSServiceProcessResult");
  lookUp(m_refSockFD, "DNSServiceRefSockFD");
  lookUp(m_refDeallocate, "DNSServiceRefDeallocate");
  lookUp(m_txtGetCount, "TXTRecordGetCount");
  lookUp(m_txtGetValuePtr, "TXTRecordGetValuePtr");
  lookUp(m_txtGetItemAtIndex, "TXTRecordGetItemAtIndex");
  lookUp(m_register, "DNSServiceRegister");
  lookUp(m_txtGetLength, "TXTRecordGetLength");
  lookUp(m_txtGetBytesPtr, "TXTRecordGetBytesPtr");
  lookUp(m_txtSetValue, "TXTRecordSetValue");
  lookUp(m_txtCreate, "TXTRecordCreate");
  lookUp(m_txtDeallocate, "TXTRecordDeallocate");
  lookUp(m_queryRecord, "DNSServiceQueryRecord");
  if (missing) BASE_LOG(this, eMsgDebug, "%s not usable: no function %s", DNS_SD, missing);
  return !missing;
}

void MDnsWrapper::_clearTableInternal()
{
  m_browse = nullptr;
  m_resolve = nullptr;
  m_processResult = nullptr;
  m_refSockFD = nullptr;
  m_refDeallocate = nullptr;
  m_txtGetCount = nullptr;
  m_txtGetValuePtr = nullptr;
  m_txtGetItemAtIndex = nullptr;
  m_register = nullptr;
  m_txtGetLength = nullptr;
  m_txtGetBytesPtr = nullptr;
  m_txtSetValue = nullptr;
  m_txtCreate = nullptr;
  m_txtDeallocate = nullptr;
  m_queryRecord = nullptr;
}

void servicePublished(DNSServiceRef service, DNSServiceFlags flags, DNSServiceErrorType errorCode,
                      const char* name, const char* regtype, const char* domain, void* context)
{
  BASE_LOG(nullptr, eMsgInfo, "MDNS Service %s published with result %i", name, errorCode);
}
