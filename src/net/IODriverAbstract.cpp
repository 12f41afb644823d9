#include "net/IODriverAbstract.h"

#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "runtime/NotificationCenter.h"

const char* const IODriverAbstract::NEW_CLIENT_CONNECTED_NOTIFICATION = "NEW_CLIENT_CONNECTED_NOTIFICATION";

IODriverAbstract::IODriverAbstract()
    : m_connected(false), m_serverStarted(false), m_clients(nullptr), m_clientsLock(eSmartPointerNew)
{
}

IODriverAbstract::~IODriverAbstract()
{
  BaseObject::release(m_clients);
}

const char* IODriverAbstract::getClass() const
{
  return "IODriverAbstract";
}

bool IODriverAbstract::readIO(void* buffer, uint32_t& length)
{
  return readWithTimeout(buffer, length, NO_TIMEOUT);
}

bool IODriverAbstract::writeIO(const void* bytes, uint32_t length)
{
  return writeWithTimeout(bytes, length, NO_TIMEOUT);
}

bool IODriverAbstract::closeIO()
{
  if (!m_serverStarted.load()) return false;
  m_serverStarted.store(false);
  m_clientsLock->lock();
  BaseArray* clients = m_clients;
  m_clients = nullptr;
  m_clientsLock->unlock();
  // Released outside the lock: a client's destructor may do anything.
  BaseObject::release(clients);
  return true;
}

bool IODriverAbstract::openIO()
{
  return false;
}

bool IODriverAbstract::createServer()
{
  BaseTypedArray<IODriverAbstract>* fresh = new BaseTypedArray<IODriverAbstract>();
  m_clientsLock->lock();
  BaseArray* old = m_clients;
  m_clients = fresh;
  m_clientsLock->unlock();
  BaseObject::release(old);
  m_serverStarted.store(true);
  return startThread();
}

void IODriverAbstract::threadMethod()
{
  waitForClients();
}

void IODriverAbstract::waitForClients() {}

bool IODriverAbstract::isReadable()
{
  return false;
}

bool IODriverAbstract::readWithTimeout(void*, uint32_t& length, unsigned int)
{
  length = 0;
  return false;
}

bool IODriverAbstract::writeWithTimeout(const void*, uint32_t, unsigned int)
{
  return false;
}

IODriverAbstract* IODriverAbstract::makeIODriverObject()
{
  BASE_LOG(this, eMsgFatal, "Abstract class");
  return nullptr;
}

void IODriverAbstract::addClient(IODriverAbstract* client)
{
  BaseString* name = new BaseString(NEW_CLIENT_CONNECTED_NOTIFICATION);
  m_clientsLock->lock();
  if (m_clients) m_clients->addObject(client);
  m_clientsLock->unlock();
  NotificationCenter::sharedNotificationCenter()->postMessage(name, nullptr, this);
  name->release();
}

bool IODriverAbstract::removeClient(IODriverAbstract* client)
{
  if (!m_clients) return false;
  return m_clients->removeObjectIdenticalTo(client);
}

IODriverAbstract* IODriverAbstract::clientAtIndex(unsigned int index)
{
  return m_clients ? m_clients->objectAtIndex(index) : nullptr;
}

unsigned int IODriverAbstract::clientsCount()
{
  return m_clients ? m_clients->count() : 0;
}
