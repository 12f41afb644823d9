// The client's session against a stand-in bridge on 127.0.0.1 (a real listening session
// with the app's login rules): connecting waits for a bridge that starts late and gives up
// in time on one that never comes; an unknown command's silence ends within its bound and leaves the stream
// in step; a vanished bridge is told apart from a slow one.
#include "BridgeConnection.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ClientOptions.h"
#include "PositionRecord.h"
#include "net/IOSocketAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "session/DistantObjectsCenter.h"
#include "support/BridgeLogins.h"

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Answers cmd_id "1" with a record whose latitude counts the requests; keeps every session.
class StandInBridge : public DistantObjectDelegate
{
public:
  void handleIncommingConnections(DistantObjectsCenter* session) override
  {
    std::lock_guard<std::mutex> guard(m_lock);
    session->retain();
    m_sessions.push_back(session);
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
  size_t sessionCount()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions.size();
  }
  // Hangs up on every app, as a bridge does when it is stopped.
  void dropSessions()
  {
    std::vector<DistantObjectsCenter*> sessions;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      sessions.swap(m_sessions);
    }
    for (DistantObjectsCenter* session : sessions) {
      session->closeAndWait();
      session->release();
    }
  }

private:
  std::mutex m_lock;  // guards m_sessions: filled on the accept thread, emptied by the test
  std::vector<DistantObjectsCenter*> m_sessions;
  int m_answered = 0;  // receive thread only
};

class BridgeConnectionTest : public ::testing::Test
{
protected:
  void TearDown() override
  {
    m_client.close();
    if (m_server) {
      m_server->close();
      m_server->setDistantObjectDelegate(nullptr);
      m_server->release();
    }
    m_bridge->dropSessions();
    m_bridge->release();
  }

  static std::string appPassword()
  {
    BaseAutorelease pool;
    return ClientOptions().loginPassword();
  }
  // Listens on `port` (0: any free one) and returns the port.
  uint16_t startBridge(uint16_t port = 0)
  {
    BaseAutorelease pool;
    m_server = DistantObjectsCenter::newTCPServer(port, nullptr, nullptr);
    m_server->retain();
    m_server->setDistantObjectDelegate(m_bridge);
    sockaddr_in address;
    socklen_t length = sizeof address;
    getsockname(static_cast<IOSocketAbstract*>(m_server->getDriver())->getSocketfd(),
                reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }
  void connectAndLogIn(uint16_t port)
  {
    ASSERT_EQ(m_client.connect("127.0.0.1", port, 2000), BridgeConnection::eConnected) << m_client.problem();
    ASSERT_EQ(m_client.login(ClientOptions::DEFAULT_USER_AGENT, "", appPassword(), 2000), 0);
  }
  // A port that refuses connections: bound by a probe socket, then given back.
  static uint16_t unusedPort()
  {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
  }

  BaseAutorelease m_pool;
  BridgeLogins m_logins{ClientOptions::DEFAULT_USER_AGENT, appPassword().c_str()};
  StandInBridge* m_bridge = new StandInBridge();
  DistantObjectsCenter* m_server = nullptr;
  BridgeConnection m_client;
};

TEST_F(BridgeConnectionTest, ConnectingWaitsForABridgeThatStartsListeningLate)
{
  const uint16_t port = unusedPort();
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    startBridge(port);
  });
  const BridgeConnection::eConnect connected = m_client.connect("127.0.0.1", port, 5000);
  late.join();
  EXPECT_EQ(connected, BridgeConnection::eConnected) << m_client.problem();
}

TEST_F(BridgeConnectionTest, ConnectingGivesUpWhenTheWaitIsOver)
{
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(m_client.connect("127.0.0.1", unusedPort(), 600), BridgeConnection::eConnectFailed);
  EXPECT_GE(millisecondsSince(start), 600);
  EXPECT_LT(millisecondsSince(start), 600 + 2 * BridgeConnection::RETRY_MS + 300);
  EXPECT_NE(m_client.problem().find("Connection refused"), std::string::npos) << m_client.problem();
}

TEST_F(BridgeConnectionTest, UnansweredCommandEndsWithinItsBoundAndTheStreamStaysInStep)
{
  connectAndLogIn(startBridge());
  BaseObject* reply = nullptr;
  double roundTripMs = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(m_client.request("7", 300, reply, roundTripMs), BridgeConnection::eReplyNone);
  EXPECT_GE(millisecondsSince(start), 300);
  EXPECT_LT(millisecondsSince(start), 1000);
  EXPECT_EQ(reply, nullptr);

  for (double expected : {1.0, 11.0}) {
    ASSERT_EQ(m_client.request("1", 2000, reply, roundTripMs), BridgeConnection::eReplyReceived);
    PositionRecord record;
    std::string problem;
    ASSERT_TRUE(PositionRecord::fromReply(reply, record, problem)) << problem;
    EXPECT_EQ(record.values[0], expected);
    EXPECT_GT(roundTripMs, 0);
  }
}

TEST_F(BridgeConnectionTest, AVanishedBridgeIsToldApartFromASilentOne)
{
  connectAndLogIn(startBridge());
  // The login reply goes out before the accept thread hands the session over.
  const Clock::time_point handedOver = Clock::now();
  while (m_bridge->sessionCount() == 0 && millisecondsSince(handedOver) < 2000)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  m_bridge->dropSessions();
  BaseObject* reply = nullptr;
  double roundTripMs = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(m_client.request("1", 3000, reply, roundTripMs), BridgeConnection::eReplyClosed);
  EXPECT_LT(millisecondsSince(start), 1000);
  EXPECT_EQ(m_client.problem(), "the bridge closed the connection");
}

}  // namespace
