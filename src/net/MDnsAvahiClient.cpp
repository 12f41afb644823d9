#include "net/MDnsAvahiClient.h"

#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <deque>
#include <mutex>

#include "net/MDnsWrapper.h"
#include "platform/DynamicLibrary.h"
#include "runtime/Debug.h"

namespace {

// Everything used of the two libraries, by the library that defines it.
// clang-format off
#define AVAHI_COMMON_FUNCTIONS(X)                                                          \
  X(avahi_threaded_poll_new) X(avahi_threaded_poll_get) X(avahi_threaded_poll_start)     \
  X(avahi_threaded_poll_stop) X(avahi_threaded_poll_free) X(avahi_strerror)              \
  X(avahi_string_list_add_arbitrary) X(avahi_string_list_reverse) X(avahi_string_list_free)
#define AVAHI_CLIENT_FUNCTIONS(X)                                                          \
  X(avahi_client_new) X(avahi_client_free) X(avahi_client_errno)                         \
  X(avahi_client_get_host_name) X(avahi_entry_group_new)                                 \
  X(avahi_entry_group_add_service_strlst) X(avahi_entry_group_commit)
// clang-format on

struct AvahiFunctions
{
#define AVAHI_DECLARE(function) decltype(&::function) function = nullptr;
  AVAHI_COMMON_FUNCTIONS(AVAHI_DECLARE)
  AVAHI_CLIENT_FUNCTIONS(AVAHI_DECLARE)
#undef AVAHI_DECLARE
};

// Guards attachments. The table changes only with the first attach and the last detach, when
// no registration exists, so the registrations read it without the lock.
std::mutex attachLock;
int attachments = 0;
AvahiFunctions api;

template <typename Function>
bool lookUp(void* library, const char* name, Function& function, std::string& problem)
{
  function = reinterpret_cast<Function>(platform::librarySymbol(library, name));
  if (!function && problem.empty()) problem = std::string("no function ") + name;
  return function != nullptr;
}

// One registration: its connection to the daemon, served by a thread of Avahi's own, and the
// verdicts that thread leaves for the owner of the reference.
struct Registration
{
  DNSServiceRegisterReply callback = nullptr;
  void* context = nullptr;
  std::string name, regtype, domain;  // as the callback reports them
  int pipe[2] = {-1, -1};             // [0] holds one byte exactly while results are pending
  AvahiThreadedPoll* poll = nullptr;
  bool polling = false;
  AvahiClient* client = nullptr;  // owns the entry group
  std::mutex lock;                // guards results and the pipe's byte
  std::deque<DNSServiceErrorType> results;

  void post(DNSServiceErrorType result)
  {
    std::lock_guard<std::mutex> guard(lock);
    if (results.empty()) {
      ssize_t ignored = write(pipe[1], "r", 1);
      (void)ignored;
    }
    results.push_back(result);
  }
};

DNSServiceErrorType fromAvahi(int error)
{
  switch (error) {
    case AVAHI_OK:
      return kDNSServiceErr_NoError;
    case AVAHI_ERR_COLLISION:
      return kDNSServiceErr_NameConflict;
    case AVAHI_ERR_NO_DAEMON:
    case AVAHI_ERR_DISCONNECTED:
      return MDnsWrapper::ERR_SERVICE_NOT_RUNNING;
    case AVAHI_ERR_TIMEOUT:
      return MDnsWrapper::ERR_TIMEOUT;
    case AVAHI_ERR_NO_MEMORY:
      return kDNSServiceErr_NoMemory;
    case AVAHI_ERR_BAD_STATE:
      return kDNSServiceErr_BadState;
    case AVAHI_ERR_NOT_SUPPORTED:
      return kDNSServiceErr_Unsupported;
    case AVAHI_ERR_INVALID_HOST_NAME:
    case AVAHI_ERR_INVALID_DOMAIN_NAME:
    case AVAHI_ERR_INVALID_SERVICE_NAME:
    case AVAHI_ERR_INVALID_SERVICE_TYPE:
    case AVAHI_ERR_INVALID_PORT:
    case AVAHI_ERR_INVALID_INTERFACE:
    case AVAHI_ERR_INVALID_FLAGS:
    case AVAHI_ERR_INVALID_ARGUMENT:
      return kDNSServiceErr_BadParam;
    case AVAHI_ERR_ACCESS_DENIED:
    case AVAHI_ERR_NOT_PERMITTED:
    case AVAHI_ERR_TOO_MANY_CLIENTS:
    case AVAHI_ERR_TOO_MANY_OBJECTS:
    case AVAHI_ERR_TOO_MANY_ENTRIES:
      return kDNSServiceErr_Refused;
    default:
      return kDNSServiceErr_Unknown;
  }
}

// A failed client or group never reports success, whatever its last error code says.
DNSServiceErrorType failureOf(AvahiClient* client)
{
  DNSServiceErrorType error = fromAvahi(api.avahi_client_errno(client));
  return error == kDNSServiceErr_NoError ? kDNSServiceErr_Unknown : error;
}

void groupChanged(AvahiEntryGroup*, AvahiEntryGroupState state, void* userdata)
{
  Registration* registration = static_cast<Registration*>(userdata);
  if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) registration->post(kDNSServiceErr_NoError);
  // Unlike the DNS-SD daemons, Avahi does not rename on a conflict: the service is withdrawn.
  if (state == AVAHI_ENTRY_GROUP_COLLISION) registration->post(kDNSServiceErr_NameConflict);
  if (state == AVAHI_ENTRY_GROUP_FAILURE) registration->post(failureOf(registration->client));
}

// The daemon went away: the service is no longer announced.
void clientChanged(AvahiClient* client, AvahiClientState state, void* userdata)
{
  if (state == AVAHI_CLIENT_FAILURE) static_cast<Registration*>(userdata)->post(failureOf(client));
}

// The record's strings in order, each kept as bytes; an empty record is no string. False for
// bytes that are no TXT record.
bool stringList(const uint8_t* bytes, uint16_t length, AvahiStringList*& list)
{
  list = nullptr;
  for (size_t at = 0; at < length; at += 1 + bytes[at]) {
    if (at + 1 + bytes[at] > length) {
      api.avahi_string_list_free(list);
      return false;
    }
    if (bytes[at] != 0) list = api.avahi_string_list_add_arbitrary(list, bytes + at + 1, bytes[at]);
  }
  // Adding puts each string in front.
  list = api.avahi_string_list_reverse(list);
  return true;
}

void destroy(Registration* registration)
{
  if (registration->polling) api.avahi_threaded_poll_stop(registration->poll);
  // Frees the entry group with it, which withdraws the service.
  if (registration->client) api.avahi_client_free(registration->client);
  if (registration->poll) api.avahi_threaded_poll_free(registration->poll);
  for (int fd : registration->pipe)
    if (fd != -1) close(fd);
  delete registration;
}

}  // namespace

bool MDnsAvahiClient::attach(void* avahiCommon, void* avahiClient, std::string& problem)
{
  std::lock_guard<std::mutex> guard(attachLock);
  if (attachments == 0) {
    AvahiFunctions found;
    bool complete = true;
#define AVAHI_LOOK_UP_COMMON(function) \
  complete = lookUp(avahiCommon, #function, found.function, problem) && complete;
#define AVAHI_LOOK_UP_CLIENT(function) \
  complete = lookUp(avahiClient, #function, found.function, problem) && complete;
    AVAHI_COMMON_FUNCTIONS(AVAHI_LOOK_UP_COMMON)
    AVAHI_CLIENT_FUNCTIONS(AVAHI_LOOK_UP_CLIENT)
#undef AVAHI_LOOK_UP_COMMON
#undef AVAHI_LOOK_UP_CLIENT
    if (!complete) return false;
    api = found;
  }
  ++attachments;
  return true;
}

void MDnsAvahiClient::detach()
{
  std::lock_guard<std::mutex> guard(attachLock);
  if (attachments > 0 && --attachments == 0) api = AvahiFunctions();
}

DNSServiceErrorType MDnsAvahiClient::registerService(DNSServiceRef* service, DNSServiceFlags flags,
                                                     uint32_t interfaceIndex, const char* name,
                                                     const char* regtype, const char* domain,
                                                     const char* host, uint16_t networkPort,
                                                     uint16_t txtLength, const void* txtRecord,
                                                     DNSServiceRegisterReply callback, void* context)
{
  if (!service || !regtype || (txtLength && !txtRecord)) return kDNSServiceErr_BadParam;
  // Avahi has nothing like the local-only and peer-to-peer interfaces of the DNS-SD daemons.
  if (interfaceIndex > INT_MAX) return kDNSServiceErr_Unsupported;
  AvahiStringList* txt = nullptr;
  if (!stringList(static_cast<const uint8_t*>(txtRecord), txtLength, txt)) return kDNSServiceErr_BadParam;

  Registration* registration = new Registration();
  registration->callback = callback;
  registration->context = context;
  std::string type = regtype;
  registration->regtype = type.empty() || type.back() != '.' ? type + "." : type;
  // Avahi takes the type without the final dot.
  if (!type.empty() && type.back() == '.') type.pop_back();
  registration->domain = domain && *domain ? domain : "local.";

  int error = AVAHI_OK;
  if (pipe2(registration->pipe, O_CLOEXEC | O_NONBLOCK) != 0) error = AVAHI_ERR_OS;
  if (error == AVAHI_OK && !(registration->poll = api.avahi_threaded_poll_new())) error = AVAHI_ERR_NO_MEMORY;
  if (error == AVAHI_OK)
    registration->client = api.avahi_client_new(api.avahi_threaded_poll_get(registration->poll),
                                                AvahiClientFlags(0), clientChanged, registration, &error);
  AvahiEntryGroup* group = nullptr;
  if (registration->client) {
    // An instance without a name is named after this machine, as with the DNS-SD daemons.
    const char* instance = name && *name ? name : api.avahi_client_get_host_name(registration->client);
    registration->name = instance ? instance : "";
    group = api.avahi_entry_group_new(registration->client, groupChanged, registration);
    if (!group) error = api.avahi_client_errno(registration->client);
  }
  if (group)
    error = api.avahi_entry_group_add_service_strlst(
        group, interfaceIndex == 0 ? AVAHI_IF_UNSPEC : AvahiIfIndex(interfaceIndex), AVAHI_PROTO_UNSPEC,
        AvahiPublishFlags(0), registration->name.c_str(), type.c_str(), domain, host, ntohs(networkPort),
        txt);
  if (group && error == AVAHI_OK) error = api.avahi_entry_group_commit(group);
  if (group && error == AVAHI_OK) {
    registration->polling = api.avahi_threaded_poll_start(registration->poll) == 0;
    if (!registration->polling) error = AVAHI_ERR_OS;
  }
  api.avahi_string_list_free(txt);
  if (!group || error != AVAHI_OK) {
    BASE_LOG(nullptr, eMsgWarning, "DNS-SD registration through Avahi failed: %s", api.avahi_strerror(error));
    destroy(registration);
    return error == AVAHI_OK ? kDNSServiceErr_Unknown : fromAvahi(error);
  }
  *service = reinterpret_cast<DNSServiceRef>(registration);
  return kDNSServiceErr_NoError;
}

platform::DnsSdSocket MDnsAvahiClient::refSockFD(DNSServiceRef service)
{
  return service ? reinterpret_cast<Registration*>(service)->pipe[0] : -1;
}

DNSServiceErrorType MDnsAvahiClient::processResult(DNSServiceRef service)
{
  Registration* registration = reinterpret_cast<Registration*>(service);
  if (!registration) return kDNSServiceErr_BadReference;
  DNSServiceErrorType result;
  {
    std::lock_guard<std::mutex> guard(registration->lock);
    if (registration->results.empty()) return kDNSServiceErr_NoError;
    result = registration->results.front();
    registration->results.pop_front();
    char byte;
    if (registration->results.empty()) {
      ssize_t ignored = read(registration->pipe[0], &byte, 1);
      (void)ignored;
    }
  }
  if (registration->callback)
    registration->callback(service, 0, result, registration->name.c_str(), registration->regtype.c_str(),
                           registration->domain.c_str(), registration->context);
  return kDNSServiceErr_NoError;
}

void MDnsAvahiClient::refDeallocate(DNSServiceRef service)
{
  if (service) destroy(reinterpret_cast<Registration*>(service));
}
