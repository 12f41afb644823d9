#include "SimFlightModel.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kEarthRadius = 6371000.0;  // m, mean radius: a sphere is plenty for a 3 km circle
constexpr double kGravity = 9.80665;        // m/s²

double degrees(double radians)
{
  return radians * 180.0 / kPi;
}
double radians(double degrees)
{
  return degrees * kPi / 180.0;
}

// Wraps into [0, 360) such that the float the plug-in reads is below 360 too: 359.99999999 would
// otherwise round up to 360.0f.
double wrapHeading(double heading)
{
  double wrapped = std::fmod(heading, 360.0);
  if (wrapped < 0.0) wrapped += 360.0;
  const float asFloat = static_cast<float>(wrapped);
  return asFloat >= 360.0f ? 0.0 : static_cast<double>(asFloat);
}

double wrapLongitude(double longitude)
{
  double wrapped = std::fmod(longitude + 180.0, 360.0);
  if (wrapped < 0.0) wrapped += 360.0;
  wrapped -= 180.0;
  return wrapped >= 180.0 ? -180.0 : wrapped;
}

double asFloat(double value)
{
  return static_cast<double>(static_cast<float>(value));
}

}  // namespace

SimFlightModel::SimFlightModel(double airportLatitude, double airportLongitude, double airportElevation,
                               int fps)
    : m_latitude(airportLatitude), m_longitude(airportLongitude), m_elevation(airportElevation), m_fps(fps)
{
}

SimFlightState SimFlightModel::stateAt(uint64_t frame) const
{
  const double seconds = static_cast<double>(frame) / m_fps;
  const double turnRate = kGroundSpeed / kTurnRadius;  // rad/s
  // Bearing from the airport to the aircraft, clockwise from north; reduced before the trigonometry
  // so that long runs keep full precision.
  const double bearing = std::fmod(turnRate * seconds, 2.0 * kPi);
  const double north = kTurnRadius * std::cos(bearing);
  const double east = kTurnRadius * std::sin(bearing);
  const double centripetal = kGroundSpeed * kGroundSpeed / kTurnRadius;

  const double climbSeconds = kClimbHeight / kClimbRate;
  const bool climbing = seconds < climbSeconds;
  const double pathAngle = climbing ? degrees(std::atan(kClimbRate / kGroundSpeed)) : 0.0;
  const double heading = wrapHeading(degrees(bearing) + 90.0);  // clockwise: tangent is 90° right

  SimFlightState state;
  state.latitude = m_latitude + degrees(north / kEarthRadius);
  state.longitude =
      wrapLongitude(m_longitude + degrees(east / (kEarthRadius * std::cos(radians(m_latitude)))));
  state.elevation = m_elevation + (climbing ? kClimbRate * seconds : kClimbHeight);
  state.groundspeed = asFloat(kGroundSpeed);
  state.hpath = heading;  // no wind: track and heading agree
  state.theta = asFloat(pathAngle + kAngleOfAttack);
  state.phi = asFloat(degrees(std::atan(centripetal / kGravity)));  // coordinated turn
  state.psi = heading;
  state.slip = 0.0;  // coordinated turn
  // The acceleration points from the aircraft to the airport; OpenGL z points south.
  state.localAz = asFloat(centripetal * std::cos(bearing));
  return state;
}
