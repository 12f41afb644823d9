#include "SimOptions.h"

#include "SimDataRefs.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool parseAirport(const std::string& text, SimOptions& options)
{
  const size_t first = text.find(',');
  const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
  if (second == std::string::npos) return false;
  double latitude, longitude, elevation;
  if (!SimOptions::parseNumber(text.substr(0, first), latitude) ||
      !SimOptions::parseNumber(text.substr(first + 1, second - first - 1), longitude) ||
      !SimOptions::parseNumber(text.substr(second + 1), elevation))
    return false;
  // The circle is drawn on a sphere with a flat-earth step in longitude: keep clear of the poles.
  if (!(std::fabs(latitude) <= 85.0) || !(longitude >= -180.0 && longitude <= 180.0) ||
      !(elevation >= -500.0 && elevation <= 9000.0))
    return false;
  options.airportLatitude = latitude;
  options.airportLongitude = longitude;
  options.airportElevation = elevation;
  return true;
}

}  // namespace

bool SimOptions::parseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value)
{
  size_t position = 0;
  bool negative = false;
  if (position < text.size() && (text[position] == '-' || text[position] == '+'))
    negative = text[position++] == '-';
  unsigned base = 10;
  if (text.compare(position, 2, "0x") == 0 || text.compare(position, 2, "0X") == 0) {
    base = 16;
    position += 2;
  }
  if (position >= text.size()) return false;
  // Accumulated by hand: strtoll would also take spaces, a second sign or a second "0x".
  const uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : static_cast<uint64_t>(INT64_MAX);
  uint64_t magnitude = 0;
  for (; position < text.size(); ++position) {
    const char c = text[position];
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (magnitude > (limit - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return value >= min && value <= max;
}

bool SimOptions::parseNumber(const std::string& text, double& value)
{
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

SimOptions::Parse SimOptions::parse(int argc, char** argv, SimOptions& options, std::string& error)
{
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    std::string value;
    bool hasValue = false;
    if (!optionsEnded && argument.compare(0, 2, "--") == 0 && argument.find('=') != std::string::npos) {
      value = argument.substr(argument.find('=') + 1);
      argument = argument.substr(0, argument.find('='));
      hasValue = true;
    }
    auto takeValue = [&](std::string& out) {
      if (hasValue) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) {
        error = "option " + argument + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      if (!options.pluginFile.empty()) {
        error = "more than one plug-in file: '" + options.pluginFile + "' and '" + argument + "'";
        return eError;
      }
      options.pluginFile = argument;
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help" || argument == "-h") {
      return eHelp;
    } else if (argument == "--fps") {
      std::string text;
      int64_t fps;
      if (!takeValue(text)) return eError;
      if (!parseInteger(text, 1, kMaxFps, fps)) {
        error = "--fps expects a whole number from 1 to " + std::to_string(kMaxFps) + ", not '" + text + "'";
        return eError;
      }
      options.fps = static_cast<int>(fps);
    } else if (argument == "--airport") {
      std::string text;
      if (!takeValue(text)) return eError;
      if (!parseAirport(text, options)) {
        error =
            "--airport expects LAT,LON,ELEV with |LAT| <= 85, -180 <= LON <= 180 and "
            "-500 <= ELEV <= 9000, not '" +
            text + "'";
        return eError;
      }
    } else if (argument == "-c" || argument == "--command") {
      std::string text;
      if (!takeValue(text)) return eError;
      options.commands.push_back(text);
    } else if (argument == "--log") {
      if (!takeValue(options.logFile)) return eError;
      if (options.logFile.empty()) {
        error = "--log expects a file name";
        return eError;
      }
    } else if (argument == "--print-times" && !hasValue) {
      options.printTimes = true;
    } else if (argument == "--no-stdin" && !hasValue) {
      options.readStdin = false;
    } else if (argument == "--keep-loaded" && !hasValue) {
      options.keepLoaded = true;
    } else if (argument == "--strict-threads" && !hasValue) {
      options.strictThreads = true;
    } else {
      error = "unknown option '" + std::string(argv[i]) + "'";
      return eError;
    }
  }
  if (options.pluginFile.empty()) {
    error = "no plug-in file given";
    return eError;
  }
  return eRun;
}

std::string SimOptions::helpText()
{
  std::string text =
      "Usage: corvane-sim [options] PLUGIN_FILE\n"
      "\n"
      "A stand-in X-Plane host. Loads PLUGIN_FILE (an .xpl plug-in) with dlopen, calls XPluginStart and\n"
      "XPluginEnable, then runs frames and commands on its main thread: each frame advances a\n"
      "deterministic flight (a climbing right turn around the airport) by 1/fps seconds unless paused,\n"
      "then calls the flight-loop callbacks that are due. At the end it calls XPluginDisable (if\n"
      "enabled) and XPluginStop (if not stopped), and unloads the plug-in.\n"
      "\n"
      "Options:\n"
      "  --fps N                 frames per second, 1 to 1000 (default 60). Simulated time and\n"
      "                          flight-loop time advance 1/N s per frame, whatever the wall clock does\n"
      "  --airport LAT,LON,ELEV  centre of the circle flown: degrees, degrees, metres MSL\n"
      "                          (default 47.4647,8.5492,432; |LAT| <= 85)\n"
      "  -c CMD, --command CMD   run CMD before reading standard input; repeatable, run in order\n"
      "  --no-stdin              do not read standard input: quit after the -c commands\n"
      "  --strict-threads        any threading violation makes the exit status 3\n"
      "  --keep-loaded           do not dlclose the plug-in at exit, so that leak reports (e.g. from\n"
      "                          LeakSanitizer) can still name its functions\n"
      "  --log FILE              write the host's Log.txt to FILE, created or emptied at start (format\n"
      "                          below); without it, what the plug-in logs is discarded\n"
      "  --print-times           print 'sim: took N us: KIND' as each call into the plug-in returns,\n"
      "                          except flight loops and held commands' continue phases (times below)\n"
      "  -h, --help              print this text and exit\n"
      "\n"
      "Commands, one per line, from -c and then standard input (end of input quits). Nothing runs\n"
      "between the -c commands; from standard input, frames run at the frame rate between lines.\n"
      "  help                    print this text\n"
      "  menus                   print the menu tree (format below)\n"
      "  menu NAME               choose the first item named exactly NAME (rest of the line),\n"
      "                          depth-first in creation order: calls its menu's handler with\n"
      "                          (menu reference, item reference)\n"
      "  menu-ref REF [MENU]     call the handler of the menu named MENU (default: the menu created\n"
      "                          last) with item reference REF, whether or not an item carries it,\n"
      "                          even a disabled one\n"
      "  commands                list the commands plug-ins created (format below)\n"
      "  command NAME            run command NAME once: its begin phase, then its end phase\n"
      "  command-begin NAME      run its begin phase and hold it: the continue phase follows once a\n"
      "                          frame until command-end (holds count: each begin wants an end)\n"
      "  command-end NAME        release a held command and run its end phase\n"
      "  enable                  call XPluginEnable (only when disabled)\n"
      "  disable                 call XPluginDisable (only when enabled)\n"
      "  stop                    call XPluginStop, after XPluginDisable when enabled\n"
      "  message FROM MSG [PARAM]  call XPluginReceiveMessage(FROM, MSG, (void*)PARAM), PARAM 0 default\n"
      "  datarefs                list the data references served\n"
      "  get DATAREF             print 'sim: DATAREF = VALUE' (VALUE as the plug-in reads it, %.17g)\n"
      "  set DATAREF VALUE       hold DATAREF at VALUE (rounded to float for float ones) until unset\n"
      "  unset DATAREF           give DATAREF back to the flight model\n"
      "  pause, resume           freeze / unfreeze the flight model (flight loops keep running)\n"
      "  frames N                run N frames at once (0 to 1000000), without waiting between them\n"
      "  sleep SECONDS           run frames at the frame rate for SECONDS of wall time (up to 86400)\n"
      "  violations              print 'sim: threading violations: N'\n"
      "  times                   print how long the calls into the plug-in took (format below)\n"
      "  quit                    end: disable, stop and unload the plug-in, print the summary\n"
      "Integers are decimal or 0x hexadecimal.\n"
      "\n"
      "Menu tree printed by 'menus', one line per menu or item, two spaces deeper per level:\n"
      "  Plugins                 a root: the plug-ins menu first, then menus created without parent\n"
      "    NAME [ref R]          an item; R is its item reference as a signed integer\n"
      "    NAME                  an item that opens a submenu; the submenu's items follow\n"
      "    NAME (menu 'SUB')     the same, when the submenu's own name SUB differs from NAME\n"
      "  An item line then ends with ' [checked]' or ' [unchecked]' when the item has a check mark\n"
      "  (XPLMCheckMenuItem), and with ' (disabled)' when it is disabled (XPLMEnableMenuItem): 'menu'\n"
      "  refuses a disabled item with 'sim: menu item 'NAME' is disabled', as X-Plane ignores its clicks.\n"
      "\n"
      "Commands printed by 'commands', in creation order ('sim: no commands' when there are none):\n"
      "  NAME: DESCRIPTION (handlers: B before, A after)\n"
      "A phase calls the before handlers, then the after handlers, each in registration order, until\n"
      "one returns 0. An unknown name gives 'sim: no command 'NAME''.\n"
      "\n"
      "Call times printed by 'times', one line per kind of call in the order of first calls, in whole\n"
      "microseconds of wall time on a monotonic clock (the median exact below 1024 us, within 0.2 %\n"
      "above; of an even count, the lower of the middle two):\n"
      "  sim: time: KIND: N calls, median M us, max X us\n"
      "KIND is XPluginStart, XPluginEnable, XPluginDisable, XPluginStop, XPluginReceiveMessage,\n"
      "menu 'ITEM' (chosen with 'menu'), menu-ref REF 'MENU', command NAME (begin), (continue) or\n"
      "(end) (one call per handler), or flight loop (one call per callback).\n"
      "\n"
      "Log file (--log), the bytes as written: 'Log.txt for corvane-sim, a stand-in X-Plane host',\n"
      "what the plug-in logs during XPluginStart, 'Loaded: PLUGIN_FILE (SIGNATURE).', then the rest.\n"
      "Each line ends with a newline; XPLMDebugString text is written exactly as given, on disk when\n"
      "the call returns.\n"
      "\n"
      "Data references (XPLMGetDatad and XPLMGetDataf both work on each; floats widen exactly):\n";
  for (const SimDataRefs::Entry& entry : SimDataRefs::kTable) {
    text += std::string("  ") + entry.name + " (" + (entry.isDouble ? "double" : "float") + ", " +
            entry.unit + ")\n";
  }
  text +=
      "\n"
      "Host rules, as in X-Plane 12:\n"
      "  Menu choices, commands, messages and flight loops reach the plug-in only while it is enabled.\n"
      "  Every XPLM call from a thread other than the main thread is a threading violation, reported\n"
      "  on standard error as 'sim: threading violation: FUNCTION called from a non-main thread'.\n"
      "  Data reference reads are still served; every other call (menus, commands, the log, flight\n"
      "  loops) is refused.\n"
      "  Commands outlive the plug-in; at XPluginStop the handlers it left registered are dropped and\n"
      "  reported on standard error as 'sim: N command handlers left registered: COMMAND, ...'.\n"
      "  A null or unknown data reference handle reads as 0 and is reported.\n"
      "Output: command results and lifecycle lines on standard output, misuse reports on standard\n"
      "error, every line prefixed 'sim: ' and flushed. After XPluginStart the host prints\n"
      "  sim: loaded plugin 'NAME' signature 'SIG': DESC\n"
      "and at the end 'sim: threading violations: N' and 'sim: invalid dataref reads: N'.\n"
      "\n"
      "Exit status: 0 normal; 2 bad option, the log cannot be opened, or the plug-in cannot be loaded\n"
      "or started; 3 threading violations with --strict-threads.\n";
  return text;
}
