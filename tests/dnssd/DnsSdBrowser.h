// Test helpers that look for a DNS-SD service the way the app does: browse for the type,
// resolve the instance, read its TXT record. Every call goes through the shared
// MDnsWrapper's table and every wait is bounded by the caller's timeout. They need a
// reachable daemon (scripts/dnssd-sandbox.sh); call them from one thread at a time.
#pragma once

#include <dns_sd.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class MDnsWrapper;

struct ResolvedService
{
  std::string fullName;    // escaped, as the daemon reports it: "Sandbox-Check._corvane_check._tcp.local."
  std::string hostTarget;  // the host that serves it, "name.local."
  uint16_t port = 0;       // host byte order
  std::string txtRecord;   // the raw TXT bytes, for the TXTRecord* calls
  std::map<std::string, std::string> txt;
};

// Browses for `type` until instance `name` shows up, then resolves it. False when either
// step fails or the whole does not finish within timeoutMs.
bool browseAndResolve(const char* type, const char* name, int timeoutMs, ResolvedService& out);

// Browses for the whole of windowMs and tells whether `name` is visible at its end: added
// and not removed again. The full window matters for withdrawal checks, because a fresh
// browse still reports a withdrawn instance from the daemon's cache until the goodbye
// arrives, about a second later.
bool isBrowsable(const char* type, const char* name, int windowMs);

// Runs result processing on `service` whenever its socket becomes readable, until `done`
// says so (true) or the deadline passes or processing fails (false). Never blocks in
// DNSServiceProcessResult without a reply waiting.
bool processResultsUntil(MDnsWrapper* wrapper, DNSServiceRef service, int timeoutMs,
                         const std::function<bool()>& done);
