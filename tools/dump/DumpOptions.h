// The command line of corvane-dump, its help text and its exit statuses: which text form,
// where the stream comes from (a file, standard input or an argument) and whether it is
// hexadecimal text. One place, so that the help text and the behaviour agree. Plain values,
// parsed once on the main thread.
#pragma once

#include <string>

struct DumpOptions
{
  enum eParse
  {
    eRun,
    eHelp,
    eError
  };
  enum eExit
  {
    eExitDone = 0,        // every object read; an empty input is zero objects
    eExitMalformed = 1,   // the stream (or the hex text) is malformed
    eExitUsage = 2,       // bad command line
    eExitUnreadable = 3,  // the input cannot be read or is too large
  };

  int textForm;            // a BaseObject::eToString* format, JSON unless chosen
  std::string path = "-";  // "-": standard input
  bool hex = false;        // the input is hexadecimal text
  std::string data;        // the hexadecimal text itself, when given as an argument
  bool dataGiven = false;

  DumpOptions();

  // On eError, `error` holds one line saying what is wrong.
  static eParse parse(int argc, char** argv, DumpOptions& options, std::string& error);
  static std::string helpText();
};
