// The flight-loop scheduler: the callbacks a plug-in registers, each due after a number of seconds
// (positive interval) or frames (negative), never when 0. Time is counted in frames, one frame being
// 1/fps seconds, so call counts depend only on the number of frames run. Callbacks may register,
// unregister and reschedule any callback, themselves included, while being called. Each call is
// timed as a "flight loop". Main thread only.
#pragma once

#include "SimCallTimes.h"
#include "plugin/xplm/XPLM.h"

#include <cstdint>
#include <vector>

class SimFlightLoops
{
public:
  SimFlightLoops(int fps, SimCallTimes& times);

  void registerLoop(XPLMFlightLoop_f callback, float interval, void* refcon);
  void unregisterLoop(XPLMFlightLoop_f callback, void* refcon);
  void setInterval(XPLMFlightLoop_f callback, float interval, bool relativeToNow, void* refcon);

  // One flight loop: counts it and, when `deliver`, calls every callback due at this frame.
  void runFrame(bool deliver);
  void clear();

  uint64_t counter() const { return m_counter; }

private:
  struct Loop
  {
    uint64_t serial;  // identifies the registration across calls that may change m_loops
    XPLMFlightLoop_f callback;
    void* refcon;
    uint64_t lastCall;  // frame of the last call, or of the registration before the first call
    uint64_t due;       // frame at which it is next called, kNever when unscheduled
  };
  static constexpr uint64_t kNever = UINT64_MAX;

  uint64_t framesFor(float interval, const char* function) const;  // 0 for "unscheduled"
  static uint64_t dueAfter(uint64_t from, uint64_t frames);
  Loop* find(XPLMFlightLoop_f callback, void* refcon);
  Loop* findSerial(uint64_t serial);

  int m_fps;
  SimCallTimes& m_times;
  uint64_t m_counter = 0;  // flight loops run so far; the frame being run while callbacks are called
  uint64_t m_nextSerial = 1;
  std::vector<Loop> m_loops;  // in registration order, which is also the calling order
};
