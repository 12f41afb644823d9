// Runs both ends of the login handshake on arbitrary bytes, without sockets or threads: a
// server session reads its peer's login dictionary from the input and answers it, a client
// session reads the input as the server's reply. The first byte picks the login manager's
// mode, whether the server refuses the connection and whether it has a name; the rest is
// the object stream. The server's answer must always read back as a reply that agrees with
// what handleLogin returned. Like the bridge's, these readers refuse file objects, so no
// input puts a file on disk. Log lines are formatted into a sink that discards them.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzLogSink.h"
#include "io/BaseBuffer.h"
#include "net/IODriverAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"

namespace {

// A connection whose peer's bytes are a buffer and whose sent bytes are kept in another.
class MemoryDriver : public IODriverAbstract
{
public:
  MemoryDriver(const uint8_t* data, size_t size)
      : m_incoming(new BaseBuffer(data, (uint32_t)size)), m_outgoing(new BaseBuffer())
  {
    m_connected.store(true);
  }
  ~MemoryDriver() override
  {
    m_incoming->release();
    m_outgoing->release();
  }
  bool readWithTimeout(void* buffer, uint32_t& length, unsigned int) override
  {
    return m_incoming->readIO(buffer, length);
  }
  bool writeWithTimeout(const void* bytes, uint32_t length, unsigned int) override
  {
    return m_outgoing->appendBytes(bytes, length);
  }
  bool closeIO() override
  {
    m_connected.store(false);
    return true;
  }
  BaseBuffer* sent() const { return m_outgoing; }

private:
  BaseBuffer* m_incoming;
  BaseBuffer* m_outgoing;
};

BaseString* text(const char* bytes)
{
  return new (eRetainAutorelease) BaseString(bytes);
}

// The bridge's own set-up: its app's user agent and one credential whose password is a
// digest, plus a second, named user so that the user name check has something to find.
LoginManager* loginManager()
{
  static LoginManager* manager = [] {
    BaseAutorelease pool;
    LoginManager* shared = LoginManager::SharedManager(5, nullptr);
    shared->addUserAgent(text("Ostrel Corvane Mobile"));
    shared->addCredential(nullptr, text("9b3c5e7d1f2a4c6e8d0b9a7f5e3c1d2b"));
    shared->addCredential(text("pilot"), text("secret"));
    return shared;
  }();
  return manager;
}

void checkServer(const uint8_t* data, size_t size, uint8_t settings)
{
  BaseAutorelease pool;
  MemoryDriver* driver = new (eRetainAutorelease) MemoryDriver(data, size);
  DistantObjectsCenter* server = new (eRetainAutorelease) DistantObjectsCenter(driver);
  server->getSerializer()->setAcceptsFileObjects(false);
  const bool refuse = settings & 0x08;
  if (settings & 0x10) server->setOurName(text("X-Plane"));
  const bool loggedIn = server->handleLogin(refuse);

  BaseBuffer* sent = driver->sent();
  if (sent->length() == 0) {
    // Only a first object that is no dictionary goes unanswered.
    if (loggedIn) __builtin_trap();
    return;
  }
  BaseDictionary* reply = dynamic_cast<BaseDictionary*>(BaseSerializer::unserializeObject(sent));
  if (!reply) __builtin_trap();
  BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
  if (!result || (result->getInteger() == LoginManager::eLoginOK) != loggedIn) __builtin_trap();
  if (refuse && result->getInteger() != LoginManager::eLoginRefused) __builtin_trap();
  if (result->getInteger() > LoginManager::eLoginBadProtocol || result->getInteger() < 0) __builtin_trap();
  const bool named = reply->objectForKey("Connected device_name") != nullptr;
  if (named != (loggedIn && (settings & 0x10))) __builtin_trap();
  // One reply and nothing after it.
  if (BaseSerializer::serializeObject(reply)->length() != sent->length()) __builtin_trap();
}

void checkClient(const uint8_t* data, size_t size)
{
  BaseAutorelease pool;
  MemoryDriver* driver = new (eRetainAutorelease) MemoryDriver(data, size);
  DistantObjectsCenter* client = new (eRetainAutorelease) DistantObjectsCenter(driver);
  client->getSerializer()->setAcceptsFileObjects(false);
  client->performLogin(text("Ostrel Corvane Mobile"), text("pilot"), text("secret"));
  // The request goes out whatever comes back.
  if (driver->sent()->length() == 0) __builtin_trap();
}

// The challenge operations on whatever the request carries.
void checkChallenge(const uint8_t* data, size_t size)
{
  BaseAutorelease pool;
  BaseBuffer* input = new (eRetainAutorelease) BaseBuffer(data, (uint32_t)size);
  BaseSerializer* reader = new (eRetainAutorelease) BaseSerializer(input);
  reader->setAcceptsFileObjects(false);
  BaseDictionary* request = dynamic_cast<BaseDictionary*>(reader->unserializeObjectFromIO());
  if (!request) return;
  BaseString* user = dynamic_cast<BaseString*>(request->objectForKey("Username"));
  BaseString* password = dynamic_cast<BaseString*>(request->objectForKey("Password"));
  BaseString* digest = loginManager()->challengeForUser(user, password);
  if (!digest || digest->length() != 32) __builtin_trap();
  loginManager()->validateLoginWithChallenge(user, digest, password);
  loginManager()->getPasswordForUser(user);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  // A login is one small dictionary; larger inputs only repeat what smaller ones reach.
  if (size < 1 || size > 1 << 16) return 0;
  LoginManager* manager = loginManager();
  const uint8_t settings = data[0];
  manager->setMode(settings & 0x07);
  checkServer(data + 1, size - 1, settings);
  checkClient(data + 1, size - 1);
  checkChallenge(data + 1, size - 1);
  return 0;
}
