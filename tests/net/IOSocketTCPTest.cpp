#include "net/IOSocketTCP.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "runtime/SystemCalls.h"
#include "support/CaptureStream.h"
#include "net/SocketTestSupport.h"

using namespace nettest;

namespace {

// Driver messages only: thread start and stop lines are not what these tests are about.
const char* const NET_LINES = "I|src/net/";

class IOSocketTCPTest : public ::testing::Test
{
protected:
  void TearDown() override
  {
    for (int fd : m_peers) close(fd);
    SystemCalls::restore();
    if (m_server) m_server->release();
    m_recorder->stop();
    m_recorder->release();
  }

  // A server on 127.0.0.1 with an ephemeral port.
  IOSocketTCP* startServer(unsigned int maxClients = 0, IOSocketTCP* server = nullptr)
  {
    m_server = server ? server : new IOSocketTCP();
    m_server->setSocketAddress("127.0.0.1", 0);
    m_server->setServerOptions(nullptr, maxClients);
    EXPECT_TRUE(m_server->createServer());
    m_port = boundPort(m_server->getSocketfd());
    return m_server;
  }
  int peer()
  {
    int fd = connectRaw(m_port);
    EXPECT_NE(fd, -1);
    m_peers.push_back(fd);
    return fd;
  }
  // Connects a peer and returns the server's driver for it.
  IOSocketTCP* accepted()
  {
    int before = m_recorder->count();
    peer();
    EXPECT_TRUE(waitUntil([&] { return m_recorder->count() > before; }));
    m_server->lockClients();
    IOSocketTCP* client = static_cast<IOSocketTCP*>(m_server->clientAtIndex(m_server->clientsCount() - 1));
    m_server->unlockClients();
    return client;
  }

  BaseAutorelease m_pool;
  NotificationRecorder* m_recorder = new NotificationRecorder("NEW_CLIENT_CONNECTED_NOTIFICATION");
  IOSocketTCP* m_server = nullptr;
  uint16_t m_port = 0;
  std::vector<int> m_peers;
};

TEST_F(IOSocketTCPTest, SocketOptionsAreSetAtCreation)
{
  LogCapture log("%S: %m\n", NET_LINES);
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  driver->setSocketAddress(nullptr, 21777);
  int fd = driver->getSocketfd();
  ASSERT_NE(fd, -1);
  int value = 0;
  socklen_t length = sizeof value;
  getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &value, &length);
  EXPECT_EQ(value, 1);
  getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &value, &length);
  EXPECT_GE(value, IOSocketTCP::SOCKET_BUFFER_SIZE);
  getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &length);
  EXPECT_GE(value, IOSocketTCP::SOCKET_BUFFER_SIZE);
  EXPECT_EQ(log.text(), "");
}

TEST_F(IOSocketTCPTest, FailingOptionsAreReportedButTheSocketIsMade)
{
  SystemCalls::setsockopt = [](int, int, int, const void*, socklen_t) -> int {
    errno = ENOPROTOOPT;
    return -1;
  };
  LogCapture log("%S: %m\n", NET_LINES);
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  driver->setSocketAddress("127.0.0.1", 0);
  EXPECT_NE(driver->getSocketfd(), -1);
  std::string line = "Error: Set socket options error (" + std::to_string(ENOPROTOOPT) + ")\n";
  EXPECT_EQ(log.text(), line + line + line);
}

TEST_F(IOSocketTCPTest, ServerOnAllInterfacesAnnouncesItsPort)
{
  LogCapture log("%S: %m\n", NET_LINES);
  m_server = new IOSocketTCP();
  m_server->setSocketAddress(nullptr, 0);
  ASSERT_TRUE(m_server->createServer());
  EXPECT_TRUE(m_server->isServerStarted());
  EXPECT_FALSE(m_server->isIOConnected());
  EXPECT_EQ(log.text(), "Info: setting socket as server on port 0\n");
  char ours[32];
  m_server->getOurAddress(ours, sizeof ours);
  EXPECT_STREQ(ours, "0.0.0.0");
}

TEST_F(IOSocketTCPTest, AcceptedClientIsRegisteredAndAnnouncedWithTheServerAsContext)
{
  startServer();
  LogCapture log("%S: %m\n", NET_LINES);
  // The subscriber runs on the worker before the client list can change again.
  unsigned int countSeen = 0;
  m_recorder->onMessage = [&](void* context) { countSeen = static_cast<IOSocketTCP*>(context)->clientsCount(); };
  IOSocketTCP* client = accepted();
  EXPECT_EQ(m_recorder->context(0), m_server);
  EXPECT_EQ(countSeen, 1u);
  ASSERT_NE(client, nullptr);
  EXPECT_TRUE(client->isIOConnected());
  EXPECT_FALSE(client->isThreadRunning());
  EXPECT_STREQ(client->getRemoteAddress()->cString(), "127.0.0.1");
  EXPECT_EQ(log.text(), "Info: New client connected (" + std::to_string(client->getSocketfd()) + ")\n");
}

TEST_F(IOSocketTCPTest, StoppingAnIdleServerDoesNotWaitForTheAcceptPeriod)
{
  // The loop's own wait is 2 s; a woken loop ends at once. Median of three stops, so
  // that one slow scheduling round does not decide.
  std::vector<double> stops;
  for (int i = 0; i < 3; ++i) {
    IOSocketTCP* server = new IOSocketTCP();
    server->setSocketAddress("127.0.0.1", 0);
    ASSERT_TRUE(server->createServer());
    auto start = std::chrono::steady_clock::now();
    LogCapture log("%S: %m\n", NET_LINES);
    EXPECT_TRUE(server->closeIO());
    stops.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(log.text(), "Error: Server loop finished but socket was not closed correctly.\n");
    EXPECT_FALSE(server->isServerStarted());
    EXPECT_EQ(server->getSocketfd(), -1);
    server->release();
  }
  std::sort(stops.begin(), stops.end());
  EXPECT_LT(stops[1], 100.0);
}

TEST_F(IOSocketTCPTest, ClosingTheServerReleasesTheListButNotTheClients)
{
  startServer();
  IOSocketTCP* client = accepted();
  client->retain();
  EXPECT_EQ(client->getRetainCount(), 2);
  m_server->closeIO();
  EXPECT_EQ(m_server->clientsCount(), 0u);
  EXPECT_EQ(m_server->clientAtIndex(0), nullptr);
  EXPECT_EQ(client->getRetainCount(), 1);
  EXPECT_TRUE(client->isIOConnected());
  client->release();
  EXPECT_TRUE(closedByPeer(m_peers[0]));
}

TEST_F(IOSocketTCPTest, SecondClientIsRefusedAtMaximumOne)
{
  startServer(1);
  IOSocketTCP* first = accepted();
  LogCapture log("%S: %m\n", NET_LINES);
  int second = peer();
  EXPECT_TRUE(closedByPeer(second));
  EXPECT_EQ(log.text(), "Warning: Max client count reached, closing incomming request\n");
  EXPECT_EQ(m_recorder->count(), 1);
  EXPECT_EQ(m_server->clientsCount(), 1u);
  EXPECT_TRUE(first->isIOConnected());
  sendAll(m_peers[0], "x");
  char byte = 0;
  uint32_t length = 1;
  EXPECT_TRUE(first->readWithTimeout(&byte, length, 5));
  EXPECT_EQ(byte, 'x');
}

TEST_F(IOSocketTCPTest, SettingOptionsOfARunningServerIsRefused)
{
  startServer(1);
  LogCapture log("%S: %m\n", NET_LINES);
  m_server->setServerOptions(nullptr, 0);
  EXPECT_EQ(log.text(), "Warning: server already started, options will be ignored\n");
  accepted();
  int second = peer();
  EXPECT_TRUE(closedByPeer(second));  // the limit of 1 still holds
}

class NoDriverTCP : public IOSocketTCP
{
public:
  // The worker calls our override: it must end before this part is gone.
  ~NoDriverTCP() override { closeIO(); }
  IODriverAbstract* makeIODriverObject() override { return nullptr; }
};

TEST_F(IOSocketTCPTest, ConnectionWithoutADriverIsClosedAndNotRegistered)
{
  startServer(0, new NoDriverTCP());
  int fd = peer();
  EXPECT_TRUE(closedByPeer(fd));
  EXPECT_EQ(m_recorder->count(), 0);
  EXPECT_EQ(m_server->clientsCount(), 0u);
}

TEST_F(IOSocketTCPTest, AbortedConnectionDoesNotEndTheAcceptLoop)
{
  static std::atomic<int> failures;
  failures = 1;
  SystemCalls::accept4 = [](int fd, struct sockaddr* address, socklen_t* length, int flags) -> int {
    if (failures.fetch_sub(1) > 0) {
      // The connection is taken off the queue, as when the peer reset it meanwhile.
      close(::accept4(fd, address, length, flags));
      errno = ECONNABORTED;
      return -1;
    }
    return ::accept4(fd, address, length, flags);
  };
  startServer();
  LogCapture log("%S: %m\n", NET_LINES);
  peer();
  IOSocketTCP* client = accepted();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(m_server->clientsCount(), 1u);
  EXPECT_TRUE(log.contains("Error: Socket Accept error : " + std::to_string(ECONNABORTED) + "\n"));
}

TEST_F(IOSocketTCPTest, BrokenListeningSocketEndsTheAcceptLoop)
{
  SystemCalls::accept4 = [](int, struct sockaddr*, socklen_t*, int) -> int {
    errno = EINVAL;
    return -1;
  };
  startServer();
  LogCapture log("%S: %m\n", NET_LINES);
  peer();
  EXPECT_TRUE(waitUntil([&] { return !m_server->isThreadRunning() || log.contains("Accept"); }));
  EXPECT_TRUE(waitUntil([&] { return log.contains("Error: Socket Accept error : " + std::to_string(EINVAL)); }));
  EXPECT_TRUE(m_server->isServerStarted());
  log.clear();
  EXPECT_TRUE(m_server->closeIO());
  EXPECT_EQ(log.text(), "");
}

// Ended by our own hand, told apart from the end of the stream that the read then sees.
TEST_F(IOSocketTCPTest, EndsOfOurOwnMakingAreLocalOrOther)
{
  startServer();
  IOSocketTCP* shut = accepted();
  IOSocketTCP* limited = accepted();
  ASSERT_TRUE(shut && limited);
  EXPECT_EQ(shut->endReason(), IOSocketAbstract::eEndNone);
  shut->shutdownIO();
  limited->setReadLimit(0);
  for (IOSocketTCP* client : {shut, limited}) {
    char byte;
    uint32_t length = 1;
    EXPECT_FALSE(client->readIO(&byte, length));
  }
  EXPECT_EQ(shut->endReason(), IOSocketAbstract::eEndLocal);
  EXPECT_EQ(limited->endReason(), IOSocketAbstract::eEndOther);
}

// ---------------------------------------------------------------------------------------

class IOSocketTCPStreamTest : public IOSocketTCPTest
{
protected:
  void SetUp() override
  {
    startServer();
    m_client = accepted();
    ASSERT_NE(m_client, nullptr);
    m_peer = m_peers[0];
  }
  IOSocketTCP* m_client = nullptr;
  int m_peer = -1;
};

TEST_F(IOSocketTCPStreamTest, ReadTimeOutReturnsWhatArrivedAndKeepsTheConnection)
{
  sendAll(m_peer, "abc");
  LogCapture log("%S: %m\n", NET_LINES);
  char bytes[10] = {};
  uint32_t length = sizeof bytes;
  EXPECT_TRUE(m_client->readWithTimeout(bytes, length, 1));
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(log.text(), "Error: Socket read timeout\n");
  EXPECT_TRUE(m_client->isIOConnected());

  length = sizeof bytes;
  EXPECT_FALSE(m_client->readWithTimeout(bytes, length, 1));
  EXPECT_EQ(length, 0u);
  EXPECT_TRUE(m_client->isIOConnected());
  sendAll(m_peer, "d");
  length = 1;
  EXPECT_TRUE(m_client->readWithTimeout(bytes, length, 1));
  EXPECT_EQ(bytes[0], 'd');
}

TEST_F(IOSocketTCPStreamTest, PeerClosingReturnsWhatArrivedAndDisconnects)
{
  sendAll(m_peer, "xy");
  shutdown(m_peer, SHUT_WR);
  LogCapture log("%S: %m\n", NET_LINES);
  char bytes[8];
  uint32_t length = sizeof bytes;
  EXPECT_TRUE(m_client->readIO(bytes, length));
  EXPECT_EQ(length, 2u);
  EXPECT_FALSE(m_client->isIOConnected());
  EXPECT_EQ(m_client->endReason(), IOSocketAbstract::eEndPeerClosed);
  EXPECT_EQ(m_client->getSocketfd(), -1);
  EXPECT_EQ(log.text(), "");
  length = sizeof bytes;
  EXPECT_FALSE(m_client->readIO(bytes, length));
  EXPECT_FALSE(m_client->writeIO("z", 1));
}

TEST_F(IOSocketTCPStreamTest, ZeroLengthReadAsksNothingOfTheSystem)
{
  SystemCalls::recv = [](int, void*, size_t, int) -> ssize_t {
    ADD_FAILURE() << "recv called";
    return -1;
  };
  SystemCalls::poll = [](struct pollfd*, nfds_t, int) -> int {
    ADD_FAILURE() << "poll called";
    return -1;
  };
  uint32_t length = 0;
  EXPECT_TRUE(m_client->readWithTimeout(nullptr, length, 1));
  EXPECT_TRUE(m_client->readIO(nullptr, length));
}

TEST_F(IOSocketTCPStreamTest, PlainStreamCallsMakeNoReadinessWait)
{
  SystemCalls::poll = [](struct pollfd*, nfds_t, int) -> int {
    ADD_FAILURE() << "poll called";
    return -1;
  };
  sendAll(m_peer, "1234");
  char bytes[4];
  EXPECT_TRUE(m_client->readIOExact(bytes, 4));
  EXPECT_TRUE(m_client->writeIO("ok", 2));
  char echoed[2];
  EXPECT_EQ(recv(m_peer, echoed, 2, MSG_WAITALL), 2);
}

TEST_F(IOSocketTCPStreamTest, InterruptedReceiveGoesOn)
{
  static std::atomic<int> interruptions;
  interruptions = 2;
  SystemCalls::recv = [](int fd, void* buffer, size_t length, int flags) -> ssize_t {
    if (interruptions.fetch_sub(1) > 0) {
      errno = EINTR;
      return -1;
    }
    return ::recv(fd, buffer, length, flags);
  };
  sendAll(m_peer, "hi");
  char bytes[2];
  uint32_t length = 2;
  EXPECT_TRUE(m_client->readWithTimeout(bytes, length, 5));
  EXPECT_EQ(length, 2u);
  EXPECT_TRUE(m_client->isIOConnected());
}

TEST_F(IOSocketTCPStreamTest, ShortSendsAreContinued)
{
  SystemCalls::send = [](int fd, const void* bytes, size_t, int flags) -> ssize_t {
    return ::send(fd, bytes, 1, flags);
  };
  EXPECT_TRUE(m_client->writeWithTimeout("hello", 5, 5));
  char bytes[5];
  ASSERT_EQ(recv(m_peer, bytes, 5, MSG_WAITALL), 5);
  EXPECT_EQ(std::string(bytes, 5), "hello");
}

TEST_F(IOSocketTCPStreamTest, EverySendSuppressesTheBrokenPipeSignal)
{
  SystemCalls::send = [](int fd, const void* bytes, size_t length, int flags) -> ssize_t {
    EXPECT_TRUE(flags & MSG_NOSIGNAL);
    return ::send(fd, bytes, length, flags);
  };
  close(m_peer);
  m_peers.clear();
  // SIGPIPE keeps its default action here: a raised signal would end the test program.
  LogCapture log("%S: %m\n", NET_LINES);
  std::vector<char> block(65536, 'p');
  bool written = true;
  for (int i = 0; i < 64 && written; ++i) written = m_client->writeIO(block.data(), block.size());
  EXPECT_FALSE(written);
  EXPECT_FALSE(m_client->isIOConnected());
  EXPECT_TRUE(log.contains("Error: Socket write error : ")) << log.text();
}

TEST_F(IOSocketTCPStreamTest, WriteTimeOutClosesTheConnection)
{
  LogCapture log("%S: %m\n", NET_LINES);
  // The peer never reads: once both socket buffers are full the next wait times out.
  std::vector<char> block(1 << 20, 'w');
  bool written = true;
  for (int i = 0; i < 64 && written; ++i) written = m_client->writeWithTimeout(block.data(), block.size(), 1);
  EXPECT_FALSE(written);
  EXPECT_FALSE(m_client->isIOConnected());
  EXPECT_EQ(m_client->endReason(), IOSocketAbstract::eEndVanished);
  EXPECT_EQ(log.text(), "Error: Socket write timeout\n");
}

TEST_F(IOSocketTCPStreamTest, ReadUpToWithMaxAcceptsOnlyResultsBelowTheMaximum)
{
  LogCapture log("%S: %m\n", NET_LINES);
  BaseBuffer* line = new (eRetainAutorelease) BaseBuffer();
  sendAll(m_peer, "1234567\r\n");
  EXPECT_TRUE(m_client->readUpToWithMax("\r\n", line, 1, 10));
  EXPECT_EQ(std::string((const char*)line->bytes(), line->length()), "1234567\r\n");
  sendAll(m_peer, "12345678\r\n");
  EXPECT_FALSE(m_client->readUpToWithMax("\r\n", line, 1, 10));
  EXPECT_EQ(log.text(), "Error: result too long : 10\n");
  log.clear();

  sendAll(m_peer, "ab\n");
  EXPECT_TRUE(m_client->readUpTo("\n", line, 0));
  EXPECT_EQ(line->length(), 3u);
  sendAll(m_peer, "no end");
  EXPECT_FALSE(m_client->readUpTo("\n", line, 1));
  EXPECT_EQ(log.text(), "Error: Socket read timeout\nError: readWithTimeout returned false\n");
  EXPECT_TRUE(m_client->isIOConnected());
}

TEST_F(IOSocketTCPStreamTest, ReadDataFillsExactlyTheLength)
{
  sendAll(m_peer, "0123456789");
  BaseBuffer* data = new (eRetainAutorelease) BaseBuffer("old", 3);
  EXPECT_TRUE(m_client->read_data(data, 6));
  EXPECT_EQ(std::string((const char*)data->bytes(), data->length()), "012345");
}

TEST_F(IOSocketTCPStreamTest, ReadinessFollowsArrivingBytes)
{
  EXPECT_FALSE(m_client->isReadable());
  sendAll(m_peer, "r");
  EXPECT_TRUE(waitUntil([&] { return m_client->isReadable(); }));
  m_client->closeIO();
  EXPECT_FALSE(m_client->isReadable());
}

// ---------------------------------------------------------------------------------------

TEST_F(IOSocketTCPTest, ClientConnectsAndRefusesASecondConnectOrAddress)
{
  startServer();
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  LogCapture log("%S: %m\n", "W|src/net/");  // not the server's line about the new client
  ASSERT_TRUE(driver->connect_socket("127.0.0.1", m_port));
  EXPECT_TRUE(driver->isIOConnected());
  EXPECT_FALSE(driver->openIO());
  driver->setSocketAddress("10.1.2.3", 1);
  EXPECT_EQ(log.text(),
            "Error: Socket is already connected to 127.0.0.1\n"
            "Error: can't set the address of a connected socket\n");
  char ours[32];
  driver->getOurAddress(ours, sizeof ours);
  EXPECT_STREQ(ours, "127.0.0.1");
  EXPECT_STREQ(driver->getRemoteAddress()->cString(), "127.0.0.1");
  EXPECT_TRUE(waitUntil([&] { return m_recorder->count() == 1; }));
  EXPECT_TRUE(driver->disconnect_socket());
  EXPECT_FALSE(driver->isIOConnected());
}

TEST_F(IOSocketTCPTest, UnresolvableHostOrRefusedConnectionFails)
{
  LogCapture log("%S: %m\n", NET_LINES);
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  // Empty labels are rejected by the resolver itself: no query leaves the machine.
  EXPECT_FALSE(driver->connect_socket("no..such..host", 80));
  EXPECT_FALSE(IOSocketAbstract::lookupHost("no..such..host", 80, nullptr));
  struct sockaddr_in address;
  EXPECT_FALSE(IOSocketAbstract::lookupHost("no..such..host", 80, &address));
  EXPECT_TRUE(IOSocketAbstract::lookupHost("127.0.0.1", 80, &address));
  EXPECT_EQ(ntohs(address.sin_port), 80);

  // A port nobody listens on: bind one, note it, close it.
  IOSocketTCP* probe = new (eRetainAutorelease) IOSocketTCP();
  probe->setSocketAddress("127.0.0.1", 0);
  ASSERT_TRUE(probe->createServer());
  uint16_t freed = boundPort(probe->getSocketfd());
  probe->closeIO();
  log.clear();
  EXPECT_FALSE(driver->connect_socket("127.0.0.1", freed));
  EXPECT_EQ(log.text(), "Error: unable to connect to 127.0.0.1 : " + std::to_string(freed) + "\n");
}

TEST_F(IOSocketTCPTest, FreshDriverClosesQuietly)
{
  LogCapture log("%S: %m\n", NET_LINES);
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  EXPECT_TRUE(driver->closeIO());
  char bytes[1];
  uint32_t length = 1;
  EXPECT_FALSE(driver->readWithTimeout(bytes, length, 1));
  EXPECT_FALSE(driver->writeWithTimeout("x", 1, 1));
  char ours[8] = "junk";
  driver->getOurAddress(ours, sizeof ours);
  EXPECT_STREQ(ours, "");
  EXPECT_EQ(driver->getRemoteAddress(), nullptr);
  EXPECT_EQ(log.text(), "Error: unable to get our address, socket not connected\n");
}

}  // namespace
