#include "support/ChildProcess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sstream>

extern char** environ;

namespace {

int remainingMs(std::chrono::steady_clock::time_point end)
{
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

}  // namespace

std::vector<std::string> linesOf(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnvironment)
    : m_name(argv.empty() ? "" : argv[0])
{
  // A child that quits before reading all its input must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  // Everything the child needs is built before fork: only async-signal-safe calls follow it.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  static const char* const defaults[] = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus",
                                         "AVAHI_COMPAT_NOWARN=1"};
  std::vector<char*> environment;
  for (const std::string& entry : extraEnvironment) environment.push_back(const_cast<char*>(entry.c_str()));
  for (const char* entry : defaults) environment.push_back(const_cast<char*>(entry));
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  environment.push_back(nullptr);

  int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if (argv.empty() || pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
      if (fd >= 0) close(fd);
    return;
  }
  m_pid = fork();
  if (m_pid == 0) {
    dup2(inPipe[0], STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    execve(args[0], args.data(), environment.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  m_inFd = inPipe[1];
  fcntl(m_inFd, F_SETFL, O_NONBLOCK);
  if (m_pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return;
  }
  m_reader = std::thread(&ChildProcess::_readOutputs, this, outPipe[0], errPipe[0]);
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
  fcntl(outFd, F_SETFL, O_NONBLOCK);
  fcntl(errFd, F_SETFL, O_NONBLOCK);
  // Reads what `fd` holds now; false once it has ended.
  auto drain = [](int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0)
        into.append(buffer, size_t(got));
      else if (!(got < 0 && errno == EINTR))
        return got < 0 && errno == EAGAIN;
    }
  };
  while (outFd >= 0 || errFd >= 0) {
    pollfd watched[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    std::string outText, errText;
    const bool outOpen = outFd < 0 || watched[0].revents == 0 || drain(outFd, outText);
    const bool errOpen = errFd < 0 || drain(errFd, errText);
    if (!outOpen) close(outFd), outFd = -1;
    if (!errOpen) close(errFd), errFd = -1;
    std::lock_guard<std::mutex> guard(m_lock);
    m_err += errText;
    m_out += outText;
    m_changed.notify_all();
  }
  for (int fd : {outFd, errFd})
    if (fd >= 0) close(fd);
  std::lock_guard<std::mutex> guard(m_lock);
  m_outputsClosed = true;
  m_changed.notify_all();
}

bool ChildProcess::send(const std::string& text, int limitMs)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  size_t written = 0;
  while (m_inFd >= 0 && written < text.size()) {
    const ssize_t sent = write(m_inFd, text.data() + written, text.size() - written);
    if (sent > 0) {
      written += size_t(sent);
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd writable = {m_inFd, POLLOUT, 0};
    if (poll(&writable, 1, remainingMs(end)) <= 0) return false;
  }
  return written == text.size();
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
  if (m_pid <= 0 || m_finished) return result;
  if (m_inFd >= 0) close(m_inFd);
  m_inFd = -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait_for(guard, std::chrono::milliseconds(limitMs), [&] { return m_outputsClosed; });
  }
  int raw = 0;
  // The outputs close as the child exits; its status follows at once.
  while (waitpid(m_pid, &raw, WNOHANG) != m_pid) {
    if (remainingMs(end) == 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &raw, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
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
