// The bridge's login, as an app sees it on the wire: which first dictionaries get which
// result, what the reply holds, and that only a logged-in app is served while every other
// connection is closed by the bridge. One host for all cases; each case uses a connection
// of its own and leaves the bridge free for the next.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"

namespace e2e {
namespace {

struct LoginCase
{
  const char* name;
  const char* userAgent;  // null: no such entry
  const char* userName;
  const char* password;
  const char* protocolVersion;  // null: no such entry
  bool versionAsNumber;         // "Protocol_Version" sent as the number 0 rather than text
  int result;
};

void PrintTo(const LoginCase& login, std::ostream* out)
{
  *out << login.name;
}

class BridgeLoginTest : public SharedBridgeTest, public ::testing::WithParamInterface<LoginCase>
{
};

TEST_P(BridgeLoginTest, RepliesWithTheResultAndServesOnlyALoggedInApp)
{
  BaseAutorelease pool;
  const LoginCase& login = GetParam();
  BridgeApp app;
  ASSERT_TRUE(app.connected());
  BaseDictionary* request = loginRequest(login.userAgent, login.userName, login.password);
  if (login.protocolVersion) request->setObjectForKey(text(login.protocolVersion), "Protocol_Version");
  if (login.versionAsNumber) request->setObjectForKey(number(0), "Protocol_Version");

  BaseDictionary* reply = app.login(request);
  ASSERT_NE(reply, nullptr);
  BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->getInteger(), login.result);
  BaseString* name = dynamic_cast<BaseString*>(reply->objectForKey("Connected device_name"));
  if (login.result == 0) {
    EXPECT_EQ(reply->count(), 2u);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name->cString(), "X-Plane");
    EXPECT_TRUE(app.isServed());
    EXPECT_TRUE(app.leave());
  } else {
    EXPECT_EQ(reply->count(), 1u) << "a failed login names no device";
    EXPECT_TRUE(app.closedByBridge());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Logins, BridgeLoginTest,
    ::testing::Values(
        LoginCase{"RightAgentAndPassword", USER_AGENT, "pilot", PASSWORD, nullptr, false, 0},
        LoginCase{"UserNameIsNotChecked", USER_AGENT, "anyone at all", PASSWORD, nullptr, false, 0},
        LoginCase{"NoUserName", USER_AGENT, nullptr, PASSWORD, nullptr, false, 0},
        LoginCase{"WrongAgent", "Ostrel Corvane", "pilot", PASSWORD, nullptr, false, 3},
        LoginCase{"AgentIsCheckedBeforePassword", "Corvane Desktop", "pilot", "secret", nullptr, false, 3},
        LoginCase{"NoAgent", nullptr, "pilot", PASSWORD, nullptr, false, 3},
        LoginCase{"EmptyDictionary", nullptr, nullptr, nullptr, nullptr, false, 3},
        LoginCase{"WrongPassword", USER_AGENT, "pilot", "9a1c73b7ed7dfd81d8b67613edc86095", nullptr, false,
                  2},
        LoginCase{"UpperCaseDigest", USER_AGENT, "pilot", "9A1C73B7ED7DFD81D8B67613EDC86094", nullptr, false,
                  2},
        LoginCase{"CredentialTextInsteadOfDigest", USER_AGENT, "pilot", "corvane-bridge/X-Plane/1", nullptr,
                  false, 2},
        LoginCase{"NoPassword", USER_AGENT, "pilot", nullptr, nullptr, false, 2},
        LoginCase{"ProtocolVersionOne", USER_AGENT, "pilot", PASSWORD, "1", false, 5},
        LoginCase{"ProtocolVersionZero", USER_AGENT, "pilot", PASSWORD, "0", false, 0},
        LoginCase{"ProtocolVersionZeroChecksCredentials", USER_AGENT, "pilot", "secret", "0", false, 2},
        LoginCase{"ProtocolVersionNotText", USER_AGENT, "pilot", PASSWORD, nullptr, true, 5}),
    [](const ::testing::TestParamInfo<LoginCase>& info) { return std::string(info.param.name); });

// Objects that cannot be a login dictionary.
BaseObject* firstObject(int kind)
{
  switch (kind) {
    case 0: {
      BaseArray* array = new (eRetainAutorelease) BaseArray();
      array->addObject(loginRequest(USER_AGENT, "pilot", PASSWORD));
      return array;
    }
    case 1:
      return text(USER_AGENT);
    default:
      return number(0);
  }
}

class BridgeLoginWithoutDictionaryTest : public SharedBridgeTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(BridgeLoginWithoutDictionaryTest, GetsNoReplyAndIsClosed)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.connected());
  app.send(firstObject(GetParam()));
  // Closed with nothing sent before: no reply of any kind.
  EXPECT_TRUE(app.closedByBridge());
}

std::string firstObjectName(const ::testing::TestParamInfo<int>& info)
{
  return info.param == 0 ? "ArrayHoldingTheLogin" : info.param == 1 ? "String" : "Number";
}

INSTANTIATE_TEST_SUITE_P(FirstObjects, BridgeLoginWithoutDictionaryTest, ::testing::Values(0, 1, 2),
                         firstObjectName);

}  // namespace
}  // namespace e2e
