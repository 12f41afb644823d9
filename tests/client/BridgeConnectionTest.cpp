// The client's session against a stand-in bridge on 127.0.0.1 (a real listening session with the
// app's login rules): connecting gives up in time on a bridge that never comes and waits for one
// that starts late; an unknown command's silence ends within its bound and leaves the stream in
// step; a vanished bridge is told apart from a slow one.
#include "BridgeConnection.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "ClientOptions.h"
#include "PositionRecord.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"
#include "session/DistantObjectsCenter.h"
#include "support/BridgeLogins.h"

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Answers cmd_id "1" with a record whose values count the requests; holds the one session.
class StandInBridge : public DistantObjectDelegate
{
public:
  void handleIncommingConnections(DistantObjectsCenter* session) override
  {
    session->retain();
    m_session = session;
    session->setDistantObjectDelegate(this);
  }
  void handleIncommingObject(BaseObject* object, DistantObjectsCenter* session) override
  {
    BaseDictionary* request = dynamic_cast<BaseDictionary*>(object);
    BaseString* command = request ? dynamic_cast<BaseString*>(request->objectForKey("cmd_id")) : nullptr;
    if (!command || strcmp(command->cString(), "1") != 0) return;
    BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
    for (const char* key : PositionRecord::FIELD_NAMES)
      record->setObjectForKey(new (eRetainAutorelease) BaseNumber(double(++m_answered)), key);
    session->sendObject(record);
  }
  std::atomic<DistantObjectsCenter*> m_session{nullptr};
  int m_answered = 0;  // receive thread only
};

TEST(BridgeConnectionTest, GivesUpInTimeWaitsForALateBridgeAndTellsSilenceFromAHangUp)
{
  BaseAutorelease pool;
  const std::string password = ClientOptions().loginPassword();
  BridgeLogins logins(ClientOptions::DEFAULT_USER_AGENT, password.c_str());
  const int probe = nettest::listenRaw(0);
  const uint16_t port = nettest::boundPort(probe);
  close(probe);
  BridgeConnection client;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(client.connect("127.0.0.1", port, 600), BridgeConnection::eConnectFailed);
  EXPECT_GE(millisecondsSince(start), 600);
  EXPECT_LT(millisecondsSince(start), 600 + 2 * BridgeConnection::RETRY_MS + 300);
  EXPECT_NE(client.problem().find("Connection refused"), std::string::npos) << client.problem();

  StandInBridge bridge;
  DistantObjectsCenter* server = nullptr;
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    BaseAutorelease threadPool;
    server = DistantObjectsCenter::newTCPServer(port, nullptr, nullptr);
    server->retain();
    server->setDistantObjectDelegate(&bridge);
  });
  const BridgeConnection::eConnect connected = client.connect("127.0.0.1", port, 5000);
  late.join();
  ASSERT_EQ(connected, BridgeConnection::eConnected) << client.problem();
  ASSERT_EQ(client.login(ClientOptions::DEFAULT_USER_AGENT, "", password, 2000), 0);

  BaseObject* reply = nullptr;
  double roundTripMs = 0;
  start = Clock::now();
  EXPECT_EQ(client.request("7", 300, reply, roundTripMs), BridgeConnection::eReplyNone);
  EXPECT_GE(millisecondsSince(start), 300);
  EXPECT_LT(millisecondsSince(start), 1000);
  for (double expected : {1.0, 11.0}) {
    ASSERT_EQ(client.request("1", 2000, reply, roundTripMs), BridgeConnection::eReplyReceived);
    PositionRecord record;
    std::string problem;
    ASSERT_TRUE(PositionRecord::fromReply(reply, record, problem)) << problem;
    EXPECT_EQ(record.values[0], expected);
    EXPECT_GT(roundTripMs, 0);
  }

  // Hung up on, as a bridge that is stopped does.
  bridge.m_session.load()->closeAndWait();
  start = Clock::now();
  EXPECT_EQ(client.request("1", 3000, reply, roundTripMs), BridgeConnection::eReplyClosed);
  EXPECT_LT(millisecondsSince(start), 1000);
  EXPECT_EQ(client.problem(), "the bridge closed the connection");
  client.close();
  server->close();
  server->setDistantObjectDelegate(nullptr);
  server->release();
  bridge.m_session.load()->release();
}

}  // namespace
