#include "ClientExit.h"

#include "session/LoginManager.h"

int ClientExit::forLoginResult(int result)
{
  if (result >= LoginManager::eLoginBadUser && result <= LoginManager::eLoginNoReply)
    return eExitLoginBase + result;
  return eExitLoginUnknown;
}

const char* ClientExit::loginProblem(int result)
{
  switch (result) {
    case LoginManager::eLoginOK:
      return nullptr;
    case LoginManager::eLoginBadUser:
      return "user name unknown";
    case LoginManager::eLoginBadPassword:
      return "wrong password";
    case LoginManager::eLoginBadUserAgent:
      return "user agent not accepted";
    case LoginManager::eLoginRefused:
      return "refused by the bridge";
    case LoginManager::eLoginBadProtocol:
      return "protocol version not supported";
    case LoginManager::eLoginNoReply:
      return "no usable reply from the bridge";
    default:
      return "a login result this client does not know";
  }
}
