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

// Two named namespaces, A (server, 10.77.0.1) and B (client, 10.77.0.2), joined by the
// veth pair vA-vB; deleting the namespaces deletes the pair.
class NamespacePair
{
public:
  NamespacePair()
      : m_a("corvane-ka-a-" + std::to_string(getpid())), m_b("corvane-ka-b-" + std::to_string(getpid()))
  {
    m_ready =
        run("ip netns add " + m_a) && run("ip netns add " + m_b) &&
        run("ip -n " + m_a + " link add vA type veth peer name vB netns " + m_b) &&
        run("ip -n " + m_a + " addr add 10.77.0.1/30 dev vA") && run("ip -n " + m_a + " link set vA up") &&
        run("ip -n " + m_b + " addr add 10.77.0.2/30 dev vB") && run("ip -n " + m_b + " link set vB up");
  }
  ~NamespacePair()
  {
    run("ip netns del " + m_a);
    run("ip netns del " + m_b);
  }
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;

  bool ready() const { return m_ready; }
  const std::string& a() const { return m_a; }
  const std::string& b() const { return m_b; }
  // The client's end goes away silently.
  bool cutClientLink() { return run("ip -n " + m_b + " link set vB down"); }

private:
  std::string m_a;
  std::string m_b;
  bool m_ready;
};

// The calling thread works in the named namespace for the scope's lifetime. Sockets keep
// the namespace they were made in, and threads started meanwhile inherit it.
class InNamespace
{
public:
  explicit InNamespace(const std::string& name)
      : m_home(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)),
        m_target(open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC))
  {
    m_entered = m_home != -1 && m_target != -1 && setns(m_target, CLONE_NEWNET) == 0;
  }
  ~InNamespace()
  {
    if (m_entered && setns(m_home, CLONE_NEWNET) != 0) std::abort();  // the test thread must not stay behind
    if (m_home != -1) close(m_home);
    if (m_target != -1) close(m_target);
  }
  InNamespace(const InNamespace&) = delete;
  InNamespace& operator=(const InNamespace&) = delete;

  bool entered() const { return m_entered; }

private:
  int m_home;
  int m_target;
  bool m_entered;
};

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

class KeepAliveTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    m_net = new NamespacePair();
    if (!m_net->ready()) GTEST_SKIP() << "no network namespaces with veth pairs here";
    LoginManager* logins = LoginManager::SharedManager(6, nullptr);
    m_savedMode = logins->getMode();
    m_modeSaved = true;
    logins->setMode(0);
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
    BaseObject::release(m_delegate);
    if (m_modeSaved) LoginManager::SharedManager(6, nullptr)->setMode(m_savedMode);
    DistantObjectsCenter::setKeepAlive(15, 5, 3);
    delete m_net;
  }

  BaseAutorelease m_pool;
  LogCapture m_log{"%S: %m\n", "E|src/session/DistantObjectsCenter"};
  NamespacePair* m_net = nullptr;
  int m_savedMode = 0;
  bool m_modeSaved = false;
  KeepingDelegate* m_delegate = nullptr;
  DistantObjectsCenter* m_server = nullptr;
  DistantObjectsCenter* m_client = nullptr;
};

TEST_F(KeepAliveTest, VanishedPeerFreesItsSession)
{
  m_delegate = new KeepingDelegate();
  uint16_t port;
  {
    InNamespace inA(m_net->a());
    ASSERT_TRUE(inA.entered());
    m_server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
    m_server->retain();
    m_server->setDistantObjectDelegate(m_delegate);
    port = boundPort(static_cast<IOSocketAbstract*>(m_server->getDriver())->getSocketfd());
  }
  ASSERT_NE(port, 0);
  int unconnected = m_delegate->getRetainCount();
  {
    InNamespace inB(m_net->b());
    ASSERT_TRUE(inB.entered());
    m_client = DistantObjectsCenter::newTCPClient(new (eRetainAutorelease) BaseString("10.77.0.1"), port);
    ASSERT_NE(m_client, nullptr);
    m_client->retain();
  }
  ASSERT_EQ(m_client->performLogin(nullptr, nullptr, nullptr), LoginManager::eLoginOK);
  ASSERT_TRUE(waitUntil([&] { return m_delegate->connected(); }));

  ASSERT_TRUE(m_net->cutClientLink());
  // One second idle, then two probes a second apart: about three seconds.
  EXPECT_TRUE(waitUntil([&] { return m_delegate->ends.load() == 1; }, 12000));
  EXPECT_TRUE(m_log.contains("Error: connection broken, bailling ...\n"));
  // Destroyed: it has let its delegate go.
  EXPECT_TRUE(waitUntil([&] { return m_delegate->getRetainCount() == unconnected; }));
}

}  // namespace
