#include "net/MDnsWrapper.h"

#include <mutex>

#include "runtime/Debug.h"

namespace {

// Guards sharedWrapper, and keeps a holder's last release from racing a new caller's retain.
std::mutex sharedLock;
MDnsWrapper* sharedWrapper = nullptr;

}  // namespace

MDnsWrapper::MDnsWrapper() : m_loaded(false), m_tableFilled(false)
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
  if (!m_tableFilled) {
    m_browse = &::DNSServiceBrowse;
    m_resolve = &::DNSServiceResolve;
    m_processResult = &::DNSServiceProcessResult;
    m_refSockFD = &::DNSServiceRefSockFD;
    m_refDeallocate = &::DNSServiceRefDeallocate;
    m_txtGetCount = &::TXTRecordGetCount;
    m_txtGetValuePtr = &::TXTRecordGetValuePtr;
    m_txtGetItemAtIndex = &::TXTRecordGetItemAtIndex;
    m_register = &::DNSServiceRegister;
    m_txtGetLength = &::TXTRecordGetLength;
    m_txtGetBytesPtr = &::TXTRecordGetBytesPtr;
    m_txtSetValue = &::TXTRecordSetValue;
    m_txtCreate = &::TXTRecordCreate;
    m_txtDeallocate = &::TXTRecordDeallocate;
    m_queryRecord = &::DNSServiceQueryRecord;
    m_tableFilled = true;
  }
  m_loaded = true;
  return true;
}

bool MDnsWrapper::CloseMDnsLibrary()
{
  _clearTableInternal();
  m_tableFilled = false;
  m_loaded = false;
  return true;
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
