// What a dump prints: every object under its offset and length in each text form; for a
// malformed stream the objects before the fault and the byte at fault.
#include "StreamDumper.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "../support/TemporaryDirectory.h"
#include "../support/WireBytes.h"
#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseObject.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"

namespace {

class StreamDumperTest : public ::testing::Test
{
protected:
  void append(BaseObject* object)
  {
    BaseBuffer* buffer = BaseSerializer::serializeObject(object);
    m_stream.append((const char*)buffer->bytes(), buffer->length());
  }
  BaseDictionary* record()
  {
    BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
    record->setObjectForKey(new (eRetainAutorelease) BaseNumber(47.5), "latitude");
    record->setObjectForKey(new (eRetainAutorelease) BaseNumber(-8.25), "longitude");
    record->setCStringForKey("EDDF", "airport");
    BaseArray* legs = new (eRetainAutorelease) BaseArray();
    legs->addObject(new (eRetainAutorelease) BaseNumber(1.5));
    legs->addObject(&BaseNull::instance);
    record->setObjectForKey(legs, "legs");
    BaseDictionary* attitude = new (eRetainAutorelease) BaseDictionary();
    attitude->setObjectForKey(new (eRetainAutorelease) BaseNumber(2), "pitch");
    record->setObjectForKey(attitude, "attitude");
    return record;
  }
  bool dump(int form = BaseObject::eToStringJSON)
  {
    StreamDumper dumper(form);
    std::ostringstream out;
    const bool complete = dumper.dump((const unsigned char*)m_stream.data(), m_stream.size(), out);
    m_output = out.str();
    m_problem = dumper.problem();
    return complete;
  }

  BaseAutorelease m_pool;
  std::string m_stream;
  std::string m_output;
  std::string m_problem;
};

TEST_F(StreamDumperTest, PrintsEveryObjectUnderItsOffsetAndLength)
{
  append(record());
  append(new (eRetainAutorelease) BaseString("abc"));
  append(&BaseNull::instance);
  ASSERT_TRUE(dump());
  EXPECT_EQ(m_output,
            "// object 1 at byte 0, 97 bytes\n"
            "{\n"
            "  \"airport\" : \"EDDF\",\n"
            "  \"longitude\" : -8.25,\n"
            "  \"legs\" : [ 1.5, null ],\n"
            "  \"latitude\" : 47.5,\n"
            "  \"attitude\" : { \"pitch\" : 2 }\n"
            "}\n"
            "// object 2 at byte 97, 6 bytes\n"
            "\"abc\"\n"
            "// object 3 at byte 103, 2 bytes\n"
            "null\n");
}

TEST_F(StreamDumperTest, LiteralBytesInEachTextForm)
{
  m_stream = wire("0A 00 03 'abc' 15 00 01 0A 00 06 'cmd_id' 0C 00 01");
  const std::pair<int, const char*> cases[] = {
      {BaseObject::eToStringJSON,
       "// object 1 at byte 0, 6 bytes\n\"abc\"\n// object 2 at byte 6, 15 bytes\n{ \"cmd_id\" : 1 }\n"},
      {BaseObject::eToStringLua,
       "-- object 1 at byte 0, 6 bytes\n\"abc\"\n-- object 2 at byte 6, 15 bytes\n{ cmd_id = 1 }\n"},
      {BaseObject::eToStringXML,
       "<!-- object 1 at byte 0, 6 bytes -->\n<string>abc</string>\n"
       "<!-- object 2 at byte 6, 15 bytes -->\n<dict> cmd_id  <number>1</number> </dict>\n"},
      {BaseObject::eToStringPlain,
       "# object 1 at byte 0, 6 bytes\n\"abc\"\n# object 2 at byte 6, 15 bytes\nDICTIONARY ( cmd_id -> 1 "
       ")\n"}};
  for (auto [form, text] : cases) {
    EXPECT_TRUE(dump(form));
    EXPECT_EQ(m_output, text);
  }
}

// The first two objects are good; the third is broken as each case needs.
class StreamDumperMalformedTest : public StreamDumperTest
{
protected:
  void SetUp() override
  {
    append(record());
    append(new (eRetainAutorelease) BaseString("abc"));
    m_good = m_stream;
  }
  void expectStopsAt(const std::string& third, size_t offset, const std::string& problem)
  {
    m_stream = m_good + third;
    EXPECT_FALSE(dump());
    EXPECT_EQ(m_problem,
              "at byte " + std::to_string(offset) + " (in object 3, which starts at byte 103): " + problem);
    EXPECT_NE(m_output.find("// object 2 at byte 97, 6 bytes\n\"abc\"\n"), std::string::npos) << m_output;
    EXPECT_EQ(m_output.find("object 3"), std::string::npos) << m_output;
  }
  std::string m_good;
};

TEST_F(StreamDumperMalformedTest, EachFaultIsNamedAtItsByte)
{
  BaseBuffer* bytes = BaseSerializer::serializeObject(record());
  const std::string third((const char*)bytes->bytes(), bytes->length());
  expectStopsAt(wire("14 00 02 0A 00 01 'x' 03 00"), 110, "unknown object kind 3");
  expectStopsAt(third.substr(0, 20), 123,
                "stream ends inside the dictionary at byte 103 after 1 of 5 entries");
  expectStopsAt(third.substr(0, 8), 108, "string at byte 106 claims 7 bytes, only 2 follow");
  // A file whose attributes are a file, and so on, never nests deeper than one level.
  std::string files;
  for (int i = 0; i < 100000; i++) files += std::string("\x02\x00", 2);
  expectStopsAt(files, 105, "file attributes are a file, not a dictionary");
  // A claim of 2^31-1 bytes is refused before anything is made for it.
  expectStopsAt(wire("0A 00 5F FF FF FF 0F 'abcd'"), 105,
                "string at byte 103 claims 2147483647 bytes, only 4 follow");
  std::string nested;
  for (int i = 0; i < BaseSerializer::MAX_NESTING_DEPTH; i++) nested += wire("14 00 01");
  m_stream = m_good + nested + wire("0B 00");
  EXPECT_TRUE(dump()) << m_problem;
  expectStopsAt(nested + wire("14 00 01 0B 00"), 871, "array nests deeper than 256 levels");
}

TEST_F(StreamDumperTest, FileObjectIsShownByItsAttributesAndNotExtracted)
{
  TemporaryDirectory directory("corvane-dump");
  const std::string name = "dump-payload-" + std::to_string(getpid()) + ".bin";
  const std::string path = directory.path() + "/" + name;
  writeFile(path, std::string(5000, 'q'));
  BaseArray* holder = new (eRetainAutorelease) BaseArray();
  holder->addObject(new (eRetainAutorelease) BaseFile(new (eRetainAutorelease) BaseString(path.c_str())));
  append(holder);
  const size_t fileEnd = m_stream.size();
  append(new (eRetainAutorelease) BaseString("after"));

  ASSERT_TRUE(dump()) << m_problem;
  const size_t contentOffset = fileEnd - 5000;
  EXPECT_NE(m_output.find("// object 1 at byte 0, " + std::to_string(fileEnd) +
                          " bytes\n// file at byte 3 shown "
                          "as its attributes; 5000 content bytes at byte " +
                          std::to_string(contentOffset) + " not extracted\n["),
            std::string::npos)
      << m_output;
  EXPECT_NE(m_output.find("\"fa_name\" : \"" + name + "\""), std::string::npos) << m_output;
  EXPECT_NE(m_output.find("// object 2 at byte " + std::to_string(fileEnd) + ", 8 bytes\n\"after\"\n"),
            std::string::npos)
      << m_output;
  const std::string received = std::string(BaseFile::temporaryDirectory()->cString()) + "/" + name;
  EXPECT_NE(access(received.c_str(), F_OK), 0) << received;
}

}  // namespace
