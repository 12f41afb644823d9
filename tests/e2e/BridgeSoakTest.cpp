// A long flight with an app that comes and goes: a thousand logins against one bridge, each
// app dropping its connection as soon as it has been answered and the next one connecting at
// once, leave the host with the descriptors and threads it had before the first, and the
// bridge free for the next app.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseAutorelease.h"

namespace e2e {
namespace {

TEST(BridgeSoakTest, ThousandLoginsLeaveNoDescriptorsOrThreadsBehind)
{
  BaseAutorelease pool;
  SimProcess sim;
  ASSERT_TRUE(sim.startBridge());
  const HostLoad idle = settledLoadOf(sim);
  ASSERT_GT(idle.descriptors, 0);
  ASSERT_GT(idle.threads, 0);

  // An app that comes before the bridge has noticed the last one leave is turned away.
  size_t turnedAway = 0;
  for (int cycle = 0; cycle < 1000; cycle++) {
    BaseAutorelease cyclePool;
    BridgeApp app;
    ASSERT_TRUE(app.logIn()) << "cycle " << cycle;
    if (!app.isServed()) ++turnedAway;
  }
  // The last app's session may still be winding down.
  const bool settled = backTo(sim, idle);
  const HostLoad after = loadOf(sim);
  std::printf("host descriptors %d -> %d, threads %d -> %d; %zu of 1000 apps turned away\n", idle.descriptors,
              after.descriptors, idle.threads, after.threads, turnedAway);
  EXPECT_TRUE(settled);
  EXPECT_EQ(after.descriptors, idle.descriptors);
  EXPECT_EQ(after.threads, idle.threads);

  BridgeApp last;
  ASSERT_TRUE(last.logIn());
  EXPECT_TRUE(last.isServed());
  EXPECT_TRUE(last.leave());
  EXPECT_EQ(sim.run(""), 0);
  EXPECT_EQ(sim.countOutLines(ALREADY_CONNECTED), turnedAway);
  expectCleanExit(sim.finish());
}

}  // namespace
}  // namespace e2e
