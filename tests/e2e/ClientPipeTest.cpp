// corvane-client as people use it in a pipe: once the reader of its standard output has had
// enough (`| head`), the client stops polling in order, leaves the bridge and closes its
// record files, instead of being killed in the middle of them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "support/TemporaryDirectory.h"

namespace e2e {
namespace {

class ClientPipeTest : public SharedBridgeTest
{
};

size_t lineCount(const std::string& text)
{
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST_F(ClientPipeTest, ClosedOutputEndsPollingAndTheRecordFilesAreComplete)
{
  TemporaryDirectory scratch("corvane-client-pipe");
  ASSERT_FALSE(scratch.path().empty());
  const std::string base = scratch.path() + "/flight";
  const std::string errors = scratch.path() + "/stderr";
  const std::string shown = scratch.path() + "/stdout";
  // The client runs with SIGPIPE's default action, as from a terminal (this test program
  // ignores it, and children inherit that). --seconds bounds the run should the client miss
  // the closed pipe; its own status is the script's.
  const std::string script = "env --default-signal=PIPE \"$0\" --host 127.0.0.1 --port " +
                             std::to_string(BRIDGE_PORT) +
                             " --rate 50 --seconds 20 --csv --record \"$1\" 2>\"$2\" | head -n 3 >\"$3\"; "
                             "exit \"${PIPESTATUS[0]}\"";
  const std::string command =
      "bash -c '" + script + "' " + CORVANE_CLIENT + " " + base + " " + errors + " " + shown;
  const int status = std::system(command.c_str());

  const std::string err = readFile(errors);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << err;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "128 + signal, or the client's own status\n" << err;
  EXPECT_NE(err.find("standard output is closed: stopping after "), std::string::npos) << err;
  EXPECT_EQ(lineCount(readFile(shown)), 3u);

  // Every record printed is in the log, and the track is closed.
  const std::string csv = readFile(base + ".csv");
  EXPECT_GE(lineCount(csv), 3u) << csv;
  const std::string gpx = readFile(base + ".gpx");
  const std::string end = "</gpx>\n";
  EXPECT_TRUE(gpx.size() >= end.size() && gpx.compare(gpx.size() - end.size(), end.size(), end) == 0) << gpx;
}

}  // namespace
}  // namespace e2e
