// The commands plug-ins create and the handlers they register on them. A command lives as long as
// the host (as in X-Plane, it outlives the plug-in that made it); its handlers run before or after
// the host's own handling, each list in registration order, until one consumes the phase. Command
// refs are tagged indexes checked on every call, like menu ids. Handlers may register and
// unregister handlers, themselves included, while being called; each call is timed as
// "command NAME (PHASE)". Main thread only.
#pragma once

#include "SimCallTimes.h"
#include "plugin/xplm/XPLM.h"

#include <cstdint>
#include <string>
#include <vector>

class SimCommands
{
public:
  explicit SimCommands(SimCallTimes& times) : m_times(times) {}

  // Null, reported, on a null name or when the table is full.
  XPLMCommandRef create(const char* name, const char* description);
  XPLMCommandRef find(const char* name) const;  // null when unknown
  void registerHandler(XPLMCommandRef command, XPLMCommandCallback_f handler, bool before, void* refcon);
  void unregisterHandler(XPLMCommandRef command, XPLMCommandCallback_f handler, bool before, void* refcon);

  int indexOf(const std::string& name) const;  // -1 when unknown
  // One phase of command `index`: its before handlers, then its after handlers, until one returns 0.
  void run(int index, XPLMCommandPhase phase);
  // Held commands get the continue phase once a frame, from runHeld(), until released as often.
  void hold(int index);
  bool release(int index);  // false when not held
  void runHeld();

  std::vector<std::string> list() const;  // the lines of the "commands" command
  // At XPluginStop: forgets every handler and hold; how many handlers were left, on which commands.
  size_t dropHandlers(std::string& commandNames);

  static constexpr size_t kMaxCommands = 10000;
  static constexpr size_t kMaxHandlersPerCommand = 1000;

private:
  struct Handler
  {
    uint64_t serial;  // identifies the registration across calls that may change the list
    XPLMCommandCallback_f callback;
    bool before;
    void* refcon;
  };
  struct Command
  {
    std::string name;
    std::string description;
    std::vector<Handler> handlers;  // registration order; befores and afters mixed
    unsigned holds = 0;
  };

  int indexOf(XPLMCommandRef ref, const char* function) const;  // reports and gives -1 when not ours
  static XPLMCommandRef refOf(int index);

  SimCallTimes& m_times;
  uint64_t m_nextSerial = 1;
  std::vector<Command> m_commands;  // in creation order
};
