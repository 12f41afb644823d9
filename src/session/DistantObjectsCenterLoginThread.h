// DistantObjectsCenter's login threads: one per accepted connection while its login is read
// and answered. Only the server's sources use it.
#pragma once

#include <chrono>

#include "net/IOSocketAbstract.h"
#include "object/BaseString.h"
#include "runtime/BaseThread.h"
#include "session/DistantObjectsCenter.h"

// One accepted connection on its way in: the login and, when it succeeds, the handing over
// of its session. Listed by its server (one reference) until joined; while its thread runs
// it holds itself and the server. Its flags are guarded by the server's m_loginsLock.
class DistantObjectsCenter::LoginThread : public BaseObject, public BaseThread
{
public:
  LoginThread(DistantObjectsCenter* server, IODriverAbstract* connection, BaseString* remote)
      : m_server(server),
        m_connection(connection),
        m_remote(remote),
        m_since(std::chrono::steady_clock::now())
  {
    BaseObject::retain(m_connection);
    BaseObject::retain(m_remote);
  }
  ~LoginThread() override
  {
    BaseObject::release(m_remote);
    BaseObject::release(m_connection);
  }
  const char* getClass() const override { return "DistantObjectsCenter::LoginThread"; }
  void threadMethod() override { m_server->_loginConnection(this); }

  // Ends a login that still waits for its peer: the read fails at once.
  void shutDown()
  {
    IOSocketAbstract* socket = dynamic_cast<IOSocketAbstract*>(m_connection);
    if (socket) socket->shutdownIO();
  }

  DistantObjectsCenter* m_server;
  IODriverAbstract* m_connection;
  BaseString* m_remote;  // the peer's address as it connected, for the log; may be null
  const std::chrono::steady_clock::time_point m_since;  // accepted
  bool m_waiting = true;    // its login is not read yet: a newer connection or close may end it
  bool m_givenUp = false;   // ended for a newer connection; not logged in even if it was read
  bool m_finished = false;  // done with the server: joining it does not wait for more
};
