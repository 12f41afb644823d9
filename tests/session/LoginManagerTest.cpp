#include "session/LoginManager.h"

#include <gtest/gtest.h>

#include "object/BaseAutorelease.h"

namespace {

const char* const APP_AGENT = "Ostrel Corvane Mobile";
// MD5 of "corvane-bridge/X-Plane/1", the bridge's credential text.
const char* const APP_PASSWORD = "9a1c73b7ed7dfd81d8b67613edc86094";

const auto str = [](const char* text) { return text ? new (eRetainAutorelease) BaseString(text) : nullptr; };
const auto text = [](BaseObject* object) {
  return object ? static_cast<BaseString*>(object)->cString() : "(none)";
};

class LoginManagerTest : public ::testing::Test
{
protected:
  void TearDown() override { m_manager->release(); }

  BaseAutorelease m_pool;
  LoginManager* m_manager = new LoginManager();
};

const int BRIDGE = LoginManager::eCheckUserAgent | LoginManager::eCheckPassword;
const int USERS = LoginManager::eCheckUser | LoginManager::eCheckPassword;

// The checks run in the order user agent, user name, password, and the first failing one
// decides. The bridge checks the user agent and the password, never the user name.
TEST_F(LoginManagerTest, FirstFailingCheckOfTheModeDecides)
{
  struct
  {
    int mode;
    const char *agent, *user, *password;
    int result;
  } cases[] = {
      {BRIDGE, APP_AGENT, nullptr, APP_PASSWORD, LoginManager::eLoginOK},
      {BRIDGE, APP_AGENT, "pilot", APP_PASSWORD, LoginManager::eLoginOK},
      {BRIDGE, APP_AGENT, "", APP_PASSWORD, LoginManager::eLoginOK},
      {BRIDGE, "Ostrel Corvane Desktop", nullptr, APP_PASSWORD, LoginManager::eLoginBadUserAgent},
      {BRIDGE, nullptr, nullptr, APP_PASSWORD, LoginManager::eLoginBadUserAgent},
      {BRIDGE, nullptr, nullptr, "wrong", LoginManager::eLoginBadUserAgent},
      {BRIDGE, APP_AGENT, nullptr, "9A1C73B7ED7DFD81D8B67613EDC86094", LoginManager::eLoginBadPassword},
      {BRIDGE, APP_AGENT, "pilot", nullptr, LoginManager::eLoginBadPassword},
      // The password must be the one of the named user.
      {USERS, nullptr, nullptr, "alpha", LoginManager::eLoginBadUser},
      {USERS, nullptr, "carl", "alpha", LoginManager::eLoginBadUser},
      {USERS, nullptr, "anna", nullptr, LoginManager::eLoginBadPassword},
      {USERS, nullptr, "anna", "bravo", LoginManager::eLoginBadPassword},
      {USERS, nullptr, "bert", "bravo", LoginManager::eLoginOK},
      {LoginManager::eCheckUser, nullptr, "anna", nullptr, LoginManager::eLoginOK},
      {0, nullptr, nullptr, nullptr, LoginManager::eLoginOK},
      {0, "other", "nobody", "wrong", LoginManager::eLoginOK},
  };
  m_manager->addUserAgent(str(APP_AGENT));
  m_manager->addCredential(nullptr, str(APP_PASSWORD));
  m_manager->addCredential(str("anna"), str("alpha"));
  m_manager->addCredential(str("bert"), str("bravo"));
  for (const auto& login : cases) {
    SCOPED_TRACE(::testing::Message() << login.mode << " " << text(str(login.agent)) << " "
                                      << text(str(login.user)) << " " << text(str(login.password)));
    m_manager->setMode(login.mode);
    EXPECT_EQ(m_manager->validateLogin(str(login.agent), str(login.user), str(login.password)), login.result);
  }
}

TEST_F(LoginManagerTest, CredentialsAreFoundInInsertionOrderAndChallengesDigestBothTexts)
{
  EXPECT_TRUE(m_manager->addCredential(nullptr, nullptr));
  EXPECT_EQ(m_manager->getPasswordForUser(nullptr), nullptr);
  m_manager->addCredential(str("anna"), str("shared"));
  m_manager->addCredential(str("bert"), str("shared"));
  m_manager->addCredential(str("anna"), str("later"));

  // Had the two nulls added an empty entry, it would be the first credential.
  EXPECT_STREQ(text(m_manager->getPasswordForUser(nullptr)), "shared");
  EXPECT_STREQ(text(m_manager->getPasswordForUser(str("anna"))), "shared");
  EXPECT_EQ(m_manager->getPasswordForUser(str("carl")), nullptr);
  BaseDictionary* found = m_manager->findUserCrendentialWithKey("Password", str("shared"));
  EXPECT_STREQ(text(found ? found->objectForKey("Username") : nullptr), "anna");
  found = m_manager->findUserCrendentialWithKey("Username", str("bert"));
  EXPECT_STREQ(text(found ? found->objectForKey("Password") : nullptr), "shared");
  EXPECT_EQ(m_manager->findUserCrendentialWithKey("Username", str("shared")), nullptr);
  m_manager->removeAllCredential();
  EXPECT_EQ(m_manager->getPasswordForUser(nullptr), nullptr);
  // The challenge is the MD5 of '*user*+*password*'; without a user name both are "(null)".
  EXPECT_STREQ(text(m_manager->challengeForUser(str("abc"), str("def"))), "2e8de60393d5a233505e30f0a76ee80b");
  EXPECT_STREQ(text(m_manager->challengeForUser(str("abc"), nullptr)), "38827a7bb5883177f988c22eff787f7c");
  EXPECT_STREQ(text(m_manager->challengeForUser(nullptr, str("def"))), "133f531cf0b291c23b764ddd34aeca6b");
}

TEST(LoginManagerSharedTest, LaterCallsKeepTheFirstManagerAndItsMode)
{
  LoginManager* shared = LoginManager::SharedManager(6, nullptr);
  int mode = shared->getMode();
  EXPECT_EQ(LoginManager::SharedManager(mode ^ 7, nullptr), shared);
  EXPECT_EQ(shared->getMode(), mode);
}

}  // namespace
