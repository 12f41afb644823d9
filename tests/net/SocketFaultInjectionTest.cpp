// Faults that a kernel or a peer produces rarely and never on demand, injected through the
// system-call table: interrupted calls, short reads and writes, accepts that fail for lack
// of descriptors, sends and receives that fail for good. Each case checks the documented
// result and that nothing is left behind: descriptors (/proc/self/fd) and threads
// (/proc/self/task) come back to what they were.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/IOSocketTCP.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "runtime/SystemCalls.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

const char* const NET_LINES = "I|src/net/";

// True when the peer's end has gone: a read sees the end of the stream or a reset.
bool connectionEnded(int fd)
{
  struct pollfd watched = {fd, POLLIN, 0};
  if (poll(&watched, 1, 5000) != 1) return false;
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0 || errno == ECONNRESET;
}

// A pattern that shows a lost, doubled or reordered byte.
std::string pattern(size_t length)
{
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = char('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

std::string receiveExactly(int fd, size_t length)
{
  std::string bytes(length, '\0');
  size_t received = 0;
  while (received < length) {
    ssize_t count = recv(fd, &bytes[received], length - received, 0);
    if (count <= 0) break;
    received += size_t(count);
  }
  bytes.resize(received);
  return bytes;
}

// Test names after the injected error: EMFILE, EPIPE...
std::string errorName(const ::testing::TestParamInfo<int>& info)
{
  return strerrorname_np(info.param);
}

// The descriptor that faults are injected on; every other one sees the native calls.
std::atomic<int> g_target{-1};
std::atomic<int> g_countdown{0};
std::atomic<int> g_error{0};
std::atomic<int> g_calls{0};

// A server on 127.0.0.1 with one accepted client and its raw peer.
class SocketFaultTest : public TcpServerTest
{
protected:
  void SetUp() override
  {
    g_target = -1;
    g_countdown = 0;
    g_error = 0;
    g_calls = 0;
    // Runtimes start helpers of their own with the first thread (a sanitizer's background
    // thread): they are there before the count, not counted as left behind.
    std::thread([] {}).join();
    m_descriptors = openDescriptors();
    m_threads = settledThreads();
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
    m_client = accepted();
    ASSERT_NE(m_client, nullptr);
    m_peer = m_peers[0];
    g_target = m_client->getSocketfd();
  }

  IOSocketTCP* m_client = nullptr;
  int m_peer = -1;
  int m_descriptors = 0;
  int m_threads = 0;
};

// ---------------------------------------------------------------------------------------
// Interrupted calls and short transfers: the call goes on, no byte is lost or doubled.

using InterruptedCallsTest = SocketFaultTest;

TEST_F(InterruptedCallsTest, InterruptedWaitsGoOnWithinTheirTimeOut)
{
  connectPair();
  // Every second wait on the connection is interrupted before it could report anything.
  SystemCalls::poll = [](struct pollfd* fds, nfds_t count, int timeoutMs) -> int {
    if (fds[0].fd == g_target.load() && g_calls.fetch_add(1) % 2 == 0) {
      errno = EINTR;
      return -1;
    }
    return ::poll(fds, count, timeoutMs);
  };
  LogCapture log("%S: %m\n", NET_LINES);
  sendAll(m_peer, "ping");
  char bytes[4];
  uint32_t length = sizeof bytes;
  EXPECT_TRUE(m_client->readWithTimeout(bytes, length, 5));
  EXPECT_EQ(std::string(bytes, length), "ping");
  EXPECT_TRUE(m_client->writeWithTimeout("pong", 4, 5));
  EXPECT_EQ(receiveExactly(m_peer, 4), "pong");
  EXPECT_GE(g_calls.load(), 2);
  EXPECT_TRUE(m_client->isIOConnected());
  EXPECT_EQ(log.text(), "");
}

TEST_F(InterruptedCallsTest, InterruptedAndShortSendsDeliverEveryByteInOrder)
{
  connectPair();
  // Interrupted, then a few bytes, then interrupted again...: whatever the kernel does
  // between the two, the peer reads the block exactly once.
  SystemCalls::send = [](int fd, const void* bytes, size_t length, int flags) -> ssize_t {
    if (fd != g_target.load()) return ::send(fd, bytes, length, flags);
    int call = g_calls.fetch_add(1);
    if (call % 3 == 0) {
      errno = EINTR;
      return -1;
    }
    return ::send(fd, bytes, std::min(length, size_t(1 + call * 37 % 5000)), flags);
  };
  const std::string block = pattern(300000);
  std::string received;
  std::thread reader([&] { received = receiveExactly(m_peer, block.size() * 2); });
  LogCapture log("%S: %m\n", NET_LINES);
  EXPECT_TRUE(m_client->writeWithTimeout(block.data(), uint32_t(block.size()), 5));
  EXPECT_TRUE(m_client->writeIO(block.data(), uint32_t(block.size())));
  reader.join();
  EXPECT_TRUE(received == block + block) << "bytes lost, doubled or reordered";
  EXPECT_TRUE(m_client->isIOConnected());
  EXPECT_EQ(log.text(), "");
}

TEST_F(InterruptedCallsTest, InterruptedAndShortReceivesFillTheRequestedLength)
{
  connectPair();
  // A receive takes at most 3 bytes, and every fourth is interrupted.
  SystemCalls::recv = [](int fd, void* buffer, size_t length, int flags) -> ssize_t {
    if (fd != g_target.load()) return ::recv(fd, buffer, length, flags);
    if (g_calls.fetch_add(1) % 4 == 3) {
      errno = EINTR;
      return -1;
    }
    return ::recv(fd, buffer, std::min(length, size_t(3)), flags);
  };
  // Small reads go through the read-ahead block, large ones straight into the caller's
  // buffer; plain stream reads make no readiness wait. All of them must come out whole.
  const std::string bytes = pattern(10 + 10000 + 77);
  std::thread writer([&] { sendAll(m_peer, bytes); });
  LogCapture log("%S: %m\n", NET_LINES);
  std::string small(10, '\0'), large(10000, '\0'), plain(77, '\0');
  uint32_t length = uint32_t(small.size());
  EXPECT_TRUE(m_client->readWithTimeout(&small[0], length, 5));
  EXPECT_EQ(length, small.size());
  length = uint32_t(large.size());
  EXPECT_TRUE(m_client->readWithTimeout(&large[0], length, 5));
  EXPECT_EQ(length, large.size());
  EXPECT_TRUE(m_client->readIOExact(&plain[0], uint32_t(plain.size())));
  writer.join();
  EXPECT_TRUE(small + large + plain == bytes) << "bytes lost, doubled or reordered";
  EXPECT_TRUE(m_client->isIOConnected());
  EXPECT_EQ(log.text(), "");
}

TEST_F(InterruptedCallsTest, InterruptedConnectStillConnects)
{
  startServer();
  // The signal came after the connection was under way, as it does while the handshake
  // is waited for; the connection goes on in the kernel.
  SystemCalls::connect = [](int fd, const struct sockaddr* address, socklen_t length) -> int {
    g_calls.fetch_add(1);
    if (::connect(fd, address, length) != 0) return -1;
    errno = EINTR;
    return -1;
  };
  IOSocketTCP* driver = new IOSocketTCP();
  LogCapture log("%S: %m\n", "W|src/net/");
  EXPECT_TRUE(driver->connect_socket("127.0.0.1", m_port));
  EXPECT_EQ(g_calls.load(), 1);
  EXPECT_TRUE(driver->isIOConnected());
  EXPECT_TRUE(waitUntil([&] { return m_recorder->count() == 1; }));
  EXPECT_TRUE(driver->writeIO("ok", 2));
  EXPECT_EQ(log.text(), "");
  driver->release();
}

// ---------------------------------------------------------------------------------------
// Accepts that fail: a peer's abort or a signal is tried again at once, a lack of
// descriptors or memory after a pause, anything else ends the loop.

struct AcceptFailure
{
  int error;
  bool pauses;
  bool goesOn;
};

void PrintTo(const AcceptFailure& failure, std::ostream* out)
{
  *out << strerrorname_np(failure.error);
}

class AcceptFailureTest : public SocketFaultTest, public ::testing::WithParamInterface<AcceptFailure>
{
};

std::atomic<int64_t> g_failureTimes[3];

TEST_P(AcceptFailureTest, LoopGoesOnAfterAPauseOrEnds)
{
  const AcceptFailure& failure = GetParam();
  g_countdown = 3;
  g_error = failure.error;
  SystemCalls::accept4 = [](int fd, struct sockaddr* address, socklen_t* length, int flags) -> int {
    int left = g_countdown.fetch_sub(1);
    if (left <= 0) return ::accept4(fd, address, length, flags);
    // As the real failure does: the connection stays queued, the socket readable.
    if (left <= 3)
      g_failureTimes[3 - left] = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
    errno = g_error.load();
    return -1;
  };
  startServer();
  LogCapture log("%S: %m\n", NET_LINES);
  const std::string line = "Error: Socket Accept error : " + std::to_string(failure.error) + "\n";
  if (!failure.goesOn) {
    // The loop has ended: a running one would go on failing, and its stop would be logged.
    peer();
    EXPECT_TRUE(waitUntil([&] { return log.contains(line); }));
    EXPECT_TRUE(m_server->isServerStarted());
    EXPECT_TRUE(m_server->closeIO());
    EXPECT_EQ(log.text(), line);
    return;
  }
  ASSERT_NE(accepted(), nullptr);
  EXPECT_EQ(m_server->clientsCount(), 1u);
  std::string text = log.text();
  int failures = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++failures;
  EXPECT_EQ(failures, 3);
  // A readable socket that cannot be accepted would otherwise be retried at once, over
  // and over: the failures must be spread out (a lower bound, which no slow machine breaks).
  if (failure.pauses) EXPECT_GE(g_failureTimes[2].load() - g_failureTimes[0].load(), 150);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, AcceptFailureTest,
    ::testing::Values(AcceptFailure{EINTR, false, true}, AcceptFailure{ECONNABORTED, false, true},
                      AcceptFailure{EMFILE, true, true}, AcceptFailure{ENFILE, true, true},
                      AcceptFailure{ENOBUFS, true, true}, AcceptFailure{ENOMEM, true, true},
                      AcceptFailure{EINVAL, false, false}),
    [](const ::testing::TestParamInfo<AcceptFailure>& info) {
      return std::string(strerrorname_np(info.param.error));
    });

TEST_F(SocketFaultTest, ServerThatCannotAcceptClosesCleanly)
{
  SystemCalls::accept4 = [](int, struct sockaddr*, socklen_t*, int) -> int {
    g_calls.fetch_add(1);
    errno = EMFILE;
    return -1;
  };
  startServer();
  m_peer = connectRaw(m_port);
  m_peers.push_back(m_peer);
  ASSERT_TRUE(waitUntil([] { return g_calls.load() >= 2; }));
  EXPECT_TRUE(m_server->isThreadRunning());
  EXPECT_TRUE(m_server->closeIO());
  EXPECT_FALSE(m_server->isThreadRunning());
  EXPECT_EQ(m_server->getSocketfd(), -1);
  // The connection never accepted is reset once the listening socket is gone.
  EXPECT_TRUE(connectionEnded(m_peer));
}

// ---------------------------------------------------------------------------------------
// Sends and receives that fail for good: the documented result, the connection closed,
// its descriptor given back, the peer told.

class BrokenSendTest : public SocketFaultTest, public ::testing::WithParamInterface<int>
{
};
class BrokenReceiveTest : public SocketFaultTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(BrokenSendTest, FailingSendAfterPartOfTheBlockClosesTheConnection)
{
  connectPair();
  int open = openDescriptors();
  // The first send takes a few bytes, the next one fails.
  SystemCalls::send = [](int fd, const void* bytes, size_t length, int flags) -> ssize_t {
    if (fd != g_target.load()) return ::send(fd, bytes, length, flags);
    if (g_calls.fetch_add(1) == 0) return ::send(fd, bytes, std::min(length, size_t(5)), flags);
    errno = g_error.load();
    return -1;
  };
  g_error = GetParam();
  LogCapture log("%S: %m\n", NET_LINES);
  const std::string block = pattern(20000);
  EXPECT_FALSE(m_client->writeWithTimeout(block.data(), uint32_t(block.size()), 5));
  EXPECT_EQ(log.text(), std::string("Error: Socket write error : ") + strerror(GetParam()) + "\n");
  EXPECT_FALSE(m_client->isIOConnected());
  EXPECT_EQ(m_client->getSocketfd(), -1);
  EXPECT_EQ(openDescriptors(), open - 1);
  EXPECT_EQ(receiveExactly(m_peer, block.size()), block.substr(0, 5));  // then the end
  // Nothing more reaches the system for a closed driver.
  int calls = g_calls.load();
  EXPECT_FALSE(m_client->writeIO("x", 1));
  EXPECT_FALSE(m_client->writeWithTimeout("x", 1, 1));
  EXPECT_EQ(g_calls.load(), calls);
}

TEST_P(BrokenReceiveTest, FailingReceiveClosesTheConnection)
{
  connectPair();
  int open = openDescriptors();
  SystemCalls::recv = [](int fd, void* buffer, size_t length, int flags) -> ssize_t {
    if (fd != g_target.load()) return ::recv(fd, buffer, length, flags);
    g_calls.fetch_add(1);
    errno = g_error.load();
    return -1;
  };
  g_error = GetParam();
  LogCapture log("%S: %m\n", NET_LINES);
  char bytes[4];
  uint32_t length = sizeof bytes;
  EXPECT_FALSE(m_client->readIO(bytes, length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(log.text(), std::string("Error: Socket read error : ") + strerror(GetParam()) + "\n");
  EXPECT_EQ(m_client->endReason(), IOSocketAbstract::eEndVanished);
  EXPECT_FALSE(m_client->isIOConnected());
  EXPECT_EQ(m_client->getSocketfd(), -1);
  EXPECT_EQ(openDescriptors(), open - 1);
  EXPECT_TRUE(closedByPeer(m_peer));
  length = sizeof bytes;
  EXPECT_FALSE(m_client->readWithTimeout(bytes, length, 1));
  EXPECT_EQ(g_calls.load(), 1);  // the later reads failed without asking the system
}

INSTANTIATE_TEST_SUITE_P(Errors, BrokenSendTest, ::testing::Values(EPIPE, ECONNRESET), errorName);
// A reset, or a peer that vanished and whose probes went unanswered.
INSTANTIATE_TEST_SUITE_P(Errors, BrokenReceiveTest, ::testing::Values(ECONNRESET, ETIMEDOUT), errorName);

// ---------------------------------------------------------------------------------------
// A session whose reply fails halfway through the object, sent from its receive thread as
// the bridge sends: the session ends once, its thread returns, its descriptor is given back.

class ReplyingDelegate : public DistantObjectDelegate
{
public:
  void handleIncommingObject(BaseObject*, DistantObjectsCenter* session) override
  {
    // Larger than the session's write block, so that part of it is sent before the failure.
    BaseDictionary* reply = new (eRetainAutorelease) BaseDictionary();
    reply->setObjectForKey(new (eRetainAutorelease) BaseString(pattern(60000).c_str()),
                           new (eRetainAutorelease) BaseString("payload"));
    session->sendObject(reply);
    replies.fetch_add(1);
  }
  void connectionDidTerminate(DistantObjectsCenter*) override { ends.fetch_add(1); }

  std::atomic<int> replies{0};
  std::atomic<int> ends{0};
};

using SessionSendFailureTest = SocketFaultTest;

TEST_F(SessionSendFailureTest, ReplyFailingMidObjectEndsTheSessionOnce)
{
  startServer();
  IOSocketTCP* appDriver = new IOSocketTCP();
  ASSERT_TRUE(appDriver->connect_socket("127.0.0.1", m_port));
  ASSERT_TRUE(waitUntil([&] { return m_recorder->count() == 1; }));
  m_server->lockClients();
  IOSocketTCP* bridgeDriver = static_cast<IOSocketTCP*>(m_server->clientAtIndex(0));
  m_server->unlockClients();
  g_target = bridgeDriver->getSocketfd();
  SystemCalls::send = [](int fd, const void* bytes, size_t length, int flags) -> ssize_t {
    if (fd != g_target.load()) return ::send(fd, bytes, length, flags);
    if (g_calls.fetch_add(1) == 0) return ::send(fd, bytes, std::min(length, size_t(1000)), flags);
    errno = EPIPE;
    return -1;
  };
  int open = openDescriptors();

  DistantObjectsCenter* app = new DistantObjectsCenter(appDriver);
  DistantObjectsCenter* bridge = new DistantObjectsCenter(bridgeDriver);
  ReplyingDelegate* delegate = new ReplyingDelegate();
  bridge->setDistantObjectDelegate(delegate);  // starts its receive thread
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(new (eRetainAutorelease) BaseString("position"),
                           new (eRetainAutorelease) BaseString("cmd_id"));
  app->sendObject(request);

  EXPECT_TRUE(waitUntil([&] { return delegate->ends.load() == 1; }));
  EXPECT_EQ(delegate->replies.load(), 1);
  EXPECT_TRUE(bridge->isClosed());
  EXPECT_EQ(openDescriptors(), open - 1);
  // The app sees the connection end instead of a whole object.
  appDriver->setReadDeadline(5000);
  EXPECT_EQ(app->getSerializer()->unserializeObjectFromIO(), nullptr);
  EXPECT_FALSE(appDriver->isIOConnected());

  bridge->stopThread();
  EXPECT_EQ(delegate->ends.load(), 1);
  bridge->release();
  app->release();
  appDriver->release();
  delegate->release();
}

}  // namespace
