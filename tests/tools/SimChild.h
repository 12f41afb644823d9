// Runs a program as a child process with piped standard streams for the corvane-sim tests: feeds
// standard input, collects standard output and error, and waits a bounded time, after which the
// child is killed and the run marked as timed out. Plus the test's ways to call corvane-sim with
// the probe plug-in, and to read its output. Blocks the calling thread for the child's lifetime.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct SimRun
{
  int status = -1;  // exit status, or 128 + signal
  bool timedOut = false;
  std::string out;
  std::string err;

  std::vector<std::string> outLines() const;
  std::vector<std::string> errLines() const;
  // Standard output without the five load lines and the six lines of a quit with the plug-in
  // still enabled: what the commands printed.
  std::vector<std::string> commandLines() const;
  // Lines of standard output starting with `prefix`, in order.
  std::vector<std::string> outLinesStartingWith(const std::string& prefix) const;
  // The values of every "sim: NAME = VALUE" line for that data reference, in order.
  std::vector<double> values(const std::string& dataRef) const;
};

SimRun runChild(const std::vector<std::string>& argv, const std::optional<std::string>& input,
                const std::vector<std::string>& extraEnvironment = {}, int timeoutSeconds = 30);

// corvane-sim with `arguments`, then the probe plug-in. Without `input` it runs with --no-stdin.
SimRun runProbe(const std::vector<std::string>& arguments,
                const std::optional<std::string>& input = std::nullopt,
                const std::vector<std::string>& extraEnvironment = {});
// -c for each command, in order.
std::vector<std::string> commands(const std::vector<std::string>& list);
// A path of this test process's own in the temporary directory, for a file a child writes (--log).
std::string temporaryPath(const std::string& name);
// The file's bytes ("" when unreadable); the file is removed.
std::string takeFile(const std::string& path);

extern const char* const kSimProgram;
extern const char* const kProbePlugin;
extern const char* const kIncompletePlugin;
