// The data references the host serves: a fixed table of names whose entries' addresses are the
// handles given to plug-ins, the values published by the flight model each frame, and the overrides
// set by commands. Reads may come from any thread (plug-ins do read from their own threads), so the
// values sit behind m_lock and a handle is only ever compared, never followed, until it is known.
#pragma once

#include "SimFlightModel.h"
#include "plugin/xplm/XPLM.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

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
  double readDouble(XPLMDataRef handle, const char* function);
  float readFloat(XPLMDataRef handle, const char* function);

  void publish(const SimFlightState& state);  // main thread, once per unpaused frame
  void setOverride(int index, double value);  // rounded to float for float entries
  void clearOverride(int index);
  double value(int index) const;  // what a plug-in reads, widened to double

  uint64_t invalidReads() const { return m_invalidReads.load(); }

private:
  double valueLocked(int index) const;

  mutable std::mutex m_lock;  // guards m_values, m_overridden and m_overrides
  double m_values[kCount];
  bool m_overridden[kCount] = {};
  double m_overrides[kCount] = {};
  std::atomic<uint64_t> m_invalidReads{0};
};
