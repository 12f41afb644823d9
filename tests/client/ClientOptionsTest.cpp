// The client's command line: what a user types becomes the right settings, nonsense is refused
// naming the option, the help documents every option and exit status; a refused login exits with
// 10 + the bridge's result code, an unknown result with a status of its own.
#include "ClientOptions.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ClientExit.h"
#include "object/BaseAutorelease.h"

namespace {

// Parses `line` (arguments split at spaces): the settings as one text, or "error: ..." / "help".
std::string parsed(const std::string& line)
{
  std::vector<std::string> arguments = {"corvane-client"};
  std::istringstream words(line);
  for (std::string word; words >> word;) arguments.push_back(word);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  ClientOptions o;
  std::string error;
  const ClientOptions::eParse result = ClientOptions::parse(int(argv.size()), argv.data(), o, error);
  if (result != ClientOptions::eRun) return result == ClientOptions::eHelp ? "help" : "error: " + error;
  std::ostringstream text;
  text << o.host << "|" << o.port << "|" << o.instance << (o.instanceGiven ? "(given)|" : "|") << o.userAgent
       << "|" << o.user << "|" << o.loginPassword() << "|" << o.command << "|" << o.rate << "|" << o.count
       << "|" << o.seconds << "|" << o.waitSeconds << "|" << o.replyTimeoutMs() << "|" << o.format << "|"
       << o.recordFile;
  return text.str();
}

TEST(ClientOptionsTest, DefaultsPollAsTheAppDoesAndValuesAreTakenInBothSpellings)
{
  BaseAutorelease pool;
  const std::string password = "9a1c73b7ed7dfd81d8b67613edc86094";
  EXPECT_EQ(parsed(""), "|21777|X-Plane|Ostrel Corvane Mobile||" + password + "|1|2|0|0|5|5000|" +
                            std::to_string(ClientOptions::eFormatTable) + "|");
  // Other commands wait only briefly for the reply that does not come.
  EXPECT_EQ(
      parsed("--host 127.0.0.1 --port=21800 --rate 12.5 --count=3 --seconds 4 --csv --user-agent= --user "
             "pilot --password nope --wait 0 --record flight.csv --cmd 7"),
      "127.0.0.1|21800|X-Plane||pilot|nope|7|12.5|3|4|0|1000|" + std::to_string(ClientOptions::eFormatCSV) +
          "|flight.csv");
  EXPECT_EQ(parsed("--name Hangar --json --cmd 7 --reply-timeout 0.25"),
            "|21777|Hangar(given)|Ostrel Corvane Mobile||" + password + "|7|2|0|0|5|250|" +
                std::to_string(ClientOptions::eFormatJSON) + "|");
  EXPECT_EQ(parsed("--csv -h"), "help");
}

TEST(ClientOptionsTest, NonsenseIsRefusedNamingTheOption)
{
  const char* const cases[][2] = {{"--frobnicate", "unknown option --frobnicate"},
                                  {"stray", "unexpected argument \"stray\""},
                                  {"--rate", "--rate needs a value"},
                                  {"--rate 0", "--rate"},
                                  {"--rate fast", "--rate"},
                                  {"--rate nan", "--rate"},
                                  {"--rate 1e999", "--rate"},
                                  {"--count 0", "--count"},
                                  {"--count 2.5", "--count"},
                                  {"--seconds -1", "--seconds"},
                                  {"--host h --port 65536", "--port"},
                                  {"--port 21777", "--port needs --host"},
                                  {"--host h --name X-Plane", "--name"},
                                  {"--cmd=", "--cmd"},
                                  {"--record", "--record needs a value"},
                                  {"--record=", "--record needs a file name"},
                                  {"--record=logs/", "--record needs a file name"},
                                  {"--record=logs/.gpx", "--record needs a file name"}};
  for (const auto& c : cases) EXPECT_EQ(parsed(c[0]).find("error: "), 0u) << c[0];
  for (const auto& c : cases) EXPECT_NE(parsed(c[0]).find(c[1]), std::string::npos) << c[0];
}

std::vector<int> allExitStatuses()
{
  std::vector<int> statuses = {
      ClientExit::eExitDone,          ClientExit::eExitUsage,          ClientExit::eExitNotFound,
      ClientExit::eExitCannotConnect, ClientExit::eExitConnectionLost, ClientExit::eExitNoReply,
      ClientExit::eExitBadReply,      ClientExit::eExitCannotRecord,   ClientExit::eExitLoginUnknown};
  for (int result = 1; result <= 6; ++result) statuses.push_back(ClientExit::forLoginResult(result));
  return statuses;
}

TEST(ClientExitTest, EachLoginResultHasItsWordsAndAStatusNoOtherFailureUses)
{
  const char* const words[] = {"user name unknown",
                               "wrong password",
                               "user agent not accepted",
                               "refused by the bridge",
                               "protocol version not supported",
                               "no usable reply from the bridge"};
  for (int result = 1; result <= 6; ++result) {
    EXPECT_EQ(ClientExit::forLoginResult(result), 10 + result);
    EXPECT_STREQ(ClientExit::loginProblem(result), words[result - 1]);
  }
  EXPECT_EQ(ClientExit::loginProblem(0), nullptr);
  EXPECT_EQ(ClientExit::forLoginResult(7), ClientExit::eExitLoginUnknown);
  EXPECT_NE(ClientExit::loginProblem(-1), nullptr);
  const std::vector<int> statuses = allExitStatuses();
  EXPECT_EQ(std::set<int>(statuses.begin(), statuses.end()).size(), 15u);
}

TEST(ClientOptionsTest, HelpNamesEveryOptionAndEveryExitStatus)
{
  const std::string help = ClientOptions::helpText();
  for (const char* option :
       {"--host", "--port", "--name", "--wait", "--user-agent", "--user ", "--password", "--rate", "--count",
        "--seconds", "--cmd", "--reply-timeout", "--table", "--json", "--csv", "--record", "--help"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  for (int status : allExitStatuses())
    EXPECT_NE(help.find("\n" + std::string(status < 10 ? "   " : "  ") + std::to_string(status) + "  "),
              std::string::npos)
        << "exit status " << status;
}

}  // namespace
