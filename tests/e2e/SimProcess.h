// corvane-sim with the Corvane plug-in as a running child process, for tests that talk to the
// bridge while the host runs: commands go to its standard input one line at a time, a
// background thread collects its standard output and error, and every wait is bounded. The
// child reaches no DNS-SD daemon (its system bus is a socket that does not exist) and always
// runs with --strict-threads and --keep-loaded. One test thread drives it; the snapshots may
// be taken on any thread.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SimExit
{
  int status = -1;  // exit status, or 128 + signal
  bool timedOut = false;
  std::string out;
  std::string err;
};

class SimProcess
{
public:
  // Starts corvane-sim --strict-threads --keep-loaded OPTIONS PLUGIN. Check running() before use.
  explicit SimProcess(const std::vector<std::string>& options = {});
  // Kills a child that was not finished.
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool running() const { return m_pid > 0 && !m_finished; }

  // Sends `command` and waits until the host has carried it out: a "violations" command
  // after it must have answered. The threading violations counted so far, or -1 when the
  // host did not answer in time.
  long run(const std::string& command, int limitMs = 10000);
  // "menu Start Corvane bridge", then true once this child listens on the bridge's port.
  bool startBridge();
  bool stopBridge() { return run("menu Stop Corvane bridge") == 0; }
  // True once this child owns a listening TCP socket on `port` (read from /proc).
  bool isListening(uint16_t port) const;

  // What the child wrote so far. Whatever it wrote to standard error before a piece of
  // standard output is there by the time that output shows, so once run() returns, the
  // command's lines are in both.
  std::string out() const;
  std::string err() const;
  // Whole lines of standard output equal to `line`.
  size_t countOutLines(const std::string& line) const;
  // The values printed by "get" for `dataRef`, in order, as written with %.17g.
  std::vector<double> values(const std::string& dataRef) const;
  // True once standard output holds `times` such lines, within the limit.
  bool waitForOutLines(const std::string& line, size_t times, int limitMs = 10000) const;

  // Entries of /proc/<pid>/fd and /proc/<pid>/task; -1 when unreadable.
  int openDescriptors() const;
  int threads() const;
  // The child's resident memory now and at its peak (VmRSS and VmHWM of /proc/<pid>/status)
  // in KiB; -1 when unreadable.
  long residentKiB() const { return _statusKiB("VmRSS:"); }
  long peakResidentKiB() const { return _statusKiB("VmHWM:"); }

  // "quit", then waits for the exit (killing the child after `limitMs`). Fails the current
  // test on a sanitizer report or a time-out.
  SimExit finish(int limitMs = 30000);

private:
  void _readOutputs(int outFd, int errFd);
  bool _waitFor(const std::function<bool()>& done, int limitMs) const;
  void _send(const std::string& line);
  long _statusKiB(const std::string& field) const;

  pid_t m_pid = -1;
  int m_inFd = -1;
  bool m_finished = false;
  std::thread m_reader;
  mutable std::mutex m_lock;  // guards m_out, m_err, m_outputsClosed
  mutable std::condition_variable m_changed;
  std::string m_out;
  std::string m_err;
  bool m_outputsClosed = false;
  size_t m_barriers = 0;  // "violations" answers awaited so far; test thread only
};
