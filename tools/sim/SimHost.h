// The stand-in host: owns the plug-in, its menus, commands and flight loops, the log, the call
// times, the flight model and the data references, and runs frames and commands on the main
// thread, calling the plug-in only there and only between frames. The XPLM functions reach it
// through current(). Construct, run and destroy on the main thread; other threads may only use
// current(), checkThread() and dataRefs().
#pragma once

#include "SimCallTimes.h"
#include "SimCommands.h"
#include "SimDataRefs.h"
#include "SimFlightLoops.h"
#include "SimFlightModel.h"
#include "SimLog.h"
#include "SimMenus.h"
#include "SimOptions.h"
#include "SimPlugin.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class SimHost
{
public:
  explicit SimHost(const SimOptions& options);
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;
  ~SimHost();

  // The whole session: load, start and enable, commands, then the quit sequence; the exit status.
  int run();

  static SimHost* current();  // the host whose plug-in is loaded, null outside run()
  static void interrupt();    // async-signal-safe: run() quits at the next frame or line

  // True on the main thread; otherwise counts and reports a threading violation by `function`.
  bool checkThread(const char* function);

  SimMenus& menus() { return m_menus; }
  SimCommands& commands() { return m_commands; }
  SimLog& log() { return m_log; }
  SimFlightLoops& flightLoops() { return m_flightLoops; }
  SimDataRefs& dataRefs() { return m_dataRefs; }

private:
  bool execute(const std::string& line);  // false once the command says to quit
  void readCommands();                    // standard input, with frames at the frame rate between lines
  int finish();

  void runFrame();
  void runFrames(uint64_t count);
  void runFor(double seconds);

  bool reachable(const char* what) const;  // says why not when the plug-in may not be called
  void doEnable();
  void doDisable();
  void doStop();
  void chooseMenu(const std::string& name);
  void chooseMenuRef(const std::string& arguments);
  void runCommand(const std::string& verb, const std::string& name);
  void sendMessage(const std::string& arguments);
  void getDataRef(const std::string& name);
  void setDataRef(const std::string& arguments);
  void unsetDataRef(const std::string& name);
  void help();

  const SimOptions m_options;
  const std::thread::id m_mainThread;
  SimCallTimes m_times;  // before everything that times its calls into the plug-in
  SimLog m_log;
  SimFlightModel m_model;
  SimDataRefs m_dataRefs;
  SimMenus m_menus;
  SimCommands m_commands;
  SimFlightLoops m_flightLoops;
  SimPlugin m_plugin;
  uint64_t m_flightFrame = 0;  // frames the flight model has advanced; frozen while paused
  bool m_paused = false;
  std::atomic<uint64_t> m_violations{0};
};
