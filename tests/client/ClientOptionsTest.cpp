// The client's command line: what a user types becomes the right settings, nonsense is
// refused with a message naming the option, and the help text documents every option and
// exit status there is.
#include "ClientOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientExit.h"
#include "object/BaseAutorelease.h"

namespace {

class ClientOptionsTest : public ::testing::Test
{
protected:
  ClientOptions::eParse parse(std::vector<std::string> arguments)
  {
    arguments.insert(arguments.begin(), "corvane-client");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    m_error.clear();
    m_options = ClientOptions();
    return ClientOptions::parse(int(argv.size()), argv.data(), m_options, m_error);
  }
  void expectRefused(const std::vector<std::string>& arguments, const std::string& inError)
  {
    EXPECT_EQ(parse(arguments), ClientOptions::eError) << arguments[0];
    EXPECT_NE(m_error.find(inError), std::string::npos) << m_error;
  }

  ClientOptions m_options;
  std::string m_error;
};

TEST_F(ClientOptionsTest, DefaultsDiscoverTheBridgeAndPollForPositionsAsTheAppDoes)
{
  ASSERT_EQ(parse({}), ClientOptions::eRun);
  EXPECT_EQ(m_options.host, "");
  EXPECT_EQ(m_options.instance, "X-Plane");
  EXPECT_FALSE(m_options.instanceGiven);
  EXPECT_EQ(m_options.userAgent, "Ostrel Corvane Mobile");
  EXPECT_EQ(m_options.user, "");
  EXPECT_EQ(m_options.rate, 2);
  EXPECT_EQ(m_options.count, 0);
  EXPECT_EQ(m_options.seconds, 0);
  EXPECT_EQ(m_options.command, "1");
  EXPECT_EQ(m_options.replyTimeoutMs(), 5000);
  EXPECT_EQ(m_options.format, ClientOptions::eFormatTable);
  BaseAutorelease pool;
  EXPECT_EQ(m_options.loginPassword(), "9a1c73b7ed7dfd81d8b67613edc86094");
}

TEST_F(ClientOptionsTest, ValuesAreTakenInBothSpellings)
{
  ASSERT_EQ(parse({"--host", "127.0.0.1", "--port=21800", "--rate", "12.5", "--count=3", "--seconds", "4",
                   "--csv", "--user-agent=", "--user", "pilot", "--password", "nope", "--wait", "0",
                   "--record", "flight.csv"}),
            ClientOptions::eRun)
      << m_error;
  EXPECT_EQ(m_options.host, "127.0.0.1");
  EXPECT_EQ(m_options.port, 21800);
  EXPECT_EQ(m_options.rate, 12.5);
  EXPECT_EQ(m_options.count, 3);
  EXPECT_EQ(m_options.seconds, 4);
  EXPECT_EQ(m_options.format, ClientOptions::eFormatCSV);
  EXPECT_EQ(m_options.userAgent, "");
  EXPECT_EQ(m_options.user, "pilot");
  EXPECT_EQ(m_options.loginPassword(), "nope");
  EXPECT_EQ(m_options.waitSeconds, 0);
  EXPECT_EQ(m_options.recordFile, "flight.csv");
  ASSERT_EQ(parse({"--name", "Hangar", "--json"}), ClientOptions::eRun);
  EXPECT_EQ(m_options.instance, "Hangar");
  EXPECT_TRUE(m_options.instanceGiven);
  EXPECT_EQ(m_options.format, ClientOptions::eFormatJSON);
  EXPECT_EQ(parse({"--csv", "-h"}), ClientOptions::eHelp);
}

TEST_F(ClientOptionsTest, OtherCommandsWaitOnlyBrieflyForTheReplyThatDoesNotCome)
{
  ASSERT_EQ(parse({"--cmd", "7"}), ClientOptions::eRun);
  EXPECT_FALSE(m_options.asksForPosition());
  EXPECT_EQ(m_options.replyTimeoutMs(), 1000);
  ASSERT_EQ(parse({"--cmd", "7", "--reply-timeout", "0.25"}), ClientOptions::eRun);
  EXPECT_EQ(m_options.replyTimeoutMs(), 250);
}

TEST_F(ClientOptionsTest, NonsenseIsRefusedNamingTheOption)
{
  expectRefused({"--frobnicate"}, "unknown option --frobnicate");
  expectRefused({"stray"}, "unexpected argument \"stray\"");
  expectRefused({"--rate"}, "--rate needs a value");
  expectRefused({"--rate", "0"}, "--rate");
  expectRefused({"--rate", "fast"}, "--rate");
  expectRefused({"--rate", "nan"}, "--rate");
  expectRefused({"--rate", "1e999"}, "--rate");
  expectRefused({"--count", "0"}, "--count");
  expectRefused({"--count", "2.5"}, "--count");
  expectRefused({"--seconds", "-1"}, "--seconds");
  expectRefused({"--host", "h", "--port", "65536"}, "--port");
  expectRefused({"--port", "21777"}, "--port needs --host");
  expectRefused({"--host", "h", "--name", "X-Plane"}, "--name");
  expectRefused({"--cmd="}, "--cmd");
  expectRefused({"--record"}, "--record needs a value");
  for (const char* file : {"--record=", "--record=logs/", "--record=logs/.gpx"})
    expectRefused({file}, "--record needs a file name");
}

TEST_F(ClientOptionsTest, HelpNamesEveryOptionAndEveryExitStatus)
{
  const std::string help = ClientOptions::helpText();
  for (const char* option :
       {"--host", "--port", "--name", "--wait", "--user-agent", "--user ", "--password", "--rate", "--count",
        "--seconds", "--cmd", "--reply-timeout", "--table", "--json", "--csv", "--record", "--help"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  std::vector<int> statuses = {
      ClientExit::eExitDone,          ClientExit::eExitUsage,          ClientExit::eExitNotFound,
      ClientExit::eExitCannotConnect, ClientExit::eExitConnectionLost, ClientExit::eExitNoReply,
      ClientExit::eExitBadReply,      ClientExit::eExitCannotRecord,   ClientExit::eExitLoginUnknown};
  for (int result = 1; result <= 6; ++result) statuses.push_back(ClientExit::forLoginResult(result));
  for (int status : statuses) {
    const std::string row = (status < 10 ? "   " : "  ") + std::to_string(status) + "  ";
    EXPECT_NE(help.find("\n" + row), std::string::npos) << "exit status " << status;
  }
}

}  // namespace
