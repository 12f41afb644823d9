// A connection-oriented stream that is opened as a client or started as a server. A server
// runs one worker that waits for clients and keeps each accepted client as a driver of its
// own in the client list, which holds one reference to each; the session layer hears of
// every new client through "NEW_CLIENT_CONNECTED_NOTIFICATION" (context: the server).
// Transports are supplied by subclasses. The worker is the only thread that adds clients;
// readers wanting a stable view of the list bracket it with lockClients/unlockClients.
#pragma once

#include <atomic>

#include "io/IOAbstract.h"
#include "object/BaseArray.h"
#include "object/SmartPointer.h"
#include "runtime/BaseMutex.h"
#include "runtime/BaseThread.h"

class IODriverAbstract : public IOAbstract, public BaseThread
{
public:
  // Plain stream calls wait without a time-out.
  static constexpr unsigned int NO_TIMEOUT = 0x7fffffff;

  IODriverAbstract();
  ~IODriverAbstract() override;

  const char* getClass() const override;

  // readWithTimeout / writeWithTimeout with NO_TIMEOUT.
  bool readIO(void* buffer, uint32_t& length) override;
  bool writeIO(const void* bytes, uint32_t length) override;
  // A server goes back to idle: the flag is cleared and the client list released (the
  // clients themselves are not closed). False when the driver was not serving.
  bool closeIO() override;

  virtual bool openIO();
  // New empty client list, server flag, worker started; false when the worker cannot start.
  virtual bool createServer();
  void threadMethod() override;
  virtual void waitForClients();
  virtual bool isReadable();
  virtual bool readWithTimeout(void* buffer, uint32_t& length, unsigned int timeoutSeconds);
  virtual bool writeWithTimeout(const void* bytes, uint32_t length, unsigned int timeoutSeconds);
  // A new unconnected driver of the concrete class, owned by the caller; null here.
  virtual IODriverAbstract* makeIODriverObject();

  bool isIOConnected() const { return m_connected.load(std::memory_order_acquire); }
  bool isServerStarted() const { return m_serverStarted.load(std::memory_order_acquire); }

  // Appends under the clients lock, then posts "NEW_CLIENT_CONNECTED_NOTIFICATION"
  // synchronously on the calling thread (the server's worker).
  void addClient(IODriverAbstract* client);
  // Releases the list's reference; false without a list or when the driver is not in it.
  // Takes no lock.
  bool removeClient(IODriverAbstract* client);
  IODriverAbstract* clientAtIndex(unsigned int index);
  unsigned int clientsCount();
  void lockClients() ACQUIRE(m_clientsLock) { m_clientsLock->lock(); }
  void unlockClients() RELEASE(m_clientsLock) { m_clientsLock->unlock(); }

  static const char* const NEW_CLIENT_CONNECTED_NOTIFICATION;

protected:
  std::atomic<bool> m_connected;
  std::atomic<bool> m_serverStarted;
  BaseTypedArray<IODriverAbstract>* m_clients;  // guarded by m_clientsLock for additions; null when not serving
  SP<BaseMutex> m_clientsLock;
};
