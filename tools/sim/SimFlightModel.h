// The simulated flight: a steady climbing right turn on a circle around a fixed airport, then level
// flight once the climb is done. The state is a pure function of the frame number, so two runs with
// the same options publish the same values frame for frame. Immutable after construction: any thread.
#pragma once

#include <cstdint>

// One frame's values, in X-Plane's units; the float-typed ones are already rounded to float.
struct SimFlightState
{
  double latitude;     // degrees
  double longitude;    // degrees, [-180, 180)
  double elevation;    // metres above mean sea level
  double groundspeed;  // m/s
  double hpath;        // degrees true track, [0, 360)
  double theta;        // pitch, degrees
  double phi;          // roll, degrees, positive right wing down
  double psi;          // true heading, degrees, [0, 360)
  double slip;         // degrees
  double localAz;      // m/s², along OpenGL z (south)
};

class SimFlightModel
{
public:
  SimFlightModel(double airportLatitude, double airportLongitude, double airportElevation, int fps);

  SimFlightState stateAt(uint64_t frame) const;

  static constexpr double kTurnRadius = 3000.0;   // m
  static constexpr double kGroundSpeed = 60.0;    // m/s
  static constexpr double kClimbRate = 2.5;       // m/s
  static constexpr double kClimbHeight = 3000.0;  // m above the airport, then level
  static constexpr double kAngleOfAttack = 2.0;   // degrees, added to the flight path angle

private:
  double m_latitude;
  double m_longitude;
  double m_elevation;
  int m_fps;
};
