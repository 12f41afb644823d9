// One app at a time: a second app that logs in while the first is served is told it is logged
// in, then turned away at once with a note, and the first goes on being served; once the first
// has gone, the next app is served. (Apps that follow one another at once: BridgeSoakTest.)
#include <gtest/gtest.h>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseAutorelease.h"

namespace e2e {
namespace {

using BridgeSingleAppTest = SharedBridgeTest;

TEST_F(BridgeSingleAppTest, SecondAppIsTurnedAwayWhileTheFirstIsServed)
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

  // The app turned away holds nothing: once the first is gone, a third is served at once.
  EXPECT_TRUE(first.leave());
  ASSERT_TRUE(bridgeIdle());
  BridgeApp third;
  ASSERT_TRUE(third.logIn());
  EXPECT_TRUE(third.isServed());
  EXPECT_TRUE(third.leave());
  EXPECT_EQ(sim->run(""), 0);
  EXPECT_EQ(sim->countOutLines(ALREADY_CONNECTED), turnedAway + 1);
}

}  // namespace
}  // namespace e2e
