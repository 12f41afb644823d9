// Encoding objects into buffers and files and reading files back: the JSON, XML and object
// stream encodings, the refused formats, and readFromFile's choice of reader with the
// format it reports and the lines it logs. Each file test works in a directory of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"
#include "support/CaptureStream.h"

namespace {

typedef BaseObject::eToStringFlags Flags;

std::string data(BaseBuffer* buffer)
{
  return std::string(reinterpret_cast<const char*>(buffer->bytes()), buffer->length());
}

class BaseObjectEncodingTest : public ::testing::Test
{
protected:
  BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  BaseNumber* num(long long value) { return new (eRetainAutorelease) BaseNumber(value); }
  BaseNumber* dbl(double value) { return new (eRetainAutorelease) BaseNumber(value); }
  BaseNumber* boolean(bool value) { return new (eRetainAutorelease) BaseNumber(value); }
  BaseArray* array(std::initializer_list<BaseObject*> items)
  {
    BaseArray* result = new (eRetainAutorelease) BaseArray();
    for (BaseObject* item : items) result->addObject(item);
    return result;
  }
  BaseBuffer* buffer(const std::string& bytes = "")
  {
    return new (eRetainAutorelease) BaseBuffer(bytes.data(), (uint32_t)bytes.size());
  }

  BaseAutorelease pool;
};

// ---------------------------------------------------------------------------------------
// encode and decode

using BaseObjectEncodeTest = BaseObjectEncodingTest;

TEST_F(BaseObjectEncodeTest, JSONAppendsTheJSONText)
{
  BaseBuffer* out = buffer("x");
  EXPECT_TRUE(array({num(1), str("a\"b")})->encode(out, BaseObject::eToStringJSON));
  EXPECT_EQ(data(out), "x[ 1, \"a\\\"b\" ]");
  // Decorations would make a comment, which is no JSON: only the format bits count.
  BaseBuffer* decorated = buffer();
  EXPECT_TRUE(array({num(1)})->encode(decorated,
                                      (Flags)(BaseObject::eToStringJSON | BaseObject::eToStringClassName)));
  EXPECT_EQ(data(decorated), "[ 1 ]");
}

TEST_F(BaseObjectEncodeTest, XMLAppendsTheXMLText)
{
  BaseBuffer* out = buffer();
  EXPECT_TRUE(num(42)->encode(out, BaseObject::eToStringXML));
  EXPECT_TRUE(str("ab")->encode(out, BaseObject::eToStringXML));
  EXPECT_EQ(data(out), "<number>42</number><string>ab</string>");
}

TEST_F(BaseObjectEncodeTest, Bit64AppendsOneObjectOfTheObjectStream)
{
  BaseBuffer* out = buffer("x");
  ASSERT_TRUE(str("ab")->encode(out, BaseObject::eToStringSerialized));
  EXPECT_EQ(data(out), std::string("x\x0a\x00\x02"
                                   "ab",
                                   6));

  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  record->setObjectForKey(dbl(0.1 + 0.2), "sum");
  record->setObjectForKey(array({num(INT64_MAX), boolean(true), &BaseNull::instance}), "list");
  BaseBuffer* encoded = buffer();
  ASSERT_TRUE(record->encode(encoded, BaseObject::eToStringSerialized));
  EXPECT_EQ(data(encoded), data(BaseSerializer::serializeObject(record)));
  EXPECT_TRUE(record->isEqual(BaseSerializer::unserializeObject(encoded)));
}

TEST_F(BaseObjectEncodeTest, PlainAndLuaAreRefused)
{
  LogCapture log("%S: %m\n", "I|src/object/\nI|BaseObjectEncoding");
  BaseBuffer* out = buffer("x");
  EXPECT_FALSE(num(1)->encode(out, BaseObject::eToStringPlain));
  EXPECT_FALSE(num(1)->encode(out, BaseObject::eToStringLua));
  EXPECT_FALSE(num(1)->encode(out, (Flags)(BaseObject::eToStringPlain | BaseObject::eToStringClassName)));
  EXPECT_EQ(data(out), "x");
  EXPECT_EQ(log.text(),
            "Info: unsupported encode format 0\n"
            "Info: unsupported encode format 2\n"
            "Info: unsupported encode format 8\n");
}

TEST_F(BaseObjectEncodeTest, DecodeYieldsNull)
{
  Flags format = BaseObject::eToStringLua;
  EXPECT_EQ(num(1)->decode(buffer("[1]"), &format), nullptr);
  EXPECT_EQ(num(1)->decode(buffer(std::string("\x0a\x00\x02"
                                              "ab",
                                              5)),
                           &format),
            nullptr);
  EXPECT_EQ(format, BaseObject::eToStringLua);
}

// ---------------------------------------------------------------------------------------
// Files

class BaseObjectFileTest : public BaseObjectEncodingTest
{
protected:
  void SetUp() override
  {
    char pathTemplate[] = "/tmp/objectencoding-XXXXXX";
    ASSERT_NE(mkdtemp(pathTemplate), nullptr);
    directory = pathTemplate;
  }
  void TearDown() override
  {
    for (const std::string& name : created) unlink(name.c_str());
    rmdir(directory.c_str());
  }
  std::string path(const char* name)
  {
    created.push_back(directory + "/" + name);
    return created.back();
  }
  static std::string contents(const std::string& name)
  {
    std::string bytes;
    FILE* file = fopen(name.c_str(), "rb");
    if (!file) return "(missing)";
    char block[4096];
    size_t count;
    while ((count = fread(block, 1, sizeof block, file)) > 0) bytes.append(block, count);
    fclose(file);
    return bytes;
  }
  static void write(const std::string& name, const std::string& bytes)
  {
    FILE* file = fopen(name.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    fclose(file);
  }
  BaseObject* read(const std::string& name, Flags* format)
  {
    return BaseObject::readFromFile(str(name.c_str()), format);
  }
  // One of everything JSON can hold, with values whose JSON text reads back exactly.
  BaseDictionary* jsonRecord()
  {
    BaseDictionary* inner = new (eRetainAutorelease) BaseDictionary();
    inner->setObjectForKey(str("caf\xC3\xA9 \xF0\x9F\x98\x80 \"q\" \\ \n\t\x01"), "text");
    inner->setObjectForKey(new (eRetainAutorelease) BaseDictionary(), "empty");
    BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
    record->setObjectForKey(inner, "inner");
    record->setObjectForKey(array({num(0), num(-17), num(INT64_MAX), num(INT64_MIN)}), "integers");
    record->setObjectForKey(array({dbl(0.5), dbl(-2.25), dbl(1e-7), dbl(6.02214076e23)}), "doubles");
    record->setObjectForKey(array({boolean(true), boolean(false), &BaseNull::instance, array({})}), "others");
    record->setObjectForKey(str(""), "");
    return record;
  }

  std::string directory;
  std::vector<std::string> created;
};

TEST_F(BaseObjectFileTest, JSONRoundTrip)
{
  BaseDictionary* record = jsonRecord();
  std::string name = path("record.json");
  ASSERT_TRUE(record->writeToFile(str(name.c_str()), BaseObject::eToStringJSON));
  EXPECT_EQ(contents(name), record->toString(BaseObject::eToStringJSON)->cString());

  LogCapture log("%S: %m\n", "I|src/object/\nI|BaseObjectEncoding");
  Flags format = BaseObject::eToStringLua;
  BaseObject* back = read(name, &format);
  EXPECT_EQ(format, BaseObject::eToStringJSON);
  ASSERT_TRUE(BaseObject::isOfClass(back, "BaseDictionary"));
  EXPECT_TRUE(record->isEqual(back));
  EXPECT_TRUE(back->isEqual(record));
  // The kinds come back too, not only values that compare equal.
  BaseArray* integers = static_cast<BaseArray*>(static_cast<BaseDictionary*>(back)->objectForKey("integers"));
  EXPECT_EQ(static_cast<BaseNumber*>(integers->objectAtIndex(3))->getNumberType(),
            BaseNumber::eNumberInteger);
  BaseArray* doubles = static_cast<BaseArray*>(static_cast<BaseDictionary*>(back)->objectForKey("doubles"));
  EXPECT_EQ(static_cast<BaseNumber*>(doubles->objectAtIndex(0))->getNumberType(), BaseNumber::eNumberDouble);
  EXPECT_EQ(
      log.text(),
      "Warning: BaseObject::readFromFile loaded an instance of BaseDictionary, format was 1, path was " +
          name + "\n");
}

TEST_F(BaseObjectFileTest, JSONTopLevelArraysAndStrings)
{
  std::string list = path("list.json");
  ASSERT_TRUE(array({num(1), str("two")})->writeToFile(str(list.c_str()), BaseObject::eToStringJSON));
  std::string text = path("text.json");
  ASSERT_TRUE(str("just \"text\"")->writeToFile(str(text.c_str()), BaseObject::eToStringJSON));

  Flags format = BaseObject::eToStringLua;
  BaseObject* back = read(list, &format);
  EXPECT_EQ(format, BaseObject::eToStringJSON);
  EXPECT_TRUE(array({num(1), str("two")})->isEqual(back));
  format = BaseObject::eToStringLua;
  back = read(text, &format);
  EXPECT_EQ(format, BaseObject::eToStringJSON);
  ASSERT_TRUE(BaseObject::isOfClass(back, "BaseString"));
  EXPECT_STREQ(static_cast<BaseString*>(back)->cString(), "just \"text\"");
}

TEST_F(BaseObjectFileTest, ObjectStreamRoundTrip)
{
  // Values the JSON text would round off come back exactly.
  BaseDictionary* record = jsonRecord();
  record->setObjectForKey(dbl(0.1 + 0.2), "sum");
  std::string name = path("record.bin");
  ASSERT_TRUE(record->writeToFile(str(name.c_str()), BaseObject::eToStringSerialized));
  EXPECT_EQ(contents(name), data(BaseSerializer::serializeObject(record)));

  LogCapture log("%S: %m\n", "I|src/object/\nI|BaseObjectEncoding");
  Flags format = BaseObject::eToStringLua;
  BaseObject* back = read(name, &format);
  EXPECT_EQ(format, BaseObject::eToStringSerialized);
  EXPECT_TRUE(record->isEqual(back));
  EXPECT_EQ(static_cast<BaseNumber*>(static_cast<BaseDictionary*>(back)->objectForKey("sum"))->getDouble(),
            0.1 + 0.2);
  EXPECT_EQ(
      log.text(),
      "Warning: BaseObject::readFromFile loaded an instance of BaseDictionary, format was 64, path was " +
          name + "\n");
}

TEST_F(BaseObjectFileTest, XMLIsNotRead)
{
  std::string name = path("list.plist");
  ASSERT_TRUE(array({num(1)})->writeToFile(str(name.c_str()), BaseObject::eToStringXML));
  write(name, "<?xml version=\"1.0\"?>\n" + contents(name));

  LogCapture log("%S: %m\n", "W|src/object/\nW|BaseObjectEncoding");
  Flags format = BaseObject::eToStringLua;
  EXPECT_EQ(read(name, &format), nullptr);
  EXPECT_EQ(format, BaseObject::eToStringXML);
  EXPECT_EQ(log.text(),
            "Warning: Unserialize a property list from XML is currently unsupported\n"
            "Warning: BaseObject::readFromFile object from file failed, path was " +
                name + "\n");
}

TEST_F(BaseObjectFileTest, ContentNeitherReaderAcceptsFails)
{
  LogCapture log("%S: %m\n", "W|src/object/\nW|BaseObjectEncoding");
  std::string broken = path("broken.json");
  write(broken, "{\"a\": 1,}");
  Flags format = BaseObject::eToStringLua;
  EXPECT_EQ(read(broken, &format), nullptr);
  EXPECT_EQ(format, BaseObject::eToStringLua);
  std::string xmlish = path("xmlish");
  write(xmlish, "<?xml>");
  EXPECT_EQ(read(xmlish, &format), nullptr);
  std::string empty = path("empty");
  write(empty, "");
  EXPECT_EQ(read(empty, &format), nullptr);
  EXPECT_EQ(format, BaseObject::eToStringLua);
  EXPECT_EQ(log.text(),
            "Warning: JSON text rejected at offset 8: Missing a name for object member.\n"
            "Warning: BaseObject::readFromFile object from file failed, path was " +
                broken +
                "\n"
                "Warning: BaseObject::readFromFile object from file failed, path was " +
                xmlish +
                "\n"
                "Warning: BaseObject::readFromFile object from file failed, path was " +
                empty + "\n");
}

TEST_F(BaseObjectFileTest, AMissingFileFails)
{
  std::string name = directory + "/missing.json";
  LogCapture log("%S: %m\n", "W|src/object/\nW|BaseObjectEncoding");
  Flags format = BaseObject::eToStringLua;
  EXPECT_EQ(read(name, &format), nullptr);
  EXPECT_EQ(format, BaseObject::eToStringLua);
  EXPECT_EQ(read(name, nullptr), nullptr);
  EXPECT_EQ(log.text(), "Warning: BaseObject::readFromFile object from file failed, path was " + name +
                            "\n"
                            "Warning: BaseObject::readFromFile object from file failed, path was " +
                            name + "\n");
}

TEST_F(BaseObjectFileTest, WritingFailsWhenEncodingOrWritingDoes)
{
  std::string refused = directory + "/plain.txt";
  EXPECT_FALSE(num(1)->writeToFile(str(refused.c_str()), BaseObject::eToStringPlain));
  struct stat info;
  EXPECT_NE(stat(refused.c_str(), &info), 0);
  std::string unreachable = directory + "/no/such/dir.json";
  EXPECT_FALSE(num(1)->writeToFile(str(unreachable.c_str()), BaseObject::eToStringJSON));
}

}  // namespace
