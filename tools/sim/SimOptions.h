// The command line of corvane-sim, the help text that documents it and its commands, and the
// strict number parsing shared by options and commands (whole string, in range, or refused).
// Plain values: parsed once on the main thread before anything else starts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimOptions
{
  enum Parse
  {
    eRun,
    eHelp,
    eError
  };

  int fps = 60;
  double airportLatitude = 47.4647;  // Zurich
  double airportLongitude = 8.5492;
  double airportElevation = 432.0;
  std::vector<std::string> commands;
  bool readStdin = true;
  bool strictThreads = false;
  bool keepLoaded = false;  // skip dlclose at exit, for leak reports that can name plug-in code
  bool printTimes = false;  // a line for each call into the plug-in as it returns
  std::string logFile;      // the host's Log.txt; empty: XPLMDebugString text is discarded
  std::string pluginFile;

  static constexpr int kMaxFps = 1000;

  // On eError, `error` holds one line saying what is wrong.
  static Parse parse(int argc, char** argv, SimOptions& options, std::string& error);
  static std::string helpText();

  // Decimal, or hexadecimal with 0x; optional sign; false unless the whole text is used and fits.
  static bool parseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value);
  static bool parseNumber(const std::string& text, double& value);  // any strtod form, whole text
};
