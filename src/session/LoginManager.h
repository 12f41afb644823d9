// The process-wide store of accepted user agents and credentials that decides logins.
// Its mode says what is checked: bit 1 the user agent, bit 2 the user name, bit 4 the
// password. The owner fills it before its server accepts connections (on one thread);
// afterwards it is only read, from the login threads, so it takes no lock.
#pragma once

#include "object/BaseArray.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"

class LoginManager : public BaseObject
{
public:
  enum eLoginResult
  {
    eLoginOK = 0,
    eLoginBadUser = 1,
    eLoginBadPassword = 2,
    eLoginBadUserAgent = 3,
    eLoginRefused = 4,
    eLoginBadProtocol = 5,
    eLoginNoReply = 6
  };
  enum eModeBits
  {
    eCheckUserAgent = 1,
    eCheckUser = 2,
    eCheckPassword = 4
  };

  LoginManager();
  ~LoginManager() override;
  const char* getClass() const override;

  // The shared manager; the first call creates it with `mode`, later calls leave the mode
  // alone. `unused` is ignored. It lives as long as the library that holds it.
  static LoginManager* SharedManager(int mode, BaseString* unused);

  void setMode(int mode) { m_mode = mode; }
  int getMode() const { return m_mode; }
  BaseString* getMainPassword() const { return m_mainPassword; }
  void setMainPassword(BaseString* password);

  void addUserAgent(BaseString* userAgent);
  void removeAllUserAgents();
  void removeAllCredential();
  // Nothing is added when both are null; true in every case.
  bool addCredential(BaseString* userName, BaseString* password);
  // The first credential, in insertion order, whose entry under `key` equals `value`.
  BaseDictionary* findUserCrendentialWithKey(const char* key, BaseString* value);
  BaseString* getPasswordForUser(BaseString* userName);

  // A result code of eLoginResult; the checks run in the order user agent, user name,
  // password. Any argument may be null.
  int validateLogin(BaseString* userAgent, BaseString* userName, BaseString* password);
  // The hexadecimal MD5 of "*<user>*+*<second>*", autoreleased. A null puts "(null)"; a
  // null user name puts it in both places.
  BaseString* challengeForUser(BaseString* userName, BaseString* second);
  int validateLoginWithChallenge(BaseString* userName, BaseString* challenge, BaseString* third);

protected:
  BaseTypedArray<BaseString>* m_userAgents;
  BaseTypedArray<BaseDictionary>* m_credentials;
  int m_mode;
  BaseString* m_mainPassword;
};
