// The file object: status snapshot, streams, attributes, resume offers, atomic writes,
// resume slices, generic names and locks.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Files.h"
#include "runtime/BaseMutex.h"
#include "support/CaptureStream.h"
#include "support/FileTree.h"

namespace {

const int64_t MIB = 1048576;

BaseString* text(const std::string& value)
{
  return new (eRetainAutorelease) BaseString(value.data(), (int)value.size());
}
const auto stringOf = [](BaseObject* object) {
  return std::string(static_cast<BaseString*>(object)->cString());
};
const auto integerOf = [](BaseObject* object) { return static_cast<BaseNumber*>(object)->getInteger64(); };
// The keys in sorted order (a dictionary lists them in its bucket order).
std::string keysOf(BaseDictionary* dictionary)
{
  std::set<std::string> sorted;
  for (unsigned int i = 0; i < dictionary->count(); i++) sorted.insert(dictionary->keyAtIndex(i)->cString());
  std::string keys;
  for (const std::string& key : sorted) keys += key + " ";
  return keys;
}

class BaseFileTest : public ::testing::Test
{
protected:
  std::string path(const std::string& name) const { return m_directory + "/" + name; }
  BaseFile* file(const std::string& name, bool create = false)
  {
    return new (eRetainAutorelease) BaseFile(text(path(name)), create);
  }
  // A file accessed at 1000000000 and modified at 1200000000.
  void writeDated(const std::string& name, const std::string& bytes)
  {
    writeFile(path(name), bytes);
    ASSERT_TRUE(platform::setFileTimes(path(name).c_str(), 1000000000, 1200000000));
  }
  // Log text with "@" standing for the test's directory and a slash.
  std::string here(std::string log) const
  {
    for (size_t at; (at = log.find('@')) != std::string::npos;) log.replace(at, 1, m_directory + "/");
    return log;
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"BaseFileTest"};
  const std::string& m_directory = m_temporary.path();
};

TEST_F(BaseFileTest, StatusIsASnapshotOfThePath)
{
  LogCapture log("%S: %m\n", "W|src/files/");
  BaseFile* missing = file("missing");
  EXPECT_FALSE(missing->exists() || missing->isFile() || missing->isDirectory() || missing->isInvisible());
  EXPECT_EQ(missing->sizeInBytes(), 0);
  EXPECT_EQ(log.text(), here("Warning: @missing : No such file or directory\n"));

  writeFile(path("f"), "old content");
  BaseFile* created = file("f", true);  // create empties an existing file
  EXPECT_TRUE(created->isFile());
  EXPECT_EQ(readFile(path("f")), "");
  writeFile(path("f"), "abcdefgh");
  EXPECT_EQ(created->sizeInBytes(), 0);  // from the snapshot, not the disk

  platform::makeDirectory(path("d").c_str());
  log.clear();
  BaseFile* directory = file("d", true);
  EXPECT_TRUE(directory->isDirectory() && directory->sizeInBytes() == 0);
  EXPECT_EQ(log.text(), here("Error: Unable to create file '@d'\n"));


  writeFile(path(".hidden"), "");
  EXPECT_TRUE(file(".hidden")->isInvisible() && file("..")->isPosixDotDirectory());
}

// What each whole-file operation gives on a file, a directory and nothing.
TEST_F(BaseFileTest, WholeFileOperationsByKindOfPath)
{
  // Before, whether it opens, the content's length (-1: none), whether content is set, after.
  const std::tuple<const char*, bool, int, bool, const char*> cases[] = {
      {"x='0123456789'", true, 10, true, "x='abc3456789'"},
      {"x=''", true, 0, true, "x='abc'"},
      {"x/", false, -1, false, "x/"},
      {"", false, -1, false, ""}};
  for (const auto& [before, opens, length, sets, after] : cases) {
    SCOPED_TRACE(before);
    makeTree(m_directory, before);
    BaseFile* opened = file("x");
    EXPECT_EQ(opened->openFile(true), opens);
    opened->closeFile();
    BaseBuffer* content = file("x")->getContent();
    EXPECT_EQ(content ? (int)content->length() : -1, length);
    EXPECT_EQ(file("x")->setContent(new (eRetainAutorelease) BaseBuffer("abc")), sets);
    EXPECT_EQ(treeOf(m_directory), after);
    std::filesystem::remove_all(path("x"));
  }
  std::string bytes = patternBytes(70000);
  writeFile(path("big"), bytes);
  BaseBuffer* content = file("big")->getContent();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(content->bytes()), content->length()), bytes);
}

TEST_F(BaseFileTest, StreamReadsWritesAndOffsets)
{
  platform::makeDirectory(path("d").c_str());
  uint32_t length = 4;
  char buffer[16];
  BaseFile* closed = file("d");
  closed->setOffset(0);  // nothing to move
  EXPECT_FALSE(closed->readIO(buffer, length) || length || closed->writeIO("x", 1) || closed->flushIO() ||
               closed->getOffset() || closed->skipBytesInIO(1));

  writeFile(path("f"), "0123456789");
  BaseFile* reader = file("f");
  ASSERT_TRUE(reader->openFile(true));
  EXPECT_TRUE(reader->openFile(false));  // already open: kept as it is
  ASSERT_TRUE(reader->skipBytesInIO(3));
  length = sizeof buffer;
  ASSERT_TRUE(reader->readIO(buffer, length));
  EXPECT_EQ(std::string(buffer, length), "3456789");
  EXPECT_FALSE(reader->skipBytesInIO(1));  // past the end
  length = sizeof buffer;
  EXPECT_FALSE(reader->readIO(buffer, length) || length || reader->writeIO("x", 1));  // opened read-only

  BaseFile* writer = file("f");
  ASSERT_TRUE(writer->openFile(false));
  ASSERT_TRUE(writer->writeIO("ab", 2));
  EXPECT_EQ(writer->sizeInBytes(), 10);  // grows only past the end
  writer->setOffset(8);
  ASSERT_TRUE(writer->writeIO("XYZW", 4));
  EXPECT_TRUE(writer->sizeInBytes() == 12 && writer->getOffset() == 12);
  LogCapture log("%S: %m\n", "W|src/files/");
  writer->setLength(4);
  EXPECT_EQ(log.text(), "Error: unable to set length of an open file.\n");
  writer->closeFile();
  EXPECT_EQ(readFile(path("f")), "ab234567XYZW");
  writer->setLength(4);
  EXPECT_TRUE(readFile(path("f")) == "ab23" && writer->sizeInBytes() == 4);
}

TEST_F(BaseFileTest, NextBytesReuseOneBufferAndLogTheEnd)
{
  writeFile(path("f"), patternBytes(10000));
  BaseFile* stream = file("f");
  unsigned char* bytes = reinterpret_cast<unsigned char*>(1);
  EXPECT_TRUE(stream->getNextBytes(&bytes, 10) == 0u && bytes == nullptr);
  ASSERT_TRUE(stream->openFile(true));
  std::string all;
  std::set<unsigned char*> buffers;
  LogCapture log("%S: %m\n", "V|src/files/");
  for (uint32_t count; (count = stream->getNextBytes(&bytes, 4096)) > 0; buffers.insert(bytes))
    all.append(reinterpret_cast<char*>(bytes), count);
  EXPECT_TRUE(all == patternBytes(10000) && buffers.size() == 1u);
  EXPECT_EQ(stream->getNextBytes(&bytes, 4096), 0u);
  EXPECT_EQ(log.text(), "Info: End of file\nInfo: End of file\n");
}

TEST_F(BaseFileTest, AttributesDatesAndResumeOffers)
{
  writeDated("f.txt", "12345");
  platform::makeDirectory(path("d").c_str());
  BaseFile* regular = file("f.txt");
  BaseDictionary* attributes = regular->getFileAttributes();
  EXPECT_EQ(keysOf(attributes), "fa_adate fa_cdate fa_mdate fa_name fa_size fa_type ");
  EXPECT_EQ(stringOf(attributes->objectForKey("fa_name")), "f.txt");
  EXPECT_EQ(integerOf(attributes->objectForKey("fa_size")), 5);
  EXPECT_STREQ(regular->toString(1)->cString(), attributes->toString(1)->cString());
  regular->setContextAttribute(text("photos/2024"));
  EXPECT_EQ(stringOf(regular->getFileAttributes()->objectForKey("fa_ctx")), "photos/2024");
  for (auto [name, type] : {std::pair{"f.txt", "ft_reg"}, {"d", "ft_dir"}, {"/dev/null", "ft_spc"}}) {
    BaseFile* typed = name[0] == '/' ? new (eRetainAutorelease) BaseFile(text(name)) : file(name);
    EXPECT_EQ(stringOf(typed->getFileAttributes()->objectForKey("fa_type")), type) << name;
  }

  writeFile(path("target"), "y");
  file("target")->setFileDatesFromAttributes(attributes);
  EXPECT_EQ(file("target")->modificationDate()->getSeconds(), 1200000000.0);
  EXPECT_EQ(file("target")->lastAccessDate()->getSeconds(), 1000000000.0);  // and so are the dates read

  for (int64_t size : {10 * MIB, 10 * MIB + 1}) {
    writeFile(path("big"), "");
    ASSERT_TRUE(platform::truncateFile(path("big").c_str(), size));
    BaseFile* big = file("big");
    big->enableResume();
    EXPECT_EQ(big->isResumeEnabled(), size > 10 * MIB);
    EXPECT_EQ(big->getFileAttributes()->objectForKey("fa_res") != nullptr, size > 10 * MIB);
  }
}

// An atomic write of "new" to f: what was there before, how the write ends, what is left.
TEST_F(BaseFileTest, AtomicWrites)
{
  const char* W = "Warning: @f : No such file or directory\n";
  // Before, resumable, how it ends, whether it opens, whether the end succeeds, after, log.
  const std::tuple<const char*, bool, std::string, bool, bool, const char*, const char*> cases[] = {
      {"f='old'", false, "close", true, true, "f='new'", ""},
      {"", true, "commit", true, true, "f='new'", W},
      {".f.partial='old'", true, "close", true, true, "f='oldnew'", W},
      {"", true, "cancel", true, true, ".f.partial='new'", W},
      {"", false, "release", true, true, "", W},
      {"f/", false, "commit", true, false, ".f.temp='new' f/", "Warning: Unable to replace existing file\n"},
      {".f.temp->victim victim='keep'", false, "close", false, true, ".f.temp->victim victim='keep'", W},
      {"f='x'", false, "commit only", false, false, "f='x'", "Warning: tried to commit a non atomic file\n"},
  };
  for (const auto& [before, resume, end, opens, ends, after, expected] : cases) {
    SCOPED_TRACE(std::string(before) + " " + end);
    if (!makeTree(m_directory, before)) continue;
    BaseFile* target = new (eRetainNone) BaseFile(text(path("f")), false);
    LogCapture log("%S: %m\n", "W|src/files/");
    if (end != "commit only") EXPECT_EQ(target->openFileForAtomicWrite(resume), opens);
    if (opens) {
      EXPECT_STREQ(target->getAtomicPath()->cString(), path(resume ? ".f.partial" : ".f.temp").c_str());
      EXPECT_NE(treeOf(m_directory).substr(0, 3), "f='");  // the old content is gone from the start
      target->setOffset(target->sizeInBytes());
      ASSERT_TRUE(target->writeIO("new", 3));
    }
    if (end == "close") target->closeFile();
    if (end == "commit" || end == "commit only") EXPECT_EQ(target->commitAtomicWrite(), ends);
    if (end == "cancel") EXPECT_TRUE(target->cancelAtomicWrite() && !target->cancelAtomicWrite());
    if (std::string(after).substr(0, 3) == "f='")
      EXPECT_EQ(target->sizeInBytes(), (int64_t)readFile(path("f")).size());
    target->release();
    EXPECT_EQ(treeOf(m_directory), after);
    EXPECT_EQ(log.text(), here(expected));
    std::filesystem::remove_all(m_directory);
    platform::makeDirectory(m_directory.c_str());
  }
}

TEST_F(BaseFileTest, PartialPathsAndFiles)
{
  for (auto [name, partial] :
       {std::pair{"/d/f", "/d/.f.partial"}, {"f/", "./.f.partial"}, {"/f", "/.f.partial"}})
    EXPECT_STREQ(BaseFile::partialPathForFilePath(text(name))->cString(), partial);
  EXPECT_EQ(BaseFile::partialFileForPath(text(path("f"))), nullptr);
  writeFile(path(".f.partial"), "abc");
  BaseFile* partial = BaseFile::partialFileForPath(text(path("f")));
  ASSERT_NE(partial, nullptr);
  EXPECT_EQ(partial->sizeInBytes(), 3);
}

class BaseFileSlicesTest : public BaseFileTest
{
protected:
  BaseArray* slicesOf(const std::string& name) { return file(name)->getSlicesPatterns(); }
  BaseDictionary* slice(BaseArray* slices, unsigned int index)
  {
    return static_cast<BaseDictionary*>(slices->objectAtIndex(index));
  }
  int64_t transferOffsetAgainst(const std::string& name, BaseArray* slices)
  {
    BaseFile* sender = file(name);
    sender->compareSlicesPatterns(slices);
    BaseObject* offered = sender->getFileAttributes()->objectForKey("fa_to");  // only when past 0
    EXPECT_EQ(offered ? integerOf(offered) : 0, sender->getTransferOffset());
    return sender->getTransferOffset();
  }
  BaseDictionary* changed(BaseDictionary* slice, const char* key, int64_t value)
  {
    BaseDictionary* copy = new (eRetainAutorelease) BaseDictionary();
    copy->addEntriesFromDictionary(slice);
    copy->setObjectForKey(new (eRetainAutorelease) BaseNumber((long long)value), key);
    return copy;
  }
};

TEST_F(BaseFileSlicesTest, ComparisonFindsTheEndOfTheMatchingRun)
{
  std::string bytes = patternBytes(25 * MIB);
  writeFile(path("received"), bytes.substr(0, 12 * MIB));
  BaseArray* slices = slicesOf("received");  // 10 MiB and 2 MiB
  writeFile(path("same"), bytes);
  EXPECT_EQ(transferOffsetAgainst("same", slicesOf("same")), 25 * MIB);
  EXPECT_EQ(transferOffsetAgainst("same", slices), 12 * MIB);
  bytes[11 * MIB] ^= 1;
  writeFile(path("second differs"), bytes);
  EXPECT_EQ(transferOffsetAgainst("second differs", slices), 10 * MIB);
  bytes[0] ^= 1;
  writeFile(path("first differs"), bytes);
  EXPECT_EQ(transferOffsetAgainst("first differs", slices), 0);
  EXPECT_EQ(transferOffsetAgainst("first differs", nullptr), 0);
  EXPECT_EQ(slicesOf("missing")->count(), 0u);
}

// Peer slices must be contiguous and within the file; malformed ones end with a Warning.
TEST_F(BaseFileSlicesTest, HostilePeerSlices)
{
  std::string bytes = patternBytes(3 * MIB);
  writeFile(path("f"), bytes);
  writeFile(path("g"), bytes + bytes);
  BaseDictionary* whole = slice(slicesOf("f"), 0);
  BaseDictionary* incomplete = new (eRetainAutorelease) BaseDictionary();
  incomplete->setCStringForKey("0", "FSSO");
  auto array = [](BaseObject* a, BaseObject* b = nullptr) {
    return new (eRetainAutorelease) BaseArray(a, b, nullptr);
  };
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_EQ(transferOffsetAgainst("f", array(changed(whole, "FSL", 20 * MIB))), 0);
  EXPECT_EQ(transferOffsetAgainst("g", array(whole, changed(whole, "FSSO", 3 * MIB + 1))), 3 * MIB);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(transferOffsetAgainst("g", array(whole, incomplete)), 3 * MIB);
  EXPECT_EQ(transferOffsetAgainst("g", array(text("x"))), 0);
  EXPECT_EQ(log.text(),
            "Warning: invalid slice description at index 1\nWarning: invalid slice description at index 0\n");
}

TEST_F(BaseFileTest, GenericNamesAreComposedAndCutBetweenCharacters)
{
  EXPECT_STREQ(BaseFile::osFileNameToGeneric(text("cafe\xcc\x81.txt"))->cString(), "caf\xc3\xa9.txt");
  BaseString* bad = text("bad\xff\xfe");
  EXPECT_EQ(BaseFile::osFileNameToGeneric(bad), bad);
  std::string name;
  for (int i = 0; i < 600; i++) name += "e\xcc\x81";
  BaseString* generic = BaseFile::osFileNameToGeneric(text(name));
  ASSERT_EQ(generic->length(), 1022u);  // 511 two-byte characters; a 512th would pass 1023
  for (unsigned int i = 0; i < generic->length(); i += 2)
    ASSERT_EQ(std::string(generic->cString() + i, 2), "\xc3\xa9") << i;

  EXPECT_STREQ(file("cafe\xcc\x81")->getFilename()->cString(), "caf\xc3\xa9");
}

TEST_F(BaseFileTest, LockIsExclusiveUntilReleased)
{
  auto lockableElsewhere = [&] {
    bool opened;
    platform::FileLock lock = platform::lockFile(path("f").c_str(), opened, false);
    platform::unlockFile(lock);
    return lock != platform::NO_FILE_LOCK;
  };
  writeFile(path("f"), "");
  BaseFile* locked = new (eRetainNone) BaseFile(text(path("f")), false);
  ASSERT_TRUE(locked->lockFile() && locked->lockFile());  // the second: already held
  EXPECT_FALSE(lockableElsewhere());
  locked->unlockFile();
  EXPECT_TRUE(lockableElsewhere());
  ASSERT_TRUE(locked->lockFile());
  locked->release();  // destruction releases it too
  EXPECT_TRUE(lockableElsewhere());

  EXPECT_FALSE(file("missing")->lockFile());
  EXPECT_TRUE(BaseFile::sharedLock() != nullptr && BaseFile::sharedLock() == BaseFile::sharedLock());
}

}  // namespace
