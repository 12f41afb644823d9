// corvane-dump: prints the objects of an object stream as text for whoever writes or debugs
// a client of the bridge. See DumpOptions::helpText for the command line and the exit
// statuses. Everything runs on the main thread.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "DumpInput.h"
#include "DumpOptions.h"
#include "StreamDumper.h"
#include "object/BaseAutorelease.h"

namespace {

int fail(int status, const std::string& message)
{
  std::cout.flush();
  fprintf(stderr, "corvane-dump: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv)
{
  DumpOptions options;
  std::string error;
  switch (DumpOptions::parse(argc, argv, options, error)) {
    case DumpOptions::eHelp:
      fputs(DumpOptions::helpText().c_str(), stdout);
      return DumpOptions::eExitDone;
    case DumpOptions::eError:
      return fail(DumpOptions::eExitUsage, error + " (see --help)");
    case DumpOptions::eRun:
      break;
  }

  std::vector<unsigned char> bytes;
  if (options.dataGiven) {
    if (options.data.size() > DumpInput::MAX_INPUT)
      return fail(DumpOptions::eExitUnreadable, "--data is too long");
    if (!DumpInput::decodeHex(options.data, bytes, error)) return fail(DumpOptions::eExitMalformed, error);
  } else {
    if (!DumpInput::readAll(options.path, bytes, error)) return fail(DumpOptions::eExitUnreadable, error);
    if (options.hex) {
      const std::string text(bytes.begin(), bytes.end());
      if (!DumpInput::decodeHex(text, bytes, error)) return fail(DumpOptions::eExitMalformed, error);
    }
  }

  BaseAutorelease pool;
  StreamDumper dumper(options.textForm);
  const bool complete = dumper.dump(bytes.data(), bytes.size(), std::cout);
  if (!complete) return fail(DumpOptions::eExitMalformed, "malformed stream " + dumper.problem());
  std::cout.flush();
  return DumpOptions::eExitDone;
}
