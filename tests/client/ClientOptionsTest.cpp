// The client's exit statuses: a refused login exits with 10 + the bridge's result code, an
// unknown result with a status of its own, and no two failures share one.
#include <gtest/gtest.h>

#include <set>

#include "ClientExit.h"

namespace {

TEST(ClientExitTest, EachLoginResultHasAStatusNoOtherFailureUses)
{
  std::set<int> statuses = {ClientExit::eExitDone,          ClientExit::eExitUsage,
                            ClientExit::eExitNotFound,      ClientExit::eExitCannotConnect,
                            ClientExit::eExitConnectionLost, ClientExit::eExitNoReply,
                            ClientExit::eExitBadReply,      ClientExit::eExitCannotRecord,
                            ClientExit::eExitLoginUnknown};
  for (int result = 1; result <= 6; ++result) {
    EXPECT_EQ(ClientExit::forLoginResult(result), 10 + result);
    EXPECT_NE(ClientExit::loginProblem(result), nullptr);
    statuses.insert(ClientExit::forLoginResult(result));
  }
  EXPECT_STREQ(ClientExit::loginProblem(2), "wrong password");
  EXPECT_EQ(ClientExit::loginProblem(0), nullptr);
  EXPECT_EQ(ClientExit::forLoginResult(7), ClientExit::eExitLoginUnknown);
  EXPECT_EQ(statuses.size(), 15u);
}

}  // namespace
