// A peer that vanishes without closing (a phone leaving the network) must not hold its
// session for ever. The server runs in one private network namespace and the client in
// another, joined by a veth pair; taking the client's end down leaves the server's socket
// without FIN or RST, so only keep-alive can end it. Root only: skipped otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>

#include "net/IOSocketAbstract.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

bool run(const std::string& command)
{
  return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

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
    session->retain();
    m_session.store(session);
    session->setDistantObjectDelegate(this);
  }
  void connectionDidTerminate(DistantObjectsCenter*) override
  {
    BaseObject::release(m_session.exchange(nullptr));
    ends.fetch_add(1);
  }
  // Test thread, after the server is closed: a session still kept is joined and dropped.
  void retire()
  {
    DistantObjectsCenter* session = m_session.exchange(nullptr);
    if (!session) return;
    session->closeAndWait();
    session->release();
  }
  bool connected() const { return m_session.load() != nullptr; }

  std::atomic<int> ends{0};

private:
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
    m_made = run("ip netns add " + m_a) && run("ip netns add " + m_b) &&
             run("ip -n " + m_a + " link add vA type veth peer name vB netns " + m_b) &&
             run("ip -n " + m_a + " addr add 10.77.0.1/30 dev vA") &&
             run("ip -n " + m_a + " link set vA up") &&
             run("ip -n " + m_b + " addr add 10.77.0.2/30 dev vB") && run("ip -n " + m_b + " link set vB up");
    if (!m_made) GTEST_SKIP() << "no network namespaces with veth pairs here";
    m_logins->setMode(0);
    DistantObjectsCenter::setKeepAlive(1, 1, 2);
  }
  void TearDown() override
  {
    if (m_client) {
      m_client->close();
      m_client->release();
    }
    if (m_server) {
      m_server->close();
      m_delegate->retire();
      m_server->setDistantObjectDelegate(nullptr);
      m_server->release();
    }
    m_delegate->release();
    m_logins->setMode(m_savedMode);
    DistantObjectsCenter::setKeepAlive(15, 5, 3);
    run("ip netns del " + m_a);
    run("ip netns del " + m_b);
  }

  BaseAutorelease m_pool;
  LogCapture m_log{"%S: %m\n", "E|src/session/DistantObjectsCenter"};
  const std::string m_a = "corvane-ka-a-" + std::to_string(getpid()),
                    m_b = "corvane-ka-b-" + std::to_string(getpid());
  bool m_made = false;
  LoginManager* m_logins = LoginManager::SharedManager(6, nullptr);
  const int m_savedMode = m_logins->getMode();
  KeepingDelegate* m_delegate = new KeepingDelegate();
  DistantObjectsCenter* m_server = nullptr;
  DistantObjectsCenter* m_client = nullptr;
};

TEST_F(KeepAliveTest, VanishedPeerFreesItsSession)
{
  uint16_t port = 0;
  ASSERT_TRUE(inNamespace(m_a, [&] {
    m_server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
    m_server->retain();
    m_server->setDistantObjectDelegate(m_delegate);
    port = boundPort(static_cast<IOSocketAbstract*>(m_server->getDriver())->getSocketfd());
  }));
  ASSERT_NE(port, 0);
  int unconnected = m_delegate->getRetainCount();
  ASSERT_TRUE(inNamespace(m_b, [&] {
    m_client = DistantObjectsCenter::newTCPClient(new (eRetainAutorelease) BaseString("10.77.0.1"), port);
    BaseObject::retain(m_client);
  }));
  ASSERT_NE(m_client, nullptr);
  ASSERT_EQ(m_client->performLogin(nullptr, nullptr, nullptr), LoginManager::eLoginOK);
  ASSERT_TRUE(waitUntil([&] { return m_delegate->connected(); }));

  // The client's end goes away silently: no FIN, no RST.
  ASSERT_TRUE(run("ip -n " + m_b + " link set vB down"));
  // One second idle, then two probes a second apart: about three seconds.
  EXPECT_TRUE(waitUntil([&] { return m_delegate->ends.load() == 1; }, 12000));
  EXPECT_TRUE(m_log.contains("Error: connection broken, bailling ...\n"));
  // Destroyed: it has let its delegate go.
  EXPECT_TRUE(waitUntil([&] { return m_delegate->getRetainCount() == unconnected; }));
}

}  // namespace
