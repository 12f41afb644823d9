#include "net/IOSocketTCP.h"

#include "io/BaseBuffer.h"
#include "net/SocketTestSupport.h"
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
  for (auto option : {platform::eOptionReuseAddress, platform::eOptionSendBuffer, platform::eOptionReceiveBuffer}) {
    int value = 0;
    platform::getSocketOption(driver->getSocketfd(), option, &value);
    EXPECT_GE(value, option == platform::eOptionReuseAddress ? 1 : IOSocketTCP::SOCKET_BUFFER_SIZE) << option;
  }
  EXPECT_EQ(log.text(), "");
  platform::SystemCalls::setOption = [](SocketHandle, platform::eSocketOption, int) {
    return platform::setLastSocketError(ENOPROTOOPT), -1;
  };
  driver = new (eRetainAutorelease) IOSocketTCP();
  driver->setSocketAddress(nullptr, 0);
  std::string line = "Error: Set socket options error (" + std::to_string(ENOPROTOOPT) + ")\n";
  EXPECT_EQ(log.text(), line + line + line);
  log.clear();
  ASSERT_TRUE(driver->createServer());
  EXPECT_FALSE(driver->isIOConnected());
  EXPECT_EQ(log.text(), "Info: setting socket as server on port 0\n");
  char ours[32];
  driver->getOurAddress(ours, sizeof ours);
  EXPECT_STREQ(ours, "0.0.0.0");
  driver->closeIO();
}

// Past the maximum of 1, a client is refused; options of a running server are ignored.
TEST_F(IOSocketTCPTest, AcceptedClientIsAnnouncedWithTheServerAsContextAndOnlyUpToTheMaximum)
{
  startServer(1);
  LogCapture log("%S: %m\n", NET_LINES);
  m_server->setServerOptions(nullptr, 0);
  unsigned int countSeen = 0;  // the subscriber runs before the client list can change again
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
  EXPECT_TRUE(closedByPeer(peer()));
  EXPECT_EQ(log.text(),
            "Warning: server already started, options will be ignored\nInfo: New client connected (" +
                std::to_string(client->getSocketfd()) +
                ")\nWarning: Max client count reached, closing incomming request\n");
  EXPECT_EQ(m_recorder->count(), 1);
  client->retain();
  m_server->closeIO();  // releases the list but not the clients
  EXPECT_EQ(m_server->clientsCount(), 0u);
  EXPECT_EQ(m_server->clientAtIndex(0), nullptr);
  EXPECT_EQ(client->getRetainCount(), 1);
  EXPECT_TRUE(client->isIOConnected());
  client->release();
  EXPECT_TRUE(closedByPeer(m_peers[0]));
}

// The loop's own wait is 2 s; a woken loop ends at once.
TEST_F(IOSocketTCPTest, StoppingAnIdleServerDoesNotWaitForTheAcceptPeriod)
{
  startServer();
  auto start = std::chrono::steady_clock::now();
  LogCapture log("%S: %m\n", NET_LINES);
  EXPECT_TRUE(m_server->closeIO());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(log.text(), "Error: Server loop finished but socket was not closed correctly.\n");
  EXPECT_FALSE(m_server->isServerStarted());
  EXPECT_EQ(m_server->getSocketfd(), platform::INVALID_SOCKET_HANDLE);
}

class NoDriverTCP : public IOSocketTCP
{
public:
  ~NoDriverTCP() override { closeIO(); }  // the worker calls our override
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
  IOSocketTCP *shut = accepted(), *limited = accepted();
  ASSERT_TRUE(shut && limited);
  EXPECT_EQ(shut->endReason(), IOSocketAbstract::eEndNone);
  shut->shutdownIO();
  EXPECT_FALSE(shut->writeIO("z", 1));  // SIGPIPE keeps its default action: raised, it would end us
  limited->setReadLimit(0);
  char byte;
  uint32_t one = 1, other = 1;
  EXPECT_FALSE(shut->readIO(&byte, one));
  EXPECT_FALSE(limited->readIO(&byte, other));
  EXPECT_EQ(shut->endReason(), IOSocketAbstract::eEndLocal);
  EXPECT_EQ(limited->endReason(), IOSocketAbstract::eEndOther);
}

// One accepted connection and its raw peer.
class IOSocketTCPStreamTest : public TcpServerTest
{
protected:
  void SetUp() override
  {
    startServer();
    ASSERT_NE(m_client = accepted(), nullptr);
    m_peer = m_peers[0];
  }
  std::string read(uint32_t capacity, bool expected, unsigned int timeout = 1)
  {
    std::string bytes(capacity, '\0');
    EXPECT_EQ(m_client->readWithTimeout(&bytes[0], capacity, timeout), expected);
    return bytes.substr(0, capacity);
  }
  static std::string text(BaseBuffer* buffer)
  {
    return std::string((const char*)buffer->bytes(), buffer->length());
  }
  IOSocketTCP* m_client = nullptr;
  SocketHandle m_peer = platform::INVALID_SOCKET_HANDLE;
};

TEST_F(IOSocketTCPStreamTest, ReadsStopAtTimeOutsLimitsAndTerminatorsAndKeepTheConnection)
{
  EXPECT_FALSE(m_client->isReadable());
  sendAll(m_peer, "abc");
  EXPECT_TRUE(waitUntil([&] { return m_client->isReadable(); }));
  LogCapture log("%S: %m\n", NET_LINES);
  EXPECT_EQ(read(10, true), "abc");
  EXPECT_EQ(log.text(), "Error: Socket read timeout\n");
  EXPECT_EQ(read(10, false), "");
  BaseBuffer* line = new (eRetainAutorelease) BaseBuffer("old", 3);
  sendAll(m_peer, "0123456789");
  EXPECT_TRUE(m_client->read_data(line, 6));
  EXPECT_EQ(text(line), "012345");
  sendAll(m_peer, "123\r\n12345678\r\n");
  EXPECT_TRUE(m_client->readUpToWithMax("\r\n", line, 1, 10));
  EXPECT_EQ(text(line), "6789123\r\n");
  log.clear();
  EXPECT_FALSE(m_client->readUpToWithMax("\r\n", line, 1, 10));
  EXPECT_EQ(log.text(), "Error: result too long : 10\n");
  log.clear();
  sendAll(m_peer, "ab\nno end");
  EXPECT_TRUE(m_client->readUpTo("\n", line, 0));
  EXPECT_EQ(line->length(), 3u);
  EXPECT_FALSE(m_client->readUpTo("\n", line, 1));
  EXPECT_EQ(log.text(), "Error: Socket read timeout\nError: readWithTimeout returned false\n");
  EXPECT_TRUE(m_client->isIOConnected());
  m_client->closeIO();
  EXPECT_FALSE(m_client->isReadable());
}

TEST_F(IOSocketTCPStreamTest, ZeroLengthReadsMakeNoCallAndPeerClosingEndsTheStream)
{
  using platform::SystemCalls;
  SystemCalls::recv = [](SocketHandle, void*, size_t) -> ptrdiff_t { return ADD_FAILURE() << "recv", -1; };
  SystemCalls::poll = [](platform::PollEntry*, unsigned int, int) { return ADD_FAILURE() << "poll", -1; };
  uint32_t length = 0;
  EXPECT_TRUE(m_client->readWithTimeout(nullptr, length, 1));
  EXPECT_TRUE(m_client->readIO(nullptr, length));
  SystemCalls::recv = platform::receiveBytes;
  sendAll(m_peer, "1234");
  char bytes[4];
  EXPECT_TRUE(m_client->readIOExact(bytes, 4));  // plain stream calls make no readiness wait
  EXPECT_TRUE(m_client->writeIO("ok", 2));
  sendAll(m_peer, "xy");
  platform::shutdownSocket(m_peer);
  LogCapture log("%S: %m\n", NET_LINES);
  EXPECT_TRUE(m_client->readIO(bytes, length = 4));  // what arrived, then the end
  EXPECT_EQ(length, 2u);
  EXPECT_FALSE(m_client->isIOConnected());
  EXPECT_EQ(m_client->endReason(), IOSocketAbstract::eEndPeerClosed);
  EXPECT_EQ(m_client->getSocketfd(), platform::INVALID_SOCKET_HANDLE);
  EXPECT_EQ(log.text(), "");
  EXPECT_FALSE(m_client->readIO(bytes, length = 4));
  EXPECT_FALSE(m_client->writeIO("z", 1));
}

TEST_F(IOSocketTCPStreamTest, WriteTimeOutClosesTheConnection)
{
  LogCapture log("%S: %m\n", NET_LINES);
  std::vector<char> block(1 << 20, 'w');  // the peer never reads
  bool written = true;
  for (int i = 0; i < 64 && written; ++i) written = m_client->writeWithTimeout(block.data(), block.size(), 1);
  EXPECT_FALSE(written);
  EXPECT_EQ(m_client->endReason(), IOSocketAbstract::eEndVanished);
  EXPECT_EQ(log.text(), "Error: Socket write timeout\n");
}

TEST_F(IOSocketTCPTest, ClientConnectsOnceAndFailsOnUnknownHostsAndClosedPorts)
{
  LogCapture log("%S: %m\n", "W|src/net/");  // not the server's line about the new client
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  EXPECT_TRUE(driver->closeIO());
  char ours[32] = "junk";
  uint32_t length = 1;
  EXPECT_FALSE(driver->readWithTimeout(ours, length, 1));
  EXPECT_FALSE(driver->writeWithTimeout("x", 1, 1));
  driver->getOurAddress(ours, sizeof ours);
  EXPECT_STREQ(ours, "");
  EXPECT_EQ(driver->getRemoteAddress(), nullptr);
  EXPECT_EQ(log.text(), "Error: unable to get our address, socket not connected\n");
  // Empty labels are rejected by the resolver itself: no query leaves the machine.
  EXPECT_FALSE(driver->connect_socket("no..such..host", 80));
  EXPECT_FALSE(IOSocketAbstract::lookupHost("no..such..host", 80, nullptr));
  startServer();
  log.clear();
  ASSERT_TRUE(driver->connect_socket("127.0.0.1", m_port));
  EXPECT_FALSE(driver->openIO());
  driver->setSocketAddress("10.1.2.3", 1);
  EXPECT_EQ(log.text(),
            "Error: Socket is already connected to 127.0.0.1\n"
            "Error: can't set the address of a connected socket\n");
  driver->getOurAddress(ours, sizeof ours);
  EXPECT_STREQ(ours, "127.0.0.1");
  EXPECT_STREQ(driver->getRemoteAddress()->cString(), "127.0.0.1");
  EXPECT_TRUE(waitUntil([&] { return m_recorder->count() == 1; }));
  EXPECT_TRUE(driver->disconnect_socket());
  EXPECT_FALSE(driver->isIOConnected());
  m_server->closeIO();
  log.clear();
  EXPECT_FALSE(driver->connect_socket("127.0.0.1", m_port));
  EXPECT_EQ(log.text(), "Error: unable to connect to 127.0.0.1 : " + std::to_string(m_port) + "\n");
}

}  // namespace
