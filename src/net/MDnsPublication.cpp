#include "net/MDnsPublication.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "net/MDnsWrapper.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "runtime/NotificationCenter.h"

const char* const MDnsPublication::MDNS_SERVICE_PUBLICATION_NOTIFICATION =
    "MDNS_SERVICE_PUBLICATION_NOTIFICATION";

std::atomic<int> MDnsPublication::s_abandoned{0};

namespace {

// Workers given up on that have not yet left this module's code.
std::atomic<int> lateWorkers{0};
const int LATE_WORKER_WAIT_MS = 500;

// Destroyed when the process exits: a worker given up on still uses this module's data (its
// thread's pool, the log) until its last step, so that data is not destroyed under it if it
// can be helped. Made with the first publication, after what the workers use, hence destroyed
// before it. Polled: the worker's last step touches nothing but the counter. An unload is no
// such case: the loader holds its lock, which a worker closing the DNS-SD libraries needs;
// the module must stay (abandonedCount).
struct LateWorkerWait
{
  ~LateWorkerWait()
  {
    for (int waited = 0; lateWorkers.load(std::memory_order_acquire) > 0 && waited < LATE_WORKER_WAIT_MS;
         ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

// DNS-SD takes ports in network byte order.
uint16_t networkOrder(uint16_t port)
{
  const uint8_t bytes[2] = {uint8_t(port >> 8), uint8_t(port)};
  uint16_t ordered;
  memcpy(&ordered, bytes, 2);
  return ordered;
}

}  // namespace

MDnsPublication::MDnsPublication(MDnsWrapper* wrapper, BaseString* name, BaseString* type, uint16_t port,
                                 BaseDictionary* txtEntries, void* context, int replyTimeoutMs)
    : m_wrapper(BaseObject::retain(wrapper)),
      m_name(new BaseString(name)),
      m_type(new BaseString(type)),
      m_port(port),
      m_context(context),
      m_replyTimeoutMs(replyTimeoutMs),
      m_txtRecord(),
      m_txtCreated(true),
      m_service(nullptr),
      m_replied(false),
      m_replyResult(kDNSServiceErr_NoError),
      m_reported(false),
      m_reportedResult(kDNSServiceErr_NoError),
      m_state(eWorkerRunning)
{
  m_wrapper->m_txtCreate(&m_txtRecord, 512, nullptr);
  for (unsigned int i = 0, n = txtEntries ? txtEntries->count() : 0; i < n; ++i) {
    BaseString* key = txtEntries->keyAtIndex(i);
    BaseString* value = dynamic_cast<BaseString*>(txtEntries->objectForKeyIndex(i));
    if (!key || !value) continue;
    // The length travels in one byte: a longer value would be cut at the wrong place.
    if (value->length() > 255) {
      BASE_LOG(this, eMsgWarning, "TXT record value of %s longer than 255 bytes, entry left out",
               key->cString());
      continue;
    }
    m_wrapper->m_txtSetValue(&m_txtRecord, key->cString(), uint8_t(value->length()), value->cString());
  }
}

MDnsPublication::~MDnsPublication()
{
  // Only a worker that never ran leaves the record; the registration never outlives it.
  if (m_txtCreated) m_wrapper->m_txtDeallocate(&m_txtRecord);
  m_name->release();
  m_type->release();
  // May be the last holder: the DNS-SD libraries are closed here, on whichever thread this is.
  m_wrapper->release();
}

const char* MDnsPublication::getClass() const
{
  return "MDnsPublication";
}

bool MDnsPublication::start()
{
  if (!m_wake.open()) {
    BASE_LOG(this, eMsgError, "no wake-up pipe for the DNS-SD worker");
    return false;
  }
  static LateWorkerWait lateWorkerWait;
  return startThreadHoldingSelf();
}

void MDnsPublication::withdraw()
{
  if (!isThreadRunning()) return;
  m_keepRunning.store(false);
  m_wake.wake();
  bool abandoned;
  {
    BaseMutexLocker guard(m_stateLock);
    // The caller may be the simulator's main thread: a daemon that does not answer must not
    // hold it, so a worker still inside the library after the grace is left to itself.
    abandoned = !_waitForWorker();
    if (abandoned) {
      m_state = eWorkerAbandoned;
      // Before the worker can see the state and end.
      lateWorkers.fetch_add(1);
      countDownOnThreadExit(&lateWorkers);
    }
  }
  if (abandoned) {
    s_abandoned.fetch_add(1);
    BASE_LOG(this, eMsgWarning, "the DNS-SD service is slow to withdraw %s: left to finish on its own",
             m_name->cString());
    return;
  }
  stopThread();
}

bool MDnsPublication::_waitForWorker()
{
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WITHDRAW_GRACE_MS);
  while (m_state == eWorkerRunning) {
    if (m_stateChanged.wait_until(m_stateLock, deadline) == std::cv_status::timeout) break;
  }
  return m_state != eWorkerRunning;
}

void MDnsPublication::threadMethod()
{
  if (m_keepRunning.load()) {
    DNSServiceErrorType error =
        m_wrapper->m_register(&m_service, 0, 0, m_name->cString(), m_type->cString(), nullptr, nullptr,
                              networkOrder(m_port), m_wrapper->m_txtGetLength(&m_txtRecord),
                              m_wrapper->m_txtGetBytesPtr(&m_txtRecord), _registrationReplied, this);
    if (error != kDNSServiceErr_NoError) {
      m_service = nullptr;
      BASE_LOG(this, eMsgWarning, "unable to publish our service via MDNS");
      _report(error);
    } else {
      _watchRegistration();
    }
  }
  if (m_service) m_wrapper->m_refDeallocate(m_service);
  m_service = nullptr;
  m_wrapper->m_txtDeallocate(&m_txtRecord);
  m_txtCreated = false;
  _finishWorker();
}

void MDnsPublication::_watchRegistration()
{
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_replyTimeoutMs);
  bool awaitingReply = true;
  platform::SocketHandle reference = platform::SocketHandle(m_wrapper->m_refSockFD(m_service));
  while (m_keepRunning.load()) {
    // An invalid reference is not watched: then only a withdrawal or the time-out ends it.
    // Readable, closed or failed, each is an event of the entry.
    platform::PollEntry watched[2] = {{m_wake.handle(), platform::ePollIn, 0},
                                      {reference, platform::ePollIn, 0}};
    int ready;
    do {
      int timeoutMs = -1;
      if (awaitingReply) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeoutMs = left < 0 ? 0 : int(left);
      }
      ready = platform::pollSockets(watched, 2, timeoutMs);
    } while (ready < 0 && platform::lastSocketError() == EINTR);
    if (ready < 0) {
      BASE_LOG(this, eMsgError, "DNS-SD registration of %s no longer watched (%i)", m_name->cString(),
               platform::lastSocketError());
      return;
    }
    if (ready == 0) {
      // Still registered: a daemon that answers late is heard and reported then.
      BASE_LOG(this, eMsgWarning, "no reply from the DNS-SD service");
      awaitingReply = false;
      _report(MDnsWrapper::ERR_TIMEOUT);
      continue;
    }
    if (watched[0].revents != 0) return;
    // A readable reference may carry other traffic of the library first: only a callback is
    // a verdict.
    m_replied = false;
    DNSServiceErrorType processed = m_wrapper->m_processResult(m_service);
    if (processed != kDNSServiceErr_NoError) {
      // The connection to the daemon is gone and nothing more will come through it.
      BASE_LOG(this, eMsgWarning, "DNS-SD registration of %s lost (error %i)", m_name->cString(),
               (int)processed);
      awaitingReply = false;
      reference = platform::INVALID_SOCKET_HANDLE;
      _report(processed);
    } else if (m_replied) {
      awaitingReply = false;
      _report(m_replyResult);
    }
  }
}

void MDnsPublication::_registrationReplied(DNSServiceRef service, DNSServiceFlags flags,
                                           DNSServiceErrorType errorCode, const char* name, const char* type,
                                           const char* domain, void* context)
{
  servicePublished(service, flags, errorCode, name, type, domain, context);
  // The reply is the daemon's only word on a refused registration (a name taken on the
  // network, say): the service is then not advertised, which a user must be able to see.
  if (errorCode != kDNSServiceErr_NoError)
    BASE_LOG(nullptr, eMsgWarning, "DNS-SD registration of %s refused by the daemon (error %i)",
             name ? name : "the service", (int)errorCode);
  MDnsPublication* publication = static_cast<MDnsPublication*>(context);
  publication->m_replied = true;
  publication->m_replyResult = errorCode;
  // The daemons of Apple rename on a conflict: the layers above hear the name in use.
  if (name && *name) publication->m_replyName = name;
}

void MDnsPublication::_report(DNSServiceErrorType result)
{
  // Once withdrawn, the publisher may be gone: its context must not travel any more.
  if (!m_keepRunning.load()) return;
  if (m_reported && result == m_reportedResult) return;
  m_reported = true;
  m_reportedResult = result;
  BaseString* name = m_replyName.empty() ? BaseObject::retain(m_name) : new BaseString(m_replyName.c_str());
  std::string reason = failureReason(result);
  postOutcome(name, m_type, m_port, result, reason.empty() ? nullptr : reason.c_str(), m_context);
  name->release();
}

void MDnsPublication::_finishWorker()
{
  {
    BaseMutexLocker guard(m_stateLock);
    if (m_state == eWorkerRunning) {
      m_state = eWorkerFinished;
      m_stateChanged.notify_all();
      return;
    }
  }
  // Given up by a controller that will never join: the thread gives its resources back
  // itself when it ends.
  stopThread();
}

void MDnsPublication::postOutcome(BaseString* name, BaseString* type, uint16_t port,
                                  DNSServiceErrorType result, const char* reason, void* context)
{
  // The worker's own pool lasts as long as the thread; a subscriber's temporaries must not.
  BaseAutorelease pool;
  BaseDictionary* info = new (eRetainAutorelease) BaseDictionary();
  info->setObjectForKey(name, "name");
  info->setObjectForKey(type, "type");
  info->setObjectForKey(new (eRetainAutorelease) BaseNumber(int(port)), "port");
  info->setObjectForKey(new (eRetainAutorelease) BaseNumber(int(result)), "result");
  if (reason) info->setObjectForKey(new (eRetainAutorelease) BaseString(reason), "reason");
  NotificationCenter::sharedNotificationCenter()->postMessage(
      new (eRetainAutorelease) BaseString(MDNS_SERVICE_PUBLICATION_NOTIFICATION), info, context);
}

std::string MDnsPublication::failureReason(DNSServiceErrorType result)
{
  switch (result) {
    case kDNSServiceErr_NoError:
      return "";
    case MDnsWrapper::ERR_TIMEOUT:
      return "the DNS-SD daemon did not answer";
    case MDnsWrapper::ERR_SERVICE_NOT_RUNNING:
      return "no DNS-SD daemon is running";
    case kDNSServiceErr_NameConflict:
      return "the name is already taken on the network";
    default:
      return "the DNS-SD daemon refused the registration (error " + std::to_string(result) + ")";
  }
}
