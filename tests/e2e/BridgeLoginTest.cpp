// The bridge's login as an app sees it on the wire: the app's login is answered and served, and
// every other first object gets at most a refusal before the bridge closes the connection. Which
// dictionary gets which result is the login manager's rule, tested with the session. One host for
// all cases.
#include <gtest/gtest.h>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"

namespace e2e {
namespace {

using BridgeLoginTest = SharedBridgeTest;

TEST_F(BridgeLoginTest, TheAppsLoginIsAnsweredAndServed)
{
  BaseAutorelease pool;
  BridgeApp app;
  BaseDictionary* reply = app.login();
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->count(), 2u);
  BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->getInteger(), 0);
  BaseString* name = dynamic_cast<BaseString*>(reply->objectForKey("Connected device_name"));
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name->cString(), "X-Plane");
  EXPECT_TRUE(app.isServed());
  EXPECT_TRUE(app.leave());
}

TEST_F(BridgeLoginTest, AnyOtherFirstObjectGetsAtMostARefusalAndIsClosed)
{
  const struct
  {
    const char* name;
    BaseObject* (*first)();
    int result;  // -1: no reply at all
  } cases[] = {
      {"WrongPassword", [] { return (BaseObject*)loginRequest(USER_AGENT, "pilot", "secret"); }, 2},
      {"ArrayHoldingTheLogin",
       [] {
         BaseArray* array = new (eRetainAutorelease) BaseArray();
         array->addObject(loginRequest(USER_AGENT, "pilot", PASSWORD));
         return (BaseObject*)array;
       },
       -1},
      {"String", [] { return (BaseObject*)text(USER_AGENT); }, -1},
      {"Number", [] { return (BaseObject*)new (eRetainAutorelease) BaseNumber(0); }, -1},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    BaseAutorelease pool;
    BridgeApp app;
    ASSERT_TRUE(app.connected());
    app.send(test.first());
    if (test.result >= 0) {
      BaseDictionary* reply = dynamic_cast<BaseDictionary*>(app.receive());
      ASSERT_NE(reply, nullptr);
      EXPECT_EQ(reply->count(), 1u) << "a failed login names no device";
      BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
      ASSERT_NE(result, nullptr);
      EXPECT_EQ(result->getInteger(), test.result);
    }
    EXPECT_TRUE(app.closedByBridge());
    EXPECT_TRUE(bridgeIdle());
  }
}

}  // namespace
}  // namespace e2e
