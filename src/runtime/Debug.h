// The logging and tracing facility. Call sites use BASE_LOG: with no sink registered a call
// costs one integer load and evaluates no argument. A sink (one DebugManager) owns its line
// format, its filters and its target (standard output, a file it opened, or a retained
// IOAbstract). Printf may be called from any thread; make and configure sinks before logging
// threads start and destroy them after those threads end.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "object/BaseObject.h"
#include "runtime/BaseMutex.h"

class BaseArray;
class IOAbstract;

class DebugManager : public BaseObject
{
public:
  // Lower is more severe.
  enum eMsgSeverity
  {
    eMsgFatal = 0,
    eMsgError = 1,
    eMsgWarning = 2,
    eMsgInfo = 3,
    eMsgDebug = 4,
    eMsgVerbose = 5
  };

  enum
  {
    MAX_INSTANCES = 10
  };

  // What a sink writes to.
  enum eTargetKind
  {
    eTargetNone = 0,
    eTargetWindows = 1,  // the debugger output of another platform: nothing here
    eTargetStdio = 2,
    eTargetIO = 3
  };

  // One line of a filter text: "severity|file|function|format|minLine|maxLine".
  class DebugFilter : public BaseObject
  {
  public:
    explicit DebugFilter(BaseString* line);
    ~DebugFilter() override;

    // The decision after this filter, given the decision so far.
    bool match(bool current, const char* file, int line, const char* function, int severity,
               const char* format) const;
    // False only for a filter that lets every call through and so adds nothing.
    bool isUsefull() const;

  private:
    bool m_include;
    int m_severity;
    BaseString* m_fileSubstring;
    BaseString* m_functionSubstring;
    int m_minLine;
    int m_maxLine;
    BaseString* m_formatSubstring;
  };

  // Severity letters, indexed by severity.
  static const char initialSeverity[];
  // Severity names, indexed by severity.
  static const char* const fullSeverity[];
  static const char* const DEFAULT_FORMAT;
  // setFromFile refuses larger files.
  enum
  {
    MAX_CONFIGURATION_SIZE = 1 << 20
  };

  // Number of registered sinks; read by every call site before anything else.
  static std::atomic<int> nbInstances;

  // Filters and writes one call to every sink; returns the number of sinks that wrote it.
  // The format is the string formatting engine's ("%S" a BaseString, "%@" an object).
  // A call made on a thread that is already inside the facility returns 0 at once.
  static int Printf(const char* file, int line, const char* function, BaseObject* object, int severity,
                    const char* format, ...);

  // Each argument may be null: the default format, "stdout", "info". An eleventh sink is
  // refused: it stays unregistered, opens no target and writes nothing (see isRegistered).
  DebugManager(const char* format = nullptr, const char* target = nullptr, const char* filter = nullptr);
  ~DebugManager() override;

  // The three setters always return true. Call them before logging threads start.
  bool setFormat(const char* format);
  // "stdout", "windows", "file:path", "file:mode:path", "io:<address of a live IOAbstract>";
  // anything that cannot be opened leaves the sink silent.
  bool setTarget(const char* target);
  // One filter per line; null means "info", an empty text writes nothing.
  bool setFilter(const char* filter);
  // Sinks described by a configuration file (format, target and filter pieces separated
  // by "\n__|__\n"), each owned by the caller's autorelease pool. False when the file
  // cannot be read, exceeds MAX_CONFIGURATION_SIZE, or no sink could be registered.
  static bool setFromFile(const char* path);

  // Builds this sink's line for an accepted call and writes it.
  void Printf2(const char* file, int line, const char* function, BaseObject* object, int severity,
               BaseString* message);

  bool isRegistered() const { return m_registered; }
  int getTargetKind() const { return m_targetKind; }

  // `cursor` points just after "%[" and `end` at the end of the format. Returns the
  // expanded date and moves the cursor past "%]"; null, cursor unchanged, without "%]".
  static BaseString* getDate(const char*& cursor, const char* end);
  // These return new strings owned by the caller's innermost pool.
  static BaseString* getPartialFunction(BaseString* function);
  static BaseString* getFileName(BaseString* path);
  static BaseString* getExtension(BaseString* path);
  static BaseString* getPartialPath(BaseString* path);
  static pthread_t getCurrentThread();
  // Wall-clock milliseconds since the epoch, modulo 2^32.
  static uint32_t getMilliseconds();
  // The time-stamp counter on x86, monotonic nanoseconds elsewhere.
  static int64_t getCPUClocks();

private:
  // Clears the fields; the constructor registers the sink once it is configured.
  void init();
  // Closes the current target; the sink is silent afterwards.
  void _closeTarget();
  bool _accepts(const char* file, int line, const char* function, int severity, const char* format) const;
  void _printInternal(const char* file, int line, const char* function, BaseObject* object, int severity,
                      BaseString* message);
  void _write(const char* bytes, unsigned int length);

  // Registered sinks in order of registration; slots below nbInstances are in use. Changed
  // only under the registration lock in Debug.cpp; a sink is published once configured, so a
  // thread already logging never sees it half-built. Printf walks the table without a lock.
  static std::atomic<DebugManager*> instances[MAX_INSTANCES];

  BaseMutex m_lock;  // held only around one write: lines never interleave within a sink
  BaseString* m_format;
  BaseArray* m_filters;  // of DebugFilter
  FILE* m_file;          // standard output, or a stream this sink opened
  IOAbstract* m_ioTarget;
  int m_targetKind;
  bool m_registered;
};

// object: `this` in member code, nullptr in free functions and callbacks.
#define BASE_LOG(object, severity, ...)                                                                  \
  do {                                                                                                   \
    if (DebugManager::nbInstances.load(std::memory_order_relaxed) != 0)                                  \
      DebugManager::Printf(__FILE__, __LINE__, __func__, (object), DebugManager::severity, __VA_ARGS__); \
  } while (0)
