#include "support/ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <sstream>

extern char** environ;

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
  // A child that quits before reading all its input must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<char*> args, environment;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& entry : extraEnvironment) environment.push_back(const_cast<char*>(entry.c_str()));
  environment.push_back(const_cast<char*>("DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus"));
  environment.push_back(const_cast<char*>("AVAHI_COMPAT_NOWARN=1"));
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  args.push_back(nullptr);
  environment.push_back(nullptr);
  int pipes[3][2];  // standard input, output and error; the child's end of input is [0]
  for (auto& ends : pipes)
    if (pipe2(ends, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; fd++) posix_spawn_file_actions_adddup2(&actions, pipes[fd][fd == 0 ? 0 : 1], fd);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment.data()) == 0) m_pid = pid;
  posix_spawn_file_actions_destroy(&actions);
  for (int fd = 0; fd < 3; fd++) close(pipes[fd][fd == 0 ? 0 : 1]);
  m_inFd = pipes[0][1];
  fcntl(m_inFd, F_SETFL, O_NONBLOCK);
  m_reader = std::thread(&ChildProcess::_readOutputs, this, pipes[1][0], pipes[2][0]);
}

ChildProcess::~ChildProcess()
{
  if (running()) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_inFd >= 0) close(m_inFd);
  if (m_reader.joinable()) m_reader.join();
}

void ChildProcess::_readOutputs(int outFd, int errFd)
{
  char buffer[65536];
  for (bool open[2] = {true, true}; open[0] || open[1];) {
    pollfd watched[2] = {{open[0] ? outFd : -1, POLLIN, 0}, {open[1] ? errFd : -1, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) continue;
    // Standard error after standard output: what the child wrote there first is in err() once the
    // output shows.
    std::lock_guard<std::mutex> guard(m_lock);
    for (int i : {0, 1}) {
      const ssize_t got = watched[i].revents ? read(watched[i].fd, buffer, sizeof buffer) : -1;
      if (got > 0)
        (i ? m_err : m_out).append(buffer, size_t(got));
      else if (watched[i].revents && !(got < 0 && errno == EINTR))
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
    pollfd writable = {m_inFd, POLLOUT, 0};
    if (m_inFd < 0 || poll(&writable, 1, remainingMs(end)) != 1) return false;
    const ssize_t sent = write(m_inFd, text.data() + written, text.size() - written);
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return false;
    written += sent > 0 ? size_t(sent) : 0;
  }
  return true;
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
  if (result.timedOut) kill(m_pid, SIGKILL);
  int raw = 0;
  waitpid(m_pid, &raw, 0);
  m_finished = true;
  m_reader.join();
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
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
