// The logging facility's entry point as call sites see it. Every call site goes through
// BASE_LOG, which tests nbInstances first: with no sink registered a call costs one
// integer test and evaluates none of its arguments. Printf may be called from any thread.
#pragma once

#include <atomic>

class BaseObject;

class DebugManager
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

  enum { MAX_INSTANCES = 10 };

  // Number of registered sinks; read by every call site before anything else.
  static std::atomic<int> nbInstances;

  // Filters and writes one call to every sink; returns the number of sinks that wrote it.
  // The format is the string formatting engine's ("%S" a BaseString, "%@" an object).
  static int Printf(const char* file, int line, const char* function, BaseObject* object,
                    int severity, const char* format, ...);
};

// object: `this` in member code, nullptr in free functions and callbacks.
#define BASE_LOG(object, severity, ...)                                                          \
  do {                                                                                           \
    if (DebugManager::nbInstances.load(std::memory_order_relaxed) != 0)                          \
      DebugManager::Printf(__FILE__, __LINE__, __func__, (object), DebugManager::severity,       \
                           __VA_ARGS__);                                                         \
  } while (0)
