#include "SimChild.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

const char* const kSimProgram = CORVANE_SIM;
const char* const kProbePlugin = SIM_PROBE_PLUGIN;
const char* const kIncompletePlugin = SIM_INCOMPLETE_PLUGIN;

namespace {

std::vector<std::string> splitLines(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

int statusOf(int raw)
{
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

std::vector<std::string> SimRun::outLines() const
{
  return splitLines(out);
}
std::vector<std::string> SimRun::errLines() const
{
  return splitLines(err);
}

std::vector<std::string> SimRun::commandLines() const
{
  const std::vector<std::string> lines = outLines();
  if (lines.size() < 11) return {};
  return std::vector<std::string>(lines.begin() + 5, lines.end() - 6);
}

std::vector<std::string> SimRun::outLinesStartingWith(const std::string& prefix) const
{
  std::vector<std::string> found;
  for (const std::string& line : outLines()) {
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
  }
  return found;
}

std::vector<double> SimRun::values(const std::string& dataRef) const
{
  std::vector<double> found;
  for (const std::string& line : outLinesStartingWith("sim: " + dataRef + " = "))
    found.push_back(std::strtod(line.c_str() + dataRef.size() + 8, nullptr));
  return found;
}

SimRun runChild(const std::vector<std::string>& argv, const std::optional<std::string>& input,
                const std::vector<std::string>& extraEnvironment, int timeoutSeconds)
{
  // A child that quits before reading all its input must not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  SimRun run;
  // Everything the child needs is built before fork: only async-signal-safe calls may follow it.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  // The first entry of a name wins: the caller's, then ours, then the inherited ones. By
  // default a child reaches no DNS-SD daemon (its system bus is a socket that does not
  // exist), so that a bridge started by a test is never advertised on this machine's
  // network; tests beside the sandboxed daemon pass the real bus address.
  static const char* const defaults[] = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus",
                                         "AVAHI_COMPAT_NOWARN=1"};
  std::vector<char*> environment;
  for (const std::string& entry : extraEnvironment) environment.push_back(const_cast<char*>(entry.c_str()));
  for (const char* entry : defaults) environment.push_back(const_cast<char*>(entry));
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  environment.push_back(nullptr);

  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    run.err = "pipe failed";
    return run;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    execve(args[0], args.data(), environment.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  int inFd = inPipe[1];
  fcntl(inFd, F_SETFL, O_NONBLOCK);
  const std::string toWrite = input.value_or(std::string());
  size_t written = 0;
  if (toWrite.empty()) {
    close(inFd);
    inFd = -1;
  }

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  int outFd = outPipe[0], errFd = errPipe[0];
  int rawStatus = 0;
  bool exited = false;
  while (!exited) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      run.timedOut = true;
      waitpid(pid, &rawStatus, 0);
      break;
    }
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    // With both outputs closed only the exit is left to wait for: poll in short steps for it.
    const bool streamsOpen = outFd >= 0 || errFd >= 0 || inFd >= 0;
    if (poll(fds, 3, streamsOpen ? static_cast<int>(left) : 5) < 0 && errno != EINTR) break;
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
      int& fd = i == 0 ? outFd : errFd;
      if (fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
    }
    if (inFd >= 0 && fds[2].revents != 0) {
      const ssize_t sent = write(inFd, toWrite.data() + written, toWrite.size() - written);
      if (sent > 0) written += static_cast<size_t>(sent);
      if ((sent < 0 && errno != EAGAIN && errno != EINTR) || written == toWrite.size()) {
        close(inFd);
        inFd = -1;
      }
    }
    if (outFd < 0 && errFd < 0) exited = waitpid(pid, &rawStatus, WNOHANG) == pid;
  }
  for (int fd : {inFd, outFd, errFd}) {
    if (fd >= 0) close(fd);
  }
  run.status = statusOf(rawStatus);
  // A sanitized child that found a fault may still exit 0 (leaks, recoverable reports): any report
  // fails the test that ran it.
  if (run.err.find("Sanitizer") != std::string::npos || run.err.find("runtime error:") != std::string::npos)
    ADD_FAILURE() << "sanitizer report from " << argv[0] << ":\n" << run.err;
  EXPECT_FALSE(run.timedOut) << argv[0] << " was killed after " << timeoutSeconds << " s";
  return run;
}

SimRun runProbe(const std::vector<std::string>& arguments, const std::optional<std::string>& input,
                const std::vector<std::string>& extraEnvironment)
{
  std::vector<std::string> argv{kSimProgram};
  if (!input) argv.push_back("--no-stdin");
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  argv.push_back(kProbePlugin);
  return runChild(argv, input, extraEnvironment);
}

std::vector<std::string> commands(const std::vector<std::string>& list)
{
  std::vector<std::string> arguments;
  for (const std::string& command : list) {
    arguments.push_back("-c");
    arguments.push_back(command);
  }
  return arguments;
}

std::string temporaryPath(const std::string& name)
{
  return ::testing::TempDir() + "corvane-sim-" + std::to_string(getpid()) + "-" + name;
}

std::string takeFile(const std::string& path)
{
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  std::remove(path.c_str());
  return bytes.str();
}
