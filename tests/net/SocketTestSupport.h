// Helpers for the socket driver tests: raw peers on 127.0.0.1 built on the system calls
// alone (so that a fault in the drivers cannot hide on both ends), bounded waits, and a
// subscriber that records notifications posted by drivers' workers.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "net/IOSocketTCP.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "platform/SystemCalls.h"
#include "runtime/NotificationCenter.h"
#include "support/Settled.h"

namespace nettest {

using platform::SocketHandle;
// Started for the whole test program by any file that uses these helpers.
inline const platform::SocketLibrary socketLibrary;

// Polls `done` every millisecond for at most `limitMs`; true as soon as it holds.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 5000)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(1)))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

// The port a bound socket has, in host order; 0 on failure.
inline uint16_t boundPort(SocketHandle fd)
{
  return platform::socketLocalPort(fd);
}
// 127.0.0.1:port, as the socket calls take it.
struct Loopback
{
  explicit Loopback(uint16_t port) { platform::lookupIpv4Address("127.0.0.1", port, bytes); }
  alignas(8) unsigned char bytes[64];
  const unsigned int length = platform::socketAddressSize(platform::eFamilyIPv4);
};

// A raw socket on 127.0.0.1:port: a stream listening (as another program holding the port
// would) or connected, or a bound datagram socket; INVALID_SOCKET_HANDLE on failure.
inline SocketHandle rawSocket(uint16_t port, bool listening, bool datagram = false)
{
  using namespace platform;
  SocketHandle fd = openSocket(eFamilyIPv4, datagram ? eSocketDatagram : eSocketStream);
  setSocketOption(fd, eOptionReuseAddress, 1);
  Loopback address(port);
  bool made = datagram    ? bindSocket(fd, address.bytes, address.length)
              : listening ? bindSocket(fd, address.bytes, address.length) && listenSocket(fd, 1)
                          : connectSocket(fd, address.bytes, address.length) == 0;
  if (!made) closeSocket(fd);
  return made ? fd : platform::INVALID_SOCKET_HANDLE;
}
inline const auto listenRaw = [](uint16_t port) { return rawSocket(port, true); };
inline const auto connectRaw = [](uint16_t port) { return rawSocket(port, false); };
inline const auto sendAll = [](SocketHandle fd, const std::string& bytes) {
  platform::sendBytes(fd, bytes.data(), bytes.size());
};

// True when the peer has closed `fd` (a read sees the end) within the limit.
inline bool closedByPeer(SocketHandle fd, int limitMs = 5000)
{
  platform::PollEntry watched = {fd, platform::ePollIn, 0};
  char byte;
  return platform::pollSockets(&watched, 1, limitMs) == 1 && platform::receiveBytes(fd, &byte, 1) == 0;
}

// Server options as the bridge publishes itself: name "X-Plane" (or none), type
// "corvane_gps", and the three TXT entries (or none). Autoreleased.
inline BaseDictionary* bridgeOptions(bool withName = true, bool withTxt = true)
{
  auto str = [](const char* text) { return new (eRetainAutorelease) BaseString(text); };
  BaseDictionary *options = new (eRetainAutorelease) BaseDictionary(), *txt = nullptr;
  if (withName) options->setObjectForKey(str("X-Plane"), "MDNS_SERVICE_NAME");
  options->setObjectForKey(str("corvane_gps"), "MDNS_SERVICE_TYPE");
  if (withTxt)
    options->setObjectForKey(txt = new (eRetainAutorelease) BaseDictionary(), "SOCKET_TXT_RECORD_ENTRIES");
  for (const char* key : {"txtvers", "qtotal", "priority"})
    if (txt) txt->setObjectForKey(str(key[0] == 'p' ? "30" : "1"), key);
  return options;
}

// Subscribes to one notification name on the shared center until stop() and keeps the
// context and a retained dictionary of every delivery. Deliveries come from workers.
class NotificationRecorder : public BaseObject
{
  using Lock = std::lock_guard<std::mutex>;
  static NotificationCenter* center() { return NotificationCenter::sharedNotificationCenter(); }

public:
  explicit NotificationRecorder(const char* name) : m_name(new BaseString(name))
  {
    center()->subscribeForMessage(this, m_name);
  }
  ~NotificationRecorder() override
  {
    for (auto& seen : m_seen) BaseObject::release(seen.second);
    m_name->release();
  }
  void stop() { center()->unsubscribeForAllMessage(this); }
  void receiveMessage(BaseString*, BaseDictionary* info, void* context) override
  {
    BaseObject::retain(info);
    Lock guard(m_mutex);
    m_seen.emplace_back(context, info);
    if (onMessage) onMessage(context);  // on the posting thread, before the delivery is counted
    m_count.fetch_add(1);
  }
  int count() const { return m_count.load(); }
  void* context(size_t at) { return Lock(m_mutex), at < m_seen.size() ? m_seen[at].first : nullptr; }
  BaseDictionary* info(size_t at) { return Lock(m_mutex), at < m_seen.size() ? m_seen[at].second : nullptr; }
  std::function<void(void*)> onMessage;

private:
  BaseString* m_name;
  std::mutex m_mutex;
  std::vector<std::pair<void*, BaseDictionary*>> m_seen;
  std::atomic<int> m_count{0};
};

// Entries of a /proc directory, less `own` (the listing's own descriptor).
inline int entriesOf(const char* directory, int own)
{
  DIR* listing = opendir(directory);
  int count = -own;
  while (struct dirent* entry = listing ? readdir(listing) : nullptr) count += entry->d_name[0] != '.';
  if (listing) closedir(listing);
  return count;
}
inline const auto openDescriptors = [] { return entriesOf("/proc/self/fd", 1); };
inline const auto threads = [] { return entriesOf("/proc/self/task", 0); };
inline const auto settledThreads = [] { return settledReading(threads); };

// A TCP server on 127.0.0.1 with an ephemeral port, and raw peers connected to it. The
// native system-call table is put back before anything is released.
class TcpServerTest : public ::testing::Test
{
protected:
  void TearDown() override
  {
    platform::SystemCalls::restore();
    for (SocketHandle fd : m_peers) platform::closeSocket(fd);
    if (m_server) m_server->closeIO();
    BaseObject::release(m_server), m_recorder->stop(), m_recorder->release();
  }
  IOSocketTCP* startServer(unsigned int maxClients = 0, IOSocketTCP* server = nullptr)
  {
    m_server = server ? server : new IOSocketTCP();
    m_server->setSocketAddress("127.0.0.1", 0), m_server->setServerOptions(nullptr, maxClients);
    EXPECT_TRUE(m_server->createServer());
    m_port = boundPort(m_server->getSocketfd());
    return m_server;
  }
  SocketHandle peer() { return m_peers.push_back(connectRaw(m_port)), m_peers.back(); }
  // Connects a peer and returns the server's driver for it.
  IOSocketTCP* accepted()
  {
    int before = m_recorder->count();
    peer();
    EXPECT_TRUE(waitUntil([&] { return m_recorder->count() > before; }));
    m_server->lockClients();
    auto* client = m_server->clientAtIndex(m_server->clientsCount() - 1);
    return m_server->unlockClients(), static_cast<IOSocketTCP*>(client);
  }

  BaseAutorelease m_pool;
  NotificationRecorder* m_recorder = new NotificationRecorder("NEW_CLIENT_CONNECTED_NOTIFICATION");
  IOSocketTCP* m_server = nullptr;
  uint16_t m_port = 0;
  std::vector<SocketHandle> m_peers;
};

}  // namespace nettest
