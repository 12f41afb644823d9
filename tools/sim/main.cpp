// corvane-sim: a stand-in X-Plane host for development, demos and end-to-end tests.
// Usage and commands: corvane-sim --help.
#include "SimHost.h"
#include "SimOptions.h"
#include "SimOutput.h"

#include <csignal>

namespace {

void onSignal(int)
{
  SimHost::interrupt();
}

}  // namespace

int main(int argc, char** argv)
{
  SimOptions options;
  std::string error;
  switch (SimOptions::parse(argc, argv, options, error)) {
    case SimOptions::eHelp:
      SimOutput::plain(false, SimOptions::helpText());
      return 0;
    case SimOptions::eError:
      SimOutput::plain(true,
                       "corvane-sim: " + error + "\nUsage: corvane-sim [options] PLUGIN_FILE (see --help)\n");
      return 2;
    case SimOptions::eRun:
      break;
  }

  // A reader that has gone away must not kill the host before it has stopped the plug-in, and
  // Ctrl-C should end a demo with the same quit sequence as "quit".
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  SimHost host(options);
  return host.run();
}
