// One end of an object session: whole objects, not bytes, over a driver. A listening
// session wraps a server driver and turns each accepted connection into a connected
// session that must log in (handleLogin) before its delegate gets it; each login runs on a
// login thread of its own, so that a peer that says nothing holds up nobody else, and the
// logins that wait are bounded (MAX_PENDING_LOGINS, MAX_WAITING_LOGINS). A connected
// session reads objects on its own thread and hands each to its delegate; it sends with
// sendObject.
// Stream stack: driver <- IOBufferFilter (no read block, 17000-byte write block) <-
// BaseSerializer. The session retains its driver and its delegate. A receiving session
// also holds itself until its thread has returned, so a delegate may drop it from
// connectionDidTerminate; owners that must know the thread is gone call stopThread.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/BaseMutex.h"
#include "runtime/BaseThread.h"
#include "session/DistantObjectDelegate.h"

class BaseArray;
class BaseDictionary;
class BaseSerializer;
class BaseString;
class IODriverAbstract;
class IOSocketAbstract;

class DistantObjectsCenter : public BaseObject, public BaseThread
{
public:
  // Retains the driver and builds the stream stack on it.
  explicit DistantObjectsCenter(IODriverAbstract* driver);
  // Stops and waits for the receive thread (unless this runs on it), then releases our
  // name, the other side's name, the delegate, the clients, the serializer and the driver.
  ~DistantObjectsCenter() override;
  const char* getClass() const override;

  // A listening session on all interfaces at `port`, published under `name` and `type`
  // ("corvane_gps" gives "_corvane_gps._tcp.") when both are given. Autoreleased; returned
  // even when the port could not be bound.
  // With a delegate, the session also takes `name` as its own and the delegate before
  // the first connection can arrive, so that no app logs in to a half-configured server.
  static DistantObjectsCenter* newTCPServer(uint16_t port, BaseString* name, BaseString* type,
                                            DistantObjectDelegate* delegate = nullptr);
  // The first call builds the process's server as newTCPServer does and keeps it; later
  // calls return it and ignore their arguments.
  static DistantObjectsCenter* sharedTCPServer(uint16_t port, BaseString* name, BaseString* type);
  // A connected session (no login, no thread), autoreleased; null when connecting fails.
  static DistantObjectsCenter* newTCPClient(BaseString* host, uint16_t port);
  static DistantObjectsCenter* sharedTCPClient(BaseString* host, uint16_t port);

  void setOurName(BaseString* name);
  void setPort(uint16_t port) { m_port = port; }
  void setConnectionFlags(int flags) { m_connectionFlags = flags; }
  BaseString* getOtherSideName() const { return m_otherSideName; }
  BaseSerializer* getSerializer() const { return m_serializer; }
  IODriverAbstract* getDriver() const { return m_driver; }
  void setupEncryption(BaseDictionary* parameters);
  // Stores the delegate (retained) and, on a connected session whose thread is not
  // running, starts the receive thread when the delegate is not null.
  void setDistantObjectDelegate(DistantObjectDelegate* delegate);
  DistantObjectDelegate* getDistantObjectDelegate();
  // Encodes, writes and flushes one object. Not for two threads at once.
  void sendObject(BaseObject* object);
  // The most the receive loop reads for any one object (0, the default: no limit); a peer
  // whose object needs more has its connection closed as a broken one. Before the
  // receive thread starts.
  void setObjectReadLimit(uint32_t bytes) { m_objectReadLimit = bytes; }

  // Client side of the handshake: sends the credentials given, reads the reply; a result
  // code (0 logged in; 6 no usable reply). On a session whose thread is not running yet.
  int performLogin(BaseString* userAgent, BaseString* userName, BaseString* password);
  // Server side: reads the peer's login dictionary within the login time-out, answers it;
  // true when the peer is logged in.
  bool handleLogin(bool refuse);

  // Unsubscribes from new-client notices and closes the driver, which ends a pending read
  // and, for a listening session, its accept thread; then ends the logins still waiting
  // for their peer and waits for every login thread but the calling one (a delegate may
  // close its server from a login thread). Called from another thread while the receive
  // thread runs, it shuts the connection down and leaves the closing to that thread's
  // failing read. Neither stops this session's thread nor tells the delegate.
  void close();
  // Hangs up for good: clears the delegate (no connectionDidTerminate comes), closes, and
  // waits for the receive thread to return. Not on that thread.
  void closeAndWait();
  bool isClosed();
  // "<host name>.local:<port>" and "<our address>:<port>", autoreleased.
  BaseString* getServerHostname();
  BaseString* getServerAddress();

  // A new connection on our listening driver (posted on its accept thread): its login
  // starts on a thread of its own, and the accept thread goes back to accepting.
  void receiveMessage(BaseString* message, BaseDictionary* info, void* context) override;
  void threadMethod() override;
  void receiveObjects();

  // Accepted connections of every listening session: how long a peer has to send its login
  // dictionary, and the keep-alive timings that free the connection of a vanished peer.
  // Any thread; tests shorten them.
  static void setLoginTimeout(int milliseconds);
  static void setKeepAlive(int idleSeconds, int intervalSeconds, int probes);
  // How long a waiting login is safe from newer connections while MAX_PENDING_LOGINS or
  // more wait (default 1000 ms). Any thread; tests change it.
  static void setLoginGrace(int milliseconds);

  static const char* const NEW_CLIENT_CONNECTED_NOTIFICATION;
  // How many accepted connections may go on waiting for their login past their grace: when
  // one more arrives, the oldest waiting login gives way if it has waited that long. An
  // app sends its login as soon as it is connected, so only a peer that stays
  // silent is ever the oldest for long. A login within its grace is spared, so that a
  // busy host does not turn away peers whose logins it has merely not read yet.
  static constexpr unsigned int MAX_PENDING_LOGINS = 4;
  // However young, never more than this many wait: beyond it the oldest gives way at once,
  // so that a flood of connections takes no more threads and keeps no app out.
  static constexpr unsigned int MAX_WAITING_LOGINS = 32;

protected:
  class LoginThread;

  // The receive thread, with the session holding itself until the thread returns.
  bool _startReceiving();
  // Accept thread: joins the login threads that have finished, makes the oldest waiting
  // login give way when too many wait, and starts this one's thread.
  void _acceptConnection(IODriverAbstract* connection);
  // A login thread: the login of one connection, and the handing over of its session to
  // the delegate (or to the clients of a session without one).
  void _loginConnection(LoginThread* login);
  // Joins every listed login thread but the calling one, which is released from its own
  // exit path instead.
  void _joinLogins();
  // The two halves of handleLogin: the peer's login dictionary (autoreleased, null when
  // none came in time or within the read limit), and our answer to it.
  BaseDictionary* _readLogin();
  bool _answerLogin(BaseDictionary* request, bool refuse);

  int m_connectionFlags;
  IODriverAbstract* m_driver;
  BaseSerializer* m_serializer;
  uint16_t m_port;
  // Sessions kept by a listening session without delegate.
  BaseArray* m_clients GUARDED_BY(m_loginsLock);
  BaseMutex m_delegateLock;  // guards m_delegate: set from one thread, read on the receive thread
  DistantObjectDelegate* m_delegate GUARDED_BY(m_delegateLock);
  BaseString* m_otherSideName;
  BaseString* m_ourName;
  // Guards m_logins, m_closing, m_clients and the state of every listed login. Held for no
  // call out but shutting a waiting login's socket down and starting a login thread.
  BaseMutex m_loginsLock;
  // The login threads not yet joined, oldest first, one reference each; so that close()
  // and newer connections can end a login that waits at once, and so that every login
  // thread is joined.
  std::vector<LoginThread*> m_logins GUARDED_BY(m_loginsLock);
  bool m_closing GUARDED_BY(m_loginsLock);  // no login thread starts any more
  uint32_t m_objectReadLimit;
};
