// corvane-sim run to its end as a child process (support/ChildProcess.h), for the host's tests
// and the plug-in tests: the run's output by lines, and the ways to call it with the probe plug-in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

struct SimRun : ChildExit
{
  std::vector<std::string> outLines() const { return linesOf(out); }
  std::vector<std::string> errLines() const { return linesOf(err); }
  // Lines of standard output starting with `prefix`, in order.
  std::vector<std::string> outLinesStartingWith(const std::string& prefix) const;
  // The values of every "sim: NAME = VALUE" line for that data reference, in order.
  std::vector<double> values(const std::string& dataRef) const;
};

// Runs `argv` with `input` on its standard input (closed at once without), to its end.
SimRun runChild(const std::vector<std::string>& argv, const std::optional<std::string>& input,
                const std::vector<std::string>& extraEnvironment = {}, int timeoutSeconds = 30);

// corvane-sim with `arguments`, then the probe plug-in. Without `input` it runs with --no-stdin.
SimRun runProbe(const std::vector<std::string>& arguments,
                const std::optional<std::string>& input = std::nullopt,
                const std::vector<std::string>& extraEnvironment = {});
// -c for each command, in order.
std::vector<std::string> commands(const std::vector<std::string>& list);

extern const char* const kSimProgram;
extern const char* const kProbePlugin;
