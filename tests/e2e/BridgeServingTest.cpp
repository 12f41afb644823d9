// A bridge serving apps, one host for all cases: the app's login is answered and served; a
// position request ("cmd_id" 1) gets exactly one record, any other command no reply and one note
// on standard output, anything that is no dictionary nothing at all; a second app that logs in
// while the first is served is turned away with a note, and the first goes on being served.
//
// The bridge handles an app's objects in order, one at a time, so an unknown command sent last
// marks the end: once its note is out, everything before it has been answered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"

namespace e2e {
namespace {

using BridgeServingTest = SharedBridgeTest;

long residentKiB(const SimProcess& sim)
{
  std::ifstream status("/proc/" + std::to_string(sim.pid()) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

TEST_F(BridgeServingTest, LoginIsAnsweredAndEachObjectGetsItsAnswer)
{
  const struct
  {
    BaseObject* (*request)();
    bool record;
    size_t notes;
  } cases[] = {
      {[] { return (BaseObject*)commandRequest(text("2")); }, false, 1},
      {[] { return (BaseObject*)commandRequest(text("1")); }, true, 0},
      {[] { return (BaseObject*)commandRequest(new (eRetainAutorelease) BaseNumber(1)); }, false, 1},
      {[] { return (BaseObject*)text("1"); }, false, 0},
  };
  BaseAutorelease pool;
  BridgeApp app;
  BaseDictionary* reply = app.login();
  ASSERT_NE(reply, nullptr);
  BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->getInteger(), 0);
  BaseString* name = dynamic_cast<BaseString*>(reply->objectForKey("Connected device_name"));
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name->cString(), "X-Plane");
  for (const auto& test : cases) {
    SCOPED_TRACE(&test - cases);
    BaseAutorelease round;
    const size_t wanted = sim->countOutLines(NOT_IMPLEMENTED) + test.notes + 1;
    app.send(test.request());
    app.send(commandRequest(text("2")));  // the marker
    ASSERT_TRUE(sim->waitForOutLines(NOT_IMPLEMENTED, wanted)) << "no note for the marker";
    ASSERT_EQ(sim->run(""), 0);
    EXPECT_EQ(sim->countOutLines(NOT_IMPLEMENTED), wanted);
    if (test.record) EXPECT_TRUE(isPositionRecord(app.receive()));
    EXPECT_FALSE(app.hasMore());
  }
  EXPECT_TRUE(app.leave());
}

TEST_F(BridgeServingTest, SecondAppIsTurnedAwayWhileTheFirstIsServed)
{
  BaseAutorelease pool;
  const size_t turnedAway = sim->countOutLines(ALREADY_CONNECTED);
  BridgeApp first;
  ASSERT_TRUE(first.logIn());
  ASSERT_TRUE(first.isServed());
  BridgeApp second;
  ASSERT_TRUE(second.logIn());
  EXPECT_TRUE(second.closedByBridge());
  EXPECT_TRUE(sim->waitForOutLines(ALREADY_CONNECTED, turnedAway + 1));
  EXPECT_TRUE(first.isServed());
  EXPECT_TRUE(first.leave());
}

// Sanitizers hold freed memory back on purpose, and find leaks themselves at the host's exit.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST_F(BridgeServingTest, ServingManyRecordsLeavesTheHostsMemoryAsItWas)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  for (int i = 0; i < 1000; i++) ASSERT_TRUE(app.isServed());
  const long before = residentKiB(*sim);
  for (int i = 0; i < 20000; i++) {
    BaseAutorelease round;
    ASSERT_TRUE(app.isServed());
  }
  EXPECT_LT(residentKiB(*sim), before + 2048) << "from " << before << " KiB";
  EXPECT_TRUE(app.leave());
}
#endif

}  // namespace
}  // namespace e2e
