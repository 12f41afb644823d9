// What a logged-in app's objects get: a position request ("cmd_id" 1 in any base strtol
// reads) exactly one record, any other command no reply and one note on standard output,
// anything that is no dictionary nothing at all. The record holds the host's values of the
// latest frame, bit for bit. One host for all cases.
//
// The bridge handles an app's objects in order, one at a time, so an unknown command sent
// last marks the end: once its note is out, everything before it has been answered, and
// whatever was answered is already waiting in the app's socket.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/BridgeApp.h"
#include "e2e/BridgeFixture.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"

namespace e2e {
namespace {

class BridgeCommandsTest : public SharedBridgeTest
{
protected:
  void SetUp() override
  {
    SharedBridgeTest::SetUp();
    m_notes = sim->countOutLines(NOT_IMPLEMENTED);
  }

  // Sends the marker and waits for its note; true when the notes of the objects sent
  // before it number `notesBefore`, counted since the case began.
  ::testing::AssertionResult markEnd(BridgeApp& app, size_t notesBefore)
  {
    app.send(commandRequest(text("2")));
    const size_t wanted = m_notes + notesBefore + 1;
    if (!sim->waitForOutLines(NOT_IMPLEMENTED, wanted))
      return ::testing::AssertionFailure() << "no note for the marker";
    // The host's answer comes after every note written so far.
    if (sim->run("") != 0) return ::testing::AssertionFailure() << "host stuck or threading violation";
    const size_t notes = sim->countOutLines(NOT_IMPLEMENTED);
    if (notes != wanted)
      return ::testing::AssertionFailure() << notes - m_notes - 1 << " notes before the marker";
    return ::testing::AssertionSuccess();
  }

  size_t m_notes = 0;
};

class PositionRequestTest : public BridgeCommandsTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(PositionRequestTest, GetsExactlyOneRecord)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  app.send(commandRequest(text(GetParam())));
  ASSERT_TRUE(markEnd(app, 0));
  EXPECT_TRUE(isPositionRecord(app.receive()));
  EXPECT_FALSE(app.hasMore());
  EXPECT_TRUE(app.leave());
}

INSTANTIATE_TEST_SUITE_P(CommandIds, PositionRequestTest, ::testing::Values("1", "0x1", "01"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.index == 0   ? "Decimal"
                                              : info.index == 1 ? "Hexadecimal"
                                                                : "Octal");
                         });

struct UnknownCommand
{
  const char* name;
  BaseDictionary* (*request)();
};

void PrintTo(const UnknownCommand& command, std::ostream* out)
{
  *out << command.name;
}

class UnknownCommandTest : public BridgeCommandsTest, public ::testing::WithParamInterface<UnknownCommand>
{
};

TEST_P(UnknownCommandTest, GetsNoReplyAndOneNote)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  app.send(GetParam().request());
  // A request after it is still served, and its record is the only reply.
  app.send(commandRequest(text("1")));
  ASSERT_TRUE(markEnd(app, 1));
  EXPECT_TRUE(isPositionRecord(app.receive()));
  EXPECT_FALSE(app.hasMore());
  EXPECT_TRUE(app.leave());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, UnknownCommandTest,
    ::testing::Values(UnknownCommand{"Two", [] { return commandRequest(text("2")); }},
                      UnknownCommand{"NotANumber", [] { return commandRequest(text("abc")); }},
                      UnknownCommand{"NoCommandId",
                                     [] {
                                       BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
                                       request->setObjectForKey(text("1"), "cmd");
                                       return request;
                                     }},
                      UnknownCommand{"CommandIdNotText", [] { return commandRequest(number(1)); }}),
    [](const ::testing::TestParamInfo<UnknownCommand>& info) { return std::string(info.param.name); });

TEST_F(BridgeCommandsTest, ObjectsOtherThanDictionariesAreIgnoredSilently)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  array->addObject(commandRequest(text("1")));
  app.send(array);
  app.send(text("1"));
  app.send(commandRequest(text("1")));
  ASSERT_TRUE(markEnd(app, 0));
  EXPECT_TRUE(isPositionRecord(app.receive()));
  EXPECT_FALSE(app.hasMore());
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

uint64_t bitsOf(double value)
{
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// With the flight model frozen, the host's values as it prints them (%.17g reads back
// exactly), in the record's order.
std::vector<double> frozenValues(SimProcess& host)
{
  EXPECT_EQ(host.run("pause"), 0);
  std::vector<double> values;
  for (const auto& field : RECORD) {
    EXPECT_EQ(host.run(std::string("get ") + field[1]), 0);
    const std::vector<double> printed = host.values(field[1]);
    values.push_back(printed.empty() ? 0.0 : printed.back());
  }
  return values;
}

void expectRecordOf(BaseObject* object, const std::vector<double>& values)
{
  ASSERT_TRUE(isPositionRecord(object));
  BaseDictionary* record = static_cast<BaseDictionary*>(object);
  for (unsigned int i = 0; i < 10; i++) {
    SCOPED_TRACE(RECORD[i][0]);
    EXPECT_STREQ(record->keyAtIndex(i)->cString(), RECORD[i][0]);
    BaseNumber* value = static_cast<BaseNumber*>(record->objectForKey(RECORD[i][0]));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(bitsOf(value->getDouble()), bitsOf(values[i])) << value->getDouble() << " != " << values[i];
  }
}

TEST_F(BridgeCommandsTest, RecordHoldsTheLatestFrameOfTheHost)
{
  BaseAutorelease pool;
  BridgeApp app;
  ASSERT_TRUE(app.logIn());
  const std::vector<double> first = frozenValues(*sim);
  app.send(commandRequest(text("1")));
  expectRecordOf(app.receive(), first);

  // The flight goes on: the next record follows it.
  ASSERT_EQ(sim->run("resume"), 0);
  ASSERT_EQ(sim->run("frames 30"), 0);
  const std::vector<double> second = frozenValues(*sim);
  EXPECT_NE(bitsOf(second[8]), bitsOf(first[8])) << "the aircraft did not move";
  app.send(commandRequest(text("1")));
  expectRecordOf(app.receive(), second);
  EXPECT_EQ(sim->run("resume"), 0);
  EXPECT_TRUE(app.leave());
}

}  // namespace
}  // namespace e2e
