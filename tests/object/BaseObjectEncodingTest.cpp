// Encoding objects into buffers and files and reading files back: the JSON, XML and object
// stream encodings, the refused formats, and readFromFile's choice of reader with the
// format it reports and the lines it logs.
#include "io/BaseBuffer.h"
#include "object/BaseDictionary.h"
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
  TemporaryDirectory m_directory{"objectencoding"};
};

TEST_F(BaseObjectEncodingTest, EncodeAppendsJSONXMLOrOneObjectOfTheObjectStreamAndRefusesTheRest)
{
  BaseBuffer* out = buffer("x");
  EXPECT_TRUE(arrayOf({num(1), str("a\"b")})->encode(out, BaseObject::eToStringJSON));
  EXPECT_TRUE(num(42)->encode(out, BaseObject::eToStringXML));
  EXPECT_TRUE(str("ab")->encode(out, BaseObject::eToStringSerialized));
  LogCapture log("%S: %m\n", "I|src/object/\nI|BaseObjectEncoding");
  EXPECT_FALSE(num(1)->encode(out, BaseObject::eToStringLua));
  EXPECT_EQ(data(out), std::string("x[ 1, \"a\\\"b\" ]<number>42</number>\x0a\x00\x02" "ab", 38));
  EXPECT_EQ(log.text(), "Info: unsupported encode format 2\n");
  EXPECT_EQ(num(1)->decode(buffer("[1]"), nullptr), nullptr);
}

TEST_F(BaseObjectEncodingTest, FilesRoundTripInJSONAndTheObjectStream)
{
  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  record->setObjectForKey(arrayOf({num(-17LL), str("two")}), "list");
  ASSERT_TRUE(record->writeToFile(str(path("record.json").c_str()), BaseObject::eToStringJSON));
  BaseObject* back =
      read(path("record.json"), BaseObject::eToStringJSON, loaded("BaseDictionary", 1, "record.json"));
  EXPECT_TRUE(record->isEqual(back));
  // Values the JSON text would round off come back exactly from the object stream.
  record->setObjectForKey(num(0.1 + 0.2), "sum");
  ASSERT_TRUE(record->writeToFile(str(path("record.bin").c_str()), BaseObject::eToStringSerialized));
  back =
      read(path("record.bin"), BaseObject::eToStringSerialized, loaded("BaseDictionary", 64, "record.bin"));
  EXPECT_TRUE(record->isEqual(back));
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
  EXPECT_EQ(BaseObject::readFromFile(str(path("missing.json").c_str()), nullptr), nullptr);
  // Writing fails when encoding or writing does.
  EXPECT_FALSE(num(1)->writeToFile(str(path("plain.txt").c_str()), BaseObject::eToStringPlain));
  EXPECT_FALSE(num(1)->writeToFile(str(path("no/such/dir.json").c_str()), BaseObject::eToStringJSON));
}

}  // namespace
