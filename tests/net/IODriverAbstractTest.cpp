#include "net/IODriverAbstract.h"

#include "net/SocketTestSupport.h"
#include "support/CaptureStream.h"

using namespace nettest;

namespace {

// Records the time-outs the plain stream calls pass down.
class TimeoutProbe : public IODriverAbstract
{
public:
  bool readWithTimeout(void*, uint32_t& length, unsigned int t) override
  {
    return readTimeout = t, length = 0, false;
  }
  bool writeWithTimeout(const void*, uint32_t, unsigned int t) override { return writeTimeout = t, true; }
  unsigned int readTimeout = 0, writeTimeout = 0;
};

TEST(IODriverAbstractTest, AbstractOperationsFailSoftlyAndPlainStreamCallsWaitWithoutTimeOut)
{
  BaseAutorelease pool;
  IODriverAbstract* driver = new (eRetainAutorelease) IODriverAbstract();
  LogCapture log("%S: %m\n", "V|src/net/");
  char byte;
  uint32_t length = 1;
  EXPECT_FALSE(driver->readIO(&byte, length));
  EXPECT_FALSE(driver->writeIO("x", 1));
  EXPECT_FALSE(driver->openIO());
  EXPECT_FALSE(driver->isReadable());
  EXPECT_FALSE(driver->closeIO());
  EXPECT_EQ(driver->makeIODriverObject(), nullptr);
  EXPECT_EQ(driver->clientsCount(), 0u);
  EXPECT_EQ(driver->clientAtIndex(0), nullptr);
  EXPECT_FALSE(driver->removeClient(driver));
  EXPECT_EQ(log.text(), "Fatal error: Abstract class\n");

  TimeoutProbe* probe = new (eRetainAutorelease) TimeoutProbe();
  probe->readIO(&byte, length);
  probe->writeIO("x", 1);
  EXPECT_EQ(probe->readTimeout, 0x7fffffffu);
  EXPECT_EQ(probe->writeTimeout, 0x7fffffffu);
}

TEST(IODriverAbstractTest, ClientRegistryFollowsTheServerLifetime)
{
  BaseAutorelease pool;
  IODriverAbstract* server = new (eRetainAutorelease) IODriverAbstract();
  auto* recorder = new (eRetainAutorelease) NotificationRecorder("NEW_CLIENT_CONNECTED_NOTIFICATION");
  ASSERT_TRUE(server->createServer());
  EXPECT_TRUE(server->isServerStarted());
  server->joinThread();  // the bare accept loop returns at once

  IODriverAbstract *first = new IODriverAbstract(), *second = new IODriverAbstract();
  server->addClient(first), server->addClient(second);
  EXPECT_EQ(recorder->count(), 2);
  EXPECT_EQ(recorder->context(1), server);
  EXPECT_EQ(recorder->info(1), nullptr);
  EXPECT_EQ(server->clientsCount(), 2u);
  EXPECT_EQ(server->clientAtIndex(1), second);
  EXPECT_EQ(first->getRetainCount(), 2);

  EXPECT_TRUE(server->removeClient(first));
  EXPECT_FALSE(server->removeClient(first));
  EXPECT_EQ(first->getRetainCount(), 1);

  second->retain();
  EXPECT_TRUE(server->closeIO());
  EXPECT_FALSE(server->isServerStarted());
  EXPECT_EQ(server->clientsCount(), 0u);
  EXPECT_EQ(second->getRetainCount(), 2);
  EXPECT_FALSE(server->closeIO());
  recorder->stop();
  first->release(), second->release(), second->release();
}

}  // namespace
