// corvane-sim's command line and command input: usage errors, plug-in files it must refuse,
// the help text, commands from -c and standard input, and bad commands that must not hurt it.
#include "SimChild.h"

#include <gtest/gtest.h>

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
  for (const std::string& candidate : lines) {
    if (candidate == line) return true;
  }
  return false;
}

TEST(SimCommandLineTest, BadOptionsAreUsageErrorsWithStatus2)
{
  const std::string probe = kProbePlugin;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--fps", "0", probe},
      {"--fps", "1001", probe},
      {"--fps", "60x", probe},
      {"--fps=-5", probe},
      {probe, "--fps"},
      {"--bogus", probe},
      {"--airport", "91,0,0", probe},
      {"--airport", "10,20", probe},
      {"--no-stdin=1", probe},
      {"--keep-loaded=yes", probe},
      {probe, probe},
  };
  for (const std::vector<std::string>& arguments : cases) {
    std::vector<std::string> argv{kSimProgram};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const SimRun run = runChild(argv, std::nullopt);
    const std::string shown = arguments.empty() ? "(none)" : arguments[0];
    EXPECT_EQ(2, run.status) << shown;
    EXPECT_EQ("", run.out) << shown;
    EXPECT_EQ(0u, run.err.find("corvane-sim: ")) << shown;
    EXPECT_NE(std::string::npos, run.err.find("Usage: corvane-sim")) << shown;
  }
}

TEST(SimCommandLineTest, UnloadablePluginFilesExitWithStatus2)
{
  const SimRun missing = runChild({kSimProgram, "--no-stdin", "/nonexistent/plugin.xpl"}, std::nullopt);
  EXPECT_EQ(2, missing.status);
  EXPECT_EQ(0u, missing.err.find("sim: cannot load plugin '/nonexistent/plugin.xpl': "));

  const SimRun incomplete = runChild({kSimProgram, "--no-stdin", kIncompletePlugin}, std::nullopt);
  EXPECT_EQ(2, incomplete.status);
  EXPECT_NE(std::string::npos, incomplete.err.find("missing entry point XPluginEnable"));
  EXPECT_EQ("", incomplete.out);  // refused before XPluginStart is called
}

TEST(SimCommandLineTest, HelpDocumentsEveryOptionCommandAndFormat)
{
  const SimRun run = runChild({kSimProgram, "--help"}, std::nullopt);
  EXPECT_EQ(0, run.status);
  for (const char* word : {"--fps",
                           "--airport",
                           "-c CMD",
                           "--no-stdin",
                           "--strict-threads",
                           "--keep-loaded",
                           "--log FILE",
                           "--print-times",
                           "--help",
                           "  help",
                           "  menus",
                           "  menu NAME",
                           "  menu-ref REF",
                           "  enable",
                           "  disable",
                           "  stop",
                           "  message FROM MSG",
                           "  datarefs",
                           "  get DATAREF",
                           "  set DATAREF VALUE",
                           "  unset DATAREF",
                           "  pause",
                           "resume",
                           "  frames N",
                           "  sleep SECONDS",
                           "  violations",
                           "  commands",
                           "  command NAME",
                           "  command-begin NAME",
                           "  command-end NAME",
                           "  times",
                           "' [checked]' or ' [unchecked]'",
                           "' (disabled)'",
                           "NAME: DESCRIPTION (handlers: B before, A after)",
                           "sim: time: KIND: N calls, median M us, max X us",
                           "Log.txt for corvane-sim, a stand-in X-Plane host",
                           "command handlers left registered",
                           "  quit",
                           "NAME [ref R]",
                           "(menu 'SUB')",
                           "local_az",
                           "sim: loaded plugin 'NAME' signature 'SIG': DESC",
                           "Exit status"})
    EXPECT_NE(std::string::npos, run.out.find(word)) << word;

  // The command prints the same text, line by line, with the prefix.
  const SimRun command = runProbe(commands({"help"}));
  const std::vector<std::string> helpLines = command.outLinesStartingWith("sim: Usage: corvane-sim");
  EXPECT_EQ(1u, helpLines.size());
  EXPECT_TRUE(
      contains(command.outLines(), "sim:   violations              print 'sim: threading violations: N'"));
}

TEST(SimCommandLineTest, UnknownAndMalformedCommandsAreRefusedAndNotFatal)
{
  const SimRun run = runProbe(commands({"frobnicate now",
                                        "frames -1",
                                        "frames 1000001",
                                        "frames 99999999999999999999",
                                        "frames 0x",
                                        "sleep -1",
                                        "sleep nan",
                                        "sleep 1e9",
                                        "message",
                                        "message 1",
                                        "message 1 2 3 4",
                                        "message x 2",
                                        "message 99999999999 2",
                                        "menu-ref",
                                        "menu-ref x",
                                        "set sim/flightmodel/position/psi",
                                        "set nope 1",
                                        "set sim/flightmodel/position/psi 1.5x",
                                        "get",
                                        "unset nope",
                                        "menu",
                                        "",
                                        "   ",
                                        "# a comment",
                                        "violations"}));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {
      "sim: unknown command 'frobnicate'",
      "sim: frames: expected a count from 0 to 1000000, not '-1'",
      "sim: frames: expected a count from 0 to 1000000, not '1000001'",
      "sim: frames: expected a count from 0 to 1000000, not '99999999999999999999'",
      "sim: frames: expected a count from 0 to 1000000, not '0x'",
      "sim: sleep: expected seconds from 0 to 86400, not '-1'",
      "sim: sleep: expected seconds from 0 to 86400, not 'nan'",
      "sim: sleep: expected seconds from 0 to 86400, not '1e9'",
      "sim: message: expected FROM MSG [PARAM] as integers, not ''",
      "sim: message: expected FROM MSG [PARAM] as integers, not '1'",
      "sim: message: expected FROM MSG [PARAM] as integers, not '1 2 3 4'",
      "sim: message: expected FROM MSG [PARAM] as integers, not 'x 2'",
      "sim: message: expected FROM MSG [PARAM] as integers, not '99999999999 2'",
      "sim: menu-ref: expected an integer item reference, not ''",
      "sim: menu-ref: expected an integer item reference, not 'x'",
      "sim: set: expected a number, not ''",
      "sim: unknown dataref 'nope'",
      "sim: set: expected a number, not '1.5x'",
      "sim: unknown dataref ''",
      "sim: unknown dataref 'nope'",
      "sim: no menu item ''",
      "sim: threading violations: 0",
  };
  const std::vector<std::string> lines = run.outLines();
  ASSERT_GT(lines.size(), 5 + expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(lines.begin() + 5,
                                               lines.begin() + 5 + static_cast<long>(expected.size())));
  EXPECT_TRUE(run.outLinesStartingWith("probe: message").empty());
}

TEST(SimCommandLineTest, StandardInputFollowsCommandLineAndItsEndQuits)
{
  // The last line has no newline: the end of input still delivers it.
  const SimRun run = runProbe(commands({"message 1 1"}), std::string("message 2 2\r\n\nmessage 3 3"));
  EXPECT_EQ(0, run.status);
  const std::vector<std::string> expected = {"probe: message from=1 msg=1 param=0",
                                             "probe: message from=2 msg=2 param=0",
                                             "probe: message from=3 msg=3 param=0"};
  EXPECT_EQ(expected, run.commandLines());
}

TEST(SimCommandLineTest, NoStdinLeavesStandardInputUnread)
{
  const SimRun run =
      runChild({kSimProgram, "--no-stdin", "-c", "message 1 1", kProbePlugin}, std::string("message 2 2\n"));
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(std::vector<std::string>{"probe: message from=1 msg=1 param=0"},
            run.outLinesStartingWith("probe: message"));
}

TEST(SimCommandLineTest, OverlongInputLineIsDroppedAndReadingGoesOn)
{
  const std::string input = std::string(100000, 'x') + "\nmessage 4 4\n";
  const SimRun run = runProbe({}, input);
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(contains(run.outLines(), "sim: command longer than 65536 bytes ignored"));
  EXPECT_EQ(std::vector<std::string>{"probe: message from=4 msg=4 param=0"},
            run.outLinesStartingWith("probe: message"));
}

}  // namespace
