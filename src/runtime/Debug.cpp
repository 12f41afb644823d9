#include "runtime/Debug.h"

#include <sched.h>
#include <strings.h>
#include <time.h>

#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "io/IOAbstract.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "platform/Files.h"
#include "runtime/BaseThread.h"
#include "runtime/DebugInternal.h"

std::atomic<int> DebugManager::nbInstances{0};
std::atomic<DebugManager*> DebugManager::instances[MAX_INSTANCES] = {};

const char DebugManager::initialSeverity[] = "FEWIDV";
const char* const DebugManager::fullSeverity[] = {"Fatal error", "Error", "Warning",
                                                  "Info",        "Debug", "Verbose"};
const char* const DebugManager::DEFAULT_FORMAT = "%p:%l, in %F %S: %m\n";

using DebugInternal::newString;
using DebugInternal::viewOf;

namespace {

// Guards changes of DebugManager::instances and nbInstances. A constant-initialised
// std::mutex, so that sinks may be made and destroyed by static constructors and destructors.
std::mutex registrationLock;

// Set once the per-thread counter below is gone at exit: the facility is then shut.
std::atomic<bool> reentryCounterGone{false};

struct ReentryCounter
{
  ThreadLocalStorage<int> inPrintf{0};
  ~ReentryCounter() { reentryCounterGone.store(true, std::memory_order_release); }
};

// inPrintf: how deep the calling thread is inside the facility; null once shut down.
ThreadLocalStorage<int>* CheckTLS()
{
  if (reentryCounterGone.load(std::memory_order_acquire)) return nullptr;
  static ReentryCounter counter;
  return &counter.inPrintf;
}

// Raises inPrintf for the calling thread while it lives, so that whatever the facility
// calls, and whatever would log from there, does not come back in.
class FacilityScope
{
public:
  FacilityScope() : m_inPrintf(CheckTLS())
  {
    if (m_inPrintf) *m_inPrintf = int(*m_inPrintf) + 1;
  }
  ~FacilityScope()
  {
    if (m_inPrintf) *m_inPrintf = int(*m_inPrintf) - 1;
  }
  FacilityScope(const FacilityScope&) = delete;
  FacilityScope& operator=(const FacilityScope&) = delete;

private:
  ThreadLocalStorage<int>* m_inPrintf;
};

// Printf uses the sinks of its snapshot without holding references, so a sink leaving the
// table must wait for the calls that may still use it. Each call counts itself in the
// counter of the epoch it started in; a departing sink flips the epoch, so that new calls
// count elsewhere, and waits until the old counter drains, once for each counter. A call
// counted before the sink left the table stays counted until it is done, so seeing both
// counters at zero afterwards means none of them is left. Each wait lasts at most as long
// as the lines being written when it began.
std::atomic<unsigned int> printEpoch{0};
std::atomic<int> printersInEpoch[2] = {};

class PrinterScope
{
public:
  PrinterScope() : m_epoch(printEpoch.load() & 1u) { printersInEpoch[m_epoch].fetch_add(1); }
  ~PrinterScope() { printersInEpoch[m_epoch].fetch_sub(1); }
  PrinterScope(const PrinterScope&) = delete;
  PrinterScope& operator=(const PrinterScope&) = delete;

private:
  unsigned int m_epoch;
};

void waitForPrinters()
{
  for (int round = 0; round < 2; ++round) {
    unsigned int old = printEpoch.fetch_add(1) & 1u;
    while (printersInEpoch[old].load() != 0) sched_yield();
  }
}

class SinkLock
{
public:
  explicit SinkLock(BaseMutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~SinkLock() { m_mutex.unlock(); }
  SinkLock(const SinkLock&) = delete;
  SinkLock& operator=(const SinkLock&) = delete;

private:
  BaseMutex& m_mutex;
};

// fopen modes we hand to the C library: r, w or a, then any of "+btxe". Anything else
// (such as glibc's ",ccs=" character-set suffix) is refused.
bool isFileMode(const std::string& mode)
{
  if (mode.empty() || mode.size() > 6 || !strchr("rwa", mode[0])) return false;
  return mode.find_first_not_of("+btxe", 1) == std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sinks

DebugManager::DebugManager(const char* format, const char* target, const char* filter)
{
  init();
  {
    // Held through the configuration so that a concurrent registration cannot take the
    // slot this sink was promised; nothing below calls back into the table.
    std::lock_guard<std::mutex> guard(registrationLock);
    int count = nbInstances.load(std::memory_order_relaxed);
    m_registered = count < MAX_INSTANCES;
    setFormat(format);
    setTarget(target);
    setFilter(filter);
    if (m_registered) {
      // Published only once configured: a thread already logging never sees it half-built.
      instances[count].store(this, std::memory_order_release);
      nbInstances.store(count + 1, std::memory_order_release);
    }
  }
  if (!m_registered)
    BASE_LOG(this, eMsgError, "log sink table full (%d sinks), this sink writes nothing", (int)MAX_INSTANCES);
}

DebugManager::~DebugManager()
{
  // A sink destroyed from inside a line being written (by its own target, say) cannot
  // wait for that line.
  ThreadLocalStorage<int>* inPrintf = CheckTLS();
  bool printing = inPrintf && int(*inPrintf) != 0;
  FacilityScope inside;
  if (m_registered) {
    // Out of the table first, so that nobody reaches the fields released below.
    std::lock_guard<std::mutex> guard(registrationLock);
    int count = nbInstances.load(std::memory_order_relaxed);
    for (int i = 0; i < count; i++) {
      if (instances[i].load(std::memory_order_relaxed) != this) continue;
      for (int j = i; j + 1 < count; j++)
        instances[j].store(instances[j + 1].load(std::memory_order_relaxed), std::memory_order_release);
      instances[count - 1].store(nullptr, std::memory_order_release);
      nbInstances.store(count - 1, std::memory_order_release);
      break;
    }
    m_registered = false;
    if (!printing) waitForPrinters();
  }
  release(m_format);
  m_format = nullptr;
  _closeTarget();
  release(m_filters);
  m_filters = nullptr;
}

void DebugManager::init()
{
  m_format = nullptr;
  m_filters = nullptr;
  m_file = nullptr;
  m_ioTarget = nullptr;
  m_targetKind = eTargetNone;
  m_registered = false;
}

bool DebugManager::setFormat(const char* format)
{
  FacilityScope inside;
  BaseString* text = new BaseString(format ? format : DEFAULT_FORMAT);
  BaseString* old = m_format;
  m_format = text;
  release(old);
  return true;
}

void DebugManager::_closeTarget()
{
  m_targetKind = eTargetNone;
  IOAbstract* stream = m_ioTarget;
  m_ioTarget = nullptr;
  release(stream);
  if (m_file && m_file != stdout) fclose(m_file);
  m_file = nullptr;
}

bool DebugManager::setTarget(const char* target)
{
  FacilityScope inside;
  _closeTarget();
  if (!m_registered) return true;  // a refused sink never opens anything
  std::string_view text = target && *target ? target : "stdout";

  // word[:argument[:rest]]
  size_t colon = text.find(':');
  std::string word(text.substr(0, colon));
  for (char& c : word) c = (char)tolower((unsigned char)c);
  bool hasArgument = colon != std::string_view::npos;
  std::string_view afterWord = hasArgument ? text.substr(colon + 1) : std::string_view();
  size_t secondColon = afterWord.find(':');
  std::string argument(afterWord.substr(0, secondColon));

  if (word == "windows") {
    m_targetKind = eTargetWindows;
  } else if (word == "stdout") {
    m_file = stdout;
    m_targetKind = eTargetStdio;
  } else if (word == "file" && hasArgument) {
    std::string mode = "wt", path(afterWord);
    // A drive is part of the path unless it reads as a mode: "file:C:/x.log", "file:a:C:/x.log".
    bool drive = platform::startsWithDrive(path.c_str()) && !isFileMode(argument);
    if (secondColon != std::string_view::npos && !drive) {
      mode = argument;
      path = std::string(afterWord.substr(secondColon + 1));
    }
    FILE* file = isFileMode(mode) ? platform::openStream(path.c_str(), mode.c_str()) : nullptr;
    if (file) {
      m_file = file;
      m_targetKind = eTargetStdio;
    }
  } else if (word == "io" && hasArgument) {
    // Only the address of a stream alive right now is taken; anything else stays silent.
    void* address = nullptr;
    IOAbstract* stream =
        sscanf(argument.c_str(), "%p", &address) == 1 ? IOAbstract::retainLiveStream(address) : nullptr;
    if (stream) {
      m_ioTarget = stream;
      m_targetKind = eTargetIO;
    }
  }
  return true;
}

bool DebugManager::setFilter(const char* filter)
{
  FacilityScope inside;
  BaseAutorelease pool;
  std::string text;
  for (const char* c = filter ? filter : "info"; *c; c++)
    if (*c != '\r' && *c != ' ') text += *c;

  BaseArray* filters = new BaseArray();
  if (!text.empty()) {
    std::string_view rest = text;
    for (bool first = true;; first = false) {
      size_t lineFeed = rest.find('\n');
      DebugFilter* entry = new (eRetainAutorelease) DebugFilter(newString(rest.substr(0, lineFeed)));
      // A later line that lets everything through (such as a blank one) adds nothing.
      if (first || entry->isUsefull()) filters->addObject(entry);
      if (lineFeed == std::string_view::npos) break;
      rest = rest.substr(lineFeed + 1);
    }
  }
  BaseArray* old = m_filters;
  m_filters = filters;
  release(old);
  return true;
}

bool DebugManager::setFromFile(const char* path)
{
  if (!path) return false;
  FacilityScope inside;
  BaseAutorelease pool;

  FILE* file = platform::openStream(path, "rb");
  if (!file) return false;
  std::string content;
  char chunk[4096];
  bool readable = true;
  for (size_t read; (read = fread(chunk, 1, sizeof chunk, file)) > 0;) {
    if (content.size() + read > (size_t)MAX_CONFIGURATION_SIZE) {
      readable = false;
      break;
    }
    for (size_t i = 0; i < read; i++)
      if (chunk[i] != '\r') content += chunk[i];
  }
  if (ferror(file)) readable = false;
  fclose(file);
  if (!readable) return false;

  static const std::string_view MARKER = "\n__|__\n";
  int registered = 0;
  DebugManager* sink = nullptr;
  std::string_view rest = content;
  for (int piece = 0; !content.empty(); piece++) {
    size_t marker = rest.find(MARKER);
    BaseString* text = newString(rest.substr(0, marker));
    switch (piece % 3) {
      case 0:
        // Owned by the caller's pool, one level out from ours.
        sink = new (eRetainAutoreleaseParent) DebugManager();
        if (sink->isRegistered()) registered++;
        sink->setFormat(text->cString());
        break;
      case 1:
        sink->setTarget(text->cString());
        break;
      default:
        sink->setFilter(text->cString());
        break;
    }
    if (marker == std::string_view::npos) break;
    rest = rest.substr(marker + MARKER.size());
  }
  return registered > 0;
}

// ---------------------------------------------------------------------------------------
// Dispatch and line building

int DebugManager::Printf(const char* file, int line, const char* function, BaseObject* object, int severity,
                         const char* format, ...)
{
  ThreadLocalStorage<int>* inPrintf = CheckTLS();
  if (!inPrintf || int(*inPrintf) != 0) return 0;
  PrinterScope counted;

  // Filters first, on a snapshot of the table: a call that no sink takes costs no pool,
  // no formatting and no allocation.
  const char* safeFile = file ? file : "";
  const char* safeFunction = function ? function : "";
  const char* safeFormat = format ? format : "";
  DebugManager* accepting[MAX_INSTANCES];
  int accepted = 0;
  int count = nbInstances.load(std::memory_order_acquire);
  for (int i = 0; i < count && i < MAX_INSTANCES; i++) {
    DebugManager* sink = instances[i].load(std::memory_order_acquire);
    if (sink && sink->_accepts(safeFile, line, safeFunction, severity, safeFormat))
      accepting[accepted++] = sink;
  }
  if (accepted == 0) return 0;

  FacilityScope inside;
  BaseAutorelease pool;
  BaseString* message;
  if (format) {
    va_list arguments;
    va_start(arguments, format);
    message = BaseString::stringWithFormatv(format, arguments);
    va_end(arguments);
  } else {
    message = newString("");
  }
  for (int i = 0; i < accepted; i++)
    accepting[i]->_printInternal(safeFile, line, safeFunction, object, severity, message);
  return accepted;
}

bool DebugManager::_accepts(const char* file, int line, const char* function, int severity,
                            const char* format) const
{
  if (!m_filters) return false;
  bool decision = false;
  for (unsigned int i = 0; i < m_filters->count(); i++)
    decision = static_cast<DebugFilter*>(m_filters->objectAtIndex(i))
                   ->match(decision, file, line, function, severity, format);
  return decision;
}

void DebugManager::Printf2(const char* file, int line, const char* function, BaseObject* object, int severity,
                           BaseString* message)
{
  FacilityScope inside;
  BaseAutorelease pool;
  _printInternal(file ? file : "", line, function ? function : "", object, severity,
                 message ? message : newString(""));
}

void DebugManager::_write(const char* bytes, unsigned int length)
{
  SinkLock locked(m_lock);
  if (m_targetKind == eTargetStdio && m_file) {
    fwrite(bytes, 1, length, m_file);
  } else if (m_targetKind == eTargetIO && m_ioTarget) {
    // Failed writes are ignored, including those a throwing stream reports by exception.
    try {
      m_ioTarget->writeIO(bytes, length);
    } catch (BaseObject* failure) {
      release(failure);
    }
  }
}
