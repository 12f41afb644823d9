#include "BridgeFinder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "StopSignal.h"
#include "net/MDnsWrapper.h"
#include "platform/Sockets.h"

struct BridgeFinder::Candidate
{
  std::string name;
  std::string regtype;
  std::string domain;
  uint32_t interfaceIndex = 0;
  Clock::time_point seen;
};

namespace {

const int DAEMON_RETRY_MS = 500;

struct BrowseState
{
  std::vector<BridgeFinder::Candidate>* instances;
  DNSServiceErrorType error = kDNSServiceErr_NoError;
};

struct ResolveState
{
  MDnsWrapper* wrapper;
  BridgeLocation* out;
  bool done = false;
  DNSServiceErrorType error = kDNSServiceErr_NoError;
};

struct AddressState
{
  std::string address;
  DNSServiceErrorType error = kDNSServiceErr_NoError;
};

std::string lowerCase(std::string text)
{
  for (char& c : text) c = char(tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string withoutFinalDot(std::string name)
{
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

void browseReply(DNSServiceRef, DNSServiceFlags flags, uint32_t interfaceIndex, DNSServiceErrorType errorCode,
                 const char* serviceName, const char* regtype, const char* replyDomain, void* context)
{
  BrowseState* state = static_cast<BrowseState*>(context);
  if (errorCode != kDNSServiceErr_NoError) {
    state->error = errorCode;
    return;
  }
  if (!serviceName) return;
  std::vector<BridgeFinder::Candidate>& instances = *state->instances;
  auto known = std::find_if(instances.begin(), instances.end(),
                            [&](const BridgeFinder::Candidate& c) { return c.name == serviceName; });
  if (!(flags & kDNSServiceFlagsAdd)) {
    if (known != instances.end() && known->interfaceIndex == interfaceIndex) instances.erase(known);
    return;
  }
  // The same instance on a second interface adds nothing.
  if (known != instances.end()) return;
  BridgeFinder::Candidate candidate;
  candidate.name = serviceName;
  candidate.regtype = regtype ? regtype : "";
  candidate.domain = replyDomain ? replyDomain : "";
  candidate.interfaceIndex = interfaceIndex;
  candidate.seen = std::chrono::steady_clock::now();
  instances.push_back(candidate);
}

void resolveReply(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType errorCode, const char*,
                  const char* hostTarget, uint16_t port, uint16_t txtLength, const unsigned char* txtRecord,
                  void* context)
{
  ResolveState* state = static_cast<ResolveState*>(context);
  state->done = true;
  state->error = errorCode;
  if (errorCode != kDNSServiceErr_NoError) return;
  BridgeLocation& out = *state->out;
  out.hostTarget = hostTarget ? hostTarget : "";
  // In network order: the high byte first in memory.
  const unsigned char* portBytes = reinterpret_cast<const unsigned char*>(&port);
  out.port = uint16_t(portBytes[0] << 8 | portBytes[1]);
  out.txt.clear();
  MDnsWrapper* wrapper = state->wrapper;
  for (uint16_t i = 0, n = wrapper->m_txtGetCount(txtLength, txtRecord); i < n; ++i) {
    char key[256];
    uint8_t valueLength = 0;
    const void* value = nullptr;
    if (wrapper->m_txtGetItemAtIndex(txtLength, txtRecord, i, sizeof key, key, &valueLength, &value) ==
        kDNSServiceErr_NoError)
      out.txt[key] = value ? std::string(static_cast<const char*>(value), valueLength) : std::string();
  }
}

void addressReply(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType errorCode, const char*,
                  uint16_t rrtype, uint16_t, uint16_t rdlen, const void* rdata, uint32_t, void* context)
{
  AddressState* state = static_cast<AddressState*>(context);
  if (errorCode != kDNSServiceErr_NoError) {
    state->error = errorCode;
    return;
  }
  if (!(flags & kDNSServiceFlagsAdd) || rrtype != kDNSServiceType_A || rdlen != 4 || !state->address.empty())
    return;
  const unsigned char* bytes = static_cast<const unsigned char*>(rdata);
  char dotted[platform::IPV4_TEXT_SIZE];
  snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  state->address = dotted;
}

// Owns one service reference for the length of a step.
class ServiceRef
{
public:
  explicit ServiceRef(MDnsWrapper* wrapper) : m_wrapper(wrapper) {}
  ~ServiceRef()
  {
    if (m_ref) m_wrapper->m_refDeallocate(m_ref);
  }
  ServiceRef(const ServiceRef&) = delete;
  ServiceRef& operator=(const ServiceRef&) = delete;

  MDnsWrapper* m_wrapper;
  DNSServiceRef m_ref = nullptr;
};

}  // namespace

BridgeFinder::BridgeFinder(const std::string& type, const std::string& instance, bool onlyInstance)
    : m_type(type),
      m_instance(instance),
      m_onlyInstance(onlyInstance),
      m_wrapper(new MDnsWrapper())
{
  // Browsing needs the whole interface, which only libdns_sd.so.1 offers.
  m_wrapper->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryDnsSd);
}

BridgeFinder::~BridgeFinder()
{
  m_wrapper->release();
}

bool BridgeFinder::isThisMachine(const std::string& hostTarget, const std::string& hostName)
{
  const std::string label = hostName.substr(0, hostName.find('.'));
  return !label.empty() && lowerCase(withoutFinalDot(hostTarget)) == lowerCase(label) + ".local";
}

BridgeFinder::eWait BridgeFinder::_processUntil(DNSServiceRef service, Clock::time_point deadline,
                                                const std::function<bool()>& done)
{
  auto serviceSocket = m_wrapper->m_refSockFD(service);
  if (serviceSocket == decltype(serviceSocket)(-1)) return eWaitFailed;
  platform::PollEntry fds[2] = {{platform::SocketHandle(serviceSocket), platform::ePollIn, 0},
                                {StopSignal::descriptor(), platform::ePollIn, 0}};
  while (!done()) {
    if (StopSignal::raised()) return eWaitStopped;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return eWaitTimeout;
    const int ready =
        platform::pollSockets(fds, fds[1].handle == platform::INVALID_SOCKET_HANDLE ? 1 : 2, int(left));
    if (ready < 0 && platform::lastSocketError() != EINTR) return eWaitFailed;
    if (ready <= 0 || !(fds[0].revents & (platform::ePollIn | platform::ePollHangUp | platform::ePollError))) continue;
    const DNSServiceErrorType error = m_wrapper->m_processResult(service);
    if (error != kDNSServiceErr_NoError) {
      m_problem = "the DNS-SD daemon stopped answering (error " + std::to_string(error) + ")";
      return eWaitFailed;
    }
  }
  return eWaitDone;
}

BridgeFinder::eWait BridgeFinder::_browse(Clock::time_point deadline, Candidate& chosen)
{
  std::vector<Candidate> instances;
  BrowseState state{&instances};
  ServiceRef browse(m_wrapper);
  const DNSServiceErrorType error =
      m_wrapper->m_browse(&browse.m_ref, 0, 0, m_type.c_str(), nullptr, browseReply, &state);
  if (error != kDNSServiceErr_NoError) {
    browse.m_ref = nullptr;
    m_problem = "no DNS-SD daemon answers (error " + std::to_string(error) + "): is avahi-daemon running?";
    return eWaitFailed;
  }
  const Candidate* pick = nullptr;
  auto choose = [&] {
    if (state.error != kDNSServiceErr_NoError) return true;
    pick = nullptr;
    for (const Candidate& c : instances)
      if (c.name == m_instance) pick = &c;
    if (!pick && !m_onlyInstance && !instances.empty() &&
        Clock::now() - instances.front().seen >= std::chrono::milliseconds(OTHER_INSTANCE_GRACE_MS))
      pick = &instances.front();
    return pick != nullptr;
  };
  for (;;) {
    // Wakes up when another instance's grace period ends, not only when a reply comes.
    Clock::time_point until = deadline;
    if (!m_onlyInstance && !instances.empty())
      until = std::min(until, instances.front().seen + std::chrono::milliseconds(OTHER_INSTANCE_GRACE_MS));
    const eWait waited = _processUntil(browse.m_ref, until, choose);
    if (waited == eWaitDone && state.error != kDNSServiceErr_NoError) {
      m_problem = "browsing DNS-SD failed (error " + std::to_string(state.error) + ")";
      return eWaitFailed;
    }
    if (waited == eWaitDone) {
      chosen = *pick;
      return eWaitDone;
    }
    if (waited != eWaitTimeout || Clock::now() >= deadline) {
      if (waited == eWaitTimeout) {
        m_problem = "no instance of " + m_type;
        if (m_onlyInstance) m_problem = "no instance \"" + m_instance + "\" of " + m_type;
        if (m_onlyInstance && !instances.empty()) m_problem += " (seen: \"" + instances.front().name + "\")";
      }
      return waited;
    }
  }
}

BridgeFinder::eWait BridgeFinder::_resolve(const Candidate& chosen, BridgeLocation& out)
{
  ServiceRef resolve(m_wrapper);
  ResolveState state{m_wrapper, &out};
  const DNSServiceErrorType error =
      m_wrapper->m_resolve(&resolve.m_ref, 0, chosen.interfaceIndex, chosen.name.c_str(),
                           chosen.regtype.c_str(), chosen.domain.c_str(), resolveReply, &state);
  if (error != kDNSServiceErr_NoError) {
    resolve.m_ref = nullptr;
    m_problem = "resolving \"" + chosen.name + "\" failed (error " + std::to_string(error) + ")";
    return eWaitFailed;
  }
  const eWait waited = _processUntil(resolve.m_ref, Clock::now() + std::chrono::milliseconds(STEP_TIMEOUT_MS),
                                     [&] { return state.done; });
  if (waited == eWaitTimeout) m_problem = "\"" + chosen.name + "\" was seen but did not resolve";
  if (waited == eWaitDone && state.error != kDNSServiceErr_NoError) {
    m_problem = "resolving \"" + chosen.name + "\" failed (error " + std::to_string(state.error) + ")";
    return eWaitFailed;
  }
  out.instance = chosen.name;
  return waited;
}

bool BridgeFinder::_queryAddressRecord(uint32_t interfaceIndex, BridgeLocation& out)
{
  ServiceRef query(m_wrapper);
  AddressState state;
  if (m_wrapper->m_queryRecord(&query.m_ref, 0, interfaceIndex, out.hostTarget.c_str(), kDNSServiceType_A,
                               kDNSServiceClass_IN, addressReply, &state) != kDNSServiceErr_NoError) {
    query.m_ref = nullptr;
    return false;
  }
  _processUntil(query.m_ref, Clock::now() + std::chrono::milliseconds(STEP_TIMEOUT_MS),
                [&] { return !state.address.empty() || state.error != kDNSServiceErr_NoError; });
  if (state.address.empty()) return false;
  out.address = state.address;
  out.addressSource = "the DNS-SD daemon's address record";
  return true;
}

bool BridgeFinder::_lookupAddress(uint32_t interfaceIndex, BridgeLocation& out)
{
  if (_queryAddressRecord(interfaceIndex, out)) return true;
  if (StopSignal::raised()) return false;
  const std::string hostName = platform::localHostName();
  if (!hostName.empty() && isThisMachine(out.hostTarget, hostName)) {
    out.address = "127.0.0.1";
    out.addressSource = "this machine's own host name";
    return true;
  }
  // Blocks within the resolver's own time-outs: the last resort.
  alignas(8) unsigned char found[128];
  char dotted[platform::IPV4_TEXT_SIZE] = "";
  if (!platform::lookupIpv4Address(out.hostTarget.c_str(), 0, found) ||
      !platform::ipv4AddressParts(found, platform::socketAddressSize(platform::eFamilyIPv4), dotted, nullptr)) {
    m_problem = "the bridge's host " + out.hostTarget + " has no address that this machine can find";
    return false;
  }
  out.address = dotted;
  out.addressSource = "the system's resolver";
  return true;
}

BridgeFinder::eResult BridgeFinder::find(int timeoutMs, BridgeLocation& out)
{
  m_problem.clear();
  if (!m_wrapper->MDnsIsLoaded()) {
    m_problem =
        "libdns_sd.so.1 is missing, so DNS-SD cannot be browsed (it comes with Avahi's "
        "libavahi-compat-libdnssd1 package): install it, or give the bridge's address with --host";
    return eNotFound;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    Candidate chosen;
    eWait waited = _browse(deadline, chosen);
    if (waited == eWaitDone) {
      waited = _resolve(chosen, out);
      if (waited == eWaitDone)
        return _lookupAddress(chosen.interfaceIndex, out) ? eFound
               : StopSignal::raised()                     ? eStopped
                                                          : eNotFound;
    }
    if (waited == eWaitStopped) return eStopped;
    // A daemon that is not up yet, or an instance that went away before it resolved: try
    // again while there is time.
    if (Clock::now() >= deadline) return eNotFound;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (StopSignal::sleepFor(int(std::min<long long>(left, DAEMON_RETRY_MS)))) return eStopped;
  }
}
