#include "platform/Process.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace platform {

intptr_t startProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      int ends[3])
{
  std::vector<char*> args, entries;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  for (const std::string& entry : environment) entries.push_back(const_cast<char*>(entry.c_str()));
  for (char** entry = environ; *entry != nullptr; ++entry) entries.push_back(*entry);
  args.push_back(nullptr);
  entries.push_back(nullptr);
  int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};  // the child's end of input is [0]
  for (auto& pair : pipes) {
    if (pipe2(pair, O_CLOEXEC) != 0) {
      for (auto& opened : pipes)
        for (int fd : opened)
          if (fd >= 0) close(fd);
      return -1;
    }
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; fd++) posix_spawn_file_actions_adddup2(&actions, pipes[fd][fd == 0 ? 0 : 1], fd);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), entries.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  for (int fd = 0; fd < 3; fd++) {
    close(pipes[fd][fd == 0 ? 0 : 1]);
    ends[fd] = pipes[fd][fd == 0 ? 1 : 0];
  }
  if (pid < 0) {
    for (int fd = 0; fd < 3; fd++) close(ends[fd]);
    return -1;
  }
  return pid;
}

int processId(intptr_t process)
{
  return int(process);
}

int waitForExit(intptr_t process)
{
  int raw = 0;
  if (waitpid(pid_t(process), &raw, 0) != pid_t(process)) return -1;
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

void killProcess(intptr_t process)
{
  kill(pid_t(process), SIGKILL);
}

namespace {

void (*s_interruptHandler)() = nullptr;

void onSignal(int)
{
  if (s_interruptHandler) s_interruptHandler();
}

}  // namespace

bool setEnvironmentVariable(const char* name, const char* value)
{
  return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

void onInterrupt(void (*handler)())
{
  s_interruptHandler = handler;
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

NetworkIsolation isolateNetwork()
{
  if (unshare(CLONE_NEWNET) != 0) return eNotIsolated;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq loopback = {};
  strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &loopback) == 0;
  loopback.ifr_flags |= IFF_UP;
  up = up && ioctl(fd, SIOCSIFFLAGS, &loopback) == 0;
  if (fd >= 0) close(fd);
  return up ? eIsolated : eIsolationFailed;
}

void ignoreBrokenPipes()
{
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
