// The bridge's service without the simulator, for the bridge benchmarks: a listening
// session on 127.0.0.1 whose delegate answers "cmd_id" 1 as GPSBridge does (its one record
// of ten doubles filled again per request, from one fixed sample), and an app session
// logged in to it as the Corvane app logs in. Also the raw-socket peer with the same
// message sizes, and the process's resident memory. Everything here runs on the benchmark's thread, inside
// its autorelease pool; the sessions' own threads serve.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "io/BaseBuffer.h"
#include "net/IOSocketAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"

namespace bridgebench {

const char* const APP_AGENT = "Ostrel Corvane Mobile";
const char* const APP_PASSWORD = "9a1c73b7ed7dfd81d8b67613edc86094";
const char* const POSITION_KEYS[10] = {"latitude", "longitude", "altitude", "speed", "course",
                                       "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};
// One frame of a flight over Lausanne; floats widened as the sampler widens them.
const double POSITION_SAMPLE[10] = {46.5213,        6.6323,           1234.5678,       double(61.75f),
                                    double(271.3f), double(2.5f),     double(-1.125f), double(271.5f),
                                    double(0.015f), double(-9.80665f)};

inline BaseString* str(const char* text)
{
  return new (eRetainAutorelease) BaseString(text);
}

// PositionSampler::recordFromSample for the fixed sample: a new record in the caller's pool.
inline BaseDictionary* positionRecord()
{
  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  for (unsigned int i = 0; i < 10; i++) {
    BaseNumber* number = new BaseNumber(POSITION_SAMPLE[i]);
    record->setObjectForKey(number, POSITION_KEYS[i]);
    number->release();
  }
  return record;
}

// A new request {"cmd_id": "1"}, owned by the caller.
inline BaseDictionary* newPositionRequest()
{
  BaseDictionary* request = new BaseDictionary();
  request->setCStringForKey("1", "cmd_id");
  return request;
}

// The encoded size of one object in the object stream.
inline size_t encodedSize(BaseObject* object)
{
  BaseAutorelease pool;
  return BaseSerializer::serializeObject(object)->length();
}

// What GPSBridge does with its app: keeps one session (becoming its delegate starts its
// thread), bounds what it reads per request, and answers each position request by filling
// its one record (PositionRecord) with the sample again and sending it.
class PositionDelegate : public DistantObjectDelegate
{
public:
  PositionDelegate() : m_record(new BaseDictionary()), m_commandKey(new BaseString("cmd_id"))
  {
    m_commandKey->hash();
    for (unsigned int i = 0; i < 10; i++) {
      BaseNumber* number = new BaseNumber(0.0);
      m_record->setObjectForKey(number, POSITION_KEYS[i]);
      m_values[i] = number;
      number->release();
    }
  }
  ~PositionDelegate() override
  {
    retire();
    m_record->release();
    m_commandKey->release();
  }

  void handleIncommingConnections(DistantObjectsCenter* session) override
  {
    {
      std::lock_guard<std::mutex> guard(m_lock);
      if (m_client) {
        session->close();
        return;
      }
      m_client = session;
      session->retain();
    }
    session->setObjectReadLimit(REQUEST_READ_LIMIT);
    session->setDistantObjectDelegate(this);
  }
  void handleIncommingObject(BaseObject* object, DistantObjectsCenter* session) override
  {
    BaseDictionary* request = dynamic_cast<BaseDictionary*>(object);
    if (!request) return;
    BaseString* command = dynamic_cast<BaseString*>(request->objectForKey(m_commandKey));
    if (!command || strtol(command->cString(), nullptr, 0) != 1) return;
    for (unsigned int i = 0; i < 10; i++) m_values[i]->set(POSITION_SAMPLE[i]);
    session->sendObject(m_record);
  }
  // Benchmark thread, once the server is closed.
  void retire()
  {
    DistantObjectsCenter* client;
    {
      std::lock_guard<std::mutex> guard(m_lock);
      client = m_client;
      m_client = nullptr;
    }
    if (!client) return;
    client->closeAndWait();
    client->release();
  }

private:
  // GPSBridge's bound on one request.
  static const uint32_t REQUEST_READ_LIMIT = 64 * 1024;

  std::mutex m_lock;  // guards m_client
  DistantObjectsCenter* m_client = nullptr;
  BaseDictionary* m_record;  // the record of every answer, on the session's thread
  BaseNumber* m_values[10];  // its numbers, in the record's order
  BaseString* m_commandKey;
};

// The whole stack on 127.0.0.1: server session with the position delegate, and an app
// session logged in with the bridge's credentials.
class BridgeLoopback
{
public:
  BridgeLoopback()
  {
    LoginManager* logins = LoginManager::SharedManager(5, nullptr);
    logins->removeAllCredential();
    logins->removeAllUserAgents();
    logins->setMode(LoginManager::eCheckUserAgent | LoginManager::eCheckPassword);
    logins->addUserAgent(str(APP_AGENT));
    logins->addCredential(nullptr, str(APP_PASSWORD));

    m_server = DistantObjectsCenter::newTCPServer(0, nullptr, nullptr);
    m_server->retain();
    m_server->setOurName(str("X-Plane"));
    m_server->setDistantObjectDelegate(m_delegate);
    struct sockaddr_in bound;
    socklen_t length = sizeof bound;
    getsockname(static_cast<IOSocketAbstract*>(m_server->getDriver())->getSocketfd(),
                reinterpret_cast<struct sockaddr*>(&bound), &length);
    m_client = DistantObjectsCenter::newTCPClient(str("127.0.0.1"), ntohs(bound.sin_port));
    if (m_client) {
      m_client->retain();
      m_loggedIn =
          m_client->performLogin(str(APP_AGENT), nullptr, str(APP_PASSWORD)) == LoginManager::eLoginOK;
    }
    m_request = newPositionRequest();
  }
  ~BridgeLoopback()
  {
    if (m_client) {
      m_client->close();
      m_client->release();
    }
    m_server->close();
    m_delegate->retire();
    m_server->setDistantObjectDelegate(nullptr);
    m_server->release();
    m_delegate->release();
    m_request->release();
  }
  BridgeLoopback(const BridgeLoopback&) = delete;
  BridgeLoopback& operator=(const BridgeLoopback&) = delete;

  bool ready() const { return m_loggedIn; }
  // One position request and its reply, read in a pool of its own; true for a record.
  bool roundTrip()
  {
    BaseAutorelease pool;
    m_client->sendObject(m_request);
    BaseDictionary* reply =
        dynamic_cast<BaseDictionary*>(m_client->getSerializer()->unserializeObjectFromIO());
    return reply && reply->count() == 10;
  }

private:
  PositionDelegate* m_delegate = new PositionDelegate();
  DistantObjectsCenter* m_server = nullptr;
  DistantObjectsCenter* m_client = nullptr;
  BaseDictionary* m_request = nullptr;
  bool m_loggedIn = false;
};

inline bool readExactly(int fd, unsigned char* bytes, size_t length)
{
  while (length > 0) {
    ssize_t count = recv(fd, bytes, length, 0);
    if (count <= 0) return false;
    bytes += count;
    length -= size_t(count);
  }
  return true;
}

inline bool writeAll(int fd, const unsigned char* bytes, size_t length)
{
  while (length > 0) {
    ssize_t count = send(fd, bytes, length, MSG_NOSIGNAL);
    if (count <= 0) return false;
    bytes += count;
    length -= size_t(count);
  }
  return true;
}

// The system alone: a connected pair of TCP sockets on 127.0.0.1, with a thread on the
// accepting end that answers every request of `requestSize` bytes with `replySize` bytes.
// Both ends send each message with one call, as the sessions do.
class RawPingPong
{
public:
  RawPingPong(size_t requestSize, size_t replySize) : m_request(requestSize, 1), m_reply(replySize, 2)
  {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<struct sockaddr*>(&address), &length) != 0) {
      close(listener);
      return;
    }
    m_client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(m_client, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
      close(listener);
      return;
    }
    int served = accept(listener, nullptr, nullptr);
    close(listener);
    if (served == -1) return;
    m_server = std::thread([this, served] {
      std::vector<unsigned char> request(m_request.size());
      while (readExactly(served, request.data(), request.size()) &&
             writeAll(served, m_reply.data(), m_reply.size())) {
      }
      close(served);
    });
    m_ready = true;
  }
  ~RawPingPong()
  {
    // The serving thread sees the end of the stream and leaves.
    if (m_client != -1) shutdown(m_client, SHUT_RDWR);
    if (m_server.joinable()) m_server.join();
    if (m_client != -1) close(m_client);
  }
  RawPingPong(const RawPingPong&) = delete;
  RawPingPong& operator=(const RawPingPong&) = delete;

  bool ready() const { return m_ready; }
  bool roundTrip()
  {
    return writeAll(m_client, m_request.data(), m_request.size()) &&
           readExactly(m_client, m_replyIn.data(), m_reply.size());
  }

private:
  std::vector<unsigned char> m_request;
  std::vector<unsigned char> m_reply;
  std::vector<unsigned char> m_replyIn = std::vector<unsigned char>(m_reply.size());
  int m_client = -1;
  std::thread m_server;
  bool m_ready = false;
};

// VmRSS of this process in KiB, 0 when it cannot be read.
inline long residentKiB()
{
  FILE* status = fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long kib = 0;
  while (fgets(line, sizeof line, status)) {
    if (strncmp(line, "VmRSS:", 6) == 0) {
      kib = strtol(line + 6, nullptr, 10);
      break;
    }
  }
  fclose(status);
  return kib;
}

}  // namespace bridgebench
