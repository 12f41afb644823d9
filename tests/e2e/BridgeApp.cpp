#include "e2e/BridgeApp.h"

#include "net/IOSocketAbstract.h"
#include "object/BaseNumber.h"
#include "platform/Sockets.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"

namespace e2e {

BaseString* text(const char* value)
{
  return new (eRetainAutorelease) BaseString(value);
}

BaseDictionary* commandRequest(BaseObject* command)
{
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(command, "cmd_id");
  return request;
}

::testing::AssertionResult isPositionRecord(BaseObject* object)
{
  BaseDictionary* record = dynamic_cast<BaseDictionary*>(object);
  if (!record || record->count() != 10) return ::testing::AssertionFailure() << "not a record of ten";
  for (unsigned int i = 0; i < record->count(); i++) {
    BaseNumber* value = dynamic_cast<BaseNumber*>(record->objectForKeyIndex(i));
    if (!value || value->getNumberType() != BaseNumber::eNumberDouble)
      return ::testing::AssertionFailure()
             << "'" << record->keyAtIndex(i)->cString() << "' is no double number";
  }
  return ::testing::AssertionSuccess();
}

BridgeApp::BridgeApp() : m_session(DistantObjectsCenter::newTCPClient(text("127.0.0.1"), BRIDGE_PORT))
{
  BaseObject::retain(m_session);
}

BridgeApp::~BridgeApp()
{
  if (!m_session) return;
  m_session->close();
  m_session->release();
}

void BridgeApp::send(BaseObject* object)
{
  if (m_session) m_session->sendObject(object);
}

BaseObject* BridgeApp::receive(int limitMs)
{
  if (!m_session) return nullptr;
  IOSocketAbstract* socket = dynamic_cast<IOSocketAbstract*>(m_session->getDriver());
  socket->setReadDeadline(limitMs);
  BaseObject* object = m_session->getSerializer()->unserializeObjectFromIO();
  socket->clearReadDeadline();
  return object;
}

BaseDictionary* BridgeApp::login(int limitMs)
{
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(text(USER_AGENT), "User-Agent");
  request->setObjectForKey(text("pilot"), "Username");
  request->setObjectForKey(text(PASSWORD), "Password");
  send(request);
  return dynamic_cast<BaseDictionary*>(receive(limitMs));
}

bool BridgeApp::logIn()
{
  BaseDictionary* reply = login();
  BaseNumber* result = reply ? dynamic_cast<BaseNumber*>(reply->objectForKey("Result")) : nullptr;
  return result && result->getInteger() == 0;
}

bool BridgeApp::isServed()
{
  send(commandRequest(text("1")));
  return isPositionRecord(receive());
}

bool BridgeApp::hasMore()
{
  return m_session && m_session->getDriver()->isReadable();
}

bool BridgeApp::closedByBridge(int limitMs)
{
  // The driver closes itself when the peer does, and only then: a time-out keeps it open.
  return m_session && !receive(limitMs) && !m_session->getDriver()->isIOConnected();
}

bool BridgeApp::leave(int limitMs)
{
  IOSocketAbstract* socket = m_session ? dynamic_cast<IOSocketAbstract*>(m_session->getDriver()) : nullptr;
  if (!socket || socket->getSocketfd() == platform::INVALID_SOCKET_HANDLE) return false;
  platform::shutdownSocketSending(socket->getSocketfd());
  return closedByBridge(limitMs);
}

}  // namespace e2e
