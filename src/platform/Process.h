// Child processes with piped standard streams, and the requests that end a process (Ctrl-C,
// termination, a reader that went away). Processes are named by an opaque value: the pid on
// POSIX, the process handle on Windows. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Starts argv[0] (a path) with `argv`. The child's environment is `environment` (NAME=VALUE)
// followed by this process's own: the first entry of a name wins. Its standard input, output
// and error are pipes whose other ends come back in `ends` (input's write end, output's and
// error's read ends), none of them inherited by later children. -1 when it cannot start.
intptr_t startProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                      int ends[3]);

// The system's number for the process, for messages and the system's own tools.
int processId(intptr_t process);

// Waits for the process to end and lets go of it: the exit status, 128 + the signal when a
// signal ended it, -1 when it cannot tell. Call it once the process has ended or been killed.
int waitForExit(intptr_t process);

// Ends the process at once (SIGKILL; TerminateProcess with status 137 on Windows).
void killProcess(intptr_t process);

// setenv(), or unsetenv() when `value` is null: for this process and the children it starts
// later. Not to be called while other threads may read the environment.
bool setEnvironmentVariable(const char* name, const char* value);

// Ctrl-C and termination requests call `handler`, which must only set a flag: on POSIX it
// runs in a signal handler, on Windows on a thread of the system's.
void onInterrupt(void (*handler)());

enum NetworkIsolation
{
  eIsolated,          // in a network of its own, with only loopback up
  eNotIsolated,       // the system does not allow it (no privilege, or not Linux): unchanged
  eIsolationFailed    // in a network of its own whose loopback would not come up; errno says why
};

// Moves this process into a network of its own with only its loopback interface up, where the
// system allows it: the threads and children it starts later stay there. Call it before any
// thread starts (Linux network namespaces belong to a thread).
NetworkIsolation isolateNetwork();

// A write to a pipe whose reader has gone fails instead of ending the process (SIGPIPE on
// POSIX; Windows behaves so already).
void ignoreBrokenPipes();

}  // namespace platform
