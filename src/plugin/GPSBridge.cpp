#include "plugin/GPSBridge.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "crypto/BaseMD5.h"
#include "net/IOSocketAbstract.h"
#include "net/MDnsPublication.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Console.h"
#include "plugin/HostLog.h"
#include "plugin/PositionSampler.h"
#include "runtime/NotificationCenter.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"

const char* const GPSBridge::CREDENTIAL_TEXT = "corvane-bridge/X-Plane/1";

namespace {

const char* const OUR_NAME = "X-Plane";
const char* const SERVICE_TYPE = "corvane_gps";
const char* const USER_AGENT = "Ostrel Corvane Mobile";
const int LOGIN_MODE = LoginManager::eCheckUserAgent | LoginManager::eCheckPassword;
// An app's request is a few dozen bytes; the credential ships inside every copy of the app,
// so a logged-in peer is no more trusted to claim 2 GiB than a stranger.
const uint32_t REQUEST_READ_LIMIT = 64 * 1024;

// Unbuffered: the host may buffer its own streams, and these lines must show as they happen.
void writeLine(void (*write)(const char*, size_t), const char* text)
{
  write(text, strlen(text));
}

}  // namespace

GPSBridge::GPSBridge()
    : m_server(nullptr),
      m_client(nullptr),
      m_ended(nullptr),
      m_sampler(new PositionSampler()),
      m_record(new PositionRecord()),
      m_commandKey(new BaseString("cmd_id")),
      m_started(false)
{
  // A string computes its hash on first use: done here, before any session thread looks it up.
  m_commandKey->hash();
  // Everything an app meets is ready before the server listens: the first login may
  // come at once, and the login manager is only read once serving has begun.
  m_sampler->startSampling();
  BaseString* name = new (eRetainAutorelease) BaseString(OUR_NAME);
  LoginManager* logins = LoginManager::SharedManager(LOGIN_MODE, nullptr);
  BaseString* type = new (eRetainAutorelease) BaseString(SERVICE_TYPE);
  BaseString* password = BaseMD5::md5FromString(new (eRetainAutorelease) BaseString(CREDENTIAL_TEXT));
  logins->removeAllCredential();
  logins->removeAllUserAgents();
  logins->addUserAgent(new (eRetainAutorelease) BaseString(USER_AGENT));
  logins->addCredential(nullptr, password);
  // Before the server exists: a publication that fails at once says so while it is made.
  NotificationCenter::sharedNotificationCenter()->subscribeForMessage(
      this, new (eRetainAutorelease) BaseString(MDnsPublication::MDNS_SERVICE_PUBLICATION_NOTIFICATION));
  m_server = DistantObjectsCenter::newTCPServer(PORT, name, type, this);
  m_server->retain();
  IODriverAbstract* listening = m_server->getDriver();
  BaseMutexLocker guard(m_announcementLock);
  if (listening && listening->isServerStarted())
    HostLog::post("bridge started, listening on port %d", PORT);
  else
    HostLog::post("port %d is in use by another program, so no app can connect: stop the bridge, close that "
                  "program and start the bridge again",
                  PORT);
  // An outcome known while the server was made reads better after the line of the start.
  m_started = true;
  if (!m_earlyAnnouncement.empty()) HostLog::post("%s", m_earlyAnnouncement.c_str());
}

GPSBridge::~GPSBridge()
{
  // stop() has normally emptied both slots; what is left is let go without closing.
  _retireSession(m_ended);
  BaseObject::release(m_client);
  m_sampler->release();
  delete m_record.load();
  m_commandKey->release();
  writeLine(platform::writeStandardError, "\nWARNING : Destroying bridge\n");
}

const char* GPSBridge::getClass() const
{
  return "GPSBridge";
}

void GPSBridge::_retireSession(DistantObjectsCenter* session)
{
  if (!session) return;
  session->stopThread();
  session->release();
}

const char* GPSBridge::_whyEnded(DistantObjectsCenter* session, const char* otherwise)
{
  IOSocketAbstract* driver = dynamic_cast<IOSocketAbstract*>(session->getDriver());
  switch (driver ? driver->endReason() : IOSocketAbstract::eEndNone) {
    case IOSocketAbstract::eEndPeerClosed:
      return "it closed the connection";
    case IOSocketAbstract::eEndVanished:
      return "it vanished from the network";
    default:
      return otherwise;
  }
}

std::string GPSBridge::_addressOf(DistantObjectsCenter* session)
{
  BaseAutorelease pool;
  IOSocketAbstract* driver = dynamic_cast<IOSocketAbstract*>(session->getDriver());
  BaseString* address = driver ? driver->getRemoteAddress() : nullptr;
  return address ? address->cString() : "an unknown address";
}

void GPSBridge::receiveMessage(BaseString* message, BaseDictionary* info, void* context)
{
  BaseString* type = dynamic_cast<BaseString*>(BaseDictionary::objectForKey(info, "type"));
  if (!type || strncmp(type->cString(), "_corvane_gps.", 13) != 0) return;
  BaseNumber* result = dynamic_cast<BaseNumber*>(BaseDictionary::objectForKey(info, "result"));
  BaseString* name = dynamic_cast<BaseString*>(BaseDictionary::objectForKey(info, "name"));
  BaseString* reason = dynamic_cast<BaseString*>(BaseDictionary::objectForKey(info, "reason"));
  char line[400];
  if (result && result->getInteger() == 0)
    snprintf(line, sizeof line, "announced on the local network as \"%s\"", name ? name->cString() : OUR_NAME);
  else
    snprintf(line, sizeof line, "not announced on the local network (%s): enter this computer's address in the app",
             reason ? reason->cString() : "DNS-SD failed");
  BaseMutexLocker guard(m_announcementLock);
  if (m_started)
    HostLog::post("%s", line);
  else
    m_earlyAnnouncement = line;
}

void GPSBridge::stop()
{
  NotificationCenter::sharedNotificationCenter()->unsubscribeForAllMessage(this);
  if (m_server) {
    m_server->close();
    // The server's delegate link would keep this bridge alive.
    m_server->setDistantObjectDelegate(nullptr);
    m_server->release();
    m_server = nullptr;
  }
  DistantObjectsCenter* client;
  DistantObjectsCenter* ended;
  std::string address;
  {
    BaseMutexLocker guard(m_clientLock);
    client = m_client;
    ended = m_ended;
    address = m_clientAddress;
    m_client = nullptr;
    m_ended = nullptr;
  }
  if (client) {
    HostLog::post("app at %s disconnected (the bridge stopped)", address.c_str());
    writeLine(platform::writeStandardError, "\nWARNING : Disconnecting user from bridge\n");
    // No connectionDidTerminate comes back: the delegate is cleared first.
    client->closeAndWait();
    client->release();
  }
  _retireSession(ended);
  m_sampler->stopSampling();
  HostLog::post("bridge stopped");
}

bool GPSBridge::acceptsFileObjects(DistantObjectsCenter*)
{
  return false;
}

void GPSBridge::handleIncommingConnections(DistantObjectsCenter* session)
{
  DistantObjectsCenter* ended;
  DistantObjectsCenter* gone = nullptr;
  bool taken = false;
  const std::string address = _addressOf(session);
  std::string goneAddress;
  {
    BaseMutexLocker guard(m_clientLock);
    ended = m_ended;
    m_ended = nullptr;
    // An app whose connection is already closed can never be served again, even if its
    // session has not yet told us: a phone reconnecting at once must not be turned away.
    if (m_client && m_client->isClosed()) {
      gone = m_client;
      goneAddress = m_clientAddress;
      m_client = nullptr;
    }
    if (!m_client) {
      m_client = session;
      m_clientAddress = address;
      session->retain();
      taken = true;
    }
  }
  // Those threads have finished, or are finishing, their work with the bridge; reclaim
  // them here, on this login's thread, rather than let threads pile up over a long flight.
  // Each was taken out of its slot under the lock, so no other login joins it too.
  _retireSession(ended);
  if (gone) {
    // Its session may not have told us yet, but its connection knows why it ended.
    HostLog::post("app at %s disconnected (%s)", goneAddress.c_str(),
                  _whyEnded(gone, "replaced by the new connection"));
    gone->closeAndWait();
    gone->release();
  }
  if (!taken) {
    HostLog::post("a second app at %s was turned away: the bridge serves one app at a time", address.c_str());
    session->close();
    writeLine(platform::writeStandardOutput,
              "DistantObjectDelegateCocoa : user is already connected, can handle only 1 connection at a time, "
              "bailing\n");
    return;
  }
  HostLog::post("app connected from %s", address.c_str());
  session->setObjectReadLimit(REQUEST_READ_LIMIT);
  session->setDistantObjectDelegate(this);
  session->startThread();
}

void GPSBridge::handleIncommingObject(BaseObject* object, DistantObjectsCenter* session)
{
  BaseDictionary* request = dynamic_cast<BaseDictionary*>(object);
  if (!request) return;
  // A request without a textual "cmd_id" is an unknown command like any other.
  BaseString* command = dynamic_cast<BaseString*>(request->objectForKey(m_commandKey));
  long commandId = command ? strtol(command->cString(), nullptr, 0) : 0;
  if (commandId == 1)
    sendGPSDataToClient(session);
  else
    writeLine(platform::writeStandardOutput, "DistantObjectDelegateCocoa : command not implemented\n");
}

void GPSBridge::connectionDidTerminate(DistantObjectsCenter* session)
{
  DistantObjectsCenter* client;
  DistantObjectsCenter* earlier = nullptr;
  std::string address;
  {
    BaseMutexLocker guard(m_clientLock);
    // Only the app in the slot frees it: a session that was already replaced must not
    // take its successor with it.
    if (m_client != session) return;
    client = m_client;
    address = m_clientAddress;
    m_client = nullptr;
    // Still ours to join, but not from here: this runs on the session's own thread.
    if (client) {
      earlier = m_ended;
      m_ended = client;
    }
  }
  _retireSession(earlier);
  if (!client) return;
  HostLog::post("app at %s disconnected (%s)", address.c_str(),
                _whyEnded(client, "it vanished from the network"));
  client->setDistantObjectDelegate(nullptr);
  client->close();
}

void GPSBridge::sendGPSDataToClient(DistantObjectsCenter* session)
{
  PositionSample sample = m_sampler->latestSample();
  PositionRecord* record = m_record.exchange(nullptr);
  if (!record) {
    session->sendObject(PositionSampler::recordFromSample(sample));
    return;
  }
  session->sendObject(record->fill(sample));
  m_record.store(record);
}
