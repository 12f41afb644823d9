// One service announced through DNS-SD, on a worker of its own so that no caller ever waits
// for the daemon: the worker registers, waits a bounded time for the reply, keeps watching the
// registration for later verdicts (a name conflict, the daemon going away) until it is
// withdrawn, and frees the registration and its TXT record itself. Every verdict is logged
// and posted as MDNS_SERVICE_PUBLICATION_NOTIFICATION. Retains the wrapper, and so its
// libraries, until the worker has let go. start and withdraw belong to one controlling thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <string>

#include "object/BaseObject.h"
#include "platform/DnsSd.h"
#include "platform/Sockets.h"
#include "runtime/BaseMutex.h"
#include "runtime/BaseThread.h"

class BaseDictionary;
class BaseString;
class MDnsWrapper;

class MDnsPublication : public BaseObject, public BaseThread
{
public:
  // Builds the TXT record from `txtEntries` (BaseString values, in the dictionary's order;
  // may be null) on the calling thread; name and type are copied. `context` is only handed
  // on with the notifications (the publishing driver): an identity to compare, since a post
  // under way when withdraw gives up may still be delivered after the driver is gone.
  MDnsPublication(MDnsWrapper* wrapper, BaseString* name, BaseString* type, uint16_t port,
                  BaseDictionary* txtEntries, void* context, int replyTimeoutMs);
  ~MDnsPublication() override;

  const char* getClass() const override;

  // Starts the worker, which holds a reference of its own until it ends. False when no
  // thread could be made; nothing was registered then.
  bool start();
  // Asks the worker to withdraw the service and waits at most WITHDRAW_GRACE_MS for it. A
  // worker still blocked in the DNS-SD library then is given up: it finishes on its own,
  // frees what it holds when its call returns and posts nothing more. Never blocks longer.
  void withdraw() EXCLUDES(m_stateLock);
  void threadMethod() override;

  // How many workers withdraw gave up on in this process: while one may still run, the code
  // it runs must stay mapped.
  static int abandonedCount() { return s_abandoned.load(); }
  // Posts one outcome; the info dictionary holds "name" and "type" (BaseString), "port" and
  // "result" (BaseNumber, the DNS-SD error code, 0 when announced) and, unless announced,
  // "reason" (BaseString). For failures found before any worker runs, too.
  static void postOutcome(BaseString* name, BaseString* type, uint16_t port, DNSServiceErrorType result,
                          const char* reason, void* context);
  // The phrase a verdict gives the user ("the name is already taken on the network"...);
  // empty when the service is announced.
  static std::string failureReason(DNSServiceErrorType result);

  static const char* const MDNS_SERVICE_PUBLICATION_NOTIFICATION;
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  // Sanitizer builds withdraw many times slower: a daemon that answers must not look hung.
  static constexpr int WITHDRAW_GRACE_MS = 200;
#else
  static constexpr int WITHDRAW_GRACE_MS = 12;
#endif
  // Posted with the reason "no DNS-SD library found".
  static constexpr DNSServiceErrorType ERR_NO_LIBRARY = kDNSServiceErr_Unsupported;

protected:
  enum eWorkerState
  {
    eWorkerRunning,
    eWorkerFinished,  // past its last DNS-SD call: joining it is quick
    eWorkerAbandoned  // given up by withdraw: it detaches itself
  };

  static void _registrationReplied(DNSServiceRef service, DNSServiceFlags flags,
                                   DNSServiceErrorType errorCode, const char* name, const char* type,
                                   const char* domain, void* context);
  // Waits for verdicts until withdrawn; the first one within the reply time-out.
  void _watchRegistration();
  // Posts a verdict unless it repeats the last one or the service was withdrawn.
  void _report(DNSServiceErrorType result);
  // Decides, with withdraw, who ends the thread: the controller joins a finished worker, an
  // abandoned one detaches itself.
  void _finishWorker() EXCLUDES(m_stateLock);
  // Waits at most WITHDRAW_GRACE_MS for the worker to leave eWorkerRunning; false when it
  // has not.
  bool _waitForWorker() REQUIRES(m_stateLock);

  MDnsWrapper* m_wrapper;
  BaseString* m_name;
  BaseString* m_type;
  uint16_t m_port;
  void* m_context;
  int m_replyTimeoutMs;
  TXTRecordRef m_txtRecord;
  bool m_txtCreated;        // until the worker frees the record
  DNSServiceRef m_service;  // the worker's
  // Written by the registration callback and read after it, both on the worker.
  bool m_replied;
  DNSServiceErrorType m_replyResult;
  std::string m_replyName;
  bool m_reported;  // an outcome was posted; m_reportedResult is its code
  DNSServiceErrorType m_reportedResult;
  platform::SocketWakeUp m_wake;  // opened by start; withdraw wakes, the worker watches
  BaseMutex m_stateLock;
  std::condition_variable_any m_stateChanged;  // waited on with m_stateLock held
  eWorkerState m_state GUARDED_BY(m_stateLock);

  static std::atomic<int> s_abandoned;
};
