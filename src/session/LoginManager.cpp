#include "session/LoginManager.h"

#include <mutex>

#include "crypto/BaseMD5.h"

namespace {

const char* const USERNAME_KEY = "Username";
const char* const PASSWORD_KEY = "Password";

// Holds the shared manager for the life of the library, and lets it go when the library
// is unloaded (a plug-in may be loaded again into the same process).
struct SharedHolder
{
  LoginManager* manager = nullptr;
  std::once_flag created;
  ~SharedHolder() { BaseObject::release(manager); }
};
SharedHolder sharedHolder;

BaseString* stringEntry(BaseDictionary* dictionary, const char* key)
{
  return dynamic_cast<BaseString*>(BaseDictionary::objectForKey(dictionary, key));
}

bool sameText(BaseString* a, BaseString* b)
{
  return a && b && a->isEqual(b);
}

}  // namespace

LoginManager::LoginManager()
    : m_userAgents(new BaseTypedArray<BaseString>()),
      m_credentials(new BaseTypedArray<BaseDictionary>()),
      m_mode(-1),
      m_mainPassword(nullptr)
{
}

LoginManager::~LoginManager()
{
  m_userAgents->release();
  m_credentials->release();
  BaseObject::release(m_mainPassword);
}

const char* LoginManager::getClass() const
{
  return "LoginManager";
}

LoginManager* LoginManager::SharedManager(int mode, BaseString*)
{
  std::call_once(sharedHolder.created, [mode] {
    LoginManager* manager = new LoginManager();
    manager->setMode(mode);
    sharedHolder.manager = manager;
  });
  return sharedHolder.manager;
}

void LoginManager::setMainPassword(BaseString* password)
{
  BaseObject::retain(password);
  BaseObject::release(m_mainPassword);
  m_mainPassword = password;
}

void LoginManager::addUserAgent(BaseString* userAgent)
{
  if (userAgent) m_userAgents->addObject(userAgent);
}

void LoginManager::removeAllUserAgents()
{
  m_userAgents->removeAllObjects();
}

void LoginManager::removeAllCredential()
{
  m_credentials->removeAllObjects();
}

bool LoginManager::addCredential(BaseString* userName, BaseString* password)
{
  if (!userName && !password) return true;
  BaseDictionary* credential = new BaseDictionary();
  if (userName) credential->setObjectForKey(userName, USERNAME_KEY);
  if (password) credential->setObjectForKey(password, PASSWORD_KEY);
  m_credentials->addObject(credential);
  credential->release();
  return true;
}

BaseDictionary* LoginManager::findUserCrendentialWithKey(const char* key, BaseString* value)
{
  for (unsigned int i = 0, n = m_credentials->count(); i < n; ++i) {
    BaseDictionary* credential = m_credentials->objectAtIndex(i);
    if (sameText(stringEntry(credential, key), value)) return credential;
  }
  return nullptr;
}

BaseString* LoginManager::getPasswordForUser(BaseString* userName)
{
  if (!userName) return m_credentials->count() ? stringEntry(m_credentials->objectAtIndex(0), PASSWORD_KEY) : nullptr;
  return stringEntry(findUserCrendentialWithKey(USERNAME_KEY, userName), PASSWORD_KEY);
}

int LoginManager::validateLogin(BaseString* userAgent, BaseString* userName, BaseString* password)
{
  if (m_mode == 0) return eLoginOK;
  if (m_mode & eCheckUserAgent) {
    bool accepted = false;
    for (unsigned int i = 0, n = m_userAgents->count(); i < n && !accepted; ++i)
      accepted = sameText(m_userAgents->objectAtIndex(i), userAgent);
    if (!accepted) return eLoginBadUserAgent;
  }
  BaseDictionary* credential = nullptr;
  if (m_mode & eCheckUser) {
    if (!userName) return eLoginBadUser;
    credential = findUserCrendentialWithKey(USERNAME_KEY, userName);
    if (!credential) return eLoginBadUser;
  }
  if (!(m_mode & eCheckPassword)) return eLoginOK;
  if (!credential) {
    if (!password) return eLoginBadPassword;
    credential = findUserCrendentialWithKey(PASSWORD_KEY, password);
    if (!credential) return eLoginBadPassword;
  }
  BaseString* expected = stringEntry(credential, PASSWORD_KEY);
  if (!expected || !password) return eLoginBadPassword;
  return expected->isEqual(password) ? eLoginOK : eLoginBadPassword;
}

BaseString* LoginManager::challengeForUser(BaseString* userName, BaseString* second)
{
  // Without a user name the second string is not used either.
  const char* user = userName ? userName->cString() : "(null)";
  const char* other = userName && second ? second->cString() : "(null)";
  BaseString* text = BaseString::stringWithFormat("*%s*+*%s*", user, other);
  return BaseMD5::md5FromString(text);
}

int LoginManager::validateLoginWithChallenge(BaseString* userName, BaseString*, BaseString*)
{
  if (!(m_mode & eCheckUser)) return eLoginOK;
  if (!userName || !findUserCrendentialWithKey(USERNAME_KEY, userName)) return eLoginBadUser;
  return eLoginOK;
}
