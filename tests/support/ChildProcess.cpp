#include "support/ChildProcess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "platform/Descriptor.h"
#include "platform/Process.h"

int remainingMs(std::chrono::steady_clock::time_point end)
{
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

std::vector<std::string> linesOf(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnvironment)
    : m_name(argv.front())
{
  // A child that quits before reading all its input must not kill the test.
  platform::ignoreBrokenPipes();
  std::vector<std::string> environment = extraEnvironment;
  environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus");
  environment.push_back("AVAHI_COMPAT_NOWARN=1");
  int ends[3];  // standard input's write end, output's and error's read ends
  m_process = platform::startProcess(argv, environment, ends);
  if (m_process == -1) return;
  m_inFd = ends[0];
  platform::setNonBlocking(m_inFd);
  m_reader = std::thread(&ChildProcess::_readOutputs, this, ends[1], ends[2]);
}

ChildProcess::~ChildProcess()
{
  if (running()) {
    platform::killProcess(m_process);
    platform::waitForExit(m_process);
  }
  if (m_inFd >= 0) close(m_inFd);
  if (m_reader.joinable()) m_reader.join();
}

void ChildProcess::_readOutputs(int outFd, int errFd)
{
  char buffer[65536];
  for (bool open[2] = {true, true}; open[0] || open[1];) {
    const int fds[2] = {outFd, errFd};
    const int ready = platform::waitForInput(open[0] ? fds : fds + 1, open[0] && open[1] ? 2 : 1, -1);
    if (ready <= 0) continue;
    const int bits = open[0] ? ready : ready << 1;
    // Standard error after standard output: what the child wrote there first is in err() once the
    // output shows.
    std::lock_guard<std::mutex> guard(m_lock);
    for (int i : {0, 1}) {
      if (!(bits & (1 << i))) continue;
      const auto got = read(fds[i], buffer, sizeof buffer);
      if (got > 0)
        (i ? m_err : m_out).append(buffer, size_t(got));
      else if (!(got < 0 && errno == EINTR))
        open[i] = false;
    }
    m_outputsClosed = !open[0] && !open[1];
    m_changed.notify_all();
  }
  close(outFd);
  close(errFd);
}

bool ChildProcess::send(const std::string& text, int limitMs)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (size_t written = 0; written < text.size();) {
    if (m_inFd < 0 || !platform::waitForRoom(m_inFd, remainingMs(end))) return false;
    const auto sent = write(m_inFd, text.data() + written, unsigned(text.size() - written));
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return false;
    written += sent > 0 ? size_t(sent) : 0;
  }
  return true;
}

int ChildProcess::pid() const
{
  return platform::processId(m_process);
}

std::string ChildProcess::out() const
{
  std::lock_guard<std::mutex> guard(m_lock);
  return m_out;
}

std::string ChildProcess::err() const
{
  std::lock_guard<std::mutex> guard(m_lock);
  return m_err;
}

bool ChildProcess::waitForOut(const std::function<bool(const std::string&)>& done, int limitMs) const
{
  std::unique_lock<std::mutex> guard(m_lock);
  return m_changed.wait_for(guard, std::chrono::milliseconds(limitMs), [&] { return done(m_out); });
}

ChildExit ChildProcess::finish(int limitMs)
{
  ChildExit result;
  if (!running()) return result;
  close(m_inFd);
  m_inFd = -1;
  // The outputs close as the child exits.
  result.timedOut = !waitForOut([&](const std::string&) { return m_outputsClosed; }, limitMs);
  if (result.timedOut) platform::killProcess(m_process);
  result.status = platform::waitForExit(m_process);
  m_finished = true;
  m_reader.join();
  result.out = out();
  result.err = err();
  // A sanitized child that found a fault may still exit 0 (leaks, recoverable reports): any
  // report fails the test that ran it.
  if (result.err.find("Sanitizer") != std::string::npos ||
      result.err.find("runtime error:") != std::string::npos)
    ADD_FAILURE() << "sanitizer report from " << m_name << ":\n" << result.err;
  EXPECT_FALSE(result.timedOut) << m_name << " was killed after " << limitMs << " ms";
  return result;
}
