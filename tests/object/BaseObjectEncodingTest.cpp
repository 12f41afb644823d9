// Encoding objects into buffers and files and reading files back: the JSON, XML and object
// stream encodings, the refused formats, and readFromFile's choice of reader with the
// format it reports and the lines it logs.
#include <climits>

#include "io/BaseBuffer.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "serialization/BaseSerializer.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"
#include "support/ValueTest.h"

namespace {

typedef BaseObject::eToStringFlags Flags;

std::string data(BaseBuffer* buffer)
{
  return std::string(reinterpret_cast<const char*>(buffer->bytes()), buffer->length());
}

class BaseObjectEncodingTest : public ValueTest
{
protected:
  void SetUp() override { ASSERT_FALSE(m_directory.path().empty()); }
  static BaseBuffer* buffer(const std::string& bytes = "")
  {
    return new (eRetainAutorelease) BaseBuffer(bytes.data(), (uint32_t)bytes.size());
  }
  std::string path(const char* name) { return m_directory.path() + "/" + name; }
  std::string loaded(const char* className, int format, const char* name)
  {
    return std::string("Warning: BaseObject::readFromFile loaded an instance of ") + className +
           ", format was " + std::to_string(format) + ", path was " + path(name) + "\n";
  }
  // Reads the file, expecting `format` to be reported and `lines` logged.
  BaseObject* read(const std::string& name, Flags format, const std::string& lines)
  {
    LogCapture log("%S: %m\n", "I|src/object/\nI|BaseObjectEncoding");
    Flags found = BaseObject::eToStringLua;
    BaseObject* object = BaseObject::readFromFile(str(name.c_str()), &found);
    EXPECT_EQ(found, format) << name;
    EXPECT_EQ(log.text(), lines);
    return object;
  }
  // One of everything JSON can hold, with values whose JSON text reads back exactly.
  static BaseDictionary* jsonRecord()
  {
    BaseDictionary* inner = new (eRetainAutorelease) BaseDictionary();
    inner->setObjectForKey(str("caf\xC3\xA9 \xF0\x9F\x98\x80 \"q\" \\ \n\t\x01"), "text");
    inner->setObjectForKey(new (eRetainAutorelease) BaseDictionary(), "empty");
    BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
    record->setObjectForKey(inner, "inner");
    record->setObjectForKey(arrayOf({num(0LL), num(-17LL), num(LLONG_MAX), num(LLONG_MIN)}), "integers");
    record->setObjectForKey(arrayOf({num(0.5), num(-2.25), num(1e-7), num(6.02214076e23)}), "doubles");
    record->setObjectForKey(arrayOf({num(true), num(false), &BaseNull::instance, arrayOf({})}), "others");
    record->setObjectForKey(str(""), "");
    return record;
  }

  TemporaryDirectory m_directory{"objectencoding"};
};

TEST_F(BaseObjectEncodingTest, EncodeAppendsJSONXMLOrOneObjectOfTheObjectStream)
{
  BaseBuffer* out = buffer("x");
  EXPECT_TRUE(arrayOf({num(1), str("a\"b")})->encode(out, BaseObject::eToStringJSON));
  // Decorations would make a comment, which is no JSON: only the format bits count.
  EXPECT_TRUE(
      arrayOf({num(1)})->encode(out, (Flags)(BaseObject::eToStringJSON | BaseObject::eToStringClassName)));
  EXPECT_TRUE(num(42)->encode(out, BaseObject::eToStringXML));
  EXPECT_TRUE(str("ab")->encode(out, BaseObject::eToStringSerialized));
  EXPECT_EQ(data(out), std::string("x[ 1, \"a\\\"b\" ][ 1 ]<number>42</number>\x0a\x00\x02"
                                   "ab",
                                   43));

  BaseDictionary* record = jsonRecord();
  record->setObjectForKey(num(0.1 + 0.2), "sum");
  BaseBuffer* encoded = buffer();
  ASSERT_TRUE(record->encode(encoded, BaseObject::eToStringSerialized));
  EXPECT_EQ(data(encoded), data(BaseSerializer::serializeObject(record)));
  EXPECT_TRUE(record->isEqual(BaseSerializer::unserializeObject(encoded)));
}

TEST_F(BaseObjectEncodingTest, PlainAndLuaAreRefusedAndDecodeYieldsNull)
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
  Flags format = BaseObject::eToStringLua;
  EXPECT_EQ(num(1)->decode(buffer("[1]"), &format), nullptr);
  EXPECT_EQ(num(1)->decode(buffer(std::string("\x0a\x00\x02"
                                              "ab",
                                              5)),
                           &format),
            nullptr);
  EXPECT_EQ(format, BaseObject::eToStringLua);
}

TEST_F(BaseObjectEncodingTest, FilesRoundTripInJSONAndTheObjectStream)
{
  BaseDictionary* record = jsonRecord();
  ASSERT_TRUE(record->writeToFile(str(path("record.json").c_str()), BaseObject::eToStringJSON));
  EXPECT_EQ(readFile(path("record.json")), text(record, BaseObject::eToStringJSON));
  BaseObject* back =
      read(path("record.json"), BaseObject::eToStringJSON, loaded("BaseDictionary", 1, "record.json"));
  EXPECT_TRUE(record->isEqual(back));
  EXPECT_TRUE(back->isEqual(record));
  // The kinds come back too, not only values that compare equal.
  BaseArray* integers = (BaseArray*)((BaseDictionary*)back)->objectForKey("integers");
  EXPECT_EQ(((BaseNumber*)integers->objectAtIndex(3))->getNumberType(), BaseNumber::eNumberInteger);
  BaseArray* doubles = (BaseArray*)((BaseDictionary*)back)->objectForKey("doubles");
  EXPECT_EQ(((BaseNumber*)doubles->objectAtIndex(0))->getNumberType(), BaseNumber::eNumberDouble);

  // Top-level arrays and strings.
  ASSERT_TRUE(
      arrayOf({num(1), str("two")})->writeToFile(str(path("list.json").c_str()), BaseObject::eToStringJSON));
  ASSERT_TRUE(str("just \"text\"")->writeToFile(str(path("text.json").c_str()), BaseObject::eToStringJSON));
  BaseObject* list = read(path("list.json"), BaseObject::eToStringJSON, loaded("BaseArray", 1, "list.json"));
  EXPECT_TRUE(arrayOf({num(1), str("two")})->isEqual(list));
  BaseObject* string =
      read(path("text.json"), BaseObject::eToStringJSON, loaded("BaseString", 1, "text.json"));
  ASSERT_TRUE(BaseObject::isOfClass(string, "BaseString"));
  EXPECT_EQ(text((BaseString*)string), "just \"text\"");

  // Values the JSON text would round off come back exactly from the object stream.
  record->setObjectForKey(num(0.1 + 0.2), "sum");
  ASSERT_TRUE(record->writeToFile(str(path("record.bin").c_str()), BaseObject::eToStringSerialized));
  EXPECT_EQ(readFile(path("record.bin")), data(BaseSerializer::serializeObject(record)));
  back =
      read(path("record.bin"), BaseObject::eToStringSerialized, loaded("BaseDictionary", 64, "record.bin"));
  EXPECT_TRUE(record->isEqual(back));
  EXPECT_EQ(((BaseNumber*)((BaseDictionary*)back)->objectForKey("sum"))->getDouble(), 0.1 + 0.2);
}

TEST_F(BaseObjectEncodingTest, XMLAndContentNoReaderAcceptsAreNotRead)
{
  ASSERT_TRUE(arrayOf({num(1)})->writeToFile(str(path("list.plist").c_str()), BaseObject::eToStringXML));
  writeFile(path("list.plist"), "<?xml version=\"1.0\"?>\n" + readFile(path("list.plist")));
  const std::string failed = "Warning: BaseObject::readFromFile object from file failed, path was ";
  EXPECT_EQ(read(path("list.plist"), BaseObject::eToStringXML,
                 "Warning: Unserialize a property list from XML is currently unsupported\n" + failed +
                     path("list.plist") + "\n"),
            nullptr);
  writeFile(path("broken.json"), "{\"a\": 1,}");
  EXPECT_EQ(read(path("broken.json"), BaseObject::eToStringLua,
                 "Warning: JSON text rejected at offset 8: Missing a name for object member.\n" + failed +
                     path("broken.json") + "\n"),
            nullptr);
  writeFile(path("xmlish"), "<?xml>");
  writeFile(path("empty"), "");
  for (const char* name : {"xmlish", "empty", "missing.json"})
    EXPECT_EQ(read(path(name), BaseObject::eToStringLua, failed + path(name) + "\n"), nullptr);
  EXPECT_EQ(BaseObject::readFromFile(str(path("missing.json").c_str()), nullptr), nullptr);

  // Writing fails when encoding or writing does.
  EXPECT_FALSE(num(1)->writeToFile(str(path("plain.txt").c_str()), BaseObject::eToStringPlain));
  EXPECT_FALSE(present(path("plain.txt")));
  EXPECT_FALSE(num(1)->writeToFile(str(path("no/such/dir.json").c_str()), BaseObject::eToStringJSON));
}

}  // namespace
