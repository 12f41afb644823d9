#include "SimFlightLoops.h"

#include "SimOutput.h"

#include <cmath>

namespace {

// Far enough never to come (about 30 years at 1000 fps), small enough never to overflow a sum.
constexpr double kFarFrames = 1e12;

}  // namespace

SimFlightLoops::SimFlightLoops(int fps, SimCallTimes& times) : m_fps(fps), m_times(times) {}

uint64_t SimFlightLoops::framesFor(float interval, const char* function) const
{
  if (std::isnan(interval)) {
    SimOutput::report("%s: interval is not a number, callback not scheduled", function);
    return 0;
  }
  if (interval == 0.0f) return 0;
  double frames;
  if (interval < 0.0f) {
    frames = std::trunc(-static_cast<double>(interval));
  } else {
    // Seconds become frames with a little slack, so that 0.1f (slightly above 0.1) at 10 fps is
    // one frame and not two.
    const double exact = static_cast<double>(interval) * m_fps;
    frames = std::ceil(exact - exact * 1e-6);
  }
  if (frames < 1.0) return 1;
  return frames > kFarFrames ? static_cast<uint64_t>(kFarFrames) : static_cast<uint64_t>(frames);
}

uint64_t SimFlightLoops::dueAfter(uint64_t from, uint64_t frames)
{
  return frames == 0 ? kNever : from + frames;
}

SimFlightLoops::Loop* SimFlightLoops::find(XPLMFlightLoop_f callback, void* refcon)
{
  for (Loop& loop : m_loops) {
    if (loop.callback == callback && loop.refcon == refcon) return &loop;
  }
  return nullptr;
}

SimFlightLoops::Loop* SimFlightLoops::findSerial(uint64_t serial)
{
  for (Loop& loop : m_loops) {
    if (loop.serial == serial) return &loop;
  }
  return nullptr;
}

void SimFlightLoops::registerLoop(XPLMFlightLoop_f callback, float interval, void* refcon)
{
  if (callback == nullptr) {
    SimOutput::report("XPLMRegisterFlightLoopCallback: null callback, refused");
    return;
  }
  const uint64_t frames = framesFor(interval, "XPLMRegisterFlightLoopCallback");
  if (Loop* existing = find(callback, refcon)) {
    // One registration per (callback, refcon): a second one would make unregistering ambiguous.
    SimOutput::report(
        "XPLMRegisterFlightLoopCallback: callback %p with refcon %p already registered, "
        "rescheduled",
        reinterpret_cast<void*>(callback), refcon);
    existing->due = dueAfter(m_counter, frames);
    return;
  }
  m_loops.push_back(Loop{m_nextSerial++, callback, refcon, m_counter, dueAfter(m_counter, frames)});
}

void SimFlightLoops::unregisterLoop(XPLMFlightLoop_f callback, void* refcon)
{
  for (auto it = m_loops.begin(); it != m_loops.end(); ++it) {
    if (it->callback == callback && it->refcon == refcon) {
      m_loops.erase(it);
      return;
    }
  }
  SimOutput::report("XPLMUnregisterFlightLoopCallback: callback %p with refcon %p is not registered",
                    reinterpret_cast<void*>(callback), refcon);
}

void SimFlightLoops::setInterval(XPLMFlightLoop_f callback, float interval, bool relativeToNow, void* refcon)
{
  Loop* loop = find(callback, refcon);
  if (loop == nullptr) {
    SimOutput::report("XPLMSetFlightLoopCallbackInterval: callback %p with refcon %p is not registered",
                      reinterpret_cast<void*>(callback), refcon);
    return;
  }
  const uint64_t frames = framesFor(interval, "XPLMSetFlightLoopCallbackInterval");
  // A due frame already past (relative to an old last call) simply makes it due at the next frame.
  loop->due = dueAfter(relativeToNow ? m_counter : loop->lastCall, frames);
}

void SimFlightLoops::runFrame(bool deliver)
{
  ++m_counter;
  if (!deliver) return;
  const uint64_t frame = m_counter;
  // Snapshot, then dispatch: callbacks may change m_loops, so each one is looked up again by
  // serial and skipped if it was unregistered or rescheduled by an earlier callback.
  std::vector<uint64_t> due;
  for (const Loop& loop : m_loops) {
    if (loop.due <= frame) due.push_back(loop.serial);
  }
  const float sinceLastLoop = 1.0f / static_cast<float>(m_fps);
  for (uint64_t serial : due) {
    Loop* loop = findSerial(serial);
    if (loop == nullptr || loop->due > frame) continue;
    const XPLMFlightLoop_f callback = loop->callback;
    void* const refcon = loop->refcon;
    const float sinceLastCall = static_cast<float>(static_cast<double>(frame - loop->lastCall) / m_fps);
    loop->lastCall = frame;
    loop->due = kNever;
    float next;
    {
      SimCallTimes::Scope timing(m_times, "flight loop", true);
      next = callback(sinceLastCall, sinceLastLoop, static_cast<int>(frame & 0x7fffffff), refcon);
    }
    // The return value decides, unless the callback unregistered itself meanwhile.
    if (Loop* after = findSerial(serial))
      after->due = dueAfter(frame, framesFor(next, "flight loop callback"));
  }
}

void SimFlightLoops::clear()
{
  m_loops.clear();
}
