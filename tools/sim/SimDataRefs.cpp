#include "SimDataRefs.h"

#include "SimOutput.h"

#include <cfloat>
#include <limits>

namespace {

// The plug-in's view of a float entry. Out-of-range doubles (a "set" of 1e300) saturate to infinity
// the way IEEE rounding does, instead of relying on a conversion the language leaves undefined.
float toFloat(double value)
{
  if (value > FLT_MAX) return std::numeric_limits<float>::infinity();
  if (value < -FLT_MAX) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace

const SimDataRefs::Entry SimDataRefs::kTable[kCount] = {
    {"sim/flightmodel/position/latitude", true, "degrees", &SimFlightState::latitude},
    {"sim/flightmodel/position/longitude", true, "degrees", &SimFlightState::longitude},
    {"sim/flightmodel/position/elevation", true, "metres MSL", &SimFlightState::elevation},
    {"sim/flightmodel/position/groundspeed", false, "m/s", &SimFlightState::groundspeed},
    {"sim/flightmodel/position/hpath", false, "degrees true track", &SimFlightState::hpath},
    {"sim/flightmodel/position/theta", false, "degrees pitch", &SimFlightState::theta},
    {"sim/flightmodel/position/phi", false, "degrees roll", &SimFlightState::phi},
    {"sim/flightmodel/position/psi", false, "degrees true heading", &SimFlightState::psi},
    {"sim/flightmodel/misc/slip", false, "degrees", &SimFlightState::slip},
    {"sim/flightmodel/position/local_az", false, "m/s^2 along OpenGL z", &SimFlightState::localAz},
};

SimDataRefs::SimDataRefs(const SimFlightState& initial)
{
  publish(initial);
}

XPLMDataRef SimDataRefs::find(const char* name)
{
  if (name == nullptr) return nullptr;
  const int index = indexOf(std::string(name));
  // The table is const; the handle is opaque to the plug-in and never written through.
  return index < 0 ? nullptr : const_cast<Entry*>(&kTable[index]);
}

int SimDataRefs::indexOf(const std::string& name)
{
  for (int i = 0; i < kCount; ++i) {
    if (name == kTable[i].name) return i;
  }
  return -1;
}

int SimDataRefs::indexOf(XPLMDataRef handle)
{
  // Equality only: ordering unrelated pointers has no portable meaning, and a foreign handle must
  // never be dereferenced.
  for (int i = 0; i < kCount; ++i) {
    if (handle == static_cast<const void*>(&kTable[i])) return i;
  }
  return -1;
}

double SimDataRefs::readDouble(XPLMDataRef handle, const char* function)
{
  const int index = indexOf(handle);
  if (index < 0) {
    m_invalidReads.fetch_add(1);
    SimOutput::report("%s: invalid data reference %p, returning 0", function, handle);
    return 0.0;
  }
  SimMutexLocker guard(m_lock);
  return valueLocked(index);
}

float SimDataRefs::readFloat(XPLMDataRef handle, const char* function)
{
  return toFloat(readDouble(handle, function));
}

void SimDataRefs::publish(const SimFlightState& state)
{
  SimMutexLocker guard(m_lock);
  for (int i = 0; i < kCount; ++i) {
    const double value = state.*kTable[i].field;
    m_values[i] = kTable[i].isDouble ? value : static_cast<double>(toFloat(value));
  }
}

void SimDataRefs::setOverride(int index, double value)
{
  SimMutexLocker guard(m_lock);
  m_overridden[index] = true;
  m_overrides[index] = kTable[index].isDouble ? value : static_cast<double>(toFloat(value));
}

void SimDataRefs::clearOverride(int index)
{
  SimMutexLocker guard(m_lock);
  m_overridden[index] = false;
}

double SimDataRefs::value(int index) const
{
  SimMutexLocker guard(m_lock);
  return valueLocked(index);
}

double SimDataRefs::valueLocked(int index) const
{
  return m_overridden[index] ? m_overrides[index] : m_values[index];
}
