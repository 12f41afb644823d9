// The app's end of a connection to the bridge, in the test process: a client object session
// on 127.0.0.1 at the bridge's port, with bounded reads of whole objects. Retains its session
// and closes it when destroyed. One thread at a time; objects go to the caller's pool.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "object/BaseDictionary.h"
#include "object/BaseString.h"

class BaseNumber;
class DistantObjectsCenter;

namespace e2e {

const uint16_t BRIDGE_PORT = 21777;
const char* const USER_AGENT = "Ostrel Corvane Mobile";
// The lower-case hexadecimal MD5 of "corvane-bridge/X-Plane/1".
const char* const PASSWORD = "9a1c73b7ed7dfd81d8b67613edc86094";
const char* const NOT_IMPLEMENTED = "DistantObjectDelegateCocoa : command not implemented";
const char* const ALREADY_CONNECTED =
    "DistantObjectDelegateCocoa : user is already connected, can handle only 1 connection at a time, bailing";

// A new autoreleased string, for building requests.
BaseString* text(const char* value);
// {"cmd_id": command}.
BaseDictionary* commandRequest(BaseObject* command);

// A position record as the app reads it: a dictionary of ten double numbers.
::testing::AssertionResult isPositionRecord(BaseObject* object);

class BridgeApp
{
public:
  // Connects at once; connected() tells whether it did.
  BridgeApp();
  ~BridgeApp();
  BridgeApp(const BridgeApp&) = delete;
  BridgeApp& operator=(const BridgeApp&) = delete;

  bool connected() const { return m_session != nullptr; }
  void send(BaseObject* object);
  // The next object within `limitMs`; null on a time-out, the end of the connection or data
  // that is no object. After a time-out in the middle of an object the stream is out of step.
  BaseObject* receive(int limitMs = 5000);
  // Sends the Corvane app's login and reads the reply (null when none came).
  BaseDictionary* login(int limitMs = 5000);
  // Logs in as the Corvane app does; true on "Result" 0.
  bool logIn();
  // True when a position request is answered with a record: the app is being served.
  bool isServed();

  // True when anything more has arrived that was not read.
  bool hasMore();
  // True when the bridge closes the connection within `limitMs` without sending anything
  // more first.
  bool closedByBridge(int limitMs = 5000);
  // Leaves as an app that is done: no more requests, then waits until the bridge has closed
  // its end. True when it did in time.
  bool leave(int limitMs = 5000);

private:
  DistantObjectsCenter* m_session;
};

}  // namespace e2e
