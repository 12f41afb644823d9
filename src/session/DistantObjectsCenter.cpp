#include "session/DistantObjectsCenter.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "io/IOBufferFilter.h"
#include "net/IOSocketTCP.h"
#include "net/IOSocketUDP.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Sockets.h"
#include "runtime/Debug.h"
#include "runtime/NotificationCenter.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenterLoginThread.h"
#include "session/LoginManager.h"

const char* const DistantObjectsCenter::NEW_CLIENT_CONNECTED_NOTIFICATION = "NEW_CLIENT_CONNECTED_NOTIFICATION";

namespace {

const uint32_t WRITE_BLOCK_SIZE = 17000;

std::atomic<int> loginTimeoutMs{10000};
// A login dictionary or its reply is a few hundred bytes.
const uint32_t LOGIN_READ_LIMIT = 64 * 1024;

// The process's shared sessions; each is closed and let go when the library is unloaded.
struct SharedSession
{
  std::mutex lock;
  DistantObjectsCenter* session = nullptr;
  ~SharedSession()
  {
    if (!session) return;
    session->close();
    session->release();
  }
};
SharedSession sharedServer;
SharedSession sharedClient;

BaseString* newString(const char* text)
{
  return new (eRetainAutorelease) BaseString(text);
}

// Bounds the reads of a handshake in time and in size, so that a silent peer cannot hold
// the thread and a stranger claiming a 2 GiB login cannot make us gather it.
class ReadDeadline
{
public:
  explicit ReadDeadline(IODriverAbstract* driver) : m_socket(dynamic_cast<IOSocketAbstract*>(driver))
  {
    if (!m_socket) return;
    m_socket->setReadDeadline(loginTimeoutMs.load());
    m_socket->setReadLimit(LOGIN_READ_LIMIT);
  }
  ~ReadDeadline()
  {
    if (!m_socket) return;
    m_socket->clearReadDeadline();
    m_socket->clearReadLimit();
  }
  ReadDeadline(const ReadDeadline&) = delete;
  ReadDeadline& operator=(const ReadDeadline&) = delete;

private:
  IOSocketAbstract* m_socket;
};

}  // namespace

DistantObjectsCenter::DistantObjectsCenter(IODriverAbstract* driver)
    : m_connectionFlags(0),
      m_driver(driver),
      m_serializer(nullptr),
      m_port(0),
      m_clients(nullptr),
      m_delegate(nullptr),
      m_otherSideName(nullptr),
      m_ourName(nullptr),
      m_closing(false),
      m_objectReadLimit(0)
{
  BaseObject::retain(m_driver);
  IOBufferFilter* filter = new IOBufferFilter(m_driver, 0, WRITE_BLOCK_SIZE);
  m_serializer = new BaseSerializer(filter);
  filter->release();
}

DistantObjectsCenter::~DistantObjectsCenter()
{
  // Only a thread that has returned (or this one) can be left: while it runs, it holds
  // the session itself. So do login threads, which close() has normally joined already.
  if (isThreadRunning()) stopThread();
  _joinLogins();
  BaseObject::release(m_ourName);
  BaseObject::release(m_otherSideName);
  BaseObject::release(m_delegate);
  BaseObject::release(m_clients);
  BaseObject::release(m_serializer);
  BaseObject::release(m_driver);
}

const char* DistantObjectsCenter::getClass() const
{
  return "DistantObjectsCenter";
}

// ---------------------------------------------------------------------------------------
// Factories

DistantObjectsCenter* DistantObjectsCenter::newTCPServer(uint16_t port, BaseString* name, BaseString* type,
                                                         DistantObjectDelegate* delegate)
{
  IOSocketTCP* driver = new IOSocketTCP();
  driver->setSocketAddress(nullptr, port);
  DistantObjectsCenter* session = new (eRetainAutorelease) DistantObjectsCenter(driver);
  session->setPort(port);
  if (name && type) {
    BaseDictionary* options = new (eRetainAutorelease) BaseDictionary();
    BaseDictionary* txt = new (eRetainAutorelease) BaseDictionary();
    txt->setObjectForKey(newString("1"), "txtvers");
    txt->setObjectForKey(newString("1"), "qtotal");
    txt->setObjectForKey(newString("30"), "priority");
    options->setObjectForKey(txt, IOSocketAbstract::SOCKET_TXT_RECORD_ENTRIES);
    options->setObjectForKey(new (eRetainAutorelease) BaseString(name), IOSocketAbstract::MDNS_SERVICE_NAME);
    options->setObjectForKey(type, IOSocketAbstract::MDNS_SERVICE_TYPE);
    driver->setServerOptions(options, 0);
  }
  if (delegate) {
    session->setOurName(name);
    session->setDistantObjectDelegate(delegate);
  }
  // Before the server starts, so that no early client goes unnoticed.
  NotificationCenter::sharedNotificationCenter()->subscribeForMessage(session,
                                                                      newString(NEW_CLIENT_CONNECTED_NOTIFICATION));
  driver->createServer();
  driver->release();
  return session;
}

DistantObjectsCenter* DistantObjectsCenter::sharedTCPServer(uint16_t port, BaseString* name, BaseString* type)
{
  std::lock_guard<std::mutex> guard(sharedServer.lock);
  if (!sharedServer.session) {
    sharedServer.session = newTCPServer(port, name, type);
    sharedServer.session->retain();
  }
  return sharedServer.session;
}

DistantObjectsCenter* DistantObjectsCenter::newTCPClient(BaseString* host, uint16_t port)
{
  IOSocketTCP* driver = new IOSocketTCP();
  DistantObjectsCenter* session = nullptr;
  if (driver->connect_socket(host ? host->cString() : nullptr, port))
    session = new (eRetainAutorelease) DistantObjectsCenter(driver);
  driver->release();
  return session;
}

DistantObjectsCenter* DistantObjectsCenter::sharedTCPClient(BaseString* host, uint16_t port)
{
  std::lock_guard<std::mutex> guard(sharedClient.lock);
  if (!sharedClient.session) {
    sharedClient.session = newTCPClient(host, port);
    BaseObject::retain(sharedClient.session);
  }
  return sharedClient.session;
}

// ---------------------------------------------------------------------------------------
// Settings

void DistantObjectsCenter::setOurName(BaseString* name)
{
  BaseObject::retain(name);
  BaseObject::release(m_ourName);
  m_ourName = name;
}

void DistantObjectsCenter::setupEncryption(BaseDictionary*) {}

void DistantObjectsCenter::setLoginTimeout(int milliseconds)
{
  loginTimeoutMs.store(milliseconds);
}

DistantObjectDelegate* DistantObjectsCenter::getDistantObjectDelegate()
{
  BaseMutexLocker guard(m_delegateLock);
  return m_delegate;
}

void DistantObjectsCenter::setDistantObjectDelegate(DistantObjectDelegate* delegate)
{
  DistantObjectDelegate* old;
  {
    BaseMutexLocker guard(m_delegateLock);
    BaseObject::retain(delegate);
    old = m_delegate;
    m_delegate = delegate;
  }
  // Outside the lock: the old delegate's destructor may call back.
  BaseObject::release(old);
  if (!m_keepRunning.load() && m_driver && m_driver->isIOConnected() && delegate) _startReceiving();
}

bool DistantObjectsCenter::_startReceiving()
{
  if (isThreadRunning()) return startThread();  // only warns that it runs already
  return startThreadHoldingSelf();
}

// ---------------------------------------------------------------------------------------
// Objects

void DistantObjectsCenter::sendObject(BaseObject* object)
{
  m_serializer->setContextObject(object);
  m_serializer->appendSerializableObject(object);
  m_serializer->setContextObject(nullptr);
}

void DistantObjectsCenter::threadMethod()
{
  receiveObjects();
}

void DistantObjectsCenter::receiveObjects()
{
  IOSocketAbstract* socket = m_objectReadLimit ? dynamic_cast<IOSocketAbstract*>(m_driver) : nullptr;
  while (m_keepRunning.load() && m_driver->isIOConnected()) {
    BaseAutorelease pool;
    if (socket) socket->setReadLimit(m_objectReadLimit);
    BaseObject* object = m_serializer->unserializeObjectFromIO();
    if (!object) {
      BASE_LOG(this, eMsgError, "connection broken, bailling ...");
      m_keepRunning.store(false);
      continue;
    }
    DistantObjectDelegate* delegate;
    {
      BaseMutexLocker guard(m_delegateLock);
      delegate = m_delegate;
      BaseObject::retain(delegate);
    }
    if (delegate)
      delegate->handleIncommingObject(object, this);
    else
      BASE_LOG(this, eMsgDebug, "%@", object);
    BaseObject::release(delegate);
  }
  DistantObjectDelegate* delegate;
  {
    BaseMutexLocker guard(m_delegateLock);
    delegate = m_delegate;
    BaseObject::retain(delegate);
  }
  if (delegate) delegate->connectionDidTerminate(this);
  BaseObject::release(delegate);
}

// ---------------------------------------------------------------------------------------
// Login

bool DistantObjectsCenter::handleLogin(bool refuse)
{
  BaseAutorelease pool;
  BaseDictionary* request = _readLogin();
  return request && _answerLogin(request, refuse);
}

BaseDictionary* DistantObjectsCenter::_readLogin()
{
  ReadDeadline bounded(m_driver);
  return dynamic_cast<BaseDictionary*>(m_serializer->unserializeObjectFromIO());
}

bool DistantObjectsCenter::_answerLogin(BaseDictionary* request, bool refuse)
{
  int result;
  BaseObject* version = request->objectForKey("Protocol_Version");
  BaseString* versionText = dynamic_cast<BaseString*>(version);
  if (refuse) {
    result = LoginManager::eLoginRefused;
  } else if (version && (!versionText || strtol(versionText->cString(), nullptr, 0) != 0)) {
    // A version that is not text is no version we speak either.
    result = LoginManager::eLoginBadProtocol;
  } else {
    result = LoginManager::SharedManager(6, nullptr)
                 ->validateLogin(dynamic_cast<BaseString*>(request->objectForKey("User-Agent")),
                                 dynamic_cast<BaseString*>(request->objectForKey("Username")),
                                 dynamic_cast<BaseString*>(request->objectForKey("Password")));
  }
  BaseDictionary* reply = new (eRetainAutorelease) BaseDictionary();
  if (result == LoginManager::eLoginOK && m_ourName) reply->setObjectForKey(m_ourName, "Connected device_name");
  reply->setObjectForKey(new (eRetainAutorelease) BaseNumber(result), "Result");
  sendObject(reply);
  return result == LoginManager::eLoginOK;
}

int DistantObjectsCenter::performLogin(BaseString* userAgent, BaseString* userName, BaseString* password)
{
  BaseAutorelease pool;
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  if (userAgent) request->setObjectForKey(userAgent, "User-Agent");
  if (userName) request->setObjectForKey(userName, "Username");
  if (password) request->setObjectForKey(password, "Password");
  sendObject(request);

  BaseDictionary* reply;
  {
    ReadDeadline bounded(m_driver);
    reply = dynamic_cast<BaseDictionary*>(m_serializer->unserializeObjectFromIO());
  }
  if (!reply) return LoginManager::eLoginNoReply;
  BaseString* name = dynamic_cast<BaseString*>(reply->objectForKey("Connected device_name"));
  BaseObject::retain(name);
  BaseObject::release(m_otherSideName);
  m_otherSideName = name;
  BaseNumber* result = dynamic_cast<BaseNumber*>(reply->objectForKey("Result"));
  return result ? result->getInteger() : LoginManager::eLoginNoReply;
}

void DistantObjectsCenter::close()
{
  BaseString* name = new BaseString(NEW_CLIENT_CONNECTED_NOTIFICATION);
  NotificationCenter::sharedNotificationCenter()->unsubscribeForMessage(this, name);
  name->release();
  {
    // Peers that connected and have not sent their login hold their login threads, which
    // closing waits for: end those reads now, and start no other login.
    BaseMutexLocker guard(m_loginsLock);
    m_closing = true;
    for (LoginThread* login : m_logins)
      if (login->m_waiting && !login->m_givenUp) login->shutDown();
  }
  if (m_driver) {
    // Our receive loop may be blocked reading this connection: closing the descriptor
    // under it would let the number be reused by the time it reads. The shutdown wakes
    // it, and the read, seeing the end of the stream, closes the driver on that thread. A
    // loop that has ended (its flag cleared) reads no more, and its driver is closed here.
    IOSocketAbstract* socket = dynamic_cast<IOSocketAbstract*>(m_driver);
    if (socket && isThreadRunning() && m_keepRunning.load() && !pthread_equal(pthread_self(), getThreadId()))
      socket->shutdownIO();
    else
      m_driver->closeIO();
  }
  // After the accept thread has stopped, so that the list is complete.
  _joinLogins();
}

void DistantObjectsCenter::closeAndWait()
{
  setDistantObjectDelegate(nullptr);
  close();
  stopThread();
}

bool DistantObjectsCenter::isClosed()
{
  return !m_driver || !m_driver->isIOConnected();
}

BaseString* DistantObjectsCenter::getServerHostname()
{
  return BaseString::stringWithFormat("%s.local:%hu", platform::localHostName().c_str(), m_port);
}

BaseString* DistantObjectsCenter::getServerAddress()
{
  // Left empty when the system names no address.
  char address[64] = "";
  IOSocketUDP::getOurAddressForHost("", address, sizeof address);
  address[sizeof address - 1] = '\0';
  return BaseString::stringWithFormat("%s:%hu", address, m_port);
}
