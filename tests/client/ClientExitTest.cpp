// A refused login tells the user why in words and exits with 10 + the bridge's result code;
// a result the client does not know gets a code of its own.
#include "ClientExit.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(ClientExitTest, EachLoginResultHasItsWordsAndStatus)
{
  const struct
  {
    int result;
    int status;
    const char* words;
  } cases[] = {{1, 11, "user name unknown"},
               {2, 12, "wrong password"},
               {3, 13, "user agent not accepted"},
               {4, 14, "refused by the bridge"},
               {5, 15, "protocol version not supported"},
               {6, 16, "no usable reply from the bridge"}};
  for (const auto& c : cases) {
    EXPECT_EQ(ClientExit::forLoginResult(c.result), c.status) << c.result;
    EXPECT_STREQ(ClientExit::loginProblem(c.result), c.words) << c.result;
  }
  EXPECT_EQ(ClientExit::loginProblem(0), nullptr);
}

TEST(ClientExitTest, UnknownLoginResultsShareOneStatusThatNoOtherFailureUses)
{
  for (int result : {-1, 7, 1000}) {
    EXPECT_EQ(ClientExit::forLoginResult(result), ClientExit::eExitLoginUnknown) << result;
    EXPECT_NE(ClientExit::loginProblem(result), nullptr);
  }
  std::set<int> statuses = {
      ClientExit::eExitDone,          ClientExit::eExitUsage,          ClientExit::eExitNotFound,
      ClientExit::eExitCannotConnect, ClientExit::eExitConnectionLost, ClientExit::eExitNoReply,
      ClientExit::eExitBadReply,      ClientExit::eExitCannotRecord,   ClientExit::eExitLoginUnknown};
  for (int result = 1; result <= 6; ++result) statuses.insert(ClientExit::forLoginResult(result));
  EXPECT_EQ(statuses.size(), 15u);
}

}  // namespace
