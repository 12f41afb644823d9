#include "session/DistantObjectsCenter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "net/IOSocketAbstract.h"
#include "net/SocketTestSupport.h"
#include "object/BaseNumber.h"
#include "serialization/BaseSerializer.h"
#include "session/LoginManager.h"
#include "support/BridgeLogins.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

const char* const APP_AGENT = "Ostrel Corvane Mobile";
const char* const APP_PASSWORD = "9a1c73b7ed7dfd81d8b67613edc86094";
const char* const FAILED = "Warning: Login failed.\n";
const char* const BROKEN = "Error: connection broken, bailling ...\n";

BaseString* str(const char* text)
{
  return new (eRetainAutorelease) BaseString(text);
}
// A dictionary of one entry whose value, a string, claims 2^31 - 1 bytes, followed by `sent` of them.
std::string claimingDictionary(const std::string& key, size_t sent)
{
  return std::string("\x15\x00\x01\x0A\x00", 5) + char(key.size()) + key +
         std::string("\x0A\x00\x5F\xFF\xFF\xFF\x0F", 7) + std::string(sent, 'x');
}

// Keeps every connection it is handed (becoming its delegate, which starts its thread),
// echoes each request's cmd_id, and can drop a connection's last reference when it ends.
class RecordingDelegate : public DistantObjectDelegate
{
public:
  bool canHandleConnection(DistantObjectsCenter*) override { return ++asked, accepting.load(); }
  bool acceptsFileObjects(DistantObjectsCenter*) override { return files.load(); }
  void handleIncommingConnections(DistantObjectsCenter* session) override
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (readLimit) session->setObjectReadLimit(readLimit);
    session->retain();
    m_sessions.push_back(session);
    ++connections;
    session->setDistantObjectDelegate(this);
  }
  void handleIncommingObject(BaseObject* object, DistantObjectsCenter* session) override
  {
    BaseDictionary* reply = new (eRetainAutorelease) BaseDictionary();
    reply->setObjectForKey(static_cast<BaseDictionary*>(object)->objectForKey("cmd_id"), "echo");
    ++objects;
    session->sendObject(reply);
  }
  void connectionDidTerminate(DistantObjectsCenter* session) override
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (dropOnEnd) m_sessions.erase(std::find(m_sessions.begin(), m_sessions.end(), session));
    if (dropOnEnd) session->release();  // the last reference but the one its own thread holds
    ++ends;
  }
  void retireSessions()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    std::vector<DistantObjectsCenter*> sessions;
    sessions.swap(m_sessions);
    guard.unlock();
    for (DistantObjectsCenter* session : sessions) session->closeAndWait(), session->release();
  }

  std::atomic<bool> accepting{true}, files{true}, dropOnEnd{false};
  std::atomic<uint32_t> readLimit{0};
  std::atomic<int> asked{0}, connections{0}, objects{0}, ends{0};

private:
  std::mutex m_lock;
  std::vector<DistantObjectsCenter*> m_sessions;
};

// A listening session on an ephemeral port, unpublished, named "X-Plane", with the shared
// login manager set up as the bridge sets it up.
class SessionTest : public ::testing::Test
{
protected:
  static uint16_t listeningPort(DistantObjectsCenter* server)
  {
    return boundPort(socketOf(server)->getSocketfd());
  }
  static IOSocketAbstract* socketOf(DistantObjectsCenter* session)
  {
    return (IOSocketAbstract*)session->getDriver();
  }
  // Nothing to read yet and no end of the stream: the other side keeps the connection open.
  // Neither closed nor written to: nothing to read, not even the end.
  static bool stillOpen(SocketHandle fd)
  {
    platform::PollEntry watched = {fd, platform::ePollIn, 0};
    return platform::pollSockets(&watched, 1, 0) == 0;
  }
  static int occurrences(const std::string& text, const std::string& line)
  {
    int count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
  }
  void SetUp() override
  {
    m_server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
    m_server->retain();
    m_server->setOurName(str("X-Plane"));
    ASSERT_NE(m_port = listeningPort(m_server), 0);
    m_server->setDistantObjectDelegate(m_delegate);
  }
  void TearDown() override
  {
    for (DistantObjectsCenter* client : m_clients) client->close(), client->release();
    for (SocketHandle fd : m_peers) platform::closeSocket(fd);
    m_server->close();
    m_delegate->retireSessions();
    m_server->setDistantObjectDelegate(nullptr);
    m_delegate->release();
    m_server->release();
    DistantObjectsCenter::setLoginTimeout(10000);
    DistantObjectsCenter::setLoginGrace(1000);
  }
  DistantObjectsCenter* client(uint16_t port = 0, const char* password = nullptr, int result = 0)
  {
    DistantObjectsCenter* session =
        DistantObjectsCenter::newTCPClient(str("127.0.0.1"), port ? port : m_port);
    EXPECT_NE(session, nullptr);
    if (session) m_clients.push_back(session), session->retain();
    EXPECT_EQ(password ? session->performLogin(str(APP_AGENT), nullptr, str(password)) : result, result);
    return session;
  }
  DistantObjectsCenter* loggedIn() { return client(0, APP_PASSWORD); }
  SocketHandle rawPeer() { return m_peers.push_back(connectRaw(m_port)), m_peers.back(); }
  // The next object from the peer, or null when none comes within five seconds.
  static BaseObject* readObject(DistantObjectsCenter* session)
  {
    socketOf(session)->setReadDeadline(5000);
    BaseObject* object = session->getSerializer()->unserializeObjectFromIO();
    return socketOf(session)->clearReadDeadline(), object;
  }
  static bool closedByServer(DistantObjectsCenter* session)
  {
    return !readObject(session) && session->isClosed();
  }
  static BaseDictionary* request(const char* key, BaseObject* value, const char* password = nullptr)
  {
    BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
    if (value) request->setObjectForKey(value, key);
    if (password) request->setObjectForKey(str(APP_AGENT), "User-Agent");
    if (password) request->setObjectForKey(str(password), "Password");
    return request;
  }
  // Silent peers, each accepted before the next connects, so that their order is known.
  std::vector<SocketHandle> silentPeers(unsigned int count)
  {
    std::vector<SocketHandle> peers;
    for (unsigned int i = 0; i < count; i++) {
      const int before = occurrences(m_log.text(), "Client connected from");
      peers.push_back(rawPeer());
      EXPECT_TRUE(waitUntil([&] { return occurrences(m_log.text(), "Client connected from") > before; }));
    }
    return peers;
  }
  int givenUp() { return occurrences(m_log.text(), "given up for a newer connection\n"); }
  bool logged(const char* line, int times)
  {
    return waitUntil([&] { return occurrences(m_log.text(), line) == times; });
  }

  BridgeLogins m_logins{APP_AGENT, APP_PASSWORD};
  BaseAutorelease m_pool;
  LogCapture m_log{"%S: %m\n", "D|src/session/DistantObjectsCenter"};
  DistantObjectsCenter* m_server = nullptr;
  RecordingDelegate* m_delegate = new RecordingDelegate();
  uint16_t m_port = 0;
  std::vector<DistantObjectsCenter*> m_clients;
  std::vector<SocketHandle> m_peers;
};

// What the session itself decides: the protocol version and the delegate's word. The
// credentials' rules are the login manager's.
TEST_F(SessionTest, LoginReplyNamesTheServerOnlyOnSuccessAndAFailedLoginIsClosed)
{
  struct
  {
    BaseObject* version;
    const char* password;
    bool accepting;
    int result;
  } cases[] = {
      {nullptr, APP_PASSWORD, true, LoginManager::eLoginOK},
      {nullptr, "0123456789abcdef0123456789abcdef", true, LoginManager::eLoginBadPassword},
      {str("1"), APP_PASSWORD, true, LoginManager::eLoginBadProtocol},
      {str("0x0"), APP_PASSWORD, true, LoginManager::eLoginOK},
      {str("beta"), APP_PASSWORD, true, LoginManager::eLoginOK},  // no leading digits: 0
      {new (eRetainAutorelease) BaseNumber(0), APP_PASSWORD, true, LoginManager::eLoginBadProtocol},
      {nullptr, APP_PASSWORD, false, LoginManager::eLoginRefused},
  };
  int connections = 0, asked = 0;
  for (const auto& login : cases) {
    SCOPED_TRACE(asked);
    m_delegate->accepting.store(login.accepting);
    DistantObjectsCenter* session = client();
    session->sendObject(request("Protocol_Version", login.version, login.password));
    BaseDictionary* reply = dynamic_cast<BaseDictionary*>(readObject(session));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(static_cast<BaseNumber*>(reply->objectForKey("Result"))->getInteger(), login.result);
    connections += login.result == LoginManager::eLoginOK;
    EXPECT_TRUE(waitUntil([&] { return m_delegate->connections.load() == connections; }));
    EXPECT_EQ(m_delegate->asked.load(), ++asked);
    BaseString* name = static_cast<BaseString*>(reply->objectForKey("Connected device_name"));
    EXPECT_EQ(reply->count(), login.result ? 1u : 2u);
    EXPECT_EQ(name ? std::string(name->cString()) : "", login.result ? "" : "X-Plane");
    EXPECT_TRUE(!login.result || closedByServer(session));
  }
  EXPECT_EQ(occurrences(m_log.text(), FAILED), 4);
}

TEST_F(SessionTest, ClientKeepsTheNameItWasGivenOrGetsNoReply)
{
  EXPECT_STREQ(loggedIn()->getOtherSideName()->cString(), "X-Plane");
  EXPECT_EQ(client(0, "wrong", LoginManager::eLoginBadPassword)->getOtherSideName(), nullptr);
  SocketHandle listener = listenRaw(0);  // accepts and hangs up at once
  m_peers.push_back(listener);
  DistantObjectsCenter* session = client(boundPort(listener));
  platform::closeSocket(platform::acceptSocket(listener, nullptr, nullptr));
  EXPECT_EQ(session->performLogin(str(APP_AGENT), nullptr, str(APP_PASSWORD)), LoginManager::eLoginNoReply);
}

// A first object that is no dictionary, or a file (which the reader would put in the
// temporary directory before anyone could tell it is no login): closed without reply.
TEST_F(SessionTest, FirstObjectThatIsNoLoginIsClosedAndAFileReachesTheDiskOnlyIfAccepted)
{
  BaseBuffer* text = BaseSerializer::serializeObject(str("User-Agent"));
  const std::string name = "corvane-planted-" + std::to_string(getpid());
  const std::string planted = std::string(BaseFile::temporaryDirectory()->cString()) + "/" + name;
  BaseDictionary* attributes = request("fa_name", str(name.c_str()));
  attributes->setObjectForKey(new (eRetainAutorelease) BaseNumber(4LL), "fa_size");
  BaseBuffer* encoded = BaseSerializer::serializeObject(attributes);
  const std::string objects[] = {
      std::string((const char*)text->bytes(), text->length()),
      std::string("\x02\x00", 2) + std::string((const char*)encoded->bytes(), encoded->length()) + "data"};
  for (int accepted : {0, 1, 2}) {
    m_delegate->files.store(accepted == 2);
    SocketHandle fd = rawPeer();
    sendAll(fd, objects[accepted != 0]);
    EXPECT_TRUE(closedByPeer(fd)) << accepted;
    EXPECT_EQ(access(planted.c_str(), F_OK) == 0, accepted == 2);
    unlink(planted.c_str());
  }
  EXPECT_TRUE(waitUntil([&] { return m_log.contains(FAILED); }));
}

TEST_F(SessionTest, LoginTimeoutBoundsASilentPeer)
{
  DistantObjectsCenter::setLoginTimeout(300);
  EXPECT_TRUE(closedByPeer(rawPeer(), 5000));  // well before the default ten seconds
  EXPECT_TRUE(logged(FAILED, 1));
}

// Logins side by side: the oldest waiting one gives way to a newer connection once the
// most that may wait do and its grace is over, or in a flood, whatever its age.
TEST_F(SessionTest, OldestWaitingLoginGivesWayToANewerConnection)
{
  int failed = 0;
  for (int grace : {0, 60000}) {
    SCOPED_TRACE(grace);
    DistantObjectsCenter::setLoginGrace(grace);
    std::vector<SocketHandle> silent = silentPeers(DistantObjectsCenter::MAX_PENDING_LOGINS);
    const int given = givenUp();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NE(loggedIn(), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    if (grace) {
      for (SocketHandle fd : silent) EXPECT_TRUE(stillOpen(fd));
      std::vector<SocketHandle> more =
          silentPeers(DistantObjectsCenter::MAX_WAITING_LOGINS - DistantObjectsCenter::MAX_PENDING_LOGINS);
      silent.insert(silent.end(), more.begin(), more.end());
      ASSERT_NE(loggedIn(), nullptr);
    }
    EXPECT_TRUE(closedByPeer(silent[0], 2000)) << "the oldest, closed at once";
    for (size_t i = 1; i < silent.size(); i++) EXPECT_TRUE(stillOpen(silent[i])) << i;
    EXPECT_TRUE(waitUntil([&] { return givenUp() == given + 1; })) << givenUp();
    for (SocketHandle fd : silent) platform::shutdownSocket(fd);  // the rest fail their logins
    EXPECT_TRUE(logged(FAILED, failed += int(silent.size())));
  }
  EXPECT_TRUE(waitUntil([&] { return m_delegate->connections.load() == 3; }));
}

TEST_F(SessionTest, ClosingWithSilentPeersWaitingReturnsPromptlyAndLeavesNothingBehind)
{
  const int threadsBefore = settledThreads(), descriptorsBefore = openDescriptors();
  DistantObjectsCenter* server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
  server->retain();
  std::vector<SocketHandle> silent;
  for (unsigned int i = 0; i < DistantObjectsCenter::MAX_PENDING_LOGINS; i++)
    silent.push_back(connectRaw(listeningPort(server)));
  // The accept thread and one login thread for each.
  ASSERT_TRUE(waitUntil([&] { return threads() == threadsBefore + 1 + int(silent.size()); }));
  const auto start = std::chrono::steady_clock::now();
  server->close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (SocketHandle fd : silent) EXPECT_TRUE(closedByPeer(fd, 1000));
  for (SocketHandle fd : silent) platform::closeSocket(fd);
  server->release();
  EXPECT_TRUE(waitUntil([&] { return threads() == threadsBefore; }));
  EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

// A login is read up to 64 KiB, a logged-in peer's objects each up to what the delegate allows.
TEST_F(SessionTest, ObjectsClaimingTwoGigabytesAreCutOffAtTheReadLimit)
{
  for (size_t sent : {60 * 1024, 68 * 1024}) {
    LogCapture netLog("%S: %m\n", "E|src/net/");
    SocketHandle fd = rawPeer();
    sendAll(fd, claimingDictionary("User-Agent", sent));
    if (sent < 64 * 1024) platform::shutdownSocketSending(fd);  // only the peer's end ends the claim early
    EXPECT_TRUE(closedByPeer(fd, 5000));
    EXPECT_EQ(netLog.contains("Error: Socket read limit reached\n"), sent > 64 * 1024) << sent;
  }
  EXPECT_TRUE(logged(FAILED, 2));
  EXPECT_EQ(m_delegate->connections.load(), 0);

  m_delegate->readLimit.store(1024);
  DistantObjectsCenter* session = loggedIn();
  for (int i = 0; i < 200; i++) {  // three times the limit together
    session->sendObject(request("cmd_id", str(i % 2 ? "0x1" : "1")));
    BaseDictionary* reply = dynamic_cast<BaseDictionary*>(readObject(session));
    ASSERT_NE(reply, nullptr) << i;
    EXPECT_STREQ(static_cast<BaseString*>(reply->objectForKey("echo"))->cString(), i % 2 ? "0x1" : "1");
  }
  const std::string claim = claimingDictionary("cmd_id", 2048);
  ASSERT_TRUE(session->getDriver()->writeWithTimeout(claim.data(), uint32_t(claim.size()), 5));
  EXPECT_TRUE(closedByServer(session));
  EXPECT_TRUE(waitUntil([&] { return m_delegate->ends.load() == 1; }));
  EXPECT_TRUE(logged(BROKEN, 1));
  EXPECT_EQ(m_delegate->objects.load(), 200);
}

TEST_F(SessionTest, WithoutDelegateLoggedInClientsAreKeptAndWhatTheySendLogged)
{
  m_server->setDistantObjectDelegate(nullptr);
  DistantObjectsCenter *first = loggedIn(), *second = loggedIn();
  first->sendObject(request("cmd_id", str("1")));
  second->sendObject(request("cmd_id", str("2")));
  for (const char* line : {"Debug: { cmd_id = \"1\" }\n", "Debug: { cmd_id = \"2\" }\n"})
    EXPECT_TRUE(waitUntil([&] { return m_log.contains(line); })) << line << m_log.text();
  EXPECT_FALSE(m_log.contains(BROKEN));
  first->close();
  second->close();
  EXPECT_TRUE(logged(BROKEN, 2));
}

// Destroyed on its own thread once the delegate drops it: it lets the delegate go.
TEST_F(SessionTest, DelegateMayDropTheLastReferenceAndAClosedServerTakesNoMore)
{
  m_delegate->dropOnEnd.store(true);
  const int unconnected = m_delegate->getRetainCount(), subscribed = m_server->getRetainCount();
  DistantObjectsCenter* session = loggedIn();
  ASSERT_TRUE(waitUntil([&] { return m_delegate->connections.load() == 1; }));
  session->close();
  EXPECT_TRUE(waitUntil([&] { return m_delegate->getRetainCount() == unconnected; }));
  EXPECT_EQ(m_delegate->ends.load(), 1);
  m_server->close();
  EXPECT_TRUE(m_server->isClosed());
  EXPECT_EQ(m_server->getRetainCount(), subscribed - 1);  // the notification center let it go
  EXPECT_EQ(connectRaw(m_port), platform::INVALID_SOCKET_HANDLE);
}

using DistantObjectsCenterNamesTest = SessionTest;

TEST_F(DistantObjectsCenterNamesTest, HostnameCarriesTheListeningPortAndTheSharedServerIsBuiltOnce)
{
  const std::string host = platform::localHostName();
  SocketHandle probe = listenRaw(0);
  uint16_t port = boundPort(probe);
  platform::closeSocket(probe);
  DistantObjectsCenter* first = DistantObjectsCenter::sharedTCPServer(port, nullptr, nullptr);
  EXPECT_EQ(std::string(first->getServerHostname()->cString()),
            host + ".local:" + std::to_string(port));
  EXPECT_EQ(DistantObjectsCenter::sharedTCPServer(0, str("X-Plane"), str("corvane_gps")), first);
  EXPECT_EQ(listeningPort(first), port);
  first->closeAndWait();  // no accept loop may outlive the test's statics at exit
}

}  // namespace
