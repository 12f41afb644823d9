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
#include "net/SocketTestSupport.h"
#include "runtime/SystemCalls.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

// Driver messages only: thread start and stop lines are not what these tests are about.
const char* const NET_LINES = "I|src/net/";

using IOSocketTCPTest = TcpServerTest;

TEST_F(IOSocketTCPTest, OptionsAreSetAtCreationAndAFailingOneIsOnlyReported)
{
  LogCapture log("%S: %m\n", NET_LINES);
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  driver->setSocketAddress(nullptr, 21777);
  int fd = driver->getSocketfd();
  ASSERT_NE(fd, -1);
  for (int option : {SO_REUSEADDR, SO_SNDBUF, SO_RCVBUF}) {
    int value = 0;
    socklen_t length = sizeof value;
    getsockopt(fd, SOL_SOCKET, option, &value, &length);
    EXPECT_GE(value, option == SO_REUSEADDR ? 1 : IOSocketTCP::SOCKET_BUFFER_SIZE) << option;
  }
  EXPECT_EQ(log.text(), "");

  SystemCalls::setsockopt = [](int, int, int, const void*, socklen_t) -> int {
    errno = ENOPROTOOPT;
    return -1;
  };
  driver = new (eRetainAutorelease) IOSocketTCP();
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
  m_recorder->onMessage = [&](void* context) {
    countSeen = static_cast<IOSocketTCP*>(context)->clientsCount();
  };
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
    IOSocketTCP* server = new (eRetainAutorelease) IOSocketTCP();
    server->setSocketAddress("127.0.0.1", 0);
    ASSERT_TRUE(server->createServer());
    auto start = std::chrono::steady_clock::now();
    LogCapture log("%S: %m\n", NET_LINES);
    EXPECT_TRUE(server->closeIO());
    stops.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(log.text(), "Error: Server loop finished but socket was not closed correctly.\n");
    EXPECT_FALSE(server->isServerStarted());
    EXPECT_EQ(server->getSocketfd(), -1);
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

TEST_F(IOSocketTCPTest, ClientsPastTheMaximumAreRefusedAndOptionsOfARunningServerIgnored)
{
  startServer(1);
  LogCapture log("%S: %m\n", NET_LINES);
  m_server->setServerOptions(nullptr, 0);
  EXPECT_EQ(log.text(), "Warning: server already started, options will be ignored\n");
  IOSocketTCP* first = accepted();
  log.clear();
  EXPECT_TRUE(closedByPeer(peer()));  // the limit of 1 still holds
  EXPECT_EQ(log.text(), "Warning: Max client count reached, closing incomming request\n");
  EXPECT_EQ(m_recorder->count(), 1);
  EXPECT_EQ(m_server->clientsCount(), 1u);
  sendAll(m_peers[0], "x");
  char byte = 0;
  uint32_t length = 1;
  EXPECT_TRUE(first->readWithTimeout(&byte, length, 5));
  EXPECT_EQ(byte, 'x');
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
  EXPECT_TRUE(closedByPeer(peer()));
  EXPECT_EQ(m_recorder->count(), 0);
  EXPECT_EQ(m_server->clientsCount(), 0u);
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
// One accepted connection and its raw peer.

class IOSocketTCPStreamTest : public TcpServerTest
{
protected:
  void SetUp() override
  {
    startServer();
    m_client = accepted();
    ASSERT_NE(m_client, nullptr);
    m_peer = m_peers[0];
  }
  std::string read(uint32_t capacity, bool expected, unsigned int timeout = 1)
  {
    std::string bytes(capacity, '\0');
    EXPECT_EQ(m_client->readWithTimeout(&bytes[0], capacity, timeout), expected);
    return bytes.substr(0, capacity);
  }
  IOSocketTCP* m_client = nullptr;
  int m_peer = -1;
};

TEST_F(IOSocketTCPStreamTest, ReadTimeOutReturnsWhatArrivedAndKeepsTheConnection)
{
  sendAll(m_peer, "abc");
  LogCapture log("%S: %m\n", NET_LINES);
  EXPECT_EQ(read(10, true), "abc");
  EXPECT_EQ(log.text(), "Error: Socket read timeout\n");
  EXPECT_EQ(read(10, false), "");
  EXPECT_TRUE(m_client->isIOConnected());
  sendAll(m_peer, "d");
  EXPECT_EQ(read(1, true), "d");
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

TEST_F(IOSocketTCPStreamTest, ZeroLengthReadsAndPlainStreamCallsMakeNoReadinessWait)
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
  SystemCalls::recv = ::recv;
  sendAll(m_peer, "1234");
  char bytes[4];
  EXPECT_TRUE(m_client->readIOExact(bytes, 4));
  EXPECT_TRUE(m_client->writeIO("ok", 2));
  EXPECT_EQ(recv(m_peer, bytes, 2, MSG_WAITALL), 2);
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

TEST_F(IOSocketTCPStreamTest, ReadDataFillsExactlyTheLengthAndReadinessFollowsArrivingBytes)
{
  EXPECT_FALSE(m_client->isReadable());
  sendAll(m_peer, "0123456789");
  EXPECT_TRUE(waitUntil([&] { return m_client->isReadable(); }));
  BaseBuffer* data = new (eRetainAutorelease) BaseBuffer("old", 3);
  EXPECT_TRUE(m_client->read_data(data, 6));
  EXPECT_EQ(std::string((const char*)data->bytes(), data->length()), "012345");
  m_client->closeIO();
  EXPECT_FALSE(m_client->isReadable());
}

// ---------------------------------------------------------------------------------------
// Client side

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
  startServer();
  m_server->closeIO();
  log.clear();
  EXPECT_FALSE(driver->connect_socket("127.0.0.1", m_port));
  EXPECT_EQ(log.text(), "Error: unable to connect to 127.0.0.1 : " + std::to_string(m_port) + "\n");
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
