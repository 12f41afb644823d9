#include "DumpOptions.h"

#include <cstring>

#include "DumpInput.h"
#include "object/BaseObject.h"

DumpOptions::DumpOptions() : textForm(BaseObject::eToStringJSON) {}

DumpOptions::eParse DumpOptions::parse(int argc, char** argv, DumpOptions& options, std::string& error)
{
  bool pathGiven = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; i++) {
    const std::string argument = argv[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      if (pathGiven) {
        error = "more than one input given: " + options.path + " and " + argument;
        return eError;
      }
      options.path = argument;
      pathGiven = true;
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      return eHelp;
    } else if (argument == "--json") {
      options.textForm = BaseObject::eToStringJSON;
    } else if (argument == "--lua") {
      options.textForm = BaseObject::eToStringLua;
    } else if (argument == "--xml") {
      options.textForm = BaseObject::eToStringXML;
    } else if (argument == "--plain") {
      options.textForm = BaseObject::eToStringPlain;
    } else if (argument == "--hex") {
      options.hex = true;
    } else if (argument == "--data" || argument.compare(0, 7, "--data=") == 0) {
      if (argument == "--data" && i + 1 == argc) {
        error = "--data needs the hexadecimal text of the stream";
        return eError;
      }
      options.data = argument == "--data" ? argv[++i] : argument.substr(7);
      options.dataGiven = true;
      options.hex = true;
    } else {
      error = "unknown option " + argument;
      return eError;
    }
  }
  if (pathGiven && options.dataGiven) {
    error = "--data and an input file exclude each other";
    return eError;
  }
  return eRun;
}

std::string DumpOptions::helpText()
{
  return "Usage: corvane-dump [--json | --lua | --xml | --plain] [--hex] [FILE | -]\n"
         "       corvane-dump [--json | --lua | --xml | --plain] --data HEX\n"
         "\n"
         "Prints each object of an object stream as text, each under a comment line giving\n"
         "its number, byte offset and length. Stops at the first malformed byte, naming its\n"
         "offset and what is wrong. File objects are shown as their attributes; their content\n"
         "is never extracted.\n"
         "\n"
         "Input: FILE, or standard input when FILE is \"-\" or missing; at most " +
         std::to_string(DumpInput::MAX_INPUT >> 20) +
         " MiB.\n"
         "  --hex       the input is hexadecimal text: two digits per byte; white space, ',',\n"
         "              ';', ':' and \"0x\" prefixes between bytes are ignored, and '#' starts\n"
         "              a comment that runs to the end of the line\n"
         "  --data HEX  the stream as hexadecimal text in the argument (implies --hex)\n"
         "\n"
         "Text form (the last one given counts):\n"
         "  --json      JSON (the default)\n"
         "  --lua       Lua table constructors\n"
         "  --xml       XML property-list style\n"
         "  --plain     plain descriptions\n"
         "  -h, --help  this text\n"
         "\n"
         "Exit status:\n"
         "  0  every object was read (an empty input holds none)\n"
         "  1  the stream or the hex text is malformed\n"
         "  2  bad command line\n"
         "  3  the input cannot be read or is larger than the limit\n";
}
