// The client's command line: what a user types becomes the right settings, nonsense is refused
// with a message naming the option, and the help text documents every option and exit status. A
// refused login tells the user why in words and exits with 10 + the bridge's result code; a
// result the client does not know gets a status of its own.
#include "ClientOptions.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ClientExit.h"
#include "object/BaseAutorelease.h"

namespace {

struct Parsed
{
  ClientOptions::eParse result;
  ClientOptions options;
  std::string error;
};

Parsed parse(std::vector<std::string> arguments)
{
  arguments.insert(arguments.begin(), "corvane-client");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  Parsed parsed;
  parsed.result = ClientOptions::parse(int(argv.size()), argv.data(), parsed.options, parsed.error);
  return parsed;
}

TEST(ClientOptionsTest, DefaultsDiscoverTheBridgeAndPollForPositionsAsTheAppDoes)
{
  BaseAutorelease pool;
  const Parsed parsed = parse({});
  ASSERT_EQ(parsed.result, ClientOptions::eRun);
  const ClientOptions& o = parsed.options;
  EXPECT_EQ(o.host + "|" + o.instance + "|" + o.userAgent + "|" + o.user + "|" + o.command,
            "|X-Plane|Ostrel Corvane Mobile||1");
  EXPECT_FALSE(o.instanceGiven);
  EXPECT_EQ(o.rate, 2);
  EXPECT_EQ(o.count + o.seconds, 0);
  EXPECT_EQ(o.replyTimeoutMs(), 5000);
  EXPECT_EQ(o.format, ClientOptions::eFormatTable);
  EXPECT_EQ(o.loginPassword(), "9a1c73b7ed7dfd81d8b67613edc86094");
}

TEST(ClientOptionsTest, ValuesAreTakenInBothSpellings)
{
  BaseAutorelease pool;
  Parsed parsed =
      parse({"--host", "127.0.0.1", "--port=21800",  "--rate",     "12.5",  "--count=3",  "--seconds",
             "4",      "--csv",     "--user-agent=", "--user",     "pilot", "--password", "nope",
             "--wait", "0",         "--record",      "flight.csv", "--cmd", "7"});
  ASSERT_EQ(parsed.result, ClientOptions::eRun) << parsed.error;
  const ClientOptions& o = parsed.options;
  EXPECT_EQ(o.host + "|" + o.userAgent + "|" + o.user + "|" + o.loginPassword() + "|" + o.recordFile,
            "127.0.0.1||pilot|nope|flight.csv");
  EXPECT_EQ(o.port, 21800);
  EXPECT_EQ(o.rate, 12.5);
  EXPECT_EQ(o.count, 3);
  EXPECT_EQ(o.seconds, 4);
  EXPECT_EQ(o.waitSeconds, 0);
  EXPECT_EQ(o.format, ClientOptions::eFormatCSV);
  // Other commands wait only briefly for the reply that does not come.
  EXPECT_FALSE(o.asksForPosition());
  EXPECT_EQ(o.replyTimeoutMs(), 1000);
  parsed = parse({"--name", "Hangar", "--json", "--cmd", "7", "--reply-timeout", "0.25"});
  ASSERT_EQ(parsed.result, ClientOptions::eRun);
  EXPECT_EQ(parsed.options.instance, "Hangar");
  EXPECT_TRUE(parsed.options.instanceGiven);
  EXPECT_EQ(parsed.options.format, ClientOptions::eFormatJSON);
  EXPECT_EQ(parsed.options.replyTimeoutMs(), 250);
  EXPECT_EQ(parse({"--csv", "-h"}).result, ClientOptions::eHelp);
}

TEST(ClientOptionsTest, NonsenseIsRefusedNamingTheOption)
{
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"stray"}, "unexpected argument \"stray\""},
      {{"--rate"}, "--rate needs a value"},
      {{"--rate", "0"}, "--rate"},
      {{"--rate", "fast"}, "--rate"},
      {{"--rate", "nan"}, "--rate"},
      {{"--rate", "1e999"}, "--rate"},
      {{"--count", "0"}, "--count"},
      {{"--count", "2.5"}, "--count"},
      {{"--seconds", "-1"}, "--seconds"},
      {{"--host", "h", "--port", "65536"}, "--port"},
      {{"--port", "21777"}, "--port needs --host"},
      {{"--host", "h", "--name", "X-Plane"}, "--name"},
      {{"--cmd="}, "--cmd"},
      {{"--record"}, "--record needs a value"},
      {{"--record="}, "--record needs a file name"},
      {{"--record=logs/"}, "--record needs a file name"},
      {{"--record=logs/.gpx"}, "--record needs a file name"}};
  for (const auto& [arguments, inError] : cases) {
    SCOPED_TRACE(arguments.back());
    const Parsed parsed = parse(arguments);
    EXPECT_EQ(parsed.result, ClientOptions::eError);
    EXPECT_NE(parsed.error.find(inError), std::string::npos) << parsed.error;
  }
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
  for (int result : {-1, 7, 1000}) {
    EXPECT_EQ(ClientExit::forLoginResult(result), ClientExit::eExitLoginUnknown) << result;
    EXPECT_NE(ClientExit::loginProblem(result), nullptr);
  }
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
  for (int status : allExitStatuses()) {
    const std::string row = (status < 10 ? "   " : "  ") + std::to_string(status) + "  ";
    EXPECT_NE(help.find("\n" + row), std::string::npos) << "exit status " << status;
  }
}

}  // namespace
