#include "tools/SimChild.h"

#include <cstdlib>

const char* const kSimProgram = CORVANE_SIM;
const char* const kProbePlugin = SIM_PROBE_PLUGIN;

std::vector<std::string> SimRun::outLinesStartingWith(const std::string& prefix) const
{
  std::vector<std::string> found;
  for (const std::string& line : outLines())
    if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
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
  ChildProcess child(argv, extraEnvironment);
  if (input) child.send(*input, timeoutSeconds * 1000);
  SimRun run;
  static_cast<ChildExit&>(run) = child.finish(timeoutSeconds * 1000);
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
