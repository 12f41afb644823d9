// Test helpers that look for a DNS-SD service the way the app does: browse for the type,
// resolve the instance, read its TXT record. Every call goes through the table of an
// MDnsWrapper filled from libdns_sd.so.1, and every wait is bounded by the caller's
// timeout. They need a reachable daemon (scripts/dnssd-sandbox.sh); one thread at a time.
#pragma once

#include <cstdint>
#include <string>

struct ResolvedService
{
  uint16_t port = 0;      // host byte order
  std::string txtRecord;  // the raw TXT bytes
};

// Browses for `type` until instance `name` shows up, then resolves it. False when either
// step fails or the whole does not finish within timeoutMs.
bool browseAndResolve(const char* type, const char* name, int timeoutMs, ResolvedService& out);

// Browses for the whole of windowMs and tells whether `name` is visible at its end: added
// and not removed again. The full window matters for withdrawal checks, because a fresh
// browse still reports a withdrawn instance from the daemon's cache until the goodbye
// arrives, about a second later.
bool isBrowsable(const char* type, const char* name, int windowMs);
