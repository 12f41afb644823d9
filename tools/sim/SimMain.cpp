#include "SimMain.h"

#include "SimHost.h"
#include "SimOptions.h"
#include "SimOutput.h"
#include "platform/Descriptor.h"
#include "platform/Process.h"

extern "C" int corvaneSimMain(int argc, char** argv)
{
  // Commands and output are lines ending in "\n" on every system.
  for (int fd : {0, 1, 2}) platform::setBinaryMode(fd);
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
  platform::ignoreBrokenPipes();
  platform::onInterrupt(SimHost::interrupt);

  SimHost host(options);
  return host.run();
}
