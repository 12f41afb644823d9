// What a dump prints: every object under its offset and length in each text form; for a
// malformed stream the objects before the fault and the byte at fault.
#include "StreamDumper.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "../support/WireBytes.h"
#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"

namespace {

template <class T, class... A>
T* make(A... arguments)
{
  return new (eRetainAutorelease) T(arguments...);
}

class StreamDumperTest : public ::testing::Test
{
protected:
  static std::string bytesOf(BaseObject* object)
  {
    BaseBuffer* buffer = BaseSerializer::serializeObject(object);
    return std::string((const char*)buffer->bytes(), buffer->length());
  }
  static BaseDictionary* record()
  {
    BaseDictionary* record = make<BaseDictionary>();
    record->setObjectForKey(make<BaseNumber>(47.5), "latitude");
    record->setObjectForKey(make<BaseNumber>(-8.25), "longitude");
    record->setCStringForKey("EDDF", "airport");
    BaseArray* legs = make<BaseArray>();
    legs->addObject(make<BaseNumber>(1.5));
    legs->addObject(&BaseNull::instance);
    record->setObjectForKey(legs, "legs");
    BaseDictionary* attitude = make<BaseDictionary>();
    attitude->setObjectForKey(make<BaseNumber>(2), "pitch");
    record->setObjectForKey(attitude, "attitude");
    return record;
  }
  bool dump(const std::string& stream, int form = BaseObject::eToStringJSON)
  {
    StreamDumper dumper(form);
    std::ostringstream out;
    const bool complete = dumper.dump((const unsigned char*)stream.data(), stream.size(), out);
    m_output = out.str();
    m_problem = dumper.problem();
    return complete;
  }

  BaseAutorelease m_pool;
  std::string m_output, m_problem;
};

TEST_F(StreamDumperTest, PrintsEveryObjectUnderItsOffsetAndLength)
{
  ASSERT_TRUE(dump(bytesOf(record()) + bytesOf(make<BaseString>("abc")) + bytesOf(&BaseNull::instance)));
  EXPECT_EQ(m_output,
            "// object 1 at byte 0, 97 bytes\n{\n  \"airport\" : \"EDDF\",\n  \"longitude\" : -8.25,\n"
            "  \"legs\" : [ 1.5, null ],\n  \"latitude\" : 47.5,\n  \"attitude\" : { \"pitch\" : 2 }\n}\n"
            "// object 2 at byte 97, 6 bytes\n\"abc\"\n// object 3 at byte 103, 2 bytes\nnull\n");
  EXPECT_TRUE(dump(wire("0A 00 03 'abc'"), BaseObject::eToStringLua));
  EXPECT_EQ(m_output, "-- object 1 at byte 0, 6 bytes\n\"abc\"\n");
}

TEST_F(StreamDumperTest, EachFaultIsNamedAtItsByte)
{
  const std::string good = bytesOf(record()) + bytesOf(make<BaseString>("abc")), third = bytesOf(record());
  std::string files, nested;
  for (int i = 0; i < 100000; i++) files += std::string("\x02\x00", 2);
  for (int i = 0; i < BaseSerializer::MAX_NESTING_DEPTH; i++) nested += wire("14 00 01");
  const std::tuple<std::string, size_t, std::string> cases[] = {
      {wire("14 00 02 0A 00 01 'x' 03 00"), 110, "unknown object kind 3"},
      {third.substr(0, 20), 123, "stream ends inside the dictionary at byte 103 after 1 of 5 entries"},
      {files, 105, "file attributes are a file, not a dictionary"},
      {wire("0A 00 5F FF FF FF 0F 'abcd'"), 105, "string at byte 103 claims 2147483647 bytes, only 4 follow"},
      {nested + wire("14 00 01 0B 00"), 871, "array nests deeper than 256 levels"}};
  for (const auto& [bytes, offset, problem] : cases) {
    SCOPED_TRACE(problem);
    EXPECT_FALSE(dump(good + bytes));
    EXPECT_EQ(m_problem,
              "at byte " + std::to_string(offset) + " (in object 3, which starts at byte 103): " + problem);
    EXPECT_EQ(m_output.find("object 3"), std::string::npos) << m_output;
  }
  EXPECT_TRUE(dump(good + nested + wire("0B 00"))) << m_problem;
}

}  // namespace
