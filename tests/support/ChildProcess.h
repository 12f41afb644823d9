// A program run as a child process with piped standard streams, for the tests that drive the
// stand-in host and the client: a thread of its own collects standard output and error, input
// goes in on request, and every wait is bounded. By default a child reaches no DNS-SD daemon
// (its system bus is a socket that does not exist), so that a bridge a test starts is never
// advertised on this machine's network. One test thread drives it; snapshots from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ChildExit
{
  int status = -1;  // exit status, or 128 + signal
  bool timedOut = false;
  std::string out;
  std::string err;
};

std::vector<std::string> linesOf(const std::string& text);
// Milliseconds left until `end`, at least 0.
int remainingMs(std::chrono::steady_clock::time_point end);

class ChildProcess
{
public:
  // Starts argv[0] with `argv`; entries of `extraEnvironment` come first, so they win.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& extraEnvironment = {});
  // Kills a child that was not finished.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() const { return m_process != -1 && !m_finished; }
  int pid() const;
  // True when every byte went to the child's standard input within `limitMs`.
  bool send(const std::string& text, int limitMs = 10000);

  // What the child wrote so far. Standard error is read after each piece of standard output,
  // so whatever the child wrote there before that output is in err() once the output shows.
  std::string out() const;
  std::string err() const;
  // True once `done(out())` holds, within the limit.
  bool waitForOut(const std::function<bool(const std::string&)>& done, int limitMs) const;

  // Closes standard input and waits for the exit, killing the child after `limitMs`. Fails the
  // current test on a sanitizer report or a time-out.
  ChildExit finish(int limitMs = 30000);

private:
  void _readOutputs(int outFd, int errFd);

  std::string m_name;
  intptr_t m_process = -1;  // platform::startProcess
  int m_inFd = -1;
  bool m_finished = false;
  std::thread m_reader;
  mutable std::mutex m_lock;  // guards m_out, m_err, m_outputsClosed
  mutable std::condition_variable m_changed;
  std::string m_out;
  std::string m_err;
  bool m_outputsClosed = false;
};
