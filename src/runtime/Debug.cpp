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

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "io/IOAbstract.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/BaseThread.h"

std::atomic<int> DebugManager::nbInstances{0};
std::atomic<DebugManager*> DebugManager::instances[MAX_INSTANCES] = {};

const char DebugManager::initialSeverity[] = "FEWIDV";
const char* const DebugManager::fullSeverity[] = {"Fatal error", "Error", "Warning",
                                                  "Info",        "Debug", "Verbose"};
const char* const DebugManager::DEFAULT_FORMAT = "%p:%l, in %F %S: %m\n";

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

inline bool isSeparator(char c)
{
  return c == '/' || c == '\\';
}

inline void appendView(BaseString* out, std::string_view text)
{
  if (!text.empty()) out->append(text.data(), (int)text.size());
}

// Appends `text` with every backslash turned into a slash.
void appendWithSlashes(BaseString* out, std::string_view text)
{
  size_t start = 0;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\') continue;
    appendView(out, text.substr(start, i - start));
    out->append("/", 1);
    start = i + 1;
  }
  appendView(out, text.substr(start));
}

size_t lastSeparatorBefore(std::string_view path, size_t end)
{
  for (size_t i = end; i-- > 0;)
    if (isSeparator(path[i])) return i;
  return std::string_view::npos;
}

// The last two components, or the whole path when it has fewer.
std::string_view partialPath(std::string_view path)
{
  size_t last = lastSeparatorBefore(path, path.size());
  if (last == std::string_view::npos) return path;
  size_t previous = lastSeparatorBefore(path, last);
  if (previous == std::string_view::npos) return path;
  return path.substr(previous + 1);
}

std::string_view fileNameOf(std::string_view path)
{
  size_t last = lastSeparatorBefore(path, path.size());
  return last == std::string_view::npos ? path : path.substr(last + 1);
}

std::string_view fileNameWithoutExtension(std::string_view path)
{
  std::string_view name = fileNameOf(path);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

// From the last dot on, dot included; the whole name when there is none.
std::string_view extensionOf(std::string_view path)
{
  std::string_view name = fileNameOf(path);
  size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot);
}

// The leading identifier after the first "::", or of the whole name without one.
std::string_view partialFunction(std::string_view function)
{
  size_t scope = function.find("::");
  std::string_view rest = scope == std::string_view::npos ? function : function.substr(scope + 2);
  size_t length = 0;
  while (length < rest.size() && (isalnum((unsigned char)rest[length]) || rest[length] == '_')) length++;
  return rest.substr(0, length);
}

std::string_view viewOf(BaseString* text)
{
  return text ? std::string_view(text->cString(), text->length()) : std::string_view();
}

BaseString* newString(std::string_view text)
{
  return new (eRetainAutorelease) BaseString(text.data() ? text.data() : "", (int)text.size());
}

void appendNumber(BaseString* out, const char* format, ...)
{
  char digits[48];
  va_list arguments;
  va_start(arguments, format);
  int length = vsnprintf(digits, sizeof digits, format, arguments);
  va_end(arguments);
  if (length > 0) out->append(digits, length < (int)sizeof digits ? length : (int)sizeof digits - 1);
}

// "0x" and the lower-case hexadecimal digits, whatever the platform's "%p" prints.
void appendAddress(BaseString* out, uintptr_t address)
{
  appendNumber(out, "0x%" PRIxPTR, address);
}

// An automatic-base integer; 0 (no bound) for text that is not one.
int parseLineBound(std::string_view field)
{
  if (field.empty()) return 0;
  std::string digits(field);
  long value = strtol(digits.c_str(), nullptr, 0);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return (int)value;
}

BaseString* substringField(std::string_view field)
{
  return field.empty() ? nullptr : new BaseString(field.data(), (int)field.size());
}

// fopen modes we hand to the C library: r, w or a, then any of "+btxe". Anything else
// (such as glibc's ",ccs=" character-set suffix) is refused.
bool isFileMode(const std::string& mode)
{
  if (mode.empty() || mode.size() > 6 || !strchr("rwa", mode[0])) return false;
  return mode.find_first_not_of("+btxe", 1) == std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Filters

DebugManager::DebugFilter::DebugFilter(BaseString* line)
    : m_include(true),
      m_severity(eMsgVerbose),
      m_fileSubstring(nullptr),
      m_functionSubstring(nullptr),
      m_minLine(0),
      m_maxLine(0),
      m_formatSubstring(nullptr)
{
  // severity|file|function|format|minLine|maxLine; anything after a sixth "|" is ignored.
  std::string_view fields[6];
  std::string_view rest = viewOf(line);
  for (int i = 0; i < 6 && !rest.empty(); i++) {
    size_t bar = rest.find('|');
    fields[i] = rest.substr(0, bar);
    if (bar == std::string_view::npos) break;
    rest = rest.substr(bar + 1);
  }

  std::string_view severity = fields[0];
  if (!severity.empty() && (severity[0] == '+' || severity[0] == '-')) {
    m_include = severity[0] == '+';
    severity.remove_prefix(1);
  }
  if (severity.size() == 1) {
    char letter = (char)toupper((unsigned char)severity[0]);
    const char* found = letter ? strchr(initialSeverity, letter) : nullptr;
    if (isdigit((unsigned char)letter))
      m_severity = letter - '0';
    else if (found)
      m_severity = (int)(found - initialSeverity);
  } else if (severity.size() > 1) {
    for (int i = eMsgFatal; i <= eMsgVerbose; i++) {
      if (severity.size() <= strlen(fullSeverity[i]) &&
          strncasecmp(severity.data(), fullSeverity[i], severity.size()) == 0) {
        m_severity = i;
        break;
      }
    }
  }
  m_fileSubstring = substringField(fields[1]);
  m_functionSubstring = substringField(fields[2]);
  m_formatSubstring = substringField(fields[3]);
  m_minLine = parseLineBound(fields[4]);
  m_maxLine = parseLineBound(fields[5]);
}

DebugManager::DebugFilter::~DebugFilter()
{
  release(m_fileSubstring);
  release(m_functionSubstring);
  release(m_formatSubstring);
}

bool DebugManager::DebugFilter::match(bool current, const char* file, int line, const char* function,
                                      int severity, const char* format) const
{
  bool matched = severity <= m_severity &&
                 (!m_fileSubstring || (file && strstr(file, m_fileSubstring->cString()))) &&
                 (!m_functionSubstring || (function && strstr(function, m_functionSubstring->cString()))) &&
                 (m_minLine == 0 || m_minLine <= line) && (m_maxLine == 0 || line <= m_maxLine) &&
                 (!m_formatSubstring || (format && strstr(format, m_formatSubstring->cString())));
  return m_include ? (current || matched) : (current && !matched);
}

bool DebugManager::DebugFilter::isUsefull() const
{
  return !(m_include && m_severity == eMsgVerbose && !m_fileSubstring && !m_functionSubstring &&
           !m_formatSubstring && m_minLine == 0 && m_maxLine == 0);
}

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
    std::string mode = "wt", path = argument;
    if (secondColon != std::string_view::npos) {
      mode = argument;
      path = std::string(afterWord.substr(secondColon + 1));
    }
    FILE* file = isFileMode(mode) ? fopen(path.c_str(), mode.c_str()) : nullptr;
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

  FILE* file = fopen(path, "rb");
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

void DebugManager::_printInternal(const char* file, int line, const char* function, BaseObject* object,
                                  int severity, BaseString* message)
{
  if (m_targetKind != eTargetStdio && m_targetKind != eTargetIO) return;
  std::string_view format = viewOf(m_format);
  bool knownSeverity = severity >= eMsgFatal && severity <= eMsgVerbose;
  BaseString* out =
      new (eRetainAutorelease) BaseString((unsigned int)(format.size() + message->length() + 64));

  while (!format.empty()) {
    size_t percent = format.find('%');
    appendView(out, format.substr(0, percent));
    if (percent == std::string_view::npos) break;
    if (percent + 1 >= format.size()) break;  // a lone "%" at the very end writes nothing
    char directive = format[percent + 1];
    format.remove_prefix(percent + 2);
    switch (directive) {
      case '%':
        out->append("%", 1);
        break;
      case 'm':
        out->append(message);
        break;
      case 'P':
        out->append(file);
        break;
      case 'p':
        appendWithSlashes(out, partialPath(file));
        break;
      case 'n':
        appendView(out, fileNameWithoutExtension(file));
        break;
      case 'e':
        appendView(out, extensionOf(file));
        break;
      case 'l':
        appendNumber(out, "%i", line);
        break;
      case 'F':
        out->append(function);
        break;
      case 'f':
        appendView(out, partialFunction(function));
        break;
      case 'S':
        if (knownSeverity) out->append(fullSeverity[severity]);
        break;
      case 's':
        if (knownSeverity) out->append(&initialSeverity[severity], 1);
        break;
      case 'v':
        appendNumber(out, "%i", severity);
        break;
      case 'a':
        if (object) appendAddress(out, reinterpret_cast<uintptr_t>(object));
        break;
      case 'c':
        if (object && object->getClass()) out->append(object->getClass());
        break;
      case 'i':
        if (object) {
          BaseString* name = object->getInstanceName();
          if (name) out->append(name);
        }
        break;
      case 't':
        appendAddress(out, (uintptr_t)getCurrentThread());
        break;
      case 'M':
        appendNumber(out, "%u", getMilliseconds());
        break;
      case 'C':
        appendNumber(out, "%lld", (long long)getCPUClocks());
        break;
      case '[': {
        const char* cursor = format.data();
        BaseString* date = getDate(cursor, format.data() + format.size());
        // Without its "%]" the directive is dropped like an unknown one.
        if (date) {
          out->append(date);
          format.remove_prefix((size_t)(cursor - format.data()));
        }
        break;
      }
      default:
        break;  // unknown directives write nothing
    }
  }
  _write(out->cString(), out->length());
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

// ---------------------------------------------------------------------------------------
// Line pieces

BaseString* DebugManager::getDate(const char*& cursor, const char* end)
{
  if (!cursor || !end || end < cursor) return nullptr;
  std::string_view rest(cursor, (size_t)(end - cursor));
  size_t close = rest.find("%]");
  if (close == std::string_view::npos) return nullptr;
  std::string pattern(rest.substr(0, close));
  char text[200];
  time_t now = time(nullptr);
  struct tm local;
  size_t length = 0;
  // 0 means the expansion did not fit (or was empty): the date then writes nothing.
  if (!pattern.empty() && localtime_r(&now, &local))
    length = strftime(text, sizeof text, pattern.c_str(), &local);
  cursor += close + 2;
  return new (eRetainAutorelease) BaseString(text, (int)length);
}

BaseString* DebugManager::getPartialFunction(BaseString* function)
{
  return newString(partialFunction(viewOf(function)));
}

BaseString* DebugManager::getFileName(BaseString* path)
{
  return newString(fileNameWithoutExtension(viewOf(path)));
}

BaseString* DebugManager::getExtension(BaseString* path)
{
  return newString(extensionOf(viewOf(path)));
}

BaseString* DebugManager::getPartialPath(BaseString* path)
{
  BaseString* out = new (eRetainAutorelease) BaseString();
  appendWithSlashes(out, partialPath(viewOf(path)));
  return out;
}

pthread_t DebugManager::getCurrentThread()
{
  return pthread_self();
}

uint32_t DebugManager::getMilliseconds()
{
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (uint32_t)((uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u);
}

int64_t DebugManager::getCPUClocks()
{
#if defined(__x86_64__) || defined(__i386__)
  return (int64_t)__rdtsc();
#else
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000000 + now.tv_nsec;
#endif
}
