// IOSocketAbstract's server side: binding and listening, the server options, and the loop
// that accepts clients on the server's worker thread and hands each to a driver of its own.
#include <cerrno>
#include <cstdlib>

#include "net/IOSocketAbstract.h"
#include "net/IOSocketAbstractInternal.h"
#include "object/BaseDictionary.h"
#include "platform/SystemCalls.h"
#include "runtime/Debug.h"

using namespace platform;
using SocketInternal::socketError;

namespace {

const int ACCEPT_WAIT_MS = 2000;
const int LISTEN_BACKLOG = 5;
// After running out of descriptors or memory the listening socket stays readable; the
// loop pauses this long instead of spinning.
const int ACCEPT_BACKOFF_MS = 100;

// A peer's abort, a signal or a race with the peer: the listening socket is still good.
bool isTransientAcceptError(int error)
{
  return error == EINTR || error == ECONNABORTED || error == EAGAIN || error == EWOULDBLOCK ||
         error == EPROTO || error == EPERM || error == ENETDOWN || error == SOCKET_ERROR_NO_NETWORK ||
         error == EHOSTUNREACH || error == ENETUNREACH || error == SOCKET_ERROR_HOST_DOWN || error == EOPNOTSUPP;
}

bool isResourceAcceptError(int error)
{
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

bool IOSocketAbstract::_bindInternal()
{
  if (!lookupAddress()) {
    BASE_LOG(this, eMsgError, "invalid address");
    return false;
  }
  if (!bindSocket(m_socketfd.load(), m_socketAddress, m_socketAddressLength)) {
    BASE_LOG(this, eMsgError, "Socket bind error : %d", lastSocketError());
    return false;
  }
  return true;
}

bool IOSocketAbstract::createServer()
{
  if (!_bindInternal()) return false;
  if (!listenSocket(m_socketfd.load(), LISTEN_BACKLOG)) {
    BASE_LOG(this, eMsgError, "Socket listen error : %d", lastSocketError());
    return false;
  }
  if (m_serverOptions && !publishServerWithMDNS())
    BASE_LOG(this, eMsgWarning, "unable to publish our service via MDNS");
  // Without the wake-up the loop still ends, only after its 2-second wait.
  _openWakeUp();
  return IODriverAbstract::createServer();
}

void IOSocketAbstract::setServerOptions(BaseDictionary* options, unsigned int maxClients)
{
  if (isServerStarted()) {
    BASE_LOG(this, eMsgWarning, "server already started, options will be ignored");
    return;
  }
  BaseObject::retain(options);
  BaseObject::release(m_serverOptions);
  m_serverOptions = options;
  m_maxClientCount = maxClients;
}

void IOSocketAbstract::waitForClients()
{
  for (;;) {
    if (!m_keepRunning.load() || !isServerStarted()) {
      if (m_socketfd.load() != INVALID_SOCKET_HANDLE)
        BASE_LOG(this, eMsgError, "Server loop finished but socket was not closed correctly.");
      return;
    }
    unsigned int peerLength = m_socketAddressLength;
    unsigned char* peer = static_cast<unsigned char*>(calloc(1, peerLength ? peerLength : 1));
    m_socketLock->lock();
    SocketHandle listening = m_socketfd.load();
    if (listening == INVALID_SOCKET_HANDLE) {
      BASE_LOG(this, eMsgError, "Socket listen error");
      m_socketLock->unlock();
      free(peer);
      return;
    }
    eWaitResult waited = _waitForDescriptor(listening, ePollIn, ACCEPT_WAIT_MS);
    if (waited == eWaitException) {
      BASE_LOG(this, eMsgError, "Socket Accept error : %d", socketError(listening));
      m_socketLock->unlock();
      free(peer);
      return;
    }
    if (waited == eWaitReady) {
      SocketHandle client = sysAccept(listening, peer, &peerLength);
      if (client == INVALID_SOCKET_HANDLE) {
        int error = lastSocketError();
        BASE_LOG(this, eMsgError, "Socket Accept error : %d", error);
        if (!isTransientAcceptError(error) && !isResourceAcceptError(error)) {
          m_socketLock->unlock();
          free(peer);
          return;
        }
        // A peer that resets before we accept must not end the server for everyone.
        if (isResourceAcceptError(error)) _waitForDescriptor(m_wakeUp.handle(), ePollIn, ACCEPT_BACKOFF_MS);
      } else if (m_maxClientCount != 0 && clientsCount() >= m_maxClientCount) {
        BASE_LOG(this, eMsgWarning, "Max client count reached, closing incomming request");
        closeSocket(client);
      } else {
        IODriverAbstract* made = makeIODriverObject();
        IOSocketAbstract* driver = dynamic_cast<IOSocketAbstract*>(made);
        if (!driver) {
          BaseObject::release(made);
          closeSocket(client);
        } else {
          driver->setConnectedClientDescriptors(client, peer, m_socketAddressLength);
          BASE_LOG(this, eMsgInfo, "New client connected (%lld)", (long long)client);
          addClient(driver);
          driver->release();
        }
      }
    }
    free(peer);
    m_socketLock->unlock();
  }
}
