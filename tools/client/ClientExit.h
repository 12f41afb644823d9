// The exit statuses of corvane-client and the words that explain a refused login. One table,
// so that the help text, the messages and the tests agree. Pure functions, any thread.
#pragma once

class ClientExit
{
public:
  enum eStatus
  {
    eExitDone = 0,
    eExitUsage = 2,
    eExitNotFound = 3,
    eExitCannotConnect = 4,
    eExitConnectionLost = 5,
    eExitNoReply = 6,
    eExitBadReply = 7,
    eExitCannotRecord = 8,  // --record: a file cannot be created or written
    // A refused login exits with this plus the bridge's result code (1 to 6).
    eExitLoginBase = 10,
    eExitLoginUnknown = 17
  };

  // Exit status for a login result other than 0 (logged in).
  static int forLoginResult(int result);
  // Why the login failed, in words, e.g. "wrong password"; null for 0.
  static const char* loginProblem(int result);
};
