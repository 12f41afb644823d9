#include "dnssd/DnsSdBrowser.h"

#include <arpa/inet.h>
#include <poll.h>
#include <time.h>

#include <cerrno>
#include <functional>

#include "net/MDnsWrapper.h"

namespace {

int64_t nowMs()
{
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Holds a wrapper and a service reference for the length of one lookup. Browsing needs
// libdns_sd.so.1, whichever library the shared wrapper publishes through.
struct Lookup
{
  Lookup() : m_wrapper(new MDnsWrapper()) { m_wrapper->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryDnsSd); }
  ~Lookup() { (m_service ? m_wrapper->m_refDeallocate(m_service) : void()), m_wrapper->release(); }
  MDnsWrapper* m_wrapper;
  DNSServiceRef m_service = nullptr;
};

struct BrowseState
{
  std::string name, regtype, domain;
  bool visible = false, failed = false;
  uint32_t interfaceIndex = 0;
};

void browseReply(DNSServiceRef, DNSServiceFlags flags, uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                 const char* serviceName, const char* regtype, const char* replyDomain, void* context)
{
  BrowseState* state = static_cast<BrowseState*>(context);
  state->failed = state->failed || errorCode != kDNSServiceErr_NoError;
  if (state->failed || !serviceName || state->name != serviceName) return;
  if ((state->visible = (flags & kDNSServiceFlagsAdd) != 0))
    *state = {state->name, regtype ? regtype : "", replyDomain ? replyDomain : "", true,
              false,       interfaceIndex};
}

// Starts browsing for `type` into `found`, looking for `name`.
bool browse(Lookup& lookup, const char* type, const char* name, BrowseState& found)
{
  found.name = name;
  return lookup.m_wrapper->m_browse(&lookup.m_service, 0, 0, type, nullptr, browseReply, &found) ==
         kDNSServiceErr_NoError;
}

struct ResolveState
{
  ResolvedService* out;
  bool done = false, failed = false;
};

void resolveReply(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType errorCode, const char*,
                  const char*, uint16_t port, uint16_t txtLength, const unsigned char* txtRecord,
                  void* context)
{
  ResolveState* state = static_cast<ResolveState*>(context);
  state->done = true;
  state->failed = errorCode != kDNSServiceErr_NoError;
  if (state->failed) return;
  state->out->port = ntohs(port);
  state->out->txtRecord.assign(reinterpret_cast<const char*>(txtRecord), txtLength);
}

// Runs result processing on `service` whenever its socket becomes readable, until `done`
// says so (true) or the deadline passes or processing fails (false). Never blocks in
// DNSServiceProcessResult without a reply waiting.
bool processResultsUntil(MDnsWrapper* wrapper, DNSServiceRef service, int timeoutMs,
                         const std::function<bool()>& done)
{
  const int64_t deadline = nowMs() + timeoutMs;
  pollfd readable = {wrapper->m_refSockFD(service), POLLIN, 0};
  if (readable.fd < 0) return false;
  while (!done()) {
    int64_t left = deadline - nowMs();
    if (left <= 0) return false;
    int ready = poll(&readable, 1, int(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (wrapper->m_processResult(service) != kDNSServiceErr_NoError) return false;
  }
  return true;
}

}  // namespace

bool browseAndResolve(const char* type, const char* name, int timeoutMs, ResolvedService& out)
{
  const int64_t deadline = nowMs() + timeoutMs;
  BrowseState found;
  {
    Lookup lookup;
    if (!browse(lookup, type, name, found) ||
        !processResultsUntil(lookup.m_wrapper, lookup.m_service, timeoutMs,
                             [&] { return found.visible || found.failed; }) ||
        found.failed)
      return false;
  }
  Lookup resolve;
  ResolveState resolved{&out};
  if (resolve.m_wrapper->m_resolve(&resolve.m_service, 0, found.interfaceIndex, name, found.regtype.c_str(),
                                   found.domain.c_str(), resolveReply, &resolved) != kDNSServiceErr_NoError)
    return false;
  int left = int(deadline - nowMs());
  return left > 0 &&
         processResultsUntil(resolve.m_wrapper, resolve.m_service, left, [&] { return resolved.done; }) &&
         !resolved.failed;
}

bool isBrowsable(const char* type, const char* name, int windowMs)
{
  BrowseState found;
  Lookup lookup;
  if (!browse(lookup, type, name, found)) return false;
  // Runs out the window on purpose: only its end state counts.
  processResultsUntil(lookup.m_wrapper, lookup.m_service, windowMs, [&] { return found.failed; });
  return found.visible && !found.failed;
}
