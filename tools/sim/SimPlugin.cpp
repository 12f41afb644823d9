#include "SimPlugin.h"

#include <cstdlib>
#include <cstring>

#include "platform/DynamicLibrary.h"

namespace {

template <typename Function>
bool findEntryPoint(void* library, const char* name, Function& function, std::string& error)
{
  void* symbol = platform::librarySymbol(library, name);
  if (symbol == nullptr) {
    error = std::string("missing entry point ") + name;
    return false;
  }
  function = reinterpret_cast<Function>(symbol);
  return true;
}

}  // namespace

SimPlugin::~SimPlugin()
{
  unload();
}

bool SimPlugin::load(const std::string& path, std::string& error)
{
  // Under a leak checker, a plug-in that is unmapped at exit takes the names of its frames
  // and the roots held by its (and its libraries') process-lifetime objects with it, so
  // every such object reads as a leak that cannot even be named. CORVANE_SIM_NODELETE keeps
  // the library mapped after it is closed; everything else, the output included, is unchanged.
  m_library = platform::openLibrary(path.c_str(), &error);
  if (m_library == nullptr) return false;
  if (getenv("CORVANE_SIM_NODELETE") != nullptr) platform::pinLoadedLibrary(path.c_str());
  if (!findEntryPoint(m_library, "XPluginStart", m_start, error) ||
      !findEntryPoint(m_library, "XPluginEnable", m_enable, error) ||
      !findEntryPoint(m_library, "XPluginDisable", m_disable, error) ||
      !findEntryPoint(m_library, "XPluginStop", m_stop, error) ||
      !findEntryPoint(m_library, "XPluginReceiveMessage", m_receiveMessage, error)) {
    unload();
    return false;
  }
  return true;
}

bool SimPlugin::start()
{
  // X-Plane hands out three 256-byte buffers; the last byte is forced to 0 afterwards so that a
  // plug-in filling a buffer to the brim still gives a terminated string.
  char name[256];
  char signature[256];
  char description[256];
  std::memset(name, 0, sizeof name);
  std::memset(signature, 0, sizeof signature);
  std::memset(description, 0, sizeof description);
  int started;
  {
    SimCallTimes::Scope timing(m_times, "XPluginStart");
    started = m_start(name, signature, description);
  }
  name[255] = signature[255] = description[255] = '\0';
  m_name = name;
  m_signature = signature;
  m_description = description;
  return started != 0;
}

bool SimPlugin::enable()
{
  SimCallTimes::Scope timing(m_times, "XPluginEnable");
  m_enabled = m_enable() != 0;
  return m_enabled;
}

void SimPlugin::disable()
{
  SimCallTimes::Scope timing(m_times, "XPluginDisable");
  m_disable();
  m_enabled = false;
}

void SimPlugin::stop()
{
  SimCallTimes::Scope timing(m_times, "XPluginStop");
  m_stop();
  m_stopped = true;
}

void SimPlugin::receiveMessage(int from, int message, void* param)
{
  SimCallTimes::Scope timing(m_times, "XPluginReceiveMessage");
  m_receiveMessage(from, message, param);
}

void SimPlugin::unload()
{
  platform::closeLibrary(m_library);
  abandon();
}

void SimPlugin::abandon()
{
  m_library = nullptr;
  m_start = nullptr;
  m_enable = nullptr;
  m_disable = nullptr;
  m_stop = nullptr;
  m_receiveMessage = nullptr;
}
