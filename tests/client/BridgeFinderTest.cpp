// The bridge's DNS-SD host name is recognised as this machine's, so that a bridge running
// here is reached on 127.0.0.1 when nothing else knows the ".local." name. (Discovery itself
// runs beside a real daemon in tests/dnssd/ClientDiscoveryTest.cpp.)
#include "BridgeFinder.h"

#include <gtest/gtest.h>

namespace {

TEST(BridgeFinderTest, OwnHostNameUnderLocalIsThisMachine)
{
  EXPECT_TRUE(BridgeFinder::isThisMachine("vm.local.", "vm"));
  EXPECT_TRUE(BridgeFinder::isThisMachine("VM.local", "vm"));
  EXPECT_TRUE(BridgeFinder::isThisMachine("cockpit.local.", "cockpit.example.org"));
  EXPECT_FALSE(BridgeFinder::isThisMachine("vm-2.local.", "vm"));
  EXPECT_FALSE(BridgeFinder::isThisMachine("vm.example.org.", "vm"));
  EXPECT_FALSE(BridgeFinder::isThisMachine("local.", ""));
}

}  // namespace
