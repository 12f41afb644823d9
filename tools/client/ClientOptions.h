// The command line of corvane-client and the help text that documents it: where the bridge
// is (DNS-SD or a given host), the login it is sent, what is asked how often, and how the
// records are printed and recorded. Plain values, parsed once on the main thread before
// anything starts.
#pragma once

#include <cstdint>
#include <string>

struct ClientOptions
{
  enum eParse
  {
    eRun,
    eHelp,
    eError
  };
  enum eFormat
  {
    eFormatTable,
    eFormatJSON,
    eFormatCSV
  };

  // Empty: find the bridge with DNS-SD.
  std::string host;
  uint16_t port = DEFAULT_PORT;
  // The DNS-SD instance to connect to; when not given, "X-Plane" is preferred and any other
  // instance of the type is taken if "X-Plane" does not show up.
  std::string instance = DEFAULT_INSTANCE;
  bool instanceGiven = false;
  double waitSeconds = 5;  // looking for and connecting to the bridge
  // An empty text leaves the entry out of the login, to try a missing one.
  std::string userAgent = DEFAULT_USER_AGENT;
  std::string user;
  std::string password;  // empty unless given: then the app's own password is sent
  bool passwordGiven = false;
  double rate = 2;      // requests per second
  long long count = 0;  // requests; 0: no limit
  double seconds = 0;   // polling time; 0: no limit
  std::string command = POSITION_COMMAND;
  double replySeconds = 5;
  eFormat format = eFormatTable;
  std::string recordFile;  // --record: empty when not recording

  static constexpr uint16_t DEFAULT_PORT = 21777;
  static const char* const DEFAULT_INSTANCE;
  static const char* const SERVICE_TYPE;
  static const char* const DEFAULT_USER_AGENT;
  // The text whose lower-case hexadecimal MD5 digest the app logs in with.
  static const char* const CREDENTIAL_TEXT;
  static const char* const POSITION_COMMAND;
  // Commands other than the position request get no reply: the wait for one is this short.
  static constexpr double OTHER_COMMAND_REPLY_SECONDS = 1;

  // On eError, `error` holds one line saying what is wrong.
  static eParse parse(int argc, char** argv, ClientOptions& options, std::string& error);
  static std::string helpText();

  // The password to send: the one given, or the app's own (needs an autorelease pool).
  std::string loginPassword() const;
  // How long to wait for the reply to the configured command.
  int replyTimeoutMs() const;
  bool asksForPosition() const { return command == POSITION_COMMAND; }
};
