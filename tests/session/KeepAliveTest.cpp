// A peer that vanishes without closing (a phone leaving the network) must not hold its
// session for ever. The server runs in one private network namespace and the client in
// another, joined by a veth pair; taking the client's end down leaves the server's socket
// without FIN or RST, so only keep-alive can end it. Root only: skipped otherwise.
#include <fcntl.h>
#include <sched.h>

#include <cstdlib>

#include "net/IOSocketAbstract.h"
#include "net/SocketTestSupport.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

const auto run = [](const std::string& command) {
  return system((command + " >/dev/null 2>&1").c_str()) == 0;
};

// Runs `work` on the calling thread inside the named namespace. Sockets keep the namespace
// they were made in, and threads started meanwhile inherit it.
bool inNamespace(const std::string& name, const std::function<void()>& work)
{
  int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  bool entered = home != -1 && target != -1 && setns(target, CLONE_NEWNET) == 0;
  if (entered) work();
  if (entered && setns(home, CLONE_NEWNET) != 0) std::abort();  // the test thread must not stay behind
  close(home);
  close(target);
  return entered;
}

// Keeps the one connection it is handed and drops it when its loop ends, as the bridge does.
class KeepingDelegate : public DistantObjectDelegate
{
public:
  void handleIncommingConnections(DistantObjectsCenter* session) override
  {
    session->retain(), m_session = session;
    session->setDistantObjectDelegate(this);
  }
  void connectionDidTerminate(DistantObjectsCenter*) override
  {
    BaseObject::release(m_session.exchange(nullptr)), ends++;
  }
  // Test thread, after the server is closed: a session still kept is joined and dropped.
  void retire()
  {
    if (DistantObjectsCenter* session = m_session.exchange(nullptr))
      session->closeAndWait(), session->release();
  }
  std::atomic<int> ends{0};
  std::atomic<DistantObjectsCenter*> m_session{nullptr};
};

// Two namespaces, A (server, 10.77.0.1) and B (client, 10.77.0.2), joined by the veth pair
// vA-vB; deleting the namespaces deletes the pair.
class KeepAliveTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    const std::string a = "ip -n " + m_a, b = "ip -n " + m_b;
    for (const std::string& command :
         {"ip netns add " + m_a, "ip netns add " + m_b,
          a + " link add vA type veth peer name vB netns " + m_b, a + " addr add 10.77.0.1/30 dev vA",
          a + " link set vA up", b + " addr add 10.77.0.2/30 dev vB", b + " link set vB up"})
      if (!run(command)) GTEST_SKIP() << "no network namespaces with veth pairs here";
    m_logins->setMode(0);
    DistantObjectsCenter::setKeepAlive(1, 1, 2);
  }
  void TearDown() override
  {
    if (m_client) m_client->close(), m_client->release();
    if (m_server)
      m_server->close(), m_delegate->retire(), m_server->setDistantObjectDelegate(nullptr),
          m_server->release();
    m_delegate->release();
    m_logins->setMode(m_savedMode);
    DistantObjectsCenter::setKeepAlive(15, 5, 3);
    run("ip netns del " + m_a), run("ip netns del " + m_b);
  }

  BaseAutorelease m_pool;
  LogCapture m_log{"%S: %m\n", "E|src/session/DistantObjectsCenter"};
  const std::string m_a = "corvane-ka-a-" + std::to_string(getpid()),
                    m_b = "corvane-ka-b-" + std::to_string(getpid());
  LoginManager* m_logins = LoginManager::SharedManager(6, nullptr);
  const int m_savedMode = m_logins->getMode();
  KeepingDelegate* m_delegate = new KeepingDelegate();
  DistantObjectsCenter *m_server = nullptr, *m_client = nullptr;
};

TEST_F(KeepAliveTest, VanishedPeerFreesItsSession)
{
  uint16_t port = 0;
  ASSERT_TRUE(inNamespace(m_a, [&] {
    (m_server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr))->retain();
    m_server->setDistantObjectDelegate(m_delegate);
    port = boundPort(static_cast<IOSocketAbstract*>(m_server->getDriver())->getSocketfd());
  }));
  int unconnected = m_delegate->getRetainCount();
  ASSERT_TRUE(inNamespace(m_b, [&] {
    m_client = DistantObjectsCenter::newTCPClient(new (eRetainAutorelease) BaseString("10.77.0.1"), port);
    BaseObject::retain(m_client);
  }));
  ASSERT_NE(m_client, nullptr);
  ASSERT_EQ(m_client->performLogin(nullptr, nullptr, nullptr), LoginManager::eLoginOK);
  ASSERT_TRUE(waitUntil([&] { return m_delegate->m_session.load() != nullptr; }));
  ASSERT_TRUE(run("ip -n " + m_b + " link set vB down"));  // silently: no FIN, no RST
  // One second idle, then two probes a second apart: about three seconds.
  EXPECT_TRUE(waitUntil([&] { return m_delegate->ends.load() == 1; }, 12000));
  EXPECT_TRUE(m_log.contains("Error: connection broken, bailling ...\n"));
  EXPECT_TRUE(
      waitUntil([&] { return m_delegate->getRetainCount() == unconnected; }));  // let go by the session
}

}  // namespace
