// The service the plug-in runs while the user has it started: a TCP server session on port
// 21777, published as "X-Plane" of type "_corvane_gps._tcp.", that logs the Corvane app in
// and answers each of its position requests ("cmd_id" 1) with a position record. At most
// one app is served at a time. Created, stopped and destroyed on the host's main thread;
// the server's login threads (several at once) and the app session's receive thread call
// the delegate operations, which share the client slot under m_clientLock.
// The host's interface is only called on the main thread: the records are built from the
// latest frame's sample, and the lines for the host's Log.txt go through HostLog.
#pragma once

#include <atomic>
#include <string>

#include "runtime/BaseMutex.h"
#include "session/DistantObjectDelegate.h"

class BaseString;
class DistantObjectsCenter;
class PositionRecord;
class PositionSampler;

class GPSBridge : public DistantObjectDelegate
{
public:
  // Brings the whole service up: server listening and published, login manager set up,
  // sampling started. Needs an autorelease pool on the calling thread.
  GPSBridge();
  ~GPSBridge() override;
  const char* getClass() const override;

  // Main thread: closes the server and the app's session and waits for their threads, so
  // that none of them outlives the bridge. Leaves the object ready to be released.
  void stop() EXCLUDES(m_clientLock);

  void handleIncommingObject(BaseObject* object, DistantObjectsCenter* session) override;
  // The app sends messages only: nobody on the network may put files on the user's disk.
  bool acceptsFileObjects(DistantObjectsCenter* session) override;
  void handleIncommingConnections(DistantObjectsCenter* session) override EXCLUDES(m_clientLock);
  void connectionDidTerminate(DistantObjectsCenter* session) override EXCLUDES(m_clientLock);
  // The outcome of the server's DNS-SD publication, for the host's Log.txt.
  void receiveMessage(BaseString* message, BaseDictionary* info, void* context) override
      EXCLUDES(m_announcementLock);

  // One position record, from the latest frame, to `session`.
  void sendGPSDataToClient(DistantObjectsCenter* session);

  static const int PORT = 21777;
  // The text whose MD5 digest is the password the app logs in with.
  static const char* const CREDENTIAL_TEXT;

protected:
  // Joins and lets go of a session whose receive loop has ended. Not on its own thread.
  static void _retireSession(DistantObjectsCenter* session);
  // The session's peer address, dotted; "an unknown address" when there is none.
  static std::string _addressOf(DistantObjectsCenter* session);
  // The Log.txt words for why a session's connection ended, or `otherwise` when it says nothing.
  static const char* _whyEnded(DistantObjectsCenter* session, const char* otherwise);

  DistantObjectsCenter* m_server;
  BaseMutex m_clientLock;
  DistantObjectsCenter* m_client GUARDED_BY(m_clientLock);
  std::string m_clientAddress GUARDED_BY(m_clientLock);  // the app's IPv4 address, for the host's Log.txt
  // The app session that left (its loop ended); its thread is joined by the next one to
  // come, or by stop(), never by itself.
  DistantObjectsCenter* m_ended GUARDED_BY(m_clientLock);
  PositionSampler* m_sampler;
  // The record every answer is filled into, taken out of the slot while it is filled and
  // sent; an answer that finds the slot empty (another session's thread still sending)
  // makes a record of its own.
  std::atomic<PositionRecord*> m_record;
  BaseString* m_commandKey;  // "cmd_id", made and hashed once: only read by the sessions' threads
  BaseMutex m_announcementLock;
  bool m_started GUARDED_BY(m_announcementLock);  // the line of the start is written
  std::string m_earlyAnnouncement GUARDED_BY(m_announcementLock);
};
