// The callbacks of an object session (DistantObjectsCenter). Every operation does nothing
// here (canHandleConnection accepts); a delegate overrides what it handles. Called on the
// threads the session names: for a new connection, its own login thread, and several of
// those may call at once; for objects and for the end of a connection, that session's
// receive thread.
#pragma once

#include "object/BaseObject.h"

class BaseString;
class DistantObjectsCenter;
class DistantObjectTransaction;  // passed by pointer only; nothing creates one

class DistantObjectDelegate : public BaseObject
{
public:
  const char* getClass() const override;

  // One object from the peer; `object` lives in the receive loop's pool for this call.
  virtual void handleIncommingObject(BaseObject* object, DistantObjectsCenter* session);
  // Asked before a new connection logs in; false answers its login with result 4.
  virtual bool canHandleConnection(DistantObjectsCenter* session);
  // Asked before a new connection logs in: whether its peer may send file objects, which
  // the session's reader would put on disk. Yes here; a service that expects only
  // messages says no, and a file object then ends the connection.
  virtual bool acceptsFileObjects(DistantObjectsCenter* session);
  // A connection that has logged in. Keeping it is up to the delegate, and so is starting
  // its thread (becoming its delegate does both).
  virtual void handleIncommingConnections(DistantObjectsCenter* session);
  virtual void transactionDidStart(DistantObjectTransaction* transaction);
  virtual void transactionDidFinish(DistantObjectTransaction* transaction);
  virtual void transactionDidFail(DistantObjectTransaction* transaction, BaseString* reason);
  // The session's receive loop has ended; the last call its thread makes with the session.
  virtual void connectionDidTerminate(DistantObjectsCenter* session);
  virtual void sendResponse(BaseObject* object, BaseString* first, BaseString* second,
                            DistantObjectsCenter* session);
};
