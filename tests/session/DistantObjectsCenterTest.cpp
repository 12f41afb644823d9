#include "session/DistantObjectsCenter.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "net/IOSocketAbstract.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"
#include "session/LoginManager.h"
#include "support/BridgeLogins.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

const char* const APP_AGENT = "Ostrel Corvane Mobile";
const char* const APP_PASSWORD = "9a1c73b7ed7dfd81d8b67613edc86094";
const int DEFAULT_LOGIN_TIMEOUT_MS = 10000;
const int DEFAULT_LOGIN_GRACE_MS = 1000;
// Severity and message of the session layer's lines, Debug included.
const char* const SESSION_LINES = "D|src/session/DistantObjectsCenter";

BaseString* str(const char* text)
{
  return new (eRetainAutorelease) BaseString(text);
}

int occurrences(const std::string& text, const std::string& line)
{
  int count = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + line.size())) ++count;
  return count;
}

// A port nobody listens on right now: bound by a probe socket, then given back.
uint16_t freePort()
{
  int fd = listenRaw(0);
  uint16_t port = boundPort(fd);
  close(fd);
  return port;
}

uint16_t listeningPort(DistantObjectsCenter* server)
{
  return boundPort(static_cast<IOSocketAbstract*>(server->getDriver())->getSocketfd());
}

// Nothing to read yet and no end of the stream: the other side keeps the connection open.
bool stillOpen(int fd)
{
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) == -1 && errno == EAGAIN;
}

long millisecondsSince(std::chrono::steady_clock::time_point start)
{
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                  .count());
}

// A dictionary of one entry whose value, a string, claims 2^31 - 1 bytes, followed by
// `sent` of them.
std::string claimingDictionary(const std::string& key, size_t sent)
{
  return std::string("\x15\x00\x01\x0A\x00", 5) + char(key.size()) + key +
         std::string("\x0A\x00\x5F\xFF\xFF\xFF\x0F", 7) + std::string(sent, 'x');
}
const size_t LOGIN_READ_LIMIT = 64 * 1024;

// Records what a listening session and its connections tell it, and on which thread.
// Keeps every connection it is handed (becoming its delegate, which starts its thread)
// unless told otherwise, and can drop a connection's last reference when it ends.
class RecordingDelegate : public DistantObjectDelegate
{
public:
  explicit RecordingDelegate(DistantObjectsCenter* server) : m_server(server) {}
  ~RecordingDelegate() override { EXPECT_TRUE(m_sessions.empty()) << "sessions left behind"; }

  bool canHandleConnection(DistantObjectsCenter* session) override
  {
    askedHere = session;
    asked.fetch_add(1);
    return accepting.load();
  }
  bool acceptsFileObjects(DistantObjectsCenter*) override { return files.load(); }
  void handleIncommingConnections(DistantObjectsCenter* session) override
  {
    if (pthread_equal(pthread_self(), m_server->getDriver()->getThreadId()))
      connectionsOnAcceptThread.fetch_add(1);
    // A connection is handed over on the thread that asked about it: its login's own.
    if (askedHere != session) connectionsElsewhere.fetch_add(1);
    if (readLimit.load()) session->setObjectReadLimit(readLimit.load());
    {
      std::lock_guard<std::mutex> guard(m_lock);
      session->retain();
      m_sessions.push_back(session);
    }
    // Counted before anything reaches the peer, so that what the peer sees is counted.
    connections.fetch_add(1);
    session->setDistantObjectDelegate(this);
  }
  void handleIncommingObject(BaseObject* object, DistantObjectsCenter* session) override
  {
    if (!pthread_equal(pthread_self(), session->getThreadId())) objectsElsewhere.fetch_add(1);
    BaseDictionary* request = dynamic_cast<BaseDictionary*>(object);
    BaseString* command = request ? dynamic_cast<BaseString*>(request->objectForKey("cmd_id")) : nullptr;
    objects.fetch_add(1);
    // Answers from the receive thread, as the bridge does.
    BaseDictionary* reply = new (eRetainAutorelease) BaseDictionary();
    reply->setObjectForKey(command ? command : str("none"), "echo");
    session->sendObject(reply);
  }
  void connectionDidTerminate(DistantObjectsCenter* session) override
  {
    if (!pthread_equal(pthread_self(), session->getThreadId())) endsElsewhere.fetch_add(1);
    if (dropOnEnd.load()) {
      {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
          if (*it != session) continue;
          m_sessions.erase(it);
          break;
        }
      }
      // The last reference but the one its own thread holds.
      session->release();
    }
    ends.fetch_add(1);
  }

  // Test thread, once the listening session is closed.
  void retireSessions()
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
  DistantObjectsCenter* session(size_t index)
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return index < m_sessions.size() ? m_sessions[index] : nullptr;
  }

  std::atomic<bool> accepting{true};
  std::atomic<bool> files{true};
  std::atomic<bool> dropOnEnd{false};
  std::atomic<uint32_t> readLimit{0};  // set on each connection handed over, when not 0
  std::atomic<int> asked{0}, connections{0}, objects{0}, ends{0};
  std::atomic<int> connectionsOnAcceptThread{0}, connectionsElsewhere{0}, objectsElsewhere{0},
      endsElsewhere{0};

private:
  static thread_local DistantObjectsCenter* askedHere;
  DistantObjectsCenter* m_server;
  std::mutex m_lock;  // guards m_sessions
  std::vector<DistantObjectsCenter*> m_sessions;
};

thread_local DistantObjectsCenter* RecordingDelegate::askedHere = nullptr;

// A listening session on an ephemeral port, unpublished, named "X-Plane", with the shared
// login manager set up as the bridge sets it up.
class SessionTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    m_server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
    m_server->retain();
    m_server->setOurName(str("X-Plane"));
    m_port = listeningPort(m_server);
    ASSERT_NE(m_port, 0);
    // Kept sessions are joined at the end of each test.
    m_delegate = new RecordingDelegate(m_server);
    m_server->setDistantObjectDelegate(m_delegate);
  }
  void TearDown() override
  {
    for (DistantObjectsCenter* client : m_clients) {
      client->close();
      client->release();
    }
    for (int fd : m_peers) close(fd);
    m_server->close();
    m_delegate->retireSessions();
    m_server->setDistantObjectDelegate(nullptr);
    m_delegate->release();
    m_server->release();
    DistantObjectsCenter::setLoginTimeout(DEFAULT_LOGIN_TIMEOUT_MS);
    DistantObjectsCenter::setLoginGrace(DEFAULT_LOGIN_GRACE_MS);
  }

  DistantObjectsCenter* client()
  {
    DistantObjectsCenter* session = DistantObjectsCenter::newTCPClient(str("127.0.0.1"), m_port);
    EXPECT_NE(session, nullptr);
    if (!session) return nullptr;
    session->retain();
    m_clients.push_back(session);
    return session;
  }
  DistantObjectsCenter* loggedInClient()
  {
    DistantObjectsCenter* session = client();
    if (session) {
      EXPECT_EQ(session->performLogin(str(APP_AGENT), nullptr, str(APP_PASSWORD)), LoginManager::eLoginOK);
    }
    return session;
  }
  int rawPeer()
  {
    int fd = connectRaw(m_port);
    EXPECT_NE(fd, -1);
    m_peers.push_back(fd);
    return fd;
  }
  // The next object from the peer, or null when none comes within five seconds.
  static BaseObject* readObject(DistantObjectsCenter* session)
  {
    IOSocketAbstract* socket = static_cast<IOSocketAbstract*>(session->getDriver());
    socket->setReadDeadline(5000);
    BaseObject* object = session->getSerializer()->unserializeObjectFromIO();
    socket->clearReadDeadline();
    return object;
  }
  // The server hung up: no object, and not merely none within the time.
  static bool closedByServer(DistantObjectsCenter* session)
  {
    return !readObject(session) && session->isClosed();
  }
  static BaseDictionary* loginRequest(BaseObject* version, const char* password)
  {
    BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
    if (version) request->setObjectForKey(version, "Protocol_Version");
    request->setObjectForKey(str(APP_AGENT), "User-Agent");
    request->setObjectForKey(str(password), "Password");
    return request;
  }
  static BaseDictionary* command(const char* id)
  {
    BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
    request->setObjectForKey(str(id), "cmd_id");
    return request;
  }

  BridgeLogins m_logins{APP_AGENT, APP_PASSWORD};
  BaseAutorelease m_pool;
  LogCapture m_log{"%S: %m\n", SESSION_LINES};
  DistantObjectsCenter* m_server = nullptr;
  RecordingDelegate* m_delegate = nullptr;
  uint16_t m_port = 0;
  std::vector<DistantObjectsCenter*> m_clients;
  std::vector<int> m_peers;
};

// ---------------------------------------------------------------------------------------
// The login handshake, both sides

using LoginHandshakeTest = SessionTest;

// What the session itself decides: the protocol version, and the delegate's word. The
// credentials' rules are the login manager's.
TEST_F(LoginHandshakeTest, ReplyNamesTheServerOnlyOnSuccessAndAFailedLoginIsClosed)
{
  struct
  {
    const char* name;
    BaseObject* version;
    const char* password;
    bool accepting;
    int result;
  } cases[] = {
      {"no version", nullptr, APP_PASSWORD, true, LoginManager::eLoginOK},
      {"wrong password", nullptr, "0123456789abcdef0123456789abcdef", true, LoginManager::eLoginBadPassword},
      {"version 1", str("1"), APP_PASSWORD, true, LoginManager::eLoginBadProtocol},
      {"version 0", str("0"), APP_PASSWORD, true, LoginManager::eLoginOK},
      {"version 0x0", str("0x0"), APP_PASSWORD, true, LoginManager::eLoginOK},
      {"no leading digits read as 0", str("beta"), APP_PASSWORD, true, LoginManager::eLoginOK},
      {"version that is no text", new (eRetainAutorelease) BaseNumber(0), APP_PASSWORD, true,
       LoginManager::eLoginBadProtocol},
      {"delegate refusing", nullptr, APP_PASSWORD, false, LoginManager::eLoginRefused},
  };
  int connections = 0, asked = 0;
  for (const auto& login : cases) {
    SCOPED_TRACE(login.name);
    m_delegate->accepting.store(login.accepting);
    DistantObjectsCenter* session = client();
    ASSERT_NE(session, nullptr);
    session->sendObject(loginRequest(login.version, login.password));
    BaseDictionary* reply = dynamic_cast<BaseDictionary*>(readObject(session));
    ASSERT_NE(reply, nullptr);
    BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->getInteger(), login.result);
    // The delegate is asked about every connection before its login, and given those it takes.
    connections += login.result == LoginManager::eLoginOK;
    EXPECT_TRUE(waitUntil([&] { return m_delegate->connections.load() == connections; }));
    EXPECT_EQ(m_delegate->asked.load(), ++asked);
    if (login.result != LoginManager::eLoginOK) {
      EXPECT_EQ(reply->count(), 1u);
      EXPECT_TRUE(closedByServer(session));
      continue;
    }
    ASSERT_EQ(reply->count(), 2u);
    BaseString* name = dynamic_cast<BaseString*>(reply->objectForKey("Connected device_name"));
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name->cString(), "X-Plane");
  }
  EXPECT_EQ(occurrences(m_log.text(), "Warning: Login failed.\n"), 4);
}

TEST_F(LoginHandshakeTest, ClientKeepsTheNameItWasGivenOrGetsSixWithoutAUsableReply)
{
  DistantObjectsCenter* session = client();
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->performLogin(str(APP_AGENT), str("anyone"), str(APP_PASSWORD)), LoginManager::eLoginOK);
  ASSERT_NE(session->getOtherSideName(), nullptr);
  EXPECT_STREQ(session->getOtherSideName()->cString(), "X-Plane");
  session = client();
  EXPECT_EQ(session->performLogin(str(APP_AGENT), nullptr, str("wrong")), LoginManager::eLoginBadPassword);
  EXPECT_EQ(session->getOtherSideName(), nullptr);

  // A listener that accepts and hangs up at once.
  int listener = listenRaw(0);
  m_peers.push_back(listener);
  session = DistantObjectsCenter::newTCPClient(str("127.0.0.1"), boundPort(listener));
  ASSERT_NE(session, nullptr);
  close(accept(listener, nullptr, nullptr));
  EXPECT_EQ(session->performLogin(str(APP_AGENT), nullptr, str(APP_PASSWORD)), LoginManager::eLoginNoReply);
}

TEST_F(LoginHandshakeTest, FirstObjectThatIsNoDictionaryGetsNoReply)
{
  int fd = rawPeer();
  BaseBuffer* bytes = BaseSerializer::serializeObject(str("User-Agent"));
  ASSERT_NE(bytes, nullptr);
  sendAll(fd, std::string(reinterpret_cast<const char*>(bytes->bytes()), bytes->length()));
  EXPECT_TRUE(closedByPeer(fd)) << "closed without a byte of reply";
  EXPECT_TRUE(waitUntil([&] { return m_log.contains("Warning: Login failed.\n"); }));
}

TEST_F(LoginHandshakeTest, AFileObjectReachesTheDiskOnlyWhenTheDelegateAcceptsFiles)
{
  // A peer that sends a file instead of its login: the reader would put it in the
  // temporary directory before anyone could tell it is no login.
  const std::string name = "corvane-planted-" + std::to_string(getpid());
  const std::string planted = std::string(BaseFile::temporaryDirectory()->cString()) + "/" + name;
  BaseDictionary* attributes = new (eRetainAutorelease) BaseDictionary();
  attributes->setObjectForKey(str(name.c_str()), "fa_name");
  attributes->setObjectForKey(new (eRetainAutorelease) BaseNumber(4LL), "fa_size");
  BaseBuffer* encoded = BaseSerializer::serializeObject(attributes);
  const std::string fileObject =
      std::string("\x02\x00", 2) + std::string((const char*)encoded->bytes(), encoded->length()) + "data";

  for (bool accepted : {false, true}) {
    m_delegate->files.store(accepted);
    int fd = rawPeer();
    sendAll(fd, fileObject);
    EXPECT_TRUE(closedByPeer(fd));
    EXPECT_EQ(access(planted.c_str(), F_OK) == 0, accepted) << (accepted ? "accepted" : "refused");
    unlink(planted.c_str());
  }
}

TEST_F(LoginHandshakeTest, LoginTimeoutBoundsASilentPeer)
{
  DistantObjectsCenter::setLoginTimeout(300);
  int silent = rawPeer();
  // Well before the default ten seconds.
  EXPECT_TRUE(closedByPeer(silent, 5000));
  EXPECT_TRUE(waitUntil([&] { return m_log.contains("Warning: Login failed.\n"); }));
  loggedInClient();
}

// ---------------------------------------------------------------------------------------
// Logins side by side: a peer that says nothing holds up nobody else

class ConcurrentLoginTest : public SessionTest
{
protected:
  // Silent peers, each accepted before the next connects, so that their order is known.
  std::vector<int> silentPeers(unsigned int count)
  {
    std::vector<int> peers;
    const int before = occurrences(m_log.text(), "Warning: Client connected from 127.0.0.1\n");
    for (unsigned int i = 0; i < count; i++) {
      peers.push_back(rawPeer());
      EXPECT_TRUE(waitUntil([&] {
        return occurrences(m_log.text(), "Warning: Client connected from 127.0.0.1\n") == before + int(i) + 1;
      }));
    }
    return peers;
  }
  // Logged once the connection is shut down, so possibly after its peer saw the end.
  int givenUp()
  {
    return occurrences(m_log.text(), "Warning: login of 127.0.0.1 given up for a newer connection\n");
  }
};

TEST_F(ConcurrentLoginTest, OldestWaitingLoginGivesWayToANewerConnection)
{
  // As if the silent peers had waited out their grace already.
  DistantObjectsCenter::setLoginGrace(0);
  std::vector<int> silent = silentPeers(DistantObjectsCenter::MAX_PENDING_LOGINS);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_NE(loggedInClient(), nullptr);
  EXPECT_LT(millisecondsSince(start), 2000) << "well under the login time-out";
  EXPECT_TRUE(closedByPeer(silent[0], 2000)) << "the oldest, closed at once";
  for (size_t i = 1; i < silent.size(); i++) EXPECT_TRUE(stillOpen(silent[i])) << i;
  EXPECT_TRUE(waitUntil([&] { return m_delegate->connections.load() == 1; }));
  EXPECT_TRUE(waitUntil([&] { return givenUp() == 1; })) << givenUp();
  EXPECT_TRUE(waitUntil([&] { return occurrences(m_log.text(), "Warning: Login failed.\n") == 1; }));

  // Once the most are waiting again, the next oldest gives way, and nobody else.
  silent.push_back(silentPeers(1)[0]);
  ASSERT_NE(loggedInClient(), nullptr);
  EXPECT_TRUE(closedByPeer(silent[1], 2000));
  for (size_t i = 2; i < silent.size(); i++) EXPECT_TRUE(stillOpen(silent[i])) << i;
  EXPECT_TRUE(waitUntil([&] { return m_delegate->connections.load() == 2; }));
  EXPECT_TRUE(waitUntil([&] { return givenUp() == 2; })) << givenUp();
}

TEST_F(ConcurrentLoginTest, LoginsWithinTheirGraceAreSparedUpToTheBound)
{
  // A grace that no run of this test outlasts.
  DistantObjectsCenter::setLoginGrace(60000);
  std::vector<int> silent = silentPeers(DistantObjectsCenter::MAX_PENDING_LOGINS);
  ASSERT_NE(loggedInClient(), nullptr);
  for (size_t i = 0; i < silent.size(); i++) EXPECT_TRUE(stillOpen(silent[i])) << i;

  // A flood: once the most that may wait do, the oldest gives way however young.
  std::vector<int> more =
      silentPeers(DistantObjectsCenter::MAX_WAITING_LOGINS - DistantObjectsCenter::MAX_PENDING_LOGINS);
  silent.insert(silent.end(), more.begin(), more.end());
  ASSERT_NE(loggedInClient(), nullptr);
  EXPECT_TRUE(closedByPeer(silent[0], 2000));
  for (size_t i = 1; i < silent.size(); i++) EXPECT_TRUE(stillOpen(silent[i])) << i;
  EXPECT_TRUE(waitUntil([&] { return givenUp() == 1; })) << givenUp();
  EXPECT_TRUE(waitUntil([&] { return m_delegate->connections.load() == 2; }));
}

TEST_F(ConcurrentLoginTest, ClosingWithSilentPeersWaitingReturnsPromptlyAndLeavesNothingBehind)
{
  const int threadsBefore = settledThreads();
  const int descriptorsBefore = openDescriptors();
  DistantObjectsCenter* server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
  server->retain();
  const uint16_t port = listeningPort(server);
  ASSERT_NE(port, 0);
  std::vector<int> silent;
  for (unsigned int i = 0; i < DistantObjectsCenter::MAX_PENDING_LOGINS; i++) {
    silent.push_back(connectRaw(port));
    ASSERT_NE(silent.back(), -1);
  }
  // The accept thread and one login thread for each.
  ASSERT_TRUE(waitUntil([&] { return threads() == threadsBefore + 1 + int(silent.size()); }));

  const auto start = std::chrono::steady_clock::now();
  server->close();
  EXPECT_LT(millisecondsSince(start), 2000) << "well under the login time-out";
  for (int fd : silent) EXPECT_TRUE(closedByPeer(fd, 1000));
  server->release();
  for (int fd : silent) close(fd);
  // A joined thread may stay listed for a moment after its join.
  EXPECT_TRUE(waitUntil([&] { return threads() == threadsBefore; })) << threads() << " vs " << threadsBefore;
  EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

// ---------------------------------------------------------------------------------------
// What one object may make the host read: a login at most 64 KiB, a logged-in peer's
// objects each what the delegate allows

using ReadLimitTest = SessionTest;

TEST_F(ReadLimitTest, LoginClaimingTwoGigabytesIsCutOffAfterSixtyFourKilobytes)
{
  struct
  {
    size_t sent;
    bool cutOff;
  } cases[] = {{LOGIN_READ_LIMIT - 4096, false}, {LOGIN_READ_LIMIT + 4096, true}};
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.sent);
    LogCapture netLog("%S: %m\n", "E|src/net/");
    int fd = rawPeer();
    sendAll(fd, claimingDictionary("User-Agent", entry.sent));
    // Short of the limit, only the peer's end of the stream ends the claim early.
    if (!entry.cutOff) shutdown(fd, SHUT_WR);
    // Well before the ten-second login time-out either way.
    EXPECT_TRUE(closedByPeer(fd, 5000));
    EXPECT_EQ(netLog.contains("Error: Socket read limit reached\n"), entry.cutOff);
  }
  EXPECT_TRUE(waitUntil([&] { return occurrences(m_log.text(), "Warning: Login failed.\n") == 2; }));
  EXPECT_EQ(m_delegate->connections.load(), 0);
}

TEST_F(ReadLimitTest, ObjectReadLimitBoundsEachObjectNotTheSession)
{
  m_delegate->readLimit.store(1024);
  DistantObjectsCenter* session = loggedInClient();
  ASSERT_NE(session, nullptr);
  // Two hundred requests of sixteen bytes: three times the limit together.
  for (int i = 0; i < 200; i++) {
    session->sendObject(command("1"));
    BaseDictionary* reply = dynamic_cast<BaseDictionary*>(readObject(session));
    ASSERT_NE(reply, nullptr) << i;
  }
  EXPECT_EQ(m_delegate->objects.load(), 200);

  // One that claims 2 GiB ends the connection after 1 KiB, although its peer goes on.
  const std::string claim = claimingDictionary("cmd_id", 2048);
  ASSERT_TRUE(session->getDriver()->writeWithTimeout(claim.data(), uint32_t(claim.size()), 5));
  EXPECT_TRUE(closedByServer(session));
  EXPECT_TRUE(waitUntil([&] { return m_delegate->ends.load() == 1; }));
  EXPECT_TRUE(m_log.contains("Error: connection broken, bailling ...\n"));
  EXPECT_EQ(m_delegate->objects.load(), 200);
}

// ---------------------------------------------------------------------------------------
// A listening session without delegate

using DistantObjectsCenterUndelegatedTest = SessionTest;

TEST_F(DistantObjectsCenterUndelegatedTest, KeepsLoggedInClientsAndLogsWhatTheySend)
{
  m_server->setDistantObjectDelegate(nullptr);
  DistantObjectsCenter* first = loggedInClient();
  DistantObjectsCenter* second = loggedInClient();
  ASSERT_TRUE(first && second);
  first->sendObject(command("1"));
  second->sendObject(command("2"));
  first->sendObject(command("3"));
  for (const char* line :
       {"Debug: { cmd_id = \"1\" }\n", "Debug: { cmd_id = \"2\" }\n", "Debug: { cmd_id = \"3\" }\n"})
    EXPECT_TRUE(waitUntil([&] { return m_log.contains(line); })) << line << m_log.text();
  // Their sessions end with their peers, not before.
  EXPECT_EQ(occurrences(m_log.text(), "connection broken"), 0);
  first->close();
  second->close();
  EXPECT_TRUE(
      waitUntil([&] { return occurrences(m_log.text(), "Error: connection broken, bailling ...\n") == 2; }));
}

// ---------------------------------------------------------------------------------------
// A listening session with a delegate

using DistantObjectsCenterDelegateTest = SessionTest;

TEST_F(DistantObjectsCenterDelegateTest, ConnectionsComeOnTheirLoginThreadObjectsAndTheEndOnTheSessionThread)
{
  RecordingDelegate* delegate = m_delegate;
  DistantObjectsCenter* session = loggedInClient();
  ASSERT_NE(session, nullptr);
  for (const char* id : {"1", "0x1"}) {
    session->sendObject(command(id));
    BaseDictionary* reply = dynamic_cast<BaseDictionary*>(readObject(session));
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(static_cast<BaseString*>(reply->objectForKey("echo"))->cString(), id);
  }
  EXPECT_EQ(delegate->asked.load(), 1);
  EXPECT_EQ(delegate->connections.load(), 1);
  EXPECT_EQ(delegate->connectionsOnAcceptThread.load(), 0);
  EXPECT_EQ(delegate->connectionsElsewhere.load(), 0);
  EXPECT_EQ(delegate->objects.load(), 2);
  EXPECT_EQ(delegate->objectsElsewhere.load(), 0);
  EXPECT_EQ(delegate->ends.load(), 0);

  session->close();
  ASSERT_TRUE(waitUntil([&] { return delegate->ends.load() == 1; }));
  // Its thread has returned: nothing more can come.
  delegate->session(0)->stopThread();
  EXPECT_EQ(delegate->ends.load(), 1);
  EXPECT_EQ(delegate->endsElsewhere.load(), 0);
  EXPECT_EQ(occurrences(m_log.text(), "Error: connection broken, bailling ...\n"), 1);
}

TEST_F(DistantObjectsCenterDelegateTest, DelegateMayDropTheLastReferenceWhenTheConnectionEnds)
{
  RecordingDelegate* delegate = m_delegate;
  delegate->dropOnEnd.store(true);
  int unconnected = delegate->getRetainCount();
  DistantObjectsCenter* session = loggedInClient();
  ASSERT_NE(session, nullptr);
  ASSERT_TRUE(waitUntil([&] { return delegate->connections.load() == 1; }));
  session->close();
  // Destroyed on its own thread, after the thread is done with it: it let the delegate go.
  EXPECT_TRUE(waitUntil([&] { return delegate->getRetainCount() == unconnected; }));
  EXPECT_EQ(delegate->ends.load(), 1);
}

TEST_F(DistantObjectsCenterDelegateTest, ClosedServerTakesNoMoreConnections)
{
  RecordingDelegate* delegate = m_delegate;
  // Taken while no connection notice, which holds its recipients, is on its way.
  int subscribed = m_server->getRetainCount();
  loggedInClient();
  // Waits for the accept thread.
  m_server->close();
  EXPECT_TRUE(m_server->isClosed());
  // The notification center has let it go.
  EXPECT_EQ(m_server->getRetainCount(), subscribed - 1);
  EXPECT_EQ(connectRaw(m_port), -1);
  EXPECT_EQ(delegate->connections.load(), 1);
}

// ---------------------------------------------------------------------------------------
// Names and shared sessions

TEST(DistantObjectsCenterNamesTest, HostnameCarriesTheListeningPortAndTheSharedServerIsBuiltOnce)
{
  BaseAutorelease pool;
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  uint16_t port = freePort();
  ASSERT_NE(port, 0);
  DistantObjectsCenter* first = DistantObjectsCenter::sharedTCPServer(port, nullptr, nullptr);
  EXPECT_EQ(std::string(first->getServerHostname()->cString()),
            std::string(host) + ".local:" + std::to_string(port));
  DistantObjectsCenter* connected = DistantObjectsCenter::newTCPClient(str("127.0.0.1"), port);
  ASSERT_NE(connected, nullptr);
  EXPECT_EQ(std::string(connected->getServerHostname()->cString()), std::string(host) + ".local:0");
  connected->close();
  // Later calls get the first server, on the first port.
  EXPECT_EQ(DistantObjectsCenter::sharedTCPServer(freePort(), str("X-Plane"), str("corvane_gps")), first);
  EXPECT_EQ(listeningPort(first), port);
}

}  // namespace
