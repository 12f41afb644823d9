// What a logged-in app's objects get: a position request ("cmd_id" 1 in any base strtol reads)
// exactly one record, any other command no reply and one note on standard output, anything that
// is no dictionary nothing at all. The record holds the host's values of the latest frame, bit
// for bit. One host for all cases.
//
// The bridge handles an app's objects in order, one at a time, so an unknown command sent last
// marks the end: once its note is out, everything before it has been answered, and whatever was
// answered is already waiting in the app's socket.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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
      {"CommandIdNotText", [] { return (BaseObject*)commandRequest(number(1)); }, eNote},
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

// The record's keys in their order, with the data reference each one carries.
const char* const RECORD[10][2] = {
    {"pitch", "sim/flightmodel/position/theta"},
    {"course", "sim/flightmodel/position/hpath"},
    {"altitude", "sim/flightmodel/position/elevation"},
    {"roll", "sim/flightmodel/position/phi"},
    {"yaw", "sim/flightmodel/position/psi"},
    {"accelerationZ", "sim/flightmodel/position/local_az"},
    {"longitude", "sim/flightmodel/position/longitude"},
    {"speed", "sim/flightmodel/position/groundspeed"},
    {"latitude", "sim/flightmodel/position/latitude"},
    {"slip", "sim/flightmodel/misc/slip"},
};

// With the flight model frozen, checks that the app's next record holds the host's values as the
// host prints them (%.17g reads back exactly); returns the latitude.
std::string expectRecordOfFrozenFrame(SimProcess& host, BridgeApp& app)
{
  EXPECT_EQ(host.run("pause"), 0);
  std::vector<std::string> printed;
  for (const auto& field : RECORD) {
    const std::string prefix = std::string("sim: ") + field[1] + " = ";
    EXPECT_EQ(host.run(std::string("get ") + field[1]), 0);
    std::string value;
    for (const std::string& line : linesOf(host.out()))
      if (line.compare(0, prefix.size(), prefix) == 0) value = line.substr(prefix.size());
    printed.push_back(value);
  }
  app.send(commandRequest(text("1")));
  BaseObject* object = app.receive();
  EXPECT_TRUE(isPositionRecord(object));
  BaseDictionary* record = dynamic_cast<BaseDictionary*>(object);
  for (unsigned int i = 0; record && i < 10; i++) {
    SCOPED_TRACE(RECORD[i][0]);
    EXPECT_STREQ(record->keyAtIndex(i)->cString(), RECORD[i][0]);
    const double value = static_cast<BaseNumber*>(record->objectForKeyIndex(i))->getDouble();
    const double expected = std::strtod(printed[i].c_str(), nullptr);
    EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << value << " != " << printed[i];
  }
  EXPECT_EQ(host.run("resume"), 0);
  return printed[8];
}

TEST_F(BridgeCommandsTest, RecordHoldsTheLatestFrameOfTheHost)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  const std::string first = expectRecordOfFrozenFrame(*sim, app);
  // The flight goes on: the next record follows it.
  ASSERT_EQ(sim->run("frames 30"), 0);
  EXPECT_NE(expectRecordOfFrozenFrame(*sim, app), first) << "the aircraft did not move";
  EXPECT_TRUE(app.leave());
}

}  // namespace
}  // namespace e2e
