#include "SimHost.h"

#include "SimCommandReader.h"
#include "SimOutput.h"

#include <unistd.h>
#include <chrono>
#include <cinttypes>
#include <sstream>

namespace {

std::atomic<SimHost*> s_current{nullptr};
// Lock-free, so that a signal handler may set it.
std::atomic<bool> s_interrupted{false};

constexpr int64_t kMaxFrames = 1000000;
constexpr double kMaxSleepSeconds = 86400.0;

std::string trim(const std::string& text)
{
  const char* spaces = " \t\r\n";
  const size_t first = text.find_first_not_of(spaces);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

// Splits "word rest of line" at the first run of blanks.
void splitFirst(const std::string& text, std::string& first, std::string& rest)
{
  const size_t blank = text.find_first_of(" \t");
  first = text.substr(0, blank);
  rest = blank == std::string::npos ? std::string() : trim(text.substr(blank));
}

// Splits "rest of line word" at the last run of blanks: data reference names contain spaces.
void splitLast(const std::string& text, std::string& rest, std::string& last)
{
  const size_t blank = text.find_last_of(" \t");
  if (blank == std::string::npos) {
    rest = text;
    last.clear();
    return;
  }
  rest = trim(text.substr(0, blank));
  last = text.substr(blank + 1);
}

}  // namespace

SimHost::SimHost(const SimOptions& options)
    : m_options(options),
      m_mainThread(std::this_thread::get_id()),
      m_times(options.printTimes),
      m_model(options.airportLatitude, options.airportLongitude, options.airportElevation, options.fps),
      m_dataRefs(m_model.stateAt(0)),
      m_commands(m_times),
      m_flightLoops(options.fps, m_times),
      m_plugin(m_times)
{
}

SimHost::~SimHost()
{
  SimHost* self = this;
  s_current.compare_exchange_strong(self, nullptr);
}

SimHost* SimHost::current()
{
  return s_current.load();
}

void SimHost::interrupt()
{
  s_interrupted.store(true);
}

bool SimHost::checkThread(const char* function)
{
  if (std::this_thread::get_id() == m_mainThread) return true;
  m_violations.fetch_add(1);
  SimOutput::report("threading violation: %s called from a non-main thread", function);
  return false;
}

int SimHost::run()
{
  s_current.store(this);
  std::string error;
  if (!m_options.logFile.empty() && !m_log.open(m_options.logFile, error)) {
    SimOutput::report("cannot open log '%s': %s", m_options.logFile.c_str(), error.c_str());
    s_current.store(nullptr);
    return 2;
  }
  if (!m_plugin.load(m_options.pluginFile, error)) {
    SimOutput::report("cannot load plugin '%s': %s", m_options.pluginFile.c_str(), error.c_str());
    s_current.store(nullptr);
    return 2;
  }
  if (!m_plugin.start()) {
    // X-Plane unloads a plug-in whose start fails; without it there is nothing left to host.
    SimOutput::report("plugin '%s' failed to start (XPluginStart returned 0)",
                      SimOutput::printable(m_plugin.name()).c_str());
    m_menus.removePluginMenus();
    m_flightLoops.clear();
    m_plugin.unload();
    s_current.store(nullptr);
    return 2;
  }
  SimOutput::say("loaded plugin '%s' signature '%s': %s", SimOutput::printable(m_plugin.name()).c_str(),
                 SimOutput::printable(m_plugin.signature()).c_str(),
                 SimOutput::printable(m_plugin.description()).c_str());
  // X-Plane logs each plug-in it loads, after XPluginStart has given the signature.
  m_log.write("Loaded: " + m_options.pluginFile + " (" + m_plugin.signature() + ").\n");
  doEnable();

  bool quit = false;
  for (const std::string& command : m_options.commands) {
    if (s_interrupted.load() || !execute(command)) {
      quit = true;
      break;
    }
  }
  if (!quit && m_options.readStdin) readCommands();
  return finish();
}

void SimHost::readCommands()
{
  SimCommandReader reader(STDIN_FILENO);
  if (!reader.start()) {
    SimOutput::report("cannot start the command reader; quitting");
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_options.fps));
  Clock::time_point next = Clock::now() + period;
  while (!s_interrupted.load()) {
    SimCommandReader::Line line;
    const SimCommandReader::Wait got = reader.waitLine(line, next);
    if (got == SimCommandReader::eEnd) break;
    if (got == SimCommandReader::eLine) {
      if (line.tooLong) {
        SimOutput::say("command longer than %zu bytes ignored", SimCommandReader::kMaxLine);
        continue;
      }
      if (!execute(line.text)) break;
      continue;
    }
    runFrame();
    next += period;
    // A frame or command that overran does not earn a burst of catch-up frames.
    const Clock::time_point now = Clock::now();
    if (next < now) next = now + period;
  }
  reader.stop();
}

int SimHost::finish()
{
  if (s_interrupted.load()) SimOutput::say("interrupted");
  if (!m_plugin.isStopped()) doStop();
  if (m_options.keepLoaded) {
    m_plugin.abandon();
    SimOutput::say("plugin left loaded (--keep-loaded)");
  } else {
    m_plugin.unload();
  }
  s_current.store(nullptr);
  const uint64_t violations = m_violations.load();
  SimOutput::say("threading violations: %" PRIu64, violations);
  SimOutput::say("invalid dataref reads: %" PRIu64, m_dataRefs.invalidReads());
  if (m_options.strictThreads && violations > 0) {
    SimOutput::say("strict threads: failing with exit status 3");
    return 3;
  }
  return 0;
}

void SimHost::runFrame()
{
  if (!m_paused) {
    ++m_flightFrame;
    m_dataRefs.publish(m_model.stateAt(m_flightFrame));
  }
  // X-Plane keeps running flight loops while paused, but never those of a disabled plug-in.
  if (m_plugin.isEnabled()) m_commands.runHeld();
  m_flightLoops.runFrame(m_plugin.isEnabled());
}

void SimHost::runFrames(uint64_t count)
{
  for (uint64_t i = 0; i < count && !s_interrupted.load(); ++i) runFrame();
}

void SimHost::runFor(double seconds)
{
  using Clock = std::chrono::steady_clock;
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_options.fps));
  const Clock::time_point start = Clock::now();
  const Clock::time_point end =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  // Pacing, not waiting for an event: frames are due at fixed times, so "sleep 1" runs fps frames.
  for (Clock::time_point next = start + period; next <= end && !s_interrupted.load(); next += period) {
    std::this_thread::sleep_until(next);
    runFrame();
  }
}

bool SimHost::reachable(const char* what) const
{
  if (m_plugin.isStopped()) {
    SimOutput::say("plugin is stopped; %s refused", what);
    return false;
  }
  if (!m_plugin.isEnabled()) {
    SimOutput::say("plugin is disabled; %s refused", what);
    return false;
  }
  return true;
}

void SimHost::doEnable()
{
  if (m_plugin.enable())
    SimOutput::say("plugin enabled");
  else
    SimOutput::say("plugin refused to enable");
}

void SimHost::doDisable()
{
  m_plugin.disable();
  SimOutput::say("plugin disabled");
}

void SimHost::doStop()
{
  if (m_plugin.isEnabled()) doDisable();
  m_plugin.stop();
  // A stopped plug-in is gone for the host: its menus and callbacks must not be reached again.
  m_menus.removePluginMenus();
  m_flightLoops.clear();
  // Commands outlive the plug-in, as in X-Plane; its handlers must not, and one still registered
  // now would be called into unloaded code there.
  std::string commandNames;
  const size_t handlersLeft = m_commands.dropHandlers(commandNames);
  if (handlersLeft > 0)
    SimOutput::report("%zu command handlers left registered: %s", handlersLeft, commandNames.c_str());
  SimOutput::say("plugin stopped");
}

bool SimHost::execute(const std::string& rawLine)
{
  const std::string line = trim(rawLine);
  std::string command, arguments;
  splitFirst(line, command, arguments);
  if (command.empty() || command[0] == '#') return true;

  if (command == "quit") {
    return false;
  } else if (command == "help") {
    help();
  } else if (command == "menus") {
    for (const std::string& treeLine : m_menus.tree()) SimOutput::say("%s", treeLine.c_str());
  } else if (command == "menu") {
    chooseMenu(arguments);
  } else if (command == "menu-ref") {
    chooseMenuRef(arguments);
  } else if (command == "commands") {
    for (const std::string& listLine : m_commands.list()) SimOutput::say("%s", listLine.c_str());
  } else if (command == "command" || command == "command-begin" || command == "command-end") {
    runCommand(command, arguments);
  } else if (command == "times") {
    for (const std::string& timeLine : m_times.lines()) SimOutput::say("time: %s", timeLine.c_str());
  } else if (command == "enable") {
    if (m_plugin.isStopped())
      SimOutput::say("plugin is stopped; enable refused");
    else if (m_plugin.isEnabled())
      SimOutput::say("plugin is already enabled");
    else
      doEnable();
  } else if (command == "disable") {
    if (m_plugin.isStopped())
      SimOutput::say("plugin is stopped; disable refused");
    else if (!m_plugin.isEnabled())
      SimOutput::say("plugin is already disabled");
    else
      doDisable();
  } else if (command == "stop") {
    if (m_plugin.isStopped())
      SimOutput::say("plugin is already stopped");
    else
      doStop();
  } else if (command == "message") {
    sendMessage(arguments);
  } else if (command == "datarefs") {
    for (const SimDataRefs::Entry& entry : SimDataRefs::kTable)
      SimOutput::say("%s (%s, %s)", entry.name, entry.isDouble ? "double" : "float", entry.unit);
  } else if (command == "get") {
    getDataRef(arguments);
  } else if (command == "set") {
    setDataRef(arguments);
  } else if (command == "unset") {
    unsetDataRef(arguments);
  } else if (command == "pause") {
    m_paused = true;
    SimOutput::say("flight model paused");
  } else if (command == "resume") {
    m_paused = false;
    SimOutput::say("flight model running");
  } else if (command == "frames") {
    int64_t count;
    if (!SimOptions::parseInteger(arguments, 0, kMaxFrames, count))
      SimOutput::say("frames: expected a count from 0 to %" PRId64 ", not '%s'", kMaxFrames,
                     SimOutput::printable(arguments).c_str());
    else
      runFrames(static_cast<uint64_t>(count));
  } else if (command == "sleep") {
    double seconds;
    if (!SimOptions::parseNumber(arguments, seconds) || !(seconds >= 0.0 && seconds <= kMaxSleepSeconds))
      SimOutput::say("sleep: expected seconds from 0 to %.0f, not '%s'", kMaxSleepSeconds,
                     SimOutput::printable(arguments).c_str());
    else
      runFor(seconds);
  } else if (command == "violations") {
    SimOutput::say("threading violations: %" PRIu64, m_violations.load());
  } else {
    SimOutput::say("unknown command '%s'", SimOutput::printable(command).c_str());
  }
  return true;
}

void SimHost::chooseMenu(const std::string& name)
{
  SimMenus::Target target;
  const SimMenus::Lookup found = m_menus.findItem(name, target);
  if (found == SimMenus::eNotFound) {
    SimOutput::say("no menu item '%s'", SimOutput::printable(name).c_str());
    return;
  }
  if (found == SimMenus::eOpensSubmenu) {
    SimOutput::say("menu item '%s' opens a submenu; nothing to choose", SimOutput::printable(name).c_str());
    return;
  }
  if (!target.enabled) {
    SimOutput::say("menu item '%s' is disabled", SimOutput::printable(name).c_str());
    return;
  }
  if (target.handler == nullptr) {
    SimOutput::say("menu '%s' has no handler", SimOutput::printable(target.menuName).c_str());
    return;
  }
  if (!reachable("menu choice")) return;
  SimCallTimes::Scope timing(m_times, "menu '" + SimOutput::printable(name) + "'");
  target.handler(target.menuRef, target.itemRef);
}

void SimHost::chooseMenuRef(const std::string& arguments)
{
  std::string refText, menuName;
  splitFirst(arguments, refText, menuName);
  int64_t ref;
  if (!SimOptions::parseInteger(refText, INT64_MIN, INT64_MAX, ref)) {
    SimOutput::say("menu-ref: expected an integer item reference, not '%s'",
                   SimOutput::printable(refText).c_str());
    return;
  }
  SimMenus::Target target;
  void* itemRef = reinterpret_cast<void*>(static_cast<intptr_t>(ref));
  if (m_menus.findMenu(menuName, itemRef, target) != SimMenus::eFound) {
    SimOutput::say("no menu '%s'", SimOutput::printable(menuName).c_str());
    return;
  }
  if (target.handler == nullptr) {
    SimOutput::say("menu '%s' has no handler", SimOutput::printable(target.menuName).c_str());
    return;
  }
  if (!reachable("menu choice")) return;
  SimCallTimes::Scope timing(
      m_times, "menu-ref " + std::to_string(ref) + " '" + SimOutput::printable(target.menuName) + "'");
  target.handler(target.menuRef, target.itemRef);
}

void SimHost::runCommand(const std::string& verb, const std::string& name)
{
  const int index = m_commands.indexOf(name);
  if (index < 0) {
    SimOutput::say("no command '%s'", SimOutput::printable(name).c_str());
    return;
  }
  if (!reachable("command")) return;
  if (verb == "command-end") {
    if (m_commands.release(index))
      m_commands.run(index, xplm_CommandEnd);
    else
      SimOutput::say("command '%s' is not held", SimOutput::printable(name).c_str());
    return;
  }
  m_commands.run(index, xplm_CommandBegin);
  // Held: the continue phase comes once a frame until "command-end" (X-Plane's XPLMCommandBegin).
  if (verb == "command-begin")
    m_commands.hold(index);
  else
    m_commands.run(index, xplm_CommandEnd);
}

void SimHost::sendMessage(const std::string& arguments)
{
  std::istringstream words(arguments);
  std::string fromText, messageText, paramText, extra;
  words >> fromText >> messageText >> paramText >> extra;
  int64_t from, message, param = 0;
  if (!SimOptions::parseInteger(fromText, INT32_MIN, INT32_MAX, from) ||
      !SimOptions::parseInteger(messageText, INT32_MIN, INT32_MAX, message) ||
      (!paramText.empty() && !SimOptions::parseInteger(paramText, INT64_MIN, INT64_MAX, param)) ||
      !extra.empty()) {
    SimOutput::say("message: expected FROM MSG [PARAM] as integers, not '%s'",
                   SimOutput::printable(arguments).c_str());
    return;
  }
  if (reachable("message"))
    m_plugin.receiveMessage(static_cast<int>(from), static_cast<int>(message),
                            reinterpret_cast<void*>(static_cast<intptr_t>(param)));
}

void SimHost::getDataRef(const std::string& name)
{
  const int index = SimDataRefs::indexOf(name);
  if (index < 0) {
    SimOutput::say("unknown dataref '%s'", SimOutput::printable(name).c_str());
    return;
  }
  SimOutput::say("%s = %.17g", SimDataRefs::kTable[index].name, m_dataRefs.value(index));
}

void SimHost::setDataRef(const std::string& arguments)
{
  std::string name, valueText;
  splitLast(arguments, name, valueText);
  const int index = SimDataRefs::indexOf(name);
  double value;
  if (index < 0) {
    SimOutput::say("unknown dataref '%s'", SimOutput::printable(name).c_str());
  } else if (!SimOptions::parseNumber(valueText, value)) {
    SimOutput::say("set: expected a number, not '%s'", SimOutput::printable(valueText).c_str());
  } else {
    m_dataRefs.setOverride(index, value);
    SimOutput::say("holding %s at %.17g", SimDataRefs::kTable[index].name, m_dataRefs.value(index));
  }
}

void SimHost::unsetDataRef(const std::string& name)
{
  const int index = SimDataRefs::indexOf(name);
  if (index < 0) {
    SimOutput::say("unknown dataref '%s'", SimOutput::printable(name).c_str());
    return;
  }
  m_dataRefs.clearOverride(index);
  SimOutput::say("released %s", SimDataRefs::kTable[index].name);
}

void SimHost::help()
{
  std::istringstream lines(SimOptions::helpText());
  std::string line;
  while (std::getline(lines, line)) SimOutput::say("%s", line.c_str());
}
