#include "SimCommands.h"

#include "SimOutput.h"

namespace {

// Like menu ids: small tagged integers, cheap to validate and far from the menu ids' range.
constexpr uintptr_t kCommandRefBase = 0xc3d000;

const char* const kPhaseNames[] = {"begin", "continue", "end"};

const char* listName(bool before)
{
  return before ? "before" : "after";
}

}  // namespace

XPLMCommandRef SimCommands::refOf(int index)
{
  return reinterpret_cast<XPLMCommandRef>(kCommandRefBase + static_cast<uintptr_t>(index));
}

int SimCommands::indexOf(XPLMCommandRef ref, const char* function) const
{
  const uintptr_t value = reinterpret_cast<uintptr_t>(ref);
  if (value < kCommandRefBase || value - kCommandRefBase >= m_commands.size()) {
    SimOutput::report("%s: invalid command ref %p, refused", function, ref);
    return -1;
  }
  return static_cast<int>(value - kCommandRefBase);
}

int SimCommands::indexOf(const std::string& name) const
{
  for (size_t i = 0; i < m_commands.size(); ++i) {
    if (m_commands[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

XPLMCommandRef SimCommands::create(const char* name, const char* description)
{
  if (name == nullptr) {
    SimOutput::report("XPLMCreateCommand: null name, refused");
    return nullptr;
  }
  // An existing command keeps the description it was created with.
  const int existing = indexOf(std::string(name));
  if (existing >= 0) return refOf(existing);
  if (m_commands.size() >= kMaxCommands) {
    SimOutput::report("XPLMCreateCommand: too many commands (%zu), refused", kMaxCommands);
    return nullptr;
  }
  m_commands.push_back(Command{name, description == nullptr ? "" : description, {}, 0});
  return refOf(static_cast<int>(m_commands.size()) - 1);
}

XPLMCommandRef SimCommands::find(const char* name) const
{
  if (name == nullptr) {
    SimOutput::report("XPLMFindCommand: null name, refused");
    return nullptr;
  }
  const int index = indexOf(std::string(name));
  return index < 0 ? nullptr : refOf(index);
}

void SimCommands::registerHandler(XPLMCommandRef command, XPLMCommandCallback_f handler, bool before,
                                  void* refcon)
{
  const int index = indexOf(command, "XPLMRegisterCommandHandler");
  if (index < 0) return;
  Command& target = m_commands[index];
  if (handler == nullptr) {
    SimOutput::report("XPLMRegisterCommandHandler: null handler for '%s', refused",
                      SimOutput::printable(target.name).c_str());
    return;
  }
  if (target.handlers.size() >= kMaxHandlersPerCommand) {
    SimOutput::report("XPLMRegisterCommandHandler: command '%s' has %zu handlers already, refused",
                      SimOutput::printable(target.name).c_str(), kMaxHandlersPerCommand);
    return;
  }
  target.handlers.push_back(Handler{m_nextSerial++, handler, before, refcon});
}

void SimCommands::unregisterHandler(XPLMCommandRef command, XPLMCommandCallback_f handler, bool before,
                                    void* refcon)
{
  const int index = indexOf(command, "XPLMUnregisterCommandHandler");
  if (index < 0) return;
  std::vector<Handler>& handlers = m_commands[index].handlers;
  for (auto it = handlers.begin(); it != handlers.end(); ++it) {
    if (it->callback == handler && it->before == before && it->refcon == refcon) {
      handlers.erase(it);
      return;
    }
  }
  SimOutput::report("XPLMUnregisterCommandHandler: handler %p with refcon %p is not registered %s '%s'",
                    reinterpret_cast<void*>(handler), refcon, listName(before),
                    SimOutput::printable(m_commands[index].name).c_str());
}

void SimCommands::run(int index, XPLMCommandPhase phase)
{
  const std::string kind =
      "command " + SimOutput::printable(m_commands[index].name) + " (" + kPhaseNames[phase] + ")";
  // Snapshot, then dispatch: handlers may change the list (and a new command may move the table),
  // so each one is looked up again by serial and skipped if it was unregistered meanwhile.
  std::vector<uint64_t> order;
  for (bool before : {true, false}) {
    for (const Handler& handler : m_commands[index].handlers) {
      if (handler.before == before) order.push_back(handler.serial);
    }
  }
  for (uint64_t serial : order) {
    XPLMCommandCallback_f callback = nullptr;
    void* refcon = nullptr;
    for (const Handler& handler : m_commands[index].handlers) {
      if (handler.serial == serial) {
        callback = handler.callback;
        refcon = handler.refcon;
      }
    }
    if (callback == nullptr) continue;
    int passOn;
    {
      SimCallTimes::Scope timing(m_times, kind, phase == xplm_CommandContinue);
      passOn = callback(refOf(index), phase, refcon);
    }
    if (passOn == 0) return;
  }
}

void SimCommands::hold(int index)
{
  ++m_commands[index].holds;
}

bool SimCommands::release(int index)
{
  if (m_commands[index].holds == 0) return false;
  --m_commands[index].holds;
  return true;
}

void SimCommands::runHeld()
{
  // Commands created by the handlers called here are not held: the count is taken first.
  const size_t count = m_commands.size();
  for (size_t i = 0; i < count; ++i) {
    if (m_commands[i].holds > 0) run(static_cast<int>(i), xplm_CommandContinue);
  }
}

std::vector<std::string> SimCommands::list() const
{
  std::vector<std::string> lines;
  for (const Command& command : m_commands) {
    size_t before = 0;
    for (const Handler& handler : command.handlers) before += handler.before;
    lines.push_back(SimOutput::printable(command.name) + ": " + SimOutput::printable(command.description) +
                    " (handlers: " + std::to_string(before) + " before, " +
                    std::to_string(command.handlers.size() - before) + " after)");
  }
  if (lines.empty()) lines.push_back("no commands");
  return lines;
}

size_t SimCommands::dropHandlers(std::string& commandNames)
{
  size_t left = 0;
  commandNames.clear();
  for (Command& command : m_commands) {
    if (!command.handlers.empty())
      commandNames += (commandNames.empty() ? "" : ", ") + SimOutput::printable(command.name);
    left += command.handlers.size();
    command.handlers.clear();
    command.holds = 0;
  }
  return left;
}
