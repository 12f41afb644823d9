#include "platform/SystemDnsSd.h"

// Winsock before windows.h, which would bring in the old one; windns.h needs windows.h.
#include <winsock2.h>
// clang-format off
#include <windows.h>
#include <windns.h>
// clang-format on

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/DnsSdRequest.h"
#include "platform/DynamicLibrary.h"
#include "platform/Sockets.h"
#include "platform/windows/WideText.h"

#ifndef DNS_REQUEST_PENDING
#define DNS_REQUEST_PENDING 9506L
#endif

namespace platform {

const char* const SystemDnsSd::LIBRARY = "dnsapi.dll";

namespace {

// Apple's codes for a daemon that is not running and one that did not answer in time.
const DNSServiceErrorType ERR_SERVICE_NOT_RUNNING = -65563;
const DNSServiceErrorType ERR_TIMEOUT = -65568;

struct DnsApi
{
  decltype(&::DnsServiceConstructInstance) constructInstance = nullptr;
  decltype(&::DnsServiceFreeInstance) freeInstance = nullptr;
  decltype(&::DnsServiceRegister) registerService = nullptr;
  decltype(&::DnsServiceDeRegister) deregisterService = nullptr;
  decltype(&::DnsServiceRegisterCancel) cancelRegistration = nullptr;
};

// Guards attachments. The table changes only with the first attach and the last detach, when
// no registration exists; each registration keeps a copy for the system's late reports.
std::mutex attachLock;
int attachments = 0;
DnsApi api;

enum eRegistrationState
{
  eRegistering,  // handed to the system, no report yet
  eReported,     // the system's verdict came
  eWithdrawing,  // refDeallocate waits for the system to let go
  eWithdrawn,    // the system let go: refDeallocate frees it
  eLeftToSystem  // refDeallocate gave up waiting: the system's last report frees it
};

struct Registration
{
  DnsApi api;
  DNSServiceRegisterReply callback = nullptr;
  void* context = nullptr;
  std::string name, regtype, domain;  // as the callback reports them
  PDNS_SERVICE_INSTANCE instance = nullptr;
  DNS_SERVICE_REGISTER_REQUEST request = {};
  DNS_SERVICE_CANCEL cancel = {};
  // The wake-up's sockets are this registration's own: it may outlive every other user of
  // the socket library (the system's last report frees it, on the system's thread).
  SocketLibrary sockets;
  SocketWakeUp ready;  // readable exactly while results are pending
  std::mutex lock;     // guards what follows and the wake-up's state
  std::condition_variable changed;
  eRegistrationState state = eRegistering;
  bool registered = false;  // the system announced it: withdrawing needs a deregistration
  std::deque<DNSServiceErrorType> results;
};

DNSServiceErrorType fromWindows(DWORD status)
{
  switch (status) {
    case ERROR_SUCCESS:
      return kDNSServiceErr_NoError;
    case DNS_ERROR_RCODE_YXDOMAIN:
    case DNS_ERROR_RECORD_ALREADY_EXISTS:
      return kDNSServiceErr_NameConflict;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kDNSServiceErr_NoMemory;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
      return kDNSServiceErr_BadParam;
    case ERROR_ACCESS_DENIED:
      return kDNSServiceErr_Refused;
    case ERROR_TIMEOUT:
    case WAIT_TIMEOUT:
      return ERR_TIMEOUT;
    case ERROR_SERVICE_NOT_ACTIVE:
    case RPC_S_SERVER_UNAVAILABLE:
      return ERR_SERVICE_NOT_RUNNING;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return kDNSServiceErr_Unsupported;
    default:
      return kDNSServiceErr_Unknown;
  }
}

std::string machineName()
{
  wchar_t name[256];
  DWORD length = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return "Windows";
  return utf8FromWide(std::wstring(name, length));
}

void destroy(Registration* registration)
{
  if (registration->instance) registration->api.freeInstance(registration->instance);
  delete registration;
}

// On a thread of the system: the verdict of a registration, or its end once withdrawn.
void WINAPI registrationReported(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance)
{
  Registration* registration = static_cast<Registration*>(context);
  if (instance) registration->api.freeInstance(instance);
  {
    std::lock_guard<std::mutex> guard(registration->lock);
    switch (registration->state) {
      case eRegistering:
      case eReported:
        registration->state = eReported;
        registration->registered = registration->registered || status == ERROR_SUCCESS;
        if (registration->results.empty()) registration->ready.wake();
        registration->results.push_back(fromWindows(status));
        return;
      case eWithdrawing:
        registration->state = eWithdrawn;
        registration->changed.notify_all();
        return;
      case eWithdrawn:
        return;
      case eLeftToSystem:
        break;
    }
  }
  destroy(registration);
}

}  // namespace

bool SystemDnsSd::attach(void* library, std::string& problem)
{
  std::lock_guard<std::mutex> guard(attachLock);
  if (attachments == 0) {
    DnsApi found;
    const char* missing = nullptr;
    auto lookUp = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(librarySymbol(library, name));
      if (!function && !missing) missing = name;
    };
    lookUp(found.constructInstance, "DnsServiceConstructInstance");
    lookUp(found.freeInstance, "DnsServiceFreeInstance");
    lookUp(found.registerService, "DnsServiceRegister");
    lookUp(found.deregisterService, "DnsServiceDeRegister");
    lookUp(found.cancelRegistration, "DnsServiceRegisterCancel");
    if (missing) {
      problem = std::string("no function ") + missing;
      return false;
    }
    api = found;
  }
  ++attachments;
  return true;
}

void SystemDnsSd::detach()
{
  std::lock_guard<std::mutex> guard(attachLock);
  if (attachments > 0 && --attachments == 0) api = DnsApi();
}

DNSServiceErrorType SystemDnsSd::registerService(DNSServiceRef* service, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex, const char* name,
                                                 const char* regtype, const char* domain, const char* host,
                                                 uint16_t networkPort, uint16_t txtLength,
                                                 const void* txtRecord, DNSServiceRegisterReply callback,
                                                 void* context)
{
  if (!service || !api.registerService) return kDNSServiceErr_BadParam;
  DnsSdRequest wanted;
  DNSServiceErrorType error =
      dnsSdRequestOf(name, regtype, domain, host, networkPort, txtLength, txtRecord, machineName(), wanted);
  if (error != kDNSServiceErr_NoError) return error;

  Registration* registration = new (std::nothrow) Registration();
  if (!registration) return kDNSServiceErr_NoMemory;
  if (!registration->sockets.isStarted() || !registration->ready.open()) {
    delete registration;
    return kDNSServiceErr_NoMemory;
  }
  registration->api = api;
  registration->callback = callback;
  registration->context = context;
  registration->name = wanted.instance;
  registration->regtype = std::string(regtype);
  if (registration->regtype.back() != '.') registration->regtype += '.';
  registration->domain = "local.";

  // The strings are copied into the instance.
  const std::wstring serviceName = wideFromUtf8(wanted.serviceName()), hostName = wideFromUtf8(wanted.host);
  std::vector<std::wstring> keys, values;
  for (const auto& [key, value] : wanted.properties) {
    keys.push_back(wideFromUtf8(key));
    values.push_back(wideFromUtf8(value));
  }
  std::vector<PCWSTR> keyStrings, valueStrings;
  for (size_t i = 0; i < keys.size(); ++i) {
    keyStrings.push_back(keys[i].c_str());
    valueStrings.push_back(values[i].c_str());
  }
  registration->instance =
      api.constructInstance(serviceName.c_str(), hostName.c_str(), nullptr, nullptr, wanted.port, 0, 0,
                            DWORD(keys.size()), keyStrings.data(), valueStrings.data());
  if (!registration->instance) {
    destroy(registration);
    return kDNSServiceErr_NoMemory;
  }
  registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
  registration->request.InterfaceIndex = interfaceIndex;
  registration->request.pServiceInstance = registration->instance;
  registration->request.pRegisterCompletionCallback = registrationReported;
  registration->request.pQueryContext = registration;
  // Its report may come before the call returns, on the system's thread.
  const DWORD status = api.registerService(&registration->request, &registration->cancel);
  if (status != DWORD(DNS_REQUEST_PENDING)) {
    destroy(registration);
    error = fromWindows(status);
    return error == kDNSServiceErr_NoError ? kDNSServiceErr_Unknown : error;
  }
  *service = reinterpret_cast<DNSServiceRef>(registration);
  return kDNSServiceErr_NoError;
}

DnsSdSocket SystemDnsSd::refSockFD(DNSServiceRef service)
{
  return service ? reinterpret_cast<Registration*>(service)->ready.handle() : INVALID_SOCKET_HANDLE;
}

DNSServiceErrorType SystemDnsSd::processResult(DNSServiceRef service)
{
  Registration* registration = reinterpret_cast<Registration*>(service);
  if (!registration) return kDNSServiceErr_BadReference;
  DNSServiceErrorType result;
  {
    std::lock_guard<std::mutex> guard(registration->lock);
    if (registration->results.empty()) return kDNSServiceErr_NoError;
    result = registration->results.front();
    registration->results.pop_front();
    if (registration->results.empty()) registration->ready.drain();
  }
  if (registration->callback)
    registration->callback(service, 0, result, registration->name.c_str(), registration->regtype.c_str(),
                           registration->domain.c_str(), registration->context);
  return kDNSServiceErr_NoError;
}

void SystemDnsSd::refDeallocate(DNSServiceRef service)
{
  Registration* registration = reinterpret_cast<Registration*>(service);
  if (!registration) return;
  std::unique_lock<std::mutex> guard(registration->lock);
  // A registration the system refused is no longer its own; any other it still holds.
  const bool refused = registration->state == eReported && !registration->registered;
  if (!refused) {
    registration->state = eWithdrawing;
    guard.unlock();
    const DWORD status = registration->registered
                             ? registration->api.deregisterService(&registration->request, nullptr)
                             : registration->api.cancelRegistration(&registration->cancel);
    guard.lock();
    // Without a pending call the system may still hold the request: it is never freed under it.
    if (status == DWORD(DNS_REQUEST_PENDING) || status == ERROR_SUCCESS)
      registration->changed.wait_for(guard, std::chrono::milliseconds(DEREGISTER_WAIT_MS),
                                     [&] { return registration->state == eWithdrawn; });
    if (registration->state != eWithdrawn) {
      registration->state = eLeftToSystem;
      // The system's report may come at any time: its code and ours must stay.
      pinModuleOf(reinterpret_cast<const void*>(&registrationReported));
      pinModuleOf(reinterpret_cast<const void*>(registration->api.registerService));
      return;
    }
  }
  guard.unlock();
  destroy(registration);
}

}  // namespace platform
