// Finds the bridge the way the app does: browses DNS-SD for the bridge's service type,
// resolves the chosen instance to a host name, port and TXT record, and turns the host name
// into an IPv4 address. Every call goes through the table of an MDnsWrapper of its own,
// filled from libdns_sd.so.1 (the one library that browses); every wait polls the service's socket beside StopSignal's wake-up
// and is bounded, so DNSServiceProcessResult only runs with a reply waiting. One thread.
//
// The host name is "<name>.local.", which the system's resolver knows only with an mDNS
// resolver module installed. So it is asked, in turn: the DNS-SD daemon for the name's
// address record; this machine, when the name is its own host name (the bridge then runs
// here and 127.0.0.1 reaches it); the system's resolver.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/DnsSd.h"

class MDnsWrapper;

struct BridgeLocation
{
  std::string instance;    // "X-Plane"
  std::string hostTarget;  // "name.local."
  uint16_t port = 0;       // host byte order
  std::map<std::string, std::string> txt;
  std::string address;        // dotted IPv4 to connect to
  std::string addressSource;  // how the address was found, for the user
};

class BridgeFinder
{
public:
  enum eResult
  {
    eFound,
    eNotFound,
    eStopped
  };

  // An instance seen while browsing.
  struct Candidate;

  // `onlyInstance`: take no other instance than `instance`.
  BridgeFinder(const std::string& type, const std::string& instance, bool onlyInstance);
  ~BridgeFinder();
  BridgeFinder(const BridgeFinder&) = delete;
  BridgeFinder& operator=(const BridgeFinder&) = delete;

  // Browses for up to `timeoutMs` (again and again while the daemon fails); resolving and
  // the address lookup of an instance found have STEP_TIMEOUT_MS each on top.
  eResult find(int timeoutMs, BridgeLocation& out);
  // Why the last find did not succeed, in words.
  const std::string& problem() const { return m_problem; }

  // Another instance than the preferred one is taken after it has been seen this long.
  static constexpr int OTHER_INSTANCE_GRACE_MS = 1000;
  static constexpr int STEP_TIMEOUT_MS = 3000;

  // True when `hostTarget` names this machine as DNS-SD does: the first label of its host
  // name under "local.", in any letter case, with or without the final dot.
  static bool isThisMachine(const std::string& hostTarget, const std::string& hostName);

private:
  using Clock = std::chrono::steady_clock;
  enum eWait
  {
    eWaitDone,
    eWaitTimeout,
    eWaitStopped,
    eWaitFailed
  };
  eWait _processUntil(DNSServiceRef service, Clock::time_point deadline, const std::function<bool()>& done);
  eWait _browse(Clock::time_point deadline, Candidate& chosen);
  eWait _resolve(const Candidate& chosen, BridgeLocation& out);
  bool _lookupAddress(uint32_t interfaceIndex, BridgeLocation& out);
  bool _queryAddressRecord(uint32_t interfaceIndex, BridgeLocation& out);

  std::string m_type;
  std::string m_instance;
  bool m_onlyInstance;
  MDnsWrapper* m_wrapper;
  std::string m_problem;
};
