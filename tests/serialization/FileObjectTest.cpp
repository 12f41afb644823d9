// File objects in the object stream: sending a file and receiving it into the temporary
// storage or under the delegate's directory, resuming a partial copy, skipping content in a
// stored stream, the file entry points, and the attributes a hostile peer may send.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Files.h"
#include "serialization/BaseSerializer.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

namespace {

BaseString* str(const std::string& text)
{
  return new (eRetainAutorelease) BaseString(text.data(), (int)text.size());
}

// Tells where files go and records what it is told.
class Receiver : public BaseSerializerDelegate
{
public:
  BaseString* getPathForIncommingFile(BaseDictionary* attributes) override
  {
    BaseObject* position = attributes->objectForKey("fo_pk");
    if (position) positions.push_back(static_cast<BaseNumber*>(position)->getInteger64());
    return str(directory);
  }
  void handleProgression(uint32_t first, uint32_t second, uint32_t bytes, uint32_t) override
  {
    totals = {first, second, bytes};
  }

  std::string directory;
  std::vector<long long> positions;
  std::vector<uint32_t> totals{0, 0, 0};
};

class FileObjectTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_FALSE(m_root.path().empty());
    for (const std::string& folder : {source(), storage(), delegated()}) platform::makeDirectory(folder.c_str());
  }

  std::string source() const { return m_root.path() + "/source"; }
  std::string storage() const { return m_root.path() + "/storage"; }
  std::string delegated() const { return m_root.path() + "/delegated"; }

  // A file in the source directory with known bytes and dates.
  BaseFile* sourceFile(const std::string& name, const std::string& bytes)
  {
    const std::string path = source() + "/" + name;
    writeFile(path, bytes);
    platform::setFileTimes(path.c_str(), 1600000000, 1500000000);
    return new (eRetainAutorelease) BaseFile(str(path));
  }

  // Reads one object the way a receiving session does, files going to storage().
  BaseObject* receive(BaseBuffer* bytes, Receiver* delegate = nullptr)
  {
    BaseSerializer serializer(bytes, delegate);
    serializer.setTemporaryStorage(str(storage()));
    return serializer.unserializeObjectFromIO();
  }

  // The attributes a peer announces for `name`; the dates are those of sourceFile.
  static BaseDictionary* attributes(const std::string& name, long long size)
  {
    BaseDictionary* attributes = new (eRetainAutorelease) BaseDictionary();
    attributes->setObjectForKey(str(name), "fa_name");
    attributes->setCStringForKey("ft_reg", "fa_type");
    attributes->setObjectForKey(new (eRetainAutorelease) BaseNumber(size), "fa_size");
    attributes->setObjectForKey(new (eRetainAutorelease) BaseDate(1400000000.0), "fa_mdate");
    attributes->setObjectForKey(new (eRetainAutorelease) BaseDate(1450000000.0), "fa_adate");
    return attributes;
  }

  // A file object as a peer may send it: its header, the attributes, then `content`.
  static BaseBuffer* fileObject(BaseDictionary* attributes, const std::string& content)
  {
    BaseBuffer* bytes = new (eRetainAutorelease) BaseBuffer();
    bytes->appendBytes("\x02\x00", 2);
    BaseBuffer* encoded = BaseSerializer::serializeObject(attributes);
    bytes->appendBytes(encoded->bytes(), encoded->length());
    bytes->appendBytes(content.data(), (uint32_t)content.size());
    return bytes;
  }

  static int64_t modificationTime(const std::string& path)
  {
    platform::FileStatus status;
    platform::fileStatus(path.c_str(), status);
    return status.modificationTime;
  }

  BaseAutorelease m_pool;
  TemporaryDirectory m_root{"FileObjectTest"};
};

TEST_F(FileObjectTest, AFileArrivesIdenticalInTheTemporaryStorage)
{
  // Not a multiple of either block size, with a name that is not plain ASCII.
  const std::string bytes = patternBytes(20000);
  BaseBuffer* encoded = BaseSerializer::serializeObject(sourceFile("caf\xC3\xA9.bin", bytes));

  Receiver receiver;
  BaseObject* received = receive(encoded, &receiver);
  const std::string arrived = storage() + "/caf\xC3\xA9.bin";
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(static_cast<BaseFile*>(received)->getOSFilePath()->cString(), arrived);
  platform::FileStatus status;
  platform::fileStatus(arrived.c_str(), status);  // before reading it changes the access time
  EXPECT_TRUE(status.accessTime == 1600000000 && status.modificationTime == 1500000000);
  EXPECT_EQ(readFile(arrived), bytes);
  EXPECT_EQ(rawListing(storage()).size(), 3u);  // nothing left under a hidden name
  EXPECT_EQ(receiver.totals, (std::vector<uint32_t>{1, 1, 20000}));
}

TEST_F(FileObjectTest, TheContextPlacesTheFileUnderTheDelegatesDirectoryOnly)
{
  BaseFile* file = sourceFile("report.txt", "quarterly");
  file->setContextAttribute(str("2026/december"));
  BaseBuffer* encoded = BaseSerializer::serializeObject(file);

  Receiver receiver;
  receiver.directory = delegated();
  receive(encoded, &receiver);
  EXPECT_EQ(readFile(delegated() + "/2026/december/report.txt"), "quarterly");
  EXPECT_FALSE(present(storage() + "/report.txt"));
}

TEST_F(FileObjectTest, AnInterruptedResumableTransferIsCompletedByASecondOne)
{
  const std::string bytes = patternBytes(5000);
  const std::string arrived = storage() + "/big.bin";
  BaseDictionary* first = attributes("big.bin", 5000);
  first->setObjectForKey(new (eRetainAutorelease) BaseNumber(true), "fa_res");
  {
    LogCapture log;
    EXPECT_EQ(receive(fileObject(first, bytes.substr(0, 3000))), nullptr);
  }
  EXPECT_FALSE(present(arrived));
  // Whole blocks of the content reached the partial copy.
  const std::string partial = readFile(storage() + "/.big.bin.partial");
  ASSERT_GE(partial.size(), 1000u);
  EXPECT_EQ(partial, bytes.substr(0, partial.size()));

  // The sender resumes at 1000: exactly 4000 bytes follow, and the next object is intact.
  BaseDictionary* second = attributes("big.bin", 5000);
  second->setObjectForKey(new (eRetainAutorelease) BaseNumber(true), "fa_res");
  second->setObjectForKey(new (eRetainAutorelease) BaseNumber(1000LL), "fa_to");
  BaseBuffer* stream = fileObject(second, bytes.substr(1000));
  stream->appendBytes("\x0B\x00", 2);
  Receiver receiver;
  BaseSerializer serializer(stream, &receiver);
  serializer.setTemporaryStorage(str(storage()));
  EXPECT_TRUE(BaseObject::isOfClass(serializer.unserializeObjectFromIO(), "BaseFile"));
  EXPECT_EQ(serializer.unserializeObjectFromIO(), &BaseNull::instance);
  EXPECT_EQ(readFile(arrived), bytes);
  EXPECT_EQ(modificationTime(arrived), 1400000000);
  EXPECT_EQ(receiver.totals, (std::vector<uint32_t>{1, 1, 5000}));  // the resumed bytes count too
}

TEST_F(FileObjectTest, AShortTransferLeavesNothingUnderTheFinalName)
{
  writeFile(storage() + "/old.bin", "the previous version");
  LogCapture log;
  EXPECT_EQ(receive(fileObject(attributes("old.bin", 5000), patternBytes(4999))), nullptr);
  EXPECT_FALSE(present(storage() + "/old.bin"));
  EXPECT_EQ(rawListing(storage()).size(), 2u);  // no temporary file either
}

TEST_F(FileObjectTest, UnsafeAttributesAreRefusedBeforeTheDiskIsTouched)
{
  const char* unsafeName = "unsafe file name in data";
  const char* unsafeContext = "unsafe context path in data";
  const char* notANumber = "size or transfer offset that is not a non-negative integer";
  // Name, context, size, transfer offset, resumable, the error, a key given a value of another class.
  const std::tuple<std::string, const char*, long long, long long, bool, const char*, std::string> cases[] = {
      {"..", nullptr, 4, 0, false, unsafeName, ""},
      {".", nullptr, 4, 0, false, unsafeName, ""},
      {"", nullptr, 4, 0, false, unsafeName, ""},
      {"f", "ok/.x/ab/..", 4, 0, false, unsafeContext, ""},
      {"../escaped", nullptr, 4, 0, false, unsafeName, ""},
      {std::string("ok\0/../x", 8), nullptr, 4, 0, false, unsafeName, ""},
      {"x", nullptr, 4, 0, false, unsafeName, "fa_name"},
      {"f", "/tmp", 4, 0, false, unsafeContext, ""},
      {"f", nullptr, 4, 5, true, "transfer offset 5 beyond the file size 4 in file attributes", ""},
      {"f", nullptr, 4, 2, false, "transfer offset 2 beyond the 0 bytes received before, in data", ""},
      {"f", nullptr, -4, 0, false, notANumber, ""},
      {"f", nullptr, 4, 0, false, notANumber, "fa_size"},
  };
  Receiver receiver;
  receiver.directory = delegated();
  for (const auto& [name, context, size, offset, resume, error, wrongClass] : cases) {
    SCOPED_TRACE(name + " " + (context ? context : "-") + " " + wrongClass);
    BaseDictionary* announced = attributes(name, size);
    if (context) announced->setObjectForKey(str(context), "fa_ctx");
    if (offset) announced->setObjectForKey(new (eRetainAutorelease) BaseNumber(offset), "fa_to");
    if (resume) announced->setObjectForKey(new (eRetainAutorelease) BaseNumber(true), "fa_res");
    if (!wrongClass.empty())
      announced->setObjectForKey(new (eRetainAutorelease) BaseArray(), wrongClass.c_str());
    LogCapture log;
    EXPECT_EQ(receive(fileObject(announced, "data"), &receiver), nullptr);
    EXPECT_TRUE(log.contains(std::string("Error: ") + error)) << log.text();
  }
  LogCapture log;
  EXPECT_EQ(receive(new (eRetainAutorelease) BaseBuffer("\x02\x00\x0A\x00\x00", 5)), nullptr);
  EXPECT_EQ(log.text(), "Error: file attributes of class BaseString in data\n");
  {
    // A chain of file headers, each the attributes of the one before, deep enough to
    // exhaust the stack if every link were a call without a limit.
    std::string chain;
    for (int i = 0; i < 200000; i++) chain += std::string("\x02\x00", 2);
    LogCapture deep;
    EXPECT_EQ(receive(new (eRetainAutorelease) BaseBuffer(chain.data(), (uint32_t)chain.size())), nullptr);
    EXPECT_TRUE(deep.contains("Error: nesting deeper than 256 levels in data")) << deep.text();
  }

  for (const std::string& directory : {storage(), delegated(), m_root.path()})
    EXPECT_EQ(rawListing(directory).size(), directory == m_root.path() ? 5u : 2u) << directory;
}

TEST_F(FileObjectTest, WhatCannotBeSentIsSaidSo)
{
  // A directory cannot be opened for reading: an empty attribute dictionary, which reads
  // back as an invalid file with an empty path.
  LogCapture log("%S: %m\n", "I");
  BaseFile* directory = new (eRetainAutorelease) BaseFile(str(source()));
  BaseBuffer* encoded = BaseSerializer::serializeObject(directory);
  EXPECT_EQ(std::string((const char*)encoded->bytes(), encoded->length()),
            std::string("\x02\x00\x15\x00\x00", 5));
  EXPECT_EQ(static_cast<BaseFile*>(receive(encoded))->getOSFilePath()->length(), 0u);
  EXPECT_EQ(log.text(),
            "Error: Couldn't read file at path source, ignored\n"
            "Warning: Invalid file in the stream, ignored\n");

  // A missing file is not written at all.
  BaseFile* missing = new (eRetainAutorelease) BaseFile(str(source() + "/missing"));
  log.clear();
  EXPECT_EQ(BaseSerializer::serializeObject(missing)->length(), 0u);
  EXPECT_EQ(log.text(), "Error: non serial compliant object in collection\n");

  // A file that shrank after its size was taken fails the write instead of sending fewer
  // bytes than it announces.
  BaseFile* shrinking = sourceFile("shrinking", patternBytes(9000));
  writeFile(source() + "/shrinking", "short");
  log.clear();
  BaseSerializer* serializer = BaseSerializer::toBaseBufferSerializer();
  EXPECT_FALSE(serializer->appendSerializableObject(shrinking));
  EXPECT_TRUE(log.contains("Error: file shrinking ended 8995 bytes before its announced size\n"))
      << log.text();
}

TEST_F(FileObjectTest, SkipModeReportsWhereTheContentStarts)
{
  // A stored stream: some leading bytes, a dictionary, a file of 5000 bytes, a string.
  const std::string stored = source() + "/stored";
  BaseBuffer* stream = new (eRetainAutorelease) BaseBuffer("lead", 4);
  BaseDictionary* header = new (eRetainAutorelease) BaseDictionary();
  header->setCStringForKey("v1", "format");
  BaseBuffer* headerBytes = BaseSerializer::serializeObject(header);
  stream->appendBytes(headerBytes->bytes(), headerBytes->length());
  BaseBuffer* fileBytes = BaseSerializer::serializeObject(sourceFile("payload", patternBytes(5000)));
  const uint32_t contentStart = 4 + headerBytes->length() + fileBytes->length() - 5000;
  stream->appendBytes(fileBytes->bytes(), fileBytes->length());
  stream->appendBytes("\x0A\x00\x03\x61\x62\x63", 6);
  writeFile(stored, std::string((const char*)stream->bytes(), stream->length()));

  BaseFile* file = new (eRetainAutorelease) BaseFile(str(stored));
  ASSERT_TRUE(file->openFile(true));
  ASSERT_TRUE(file->skipBytesInIO(4));
  Receiver receiver;
  receiver.directory = "kept in place";
  BaseSerializer serializer(file, &receiver);
  serializer.setSerializerMode(SERIALIZER_MODE_SKIP_FILES_CONTENT);
  EXPECT_TRUE(BaseObject::isOfClass(serializer.unserializeObjectFromIO(), "BaseDictionary"));
  EXPECT_TRUE(serializer.unserializeObjectFromIO()->isEqual(str("kept in place")));
  EXPECT_EQ(receiver.positions, (std::vector<long long>{contentStart - 4}));
  EXPECT_EQ(receiver.totals, (std::vector<uint32_t>{0, 0, 5000}));
  EXPECT_TRUE(serializer.unserializeObjectFromIO()->isEqual(str("abc")));
}

TEST_F(FileObjectTest, ObjectsRoundTripThroughFiles)
{
  const std::string path = source() + "/object";
  writeFile(path, std::string(100, 'x'));  // emptied first: only the new object remains
  BaseDictionary* record = attributes("name", 42);
  ASSERT_TRUE(BaseSerializer::serializeObjectToFile(record, path.c_str()));
  EXPECT_TRUE(record->isEqual(BaseSerializer::unserializeObjectFromFile(path.c_str())));

  LogCapture log;
  EXPECT_EQ(BaseSerializer::unserializeObjectFromFile((source() + "/missing").c_str()), nullptr);
  EXPECT_FALSE(BaseSerializer::serializeObjectToFile(record, source().c_str()));  // a directory
}

}  // namespace
