#include "e2e/SimProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

extern char** environ;

namespace {

const char* const VIOLATIONS_LINE = "sim: threading violations: ";

std::vector<std::string> linesOf(const std::string& text)
{
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

int countEntries(const std::string& directory)
{
  DIR* dir = opendir(directory.c_str());
  if (!dir) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

int statusOf(int raw)
{
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& options)
{
  // Everything the child needs is built before fork: only async-signal-safe calls follow it.
  // The plug-in stays mapped until the host exits, so that a leak report can name its code;
  // what unloading it leaves behind is the plug-in lifecycle tests' concern.
  std::vector<const char*> argv = {CORVANE_SIM, "--strict-threads", "--keep-loaded"};
  for (const std::string& option : options) argv.push_back(option.c_str());
  argv.push_back(CORVANE_PLUGIN_FILE);
  argv.push_back(nullptr);
  // The first entry of a name wins. A bridge started here must never be advertised on this
  // machine's network: its system bus is a socket that does not exist.
  static const char* const defaults[] = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/corvane-no-bus",
                                         "AVAHI_COMPAT_NOWARN=1"};
  std::vector<char*> environment;
  for (const char* entry : defaults) environment.push_back(const_cast<char*>(entry));
  for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
  environment.push_back(nullptr);

  int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      if (fd >= 0) close(fd);
    }
    return;
  }
  m_pid = fork();
  if (m_pid == 0) {
    dup2(inPipe[0], STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    execve(argv[0], const_cast<char* const*>(argv.data()), environment.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  m_inFd = inPipe[1];
  if (m_pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return;
  }
  m_reader = std::thread(&SimProcess::_readOutputs, this, outPipe[0], errPipe[0]);
}

SimProcess::~SimProcess()
{
  if (running()) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  if (m_inFd >= 0) close(m_inFd);
  if (m_reader.joinable()) m_reader.join();
}

void SimProcess::_readOutputs(int outFd, int errFd)
{
  fcntl(outFd, F_SETFL, O_NONBLOCK);
  fcntl(errFd, F_SETFL, O_NONBLOCK);
  // Reads what `fd` holds now; false once it has ended.
  auto drain = [](int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0) {
        into.append(buffer, size_t(got));
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        return got < 0 && errno == EAGAIN;
      }
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
    // Standard error after standard output: whatever the child wrote there before the
    // output just read is in the pipe by now, and shows no later than that output.
    const bool errOpen = errFd < 0 || drain(errFd, errText);
    if (!outOpen) {
      close(outFd);
      outFd = -1;
    }
    if (!errOpen) {
      close(errFd);
      errFd = -1;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_err += errText;
    m_out += outText;
    m_changed.notify_all();
  }
  for (int fd : {outFd, errFd}) {
    if (fd >= 0) close(fd);
  }
  std::lock_guard<std::mutex> guard(m_lock);
  m_outputsClosed = true;
  m_changed.notify_all();
}

bool SimProcess::_waitFor(const std::function<bool()>& done, int limitMs) const
{
  std::unique_lock<std::mutex> guard(m_lock);
  return m_changed.wait_for(guard, std::chrono::milliseconds(limitMs), done);
}

void SimProcess::_send(const std::string& line)
{
  const std::string text = line + "\n";
  size_t written = 0;
  while (m_inFd >= 0 && written < text.size()) {
    const ssize_t sent = write(m_inFd, text.data() + written, text.size() - written);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    written += size_t(sent);
  }
}

long SimProcess::run(const std::string& command, int limitMs)
{
  if (!running()) return -1;
  _send(command);
  _send("violations");
  const size_t wanted = ++m_barriers;
  std::string answer;
  const bool answered = _waitFor(
      [&] {
        size_t seen = 0;
        for (const std::string& line : linesOf(m_out)) {
          if (line.compare(0, strlen(VIOLATIONS_LINE), VIOLATIONS_LINE) == 0 && ++seen == wanted) {
            answer = line.substr(strlen(VIOLATIONS_LINE));
            return true;
          }
        }
        return false;
      },
      limitMs);
  return answered ? std::strtol(answer.c_str(), nullptr, 10) : -1;
}

bool SimProcess::isListening(uint16_t port) const
{
  // Sockets of the child's network namespace listening on the port, by inode...
  std::ifstream table("/proc/" + std::to_string(m_pid) + "/net/tcp");
  std::set<std::string> inodes;
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    const size_t colon = local.find(':');
    if (state == "0A" && colon != std::string::npos &&
        std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port)
      inodes.insert("socket:[" + inode + "]");
  }
  // ...and one of them must be the child's own.
  const std::string fdDirectory = "/proc/" + std::to_string(m_pid) + "/fd";
  DIR* dir = opendir(fdDirectory.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    char target[256];
    const ssize_t length = readlink((fdDirectory + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (inodes.count(target)) found = true;
  }
  closedir(dir);
  return found;
}

bool SimProcess::startBridge()
{
  // The bridge binds and listens before the menu choice returns.
  return run("menu Start Corvane bridge") == 0 && isListening(21777);
}

std::string SimProcess::out() const
{
  std::lock_guard<std::mutex> guard(m_lock);
  return m_out;
}

std::string SimProcess::err() const
{
  std::lock_guard<std::mutex> guard(m_lock);
  return m_err;
}

size_t SimProcess::countOutLines(const std::string& wanted) const
{
  size_t count = 0;
  for (const std::string& line : linesOf(out())) count += line == wanted;
  return count;
}

std::vector<double> SimProcess::values(const std::string& dataRef) const
{
  const std::string prefix = "sim: " + dataRef + " = ";
  std::vector<double> found;
  for (const std::string& line : linesOf(out())) {
    if (line.compare(0, prefix.size(), prefix) == 0)
      found.push_back(std::strtod(line.c_str() + prefix.size(), nullptr));
  }
  return found;
}

bool SimProcess::waitForOutLines(const std::string& wanted, size_t times, int limitMs) const
{
  return _waitFor(
      [&] {
        size_t seen = 0;
        for (const std::string& line : linesOf(m_out)) seen += line == wanted;
        return seen >= times;
      },
      limitMs);
}

int SimProcess::openDescriptors() const
{
  return countEntries("/proc/" + std::to_string(m_pid) + "/fd");
}

int SimProcess::threads() const
{
  return countEntries("/proc/" + std::to_string(m_pid) + "/task");
}

long SimProcess::_statusKiB(const std::string& field) const
{
  std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, field.size(), field) == 0)
      return std::strtol(line.c_str() + field.size(), nullptr, 10);
  }
  return -1;
}

SimExit SimProcess::finish(int limitMs)
{
  SimExit result;
  if (m_pid <= 0 || m_finished) return result;
  _send("quit");
  close(m_inFd);
  m_inFd = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  _waitFor([&] { return m_outputsClosed; }, limitMs);
  int raw = 0;
  // The outputs close as the child exits; its status follows at once.
  while (waitpid(m_pid, &raw, WNOHANG) != m_pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &raw, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  m_finished = true;
  m_reader.join();
  result.status = statusOf(raw);
  result.out = out();
  result.err = err();
  if (result.err.find("Sanitizer") != std::string::npos ||
      result.err.find("runtime error:") != std::string::npos)
    ADD_FAILURE() << "sanitizer report from corvane-sim:\n" << result.err;
  EXPECT_FALSE(result.timedOut) << "corvane-sim was killed after " << limitMs << " ms";
  return result;
}
