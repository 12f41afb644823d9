// The data references the host serves: a fixed table of names whose entries' addresses are the
// handles given to plug-ins, the values published by the flight model each frame, and the overrides
// set by commands. Reads may come from any thread (plug-ins do read from their own threads), so the
// values sit behind m_lock and a handle is only ever compared, never followed, until it is known.
#pragma once

#include "SimFlightModel.h"
#include "plugin/xplm/XPLM.h"

#include <atomic>
#include <cstdint>
#include <string>

#include "SimMutex.h"

class SimDataRefs
{
public:
  struct Entry
  {
    const char* name;
    bool isDouble;  // served as double; otherwise as float
    const char* unit;
    double SimFlightState::*field;
  };
  static constexpr int kCount = 10;
  static const Entry kTable[kCount];

  explicit SimDataRefs(const SimFlightState& initial);

  static XPLMDataRef find(const char* name);    // null when unknown or null
  static int indexOf(const std::string& name);  // -1 when unknown
  static int indexOf(XPLMDataRef handle);       // -1 when not one of ours

  // The plug-in's reads: a bad handle yields 0, is counted and reported under `function`.
  double readDouble(XPLMDataRef handle, const char* function) EXCLUDES(m_lock);
  float readFloat(XPLMDataRef handle, const char* function) EXCLUDES(m_lock);

  void publish(const SimFlightState& state) EXCLUDES(m_lock);  // main thread, once per unpaused frame
  void setOverride(int index, double value) EXCLUDES(m_lock);  // rounded to float for float entries
  void clearOverride(int index) EXCLUDES(m_lock);
  double value(int index) const EXCLUDES(m_lock);  // what a plug-in reads, widened to double

  uint64_t invalidReads() const { return m_invalidReads.load(); }

private:
  double valueLocked(int index) const REQUIRES(m_lock);

  mutable SimMutex m_lock;
  double m_values[kCount] GUARDED_BY(m_lock);
  bool m_overridden[kCount] GUARDED_BY(m_lock) = {};
  double m_overrides[kCount] GUARDED_BY(m_lock) = {};
  std::atomic<uint64_t> m_invalidReads{0};
};
