// What a logged-in app's objects get: a position request ("cmd_id" 1 in any base strtol reads)
// exactly one record, any other command no reply and one note on standard output, anything that
// is no dictionary nothing at all. (The record's values: the position sampler's tests, and the
// flight checked in BridgeHostilePeersTest.)
//
// The bridge handles an app's objects in order, one at a time, so an unknown command sent last
// marks the end: once its note is out, everything before it has been answered, and whatever was
// answered is already waiting in the app's socket.
#include <gtest/gtest.h>

#include <string>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"

namespace e2e {
namespace {

using BridgeCommandsTest = SharedBridgeTest;

TEST_F(BridgeCommandsTest, PositionRequestsGetOneRecordOtherCommandsANoteAndOtherObjectsNothing)
{
  enum Answer
  {
    eRecord,
    eNote,
    eNothing
  };
  const struct
  {
    const char* name;
    BaseObject* (*request)();
    Answer answer;
  } cases[] = {
      {"Two", [] { return (BaseObject*)commandRequest(text("2")); }, eNote},
      {"Decimal", [] { return (BaseObject*)commandRequest(text("1")); }, eRecord},
      {"NotANumber", [] { return (BaseObject*)commandRequest(text("abc")); }, eNote},
      {"Hexadecimal", [] { return (BaseObject*)commandRequest(text("0x1")); }, eRecord},
      {"CommandIdNotText", [] { return (BaseObject*)commandRequest(new (eRetainAutorelease) BaseNumber(1)); },
       eNote},
      {"Octal", [] { return (BaseObject*)commandRequest(text("01")); }, eRecord},
      {"NoCommandId",
       [] {
         BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
         request->setObjectForKey(text("1"), "cmd");
         return (BaseObject*)request;
       },
       eNote},
      {"ArrayHoldingARequest",
       [] {
         BaseArray* array = new (eRetainAutorelease) BaseArray();
         array->addObject(commandRequest(text("1")));
         return (BaseObject*)array;
       },
       eNothing},
      {"String", [] { return (BaseObject*)text("1"); }, eNothing},
      {"DecimalAfterTheOthers", [] { return (BaseObject*)commandRequest(text("1")); }, eRecord},
  };
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    BaseAutorelease round;
    const size_t notes = sim->countOutLines(NOT_IMPLEMENTED);
    app.send(test.request());
    app.send(commandRequest(text("2")));  // the marker
    const size_t wanted = notes + (test.answer == eNote ? 2 : 1);
    ASSERT_TRUE(sim->waitForOutLines(NOT_IMPLEMENTED, wanted)) << "no note for the marker";
    // The host's answer comes after every note written so far.
    ASSERT_EQ(sim->run(""), 0);
    EXPECT_EQ(sim->countOutLines(NOT_IMPLEMENTED), wanted);
    if (test.answer == eRecord) {
      EXPECT_TRUE(isPositionRecord(app.receive()));
    }
    EXPECT_FALSE(app.hasMore());
  }
  EXPECT_TRUE(app.leave());
}

}  // namespace
}  // namespace e2e
