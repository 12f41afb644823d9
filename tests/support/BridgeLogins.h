// The shared login manager set up as the bridge sets it up: one accepted user agent and one
// password digest, both checked. Made before any server thread exists (the manager is read
// there without a lock) and destroyed after the last one has ended: it then empties the
// lists and puts the previous mode back for the next test.
#pragma once

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "session/LoginManager.h"

class BridgeLogins
{
public:
  BridgeLogins(const char* userAgent, const char* password)
  {
    BaseAutorelease pool;
    LoginManager* logins = LoginManager::SharedManager(6, nullptr);
    m_savedMode = logins->getMode();
    logins->removeAllCredential();
    logins->removeAllUserAgents();
    logins->setMode(LoginManager::eCheckUserAgent | LoginManager::eCheckPassword);
    logins->addUserAgent(new (eRetainAutorelease) BaseString(userAgent));
    logins->addCredential(nullptr, new (eRetainAutorelease) BaseString(password));
  }
  ~BridgeLogins()
  {
    LoginManager* logins = LoginManager::SharedManager(6, nullptr);
    logins->removeAllCredential();
    logins->removeAllUserAgents();
    logins->setMode(m_savedMode);
  }
  BridgeLogins(const BridgeLogins&) = delete;
  BridgeLogins& operator=(const BridgeLogins&) = delete;

private:
  int m_savedMode;
};
