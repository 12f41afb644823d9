// DistantObjectsCenter's admission of concurrent logins: each accepted connection gets a
// login thread of its own; while too many wait, the oldest one waiting past the grace is
// given up for the newer connection. Also the settings that apply to every accepted
// connection: the grace and the keep-alive.
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "net/IOSocketAbstract.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectDelegate.h"
#include "session/DistantObjectsCenter.h"
#include "session/DistantObjectsCenterLoginThread.h"

namespace {

// Far longer than an app on the local network takes to send its login, a tenth of the time
// it is given.
std::atomic<int> loginGraceMs{1000};
std::atomic<int> keepAliveIdle{15};
std::atomic<int> keepAliveInterval{5};
std::atomic<int> keepAliveProbes{3};

}  // namespace

void DistantObjectsCenter::setLoginGrace(int milliseconds)
{
  loginGraceMs.store(milliseconds);
}

void DistantObjectsCenter::setKeepAlive(int idleSeconds, int intervalSeconds, int probes)
{
  keepAliveIdle.store(idleSeconds);
  keepAliveInterval.store(intervalSeconds);
  keepAliveProbes.store(probes);
}

void DistantObjectsCenter::receiveMessage(BaseString*, BaseDictionary*, void* context)
{
  if (!m_driver || context != m_driver) return;
  m_driver->lockClients();
  unsigned int count = m_driver->clientsCount();
  IODriverAbstract* connection = count ? m_driver->clientAtIndex(count - 1) : nullptr;
  BaseObject::retain(connection);
  // The session owns the connection from here on: a connection that is turned away, or
  // that ends later, must not stay behind in the server's list for the rest of the flight.
  if (connection) m_driver->removeClient(connection);
  m_driver->unlockClients();
  if (!connection) return;
  _acceptConnection(connection);
  connection->release();
}

void DistantObjectsCenter::_acceptConnection(IODriverAbstract* connection)
{
  // One pool per connection: the accept thread lives as long as the server.
  BaseAutorelease pool;
  IOSocketAbstract* socket = dynamic_cast<IOSocketAbstract*>(connection);
  if (socket) socket->enableKeepAlive(keepAliveIdle.load(), keepAliveInterval.load(), keepAliveProbes.load());
  BaseString* remote = socket ? socket->getRemoteAddress() : nullptr;
  BASE_LOG(this, eMsgWarning, "Client connected from %s", remote ? remote->cString() : "unknown");

  std::vector<LoginThread*> finished;
  BaseString* givenUp = nullptr;
  bool started = false;
  {
    BaseMutexLocker guard(m_loginsLock);
    for (auto it = m_logins.begin(); it != m_logins.end();) {
      if ((*it)->m_finished) {
        finished.push_back(*it);
        it = m_logins.erase(it);
      } else {
        ++it;
      }
    }
    if (!m_closing) {
      LoginThread* oldest = nullptr;
      unsigned int waiting = 0;
      for (LoginThread* login : m_logins) {
        if (!login->m_waiting || login->m_givenUp) continue;
        if (!oldest) oldest = login;
        waiting++;
      }
      const std::chrono::milliseconds grace(loginGraceMs.load());
      if (waiting >= MAX_WAITING_LOGINS ||
          (waiting >= MAX_PENDING_LOGINS && std::chrono::steady_clock::now() - oldest->m_since >= grace)) {
        // Under the lock that the login takes once it has read: it either finds itself
        // given up and answers nothing, or was no longer waiting and is not chosen. Its
        // thread ends at once and is joined with the finished ones.
        oldest->m_givenUp = true;
        oldest->shutDown();
        givenUp = oldest->m_remote ? oldest->m_remote : new (eRetainAutorelease) BaseString("unknown");
        BaseObject::retain(givenUp);
      }
      // Started under the lock: close() must either see the thread listed or keep it
      // from starting.
      LoginThread* login = new LoginThread(this, connection, remote);
      retain();
      login->retain();
      login->releaseOnThreadExit(login);
      m_logins.push_back(login);
      started = login->startThread();
      if (!started) {
        m_logins.pop_back();
        login->releaseOnThreadExit(nullptr);
        login->release();
        login->release();
        release();
      }
    }
  }
  if (givenUp) {
    BASE_LOG(this, eMsgWarning, "login of %s given up for a newer connection", givenUp->cString());
    givenUp->release();
  }
  for (LoginThread* login : finished) {
    login->stopThread();
    login->release();
  }
  if (!started) {
    BASE_LOG(this, eMsgWarning, "Login failed.");
    connection->closeIO();
  }
}

void DistantObjectsCenter::_loginConnection(LoginThread* login)
{
  {
    BaseAutorelease pool;
    DistantObjectsCenter* session = new (eRetainAutorelease) DistantObjectsCenter(login->m_connection);
    DistantObjectDelegate* delegate;
    {
      BaseMutexLocker guard(m_delegateLock);
      delegate = m_delegate;
      BaseObject::retain(delegate);
    }
    bool refuse = delegate && !delegate->canHandleConnection(session);
    session->setOurName(m_ourName);
    // What the server's reader may put on disk holds from the first byte, the login included.
    session->getSerializer()->setTemporaryStorage(m_serializer->getTemporaryStorage());
    session->getSerializer()->setAcceptsFileObjects(m_serializer->acceptsFileObjects() &&
                                                    (!delegate || delegate->acceptsFileObjects(session)));

    BaseDictionary* request = session->_readLogin();
    bool ended;
    {
      // From here on nobody shuts this connection down: a login that was read after all
      // is dropped when it was given up or the server is closing, not answered.
      BaseMutexLocker guard(m_loginsLock);
      login->m_waiting = false;
      ended = login->m_givenUp || m_closing;
    }
    bool loggedIn = request && !ended && session->_answerLogin(request, refuse);

    if (loggedIn) {
      if (delegate) {
        delegate->handleIncommingConnections(session);
      } else {
        {
          BaseMutexLocker guard(m_loginsLock);
          if (!m_clients) m_clients = new BaseArray();
          m_clients->addObject(session);
        }
        session->_startReceiving();
      }
    } else {
      BASE_LOG(this, eMsgWarning, "Login failed.");
      session->close();
    }
    BaseObject::release(delegate);
  }
  {
    BaseMutexLocker guard(m_loginsLock);
    login->m_finished = true;
  }
  // The reference taken when the thread was started. Should it be the last one, this
  // server's destructor runs here and lets this thread go rather than join it.
  release();
}

void DistantObjectsCenter::_joinLogins()
{
  std::vector<LoginThread*> logins;
  {
    BaseMutexLocker guard(m_loginsLock);
    logins.swap(m_logins);
  }
  // stopThread joins, or on the login thread itself (a delegate closing its server)
  // detaches it: it holds itself and ends on its own.
  for (LoginThread* login : logins) {
    login->stopThread();
    login->release();
  }
}
