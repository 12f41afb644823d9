// Faults that a kernel or a peer produces rarely and never on demand, injected through the
// system-call table: interrupted calls, short reads and writes, accepts that fail for lack
// of descriptors, sends and receives that fail for good. Each case checks the documented
// result and that nothing is left behind: descriptors (/proc/self/fd) and threads
// (/proc/self/task) come back to what they were.
#include <cstring>

#include "net/SocketTestSupport.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"
#include "support/CaptureStream.h"

using namespace nettest;
using platform::SystemCalls;
using platform::setLastSocketError;

namespace {

const char* const NET_LINES = "I|src/net/";

// A pattern that shows a lost, doubled or reordered byte.
std::string pattern(size_t length)
{
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = char('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

std::string receiveExactly(SocketHandle fd, size_t length)
{
  std::string bytes(length, '\0');
  ptrdiff_t count = 0;
  for (size_t received = 0; received < length; received += size_t(count))
    if ((count = platform::receiveBytes(fd, &bytes[received], length - received)) <= 0)
      return bytes.substr(0, received);
  return bytes;
}

// Faults go to this descriptor only; every other one sees the native calls.
std::atomic<SocketHandle> g_target{platform::INVALID_SOCKET_HANDLE};
std::atomic<int> g_countdown{0}, g_error{0}, g_calls{0}, g_polls{0};
bool targeted(SocketHandle fd)
{
  return fd == g_target.load();
}

// A server on 127.0.0.1, with one accepted client and its raw peer after connectPair().
class SocketFaultTest : public TcpServerTest
{
protected:
  void SetUp() override
  {
    g_target = platform::INVALID_SOCKET_HANDLE, g_countdown = 0, g_error = 0, g_calls = 0, g_polls = 0;
    std::thread([] {}).join();  // a sanitizer's own thread is there before the count
    m_descriptors = openDescriptors(), m_threads = settledThreads();
  }
  void TearDown() override
  {
    TcpServerTest::TearDown();
    EXPECT_EQ(openDescriptors(), m_descriptors) << "descriptors left open";
    EXPECT_TRUE(waitUntil([&] { return threads() == m_threads; })) << "threads left running";
  }
  void connectPair()
  {
    startServer();
    ASSERT_NE(m_client = accepted(), nullptr);
    m_peer = m_peers[0];
    g_target = m_client->getSocketfd();
  }
  IOSocketTCP* m_client = nullptr;
  SocketHandle m_peer = platform::INVALID_SOCKET_HANDLE;
  int m_descriptors = 0, m_threads = 0;
};

TEST_F(SocketFaultTest, InterruptedWaitsAndShortInterruptedReceivesFillTheRequestedLength)
{
  connectPair();
  SystemCalls::poll = [](platform::PollEntry* fds, unsigned int count, int timeoutMs) -> int {
    if (targeted(fds[0].handle) && g_polls.fetch_add(1) % 2 == 0) return setLastSocketError(EINTR), -1;
    return platform::pollSockets(fds, count, timeoutMs);
  };
  // A receive takes at most 3 bytes, and every fourth is interrupted.
  SystemCalls::recv = [](SocketHandle fd, void* buffer, size_t length) -> ptrdiff_t {
    if (targeted(fd) && g_calls.fetch_add(1) % 4 == 3) return setLastSocketError(EINTR), -1;
    return platform::receiveBytes(fd, buffer, targeted(fd) ? std::min(length, size_t(3)) : length);
  };
  // Small reads go through the read-ahead block, large ones straight into the caller's
  // buffer; plain stream reads make no readiness wait. All of them must come out whole.
  const std::string bytes = pattern(10 + 10000 + 77);
  std::thread writer([&] { sendAll(m_peer, bytes); });
  LogCapture log("%S: %m\n", NET_LINES);
  std::string small(10, '\0'), large(10000, '\0'), plain(77, '\0');
  for (std::string* part : {&small, &large}) {
    uint32_t length = uint32_t(part->size());
    EXPECT_TRUE(m_client->readWithTimeout(&(*part)[0], length, 5));
    EXPECT_EQ(length, part->size());
  }
  EXPECT_TRUE(m_client->readIOExact(&plain[0], uint32_t(plain.size())));
  writer.join();
  EXPECT_TRUE(small + large + plain == bytes) << "bytes lost, doubled or reordered";
  EXPECT_TRUE(m_client->writeWithTimeout("pong", 4, 5));
  EXPECT_EQ(receiveExactly(m_peer, 4), "pong");
  EXPECT_GE(g_polls.load(), 2);
  EXPECT_TRUE(m_client->isIOConnected());
  EXPECT_EQ(log.text(), "");
}

TEST_F(SocketFaultTest, InterruptedAndShortSendsDeliverEveryByteInOrder)
{
  connectPair();
  SystemCalls::send = [](SocketHandle fd, const void* bytes, size_t length) -> ptrdiff_t {
    int call = targeted(fd) ? g_calls.fetch_add(1) : 1;
    if (call % 3 == 0) return setLastSocketError(EINTR), -1;
    return platform::sendBytes(fd, bytes, targeted(fd) ? std::min(length, size_t(1 + call * 37 % 5000)) : length);
  };
  const std::string block = pattern(300000);
  std::string received;
  std::thread reader([&] { received = receiveExactly(m_peer, block.size() * 2); });
  LogCapture log("%S: %m\n", NET_LINES);
  EXPECT_TRUE(m_client->writeWithTimeout(block.data(), uint32_t(block.size()), 5));
  EXPECT_TRUE(m_client->writeIO(block.data(), uint32_t(block.size())));
  reader.join();
  EXPECT_TRUE(received == block + block) << "bytes lost, doubled or reordered";
  EXPECT_EQ(log.text(), "");
}

TEST_F(SocketFaultTest, InterruptedConnectStillConnects)
{
  startServer();
  // The signal came after the connection was under way; it goes on in the kernel.
  SystemCalls::connect = [](SocketHandle fd, const void* address, unsigned int length) -> int {
    g_calls.fetch_add(1);
    return platform::connectSocket(fd, address, length) ? -1 : (setLastSocketError(EINTR), -1);
  };
  IOSocketTCP* driver = new (eRetainAutorelease) IOSocketTCP();
  LogCapture log("%S: %m\n", "W|src/net/");
  EXPECT_TRUE(driver->connect_socket("127.0.0.1", m_port));
  EXPECT_EQ(g_calls.load(), 1);
  EXPECT_TRUE(waitUntil([&] { return m_recorder->count() == 1; }));
  EXPECT_TRUE(driver->writeIO("ok", 2));
  EXPECT_EQ(log.text(), "");
  driver->closeIO();
}

// Accepts that fail: a peer's abort or a signal is tried again at once, a lack of
// descriptors or memory after a pause, anything else ends the loop.
using AcceptFailureTest = SocketFaultTest;
std::atomic<int64_t> g_failureTimes[3];

TEST_F(AcceptFailureTest, LoopGoesOnAfterAPauseOrEnds)
{
  SystemCalls::accept = [](SocketHandle fd, void* address, unsigned int* length) -> SocketHandle {
    int left = g_countdown.fetch_sub(1);
    if (left <= 0) return platform::acceptSocket(fd, address, length);
    g_failureTimes[(3 - left) % 3] = std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count();
    // The connection stays queued, the socket readable.
    return setLastSocketError(g_error.load()), platform::INVALID_SOCKET_HANDLE;
  };
  for (auto [error, pauses, goesOn] : {std::tuple{EINTR, false, true},
                                       {ECONNABORTED, false, true},
                                       {EMFILE, true, true},
                                       {ENFILE, true, true},
                                       {ENOBUFS, true, true},
                                       {ENOMEM, true, true},
                                       {EINVAL, false, false}}) {
    SCOPED_TRACE(platform::socketErrorText(error));
    g_countdown = 3, g_error = error;
    BaseObject::release(m_server);
    startServer();
    LogCapture log("%S: %m\n", NET_LINES);
    const std::string line = "Error: Socket Accept error : " + std::to_string(error) + "\n";
    if (!goesOn) {
      // The loop has ended: a running one would go on failing, and its stop would be logged.
      peer();
      EXPECT_TRUE(waitUntil([&] { return log.contains(line); }));
      EXPECT_TRUE(m_server->isServerStarted());
      EXPECT_TRUE(m_server->closeIO());
      EXPECT_EQ(log.text(), line);
      continue;
    }
    IOSocketTCP* client = accepted();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(m_server->clientsCount(), 1u);
    EXPECT_EQ(log.text(), line + line + line + "Info: New client connected (" +
                              std::to_string(client->getSocketfd()) + ")\n");
    // Failures retried at once, over and over, would spin: they must be spread out.
    EXPECT_GE(pauses ? g_failureTimes[2].load() - g_failureTimes[0].load() : 150, 150);
    m_server->closeIO();
  }
}

TEST_F(SocketFaultTest, ServerThatCannotAcceptClosesCleanly)
{
  SystemCalls::accept = [](SocketHandle, void*, unsigned int*) {
    return g_calls.fetch_add(1), setLastSocketError(EMFILE), platform::INVALID_SOCKET_HANDLE;
  };
  startServer();
  SocketHandle fd = peer();
  ASSERT_TRUE(waitUntil([] { return g_calls.load() >= 2; }));
  EXPECT_TRUE(m_server->isThreadRunning());
  EXPECT_TRUE(m_server->closeIO());
  EXPECT_FALSE(m_server->isThreadRunning());
  EXPECT_EQ(m_server->getSocketfd(), platform::INVALID_SOCKET_HANDLE);
  // The connection never accepted is reset once the listening socket is gone.
  platform::PollEntry watched = {fd, platform::ePollIn, 0};
  char byte;
  EXPECT_EQ(platform::pollSockets(&watched, 1, 5000), 1);
  EXPECT_TRUE(platform::receiveBytes(fd, &byte, 1) == 0 || platform::lastSocketError() == ECONNRESET);
}

// Sends and receives that fail for good: the documented result, the connection closed,
// its descriptor given back, the peer told, and nothing more asked of the system.
TEST_F(SocketFaultTest, FailingSendsAndReceivesCloseTheConnection)
{
  for (auto [sending, error] :
       {std::pair{true, EPIPE}, {true, ECONNRESET}, {false, ECONNRESET}, {false, ETIMEDOUT}}) {
    SCOPED_TRACE(platform::socketErrorText(error));
    SystemCalls::restore();
    g_calls = 0, g_error = error;
    if (m_server) m_server->closeIO(), BaseObject::release(m_server), platform::closeSocket(m_peer), m_peers.clear();
    connectPair();
    int open = openDescriptors();
    // The first send takes a few bytes, the next one fails.
    SystemCalls::send = [](SocketHandle fd, const void* bytes, size_t length) -> ptrdiff_t {
      if (!targeted(fd)) return platform::sendBytes(fd, bytes, length);
      return g_calls.fetch_add(1) == 0 ? platform::sendBytes(fd, bytes, std::min(length, size_t(5)))
                                       : (setLastSocketError(g_error), -1);
    };
    SystemCalls::recv = [](SocketHandle fd, void* buffer, size_t length) -> ptrdiff_t {
      return targeted(fd) ? (g_calls.fetch_add(1), setLastSocketError(g_error), -1)
                          : platform::receiveBytes(fd, buffer, length);
    };
    LogCapture log("%S: %m\n", NET_LINES);
    const std::string block = pattern(20000);
    char bytes[4];
    uint32_t length = sizeof bytes;
    EXPECT_FALSE(sending ? m_client->writeWithTimeout(block.data(), uint32_t(block.size()), 5)
                         : m_client->readIO(bytes, length));
    EXPECT_EQ(length, sending ? 4u : 0u);
    EXPECT_EQ(log.text(),
              std::string(sending ? "Error: Socket write error : " : "Error: Socket read error : ") +
                  platform::socketErrorText(error) + "\n");
    EXPECT_EQ(m_client->endReason(), IOSocketAbstract::eEndVanished);
    EXPECT_EQ(m_client->getSocketfd(), platform::INVALID_SOCKET_HANDLE);
    EXPECT_EQ(openDescriptors(), open - 1);
    EXPECT_EQ(receiveExactly(m_peer, block.size()), sending ? block.substr(0, 5) : "");  // then the end
    int calls = g_calls.load();
    EXPECT_FALSE(m_client->writeIO("x", 1));
    EXPECT_FALSE(m_client->writeWithTimeout("x", 1, 1));
    EXPECT_FALSE(m_client->readWithTimeout(bytes, length = 1, 1));
    EXPECT_FALSE(m_client->isIOConnected());
    EXPECT_EQ(g_calls.load(), calls);
  }
}

// A session whose reply fails halfway through the object, sent from its receive thread as
// the bridge sends: the session ends once, its thread returns, its descriptor is given back.
class ReplyingDelegate : public DistantObjectDelegate
{
public:
  void handleIncommingObject(BaseObject*, DistantObjectsCenter* session) override
  {
    // Larger than the session's write block, so that part of it is sent before the failure.
    BaseDictionary* reply = new (eRetainAutorelease) BaseDictionary();
    reply->setObjectForKey(new (eRetainAutorelease) BaseString(pattern(60000).c_str()), "payload");
    session->sendObject(reply);
    replies.fetch_add(1);
  }
  void connectionDidTerminate(DistantObjectsCenter*) override { ends.fetch_add(1); }
  std::atomic<int> replies{0}, ends{0};
};

TEST_F(SocketFaultTest, ReplyFailingMidObjectEndsTheSessionOnce)
{
  startServer();
  IOSocketTCP* appDriver = new IOSocketTCP();
  ASSERT_TRUE(appDriver->connect_socket("127.0.0.1", m_port));
  ASSERT_TRUE(waitUntil([&] { return m_recorder->count() == 1; }));
  IOSocketTCP* bridgeDriver = static_cast<IOSocketTCP*>(m_server->clientAtIndex(0));
  g_target = bridgeDriver->getSocketfd();
  SystemCalls::send = [](SocketHandle fd, const void* bytes, size_t length) -> ptrdiff_t {
    if (!targeted(fd)) return platform::sendBytes(fd, bytes, length);
    return g_calls.fetch_add(1) == 0 ? platform::sendBytes(fd, bytes, std::min(length, size_t(1000)))
                                     : (setLastSocketError(EPIPE), -1);
  };
  int open = openDescriptors();
  DistantObjectsCenter *app = new DistantObjectsCenter(appDriver),
                       *bridge = new DistantObjectsCenter(bridgeDriver);
  ReplyingDelegate* delegate = new ReplyingDelegate();
  bridge->setDistantObjectDelegate(delegate);  // starts its receive thread
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(new (eRetainAutorelease) BaseString("position"), "cmd_id");
  app->sendObject(request);
  EXPECT_TRUE(waitUntil([&] { return delegate->ends.load() == 1; }));
  EXPECT_EQ(delegate->replies.load(), 1);
  EXPECT_TRUE(bridge->isClosed());
  EXPECT_EQ(openDescriptors(), open - 1);
  appDriver->setReadDeadline(5000);  // the app sees the end instead of a whole object
  EXPECT_EQ(app->getSerializer()->unserializeObjectFromIO(), nullptr);
  EXPECT_FALSE(appDriver->isIOConnected());
  bridge->stopThread();
  EXPECT_EQ(delegate->ends.load(), 1);
  for (BaseObject* object : {(BaseObject*)bridge, (BaseObject*)app, (BaseObject*)appDriver})
    object->release();
  delegate->release();
}

}  // namespace
