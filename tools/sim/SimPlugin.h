// One plug-in file, loaded the way X-Plane loads it (on Linux dlopen with RTLD_NOW | RTLD_LOCAL), with its
// five entry points and the lifecycle they imply: started, enabled or disabled, stopped. Owns the
// library handle and closes it at unload or destruction; times every entry-point call into the
// call times it is given. Main thread only.
#pragma once

#include "SimCallTimes.h"

#include <string>

class SimPlugin
{
public:
  explicit SimPlugin(SimCallTimes& times) : m_times(times) {}
  SimPlugin(const SimPlugin&) = delete;
  SimPlugin& operator=(const SimPlugin&) = delete;
  ~SimPlugin();

  // Opens the file and finds all five entry points; on failure `error` says what is wrong.
  bool load(const std::string& path, std::string& error);
  bool start();   // XPluginStart; fills name, signature and description
  bool enable();  // XPluginEnable; false when the plug-in refuses
  void disable();
  void stop();
  void receiveMessage(int from, int message, void* param);
  void unload();
  void abandon();  // forgets the library without closing it: it stays mapped until the process ends

  bool isEnabled() const { return m_enabled; }
  bool isStopped() const { return m_stopped; }
  const std::string& name() const { return m_name; }
  const std::string& signature() const { return m_signature; }
  const std::string& description() const { return m_description; }

private:
  using StartFunction = int (*)(char*, char*, char*);
  using EnableFunction = int (*)();
  using VoidFunction = void (*)();
  using MessageFunction = void (*)(int, int, void*);

  SimCallTimes& m_times;
  void* m_library = nullptr;
  StartFunction m_start = nullptr;
  EnableFunction m_enable = nullptr;
  VoidFunction m_disable = nullptr;
  VoidFunction m_stop = nullptr;
  MessageFunction m_receiveMessage = nullptr;
  bool m_enabled = false;
  bool m_stopped = false;
  std::string m_name;
  std::string m_signature;
  std::string m_description;
};
