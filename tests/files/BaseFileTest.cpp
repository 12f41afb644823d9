// The file object: its status snapshot, streams, content, attributes and dates, resume
// offers, atomic writes, resume slices, generic names and locks. Every test works in a
// directory of its own, removed afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "runtime/BaseMutex.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

namespace {

const int64_t MIB = 1048576;

// Bytes with no short period, so that two slices of one file never share a digest.
std::string patternBytes(int64_t count)
{
  std::string bytes((size_t)count, '\0');
  for (int64_t i = 0; i < count; i++) bytes[(size_t)i] = (char)((uint32_t)((uint32_t)i * 2654435761u) >> 24);
  return bytes;
}

class BaseFileTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_FALSE(m_directory.empty()); }

  std::string path(const std::string& name) const { return m_directory + "/" + name; }
  static BaseString* text(const std::string& value)
  {
    return new (eRetainAutorelease) BaseString(value.data(), (int)value.size());
  }
  static BaseFile* file(const std::string& filePath, bool create = false)
  {
    return new (eRetainAutorelease) BaseFile(text(filePath), create);
  }
  static void write(const std::string& filePath, const std::string& bytes) { writeFile(filePath, bytes); }
  static std::string read(const std::string& filePath)
  {
    return present(filePath) ? readFile(filePath) : "<missing>";
  }
  static std::string stringOf(BaseObject* object)
  {
    return BaseObject::isOfClass(object, "BaseString") ? static_cast<BaseString*>(object)->cString()
                                                       : "<not a string>";
  }
  static int64_t integerOf(BaseObject* object)
  {
    return BaseObject::isOfClass(object, "BaseNumber") ? static_cast<BaseNumber*>(object)->getInteger64()
                                                       : -1;
  }
  // The keys in sorted order (a dictionary lists them in its bucket order).
  static std::string keysOf(BaseDictionary* dictionary)
  {
    std::set<std::string> sorted;
    for (unsigned int i = 0; i < dictionary->count(); i++)
      sorted.insert(dictionary->keyAtIndex(i)->cString());
    std::string keys;
    for (const std::string& key : sorted) keys += key + " ";
    return keys;
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"BaseFileTest"};
  const std::string& m_directory = m_temporary.path();
};

// ---- Status snapshot ----

TEST_F(BaseFileTest, StatusIsASnapshotOfThePath)
{
  LogCapture log("%S: %m\n", "W|src/files/");
  BaseFile* missing = file(path("missing"));
  EXPECT_FALSE(missing->exists() || missing->isFile() || missing->isDirectory() || missing->isInvisible());
  EXPECT_EQ(missing->sizeInBytes(), 0);
  EXPECT_EQ(log.text(), "Warning: " + path("missing") + " : No such file or directory\n");  // once

  write(path("f"), "old content");
  BaseFile* created = file(path("f"), true);  // create empties an existing file
  EXPECT_TRUE(created->isFile());
  EXPECT_EQ(created->sizeInBytes(), 0);
  EXPECT_EQ(read(path("f")), "");
  write(path("f"), "abcdefgh");
  EXPECT_EQ(created->sizeInBytes(), 0);  // from the snapshot, not the disk
  EXPECT_EQ(file(path("f"))->sizeInBytes(), 8);

  mkdir(path("d").c_str(), 0700);
  log.clear();
  BaseFile* directory = file(path("d"), true);
  EXPECT_TRUE(directory->isDirectory());
  EXPECT_EQ(directory->sizeInBytes(), 0);
  EXPECT_EQ(log.text(), "Error: Unable to create file '" + path("d") + "'\n");

  BaseFile* slashed = file(path("f") + "/");
  EXPECT_STREQ(slashed->getFilePath()->cString(), path("f").c_str());
  EXPECT_STREQ(slashed->getFilename()->cString(), "f");
  EXPECT_TRUE(slashed->isFile());
  EXPECT_EQ(slashed->sizeInBytes(), 8);

  struct timeval times[2] = {{1000000000, 0}, {1200000000, 0}};
  ASSERT_EQ(utimes(path("f").c_str(), times), 0);
  BaseFile* dated = file(path("f"));
  EXPECT_EQ(dated->lastAccessDate()->getSeconds(), 1000000000.0);
  EXPECT_EQ(dated->modificationDate()->getSeconds(), 1200000000.0);
  EXPECT_GT(dated->statusChangeDate()->getSeconds(), 1200000000.0);

  write(path(".hidden"), "");
  EXPECT_TRUE(file(path(".hidden"))->isInvisible());
  EXPECT_TRUE(file(m_directory + "/.")->isPosixDotDirectory());
  EXPECT_TRUE(file(m_directory + "/..")->isPosixDotDirectory());
  EXPECT_FALSE(file(m_directory)->isPosixDotDirectory());
  EXPECT_DEATH(new (eRetainNone) BaseFile(nullptr, false),
               "Assertion failed: aFilePath!=NULL, file src/files/BaseFile");
}

// ---- Streams and content ----

TEST_F(BaseFileTest, OnlyRegularFilesOpen)
{
  mkdir(path("d").c_str(), 0700);
  EXPECT_FALSE(file(path("d"))->openFile(true));
  EXPECT_FALSE(file(path("missing"))->openFile(true));
  uint32_t length = 4;
  char buffer[4];
  BaseFile* closed = file(path("d"));
  EXPECT_FALSE(closed->readIO(buffer, length));
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(closed->writeIO("x", 1));
  EXPECT_FALSE(closed->flushIO());
  EXPECT_EQ(closed->getOffset(), 0);
}

TEST_F(BaseFileTest, WritesGrowTheSizeOnlyPastTheEnd)
{
  write(path("f"), "0123456789");
  BaseFile* stream = file(path("f"));
  ASSERT_TRUE(stream->openFile(false));
  ASSERT_TRUE(stream->writeIO("ab", 2));
  EXPECT_EQ(stream->sizeInBytes(), 10);
  stream->setOffset(8);
  ASSERT_TRUE(stream->writeIO("XYZW", 4));
  EXPECT_EQ(stream->sizeInBytes(), 12);
  EXPECT_EQ(stream->getOffset(), 12);
  stream->closeFile();
  EXPECT_EQ(read(path("f")), "ab234567XYZW");
}

TEST_F(BaseFileTest, ReadsSkipsAndOffsets)
{
  write(path("f"), "0123456789");
  BaseFile* stream = file(path("f"));
  ASSERT_TRUE(stream->openFile(true));
  EXPECT_TRUE(stream->openFile(false));  // already open: kept as it is
  ASSERT_TRUE(stream->skipBytesInIO(3));
  char buffer[16];
  uint32_t length = sizeof buffer;
  ASSERT_TRUE(stream->readIO(buffer, length));
  EXPECT_EQ(std::string(buffer, length), "3456789");
  length = sizeof buffer;
  EXPECT_FALSE(stream->readIO(buffer, length));
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(stream->writeIO("x", 1));  // opened read-only
}

TEST_F(BaseFileTest, NextBytesReuseOneBufferAndLogTheEnd)
{
  write(path("f"), patternBytes(10000));
  BaseFile* stream = file(path("f"));
  unsigned char* bytes = reinterpret_cast<unsigned char*>(1);
  EXPECT_EQ(stream->getNextBytes(&bytes, 10), 0u);
  EXPECT_EQ(bytes, nullptr);
  ASSERT_TRUE(stream->openFile(true));
  std::string all;
  unsigned char* first = nullptr;
  LogCapture log("%S: %m\n", "V|src/files/");
  uint32_t count;
  while ((count = stream->getNextBytes(&bytes, 4096)) > 0) {
    if (!first) first = bytes;
    EXPECT_EQ(bytes, first);
    all.append(reinterpret_cast<char*>(bytes), count);
  }
  EXPECT_EQ(all, patternBytes(10000));
  EXPECT_EQ(stream->getNextBytes(&bytes, 4096), 0u);
  EXPECT_EQ(log.text(), "Info: End of file\nInfo: End of file\n");
  EXPECT_FALSE(stream->readFailed());
}

TEST_F(BaseFileTest, OffsetBeyondTheSizeStops)
{
  write(path("f"), "abc");
  BaseFile* stream = file(path("f"));
  ASSERT_TRUE(stream->openFile(true));
  EXPECT_DEATH(stream->setOffset(4), "Assertion failed: offset<=sizeInBytes\\(\\), file src/files/BaseFile");
}

TEST_F(BaseFileTest, ContentReadsTheWholeFile)
{
  std::string bytes = patternBytes(70000);
  write(path("f"), bytes);
  BaseFile* whole = file(path("f"));
  BaseBuffer* content = whole->getContent();
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(content->bytes()), content->length()), bytes);
  EXPECT_FALSE(whole->isOpen());
  write(path("empty"), "");
  ASSERT_NE(file(path("empty"))->getContent(), nullptr);
  EXPECT_EQ(file(path("empty"))->getContent()->length(), 0u);
  EXPECT_EQ(file(path("missing"))->getContent(), nullptr);
}

TEST_F(BaseFileTest, SetContentOverwritesTheStartOnly)
{
  write(path("f"), "0123456789");
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("abc");
  EXPECT_TRUE(file(path("f"))->setContent(buffer));
  EXPECT_EQ(read(path("f")), "abc3456789");
  EXPECT_FALSE(file(path("missing"))->setContent(buffer));
  EXPECT_FALSE(present(path("missing")));
}

TEST_F(BaseFileTest, LengthChangesOnlyOnAClosedFile)
{
  write(path("f"), "0123456789");
  BaseFile* resized = file(path("f"));
  ASSERT_TRUE(resized->openFile(true));
  LogCapture log("%S: %m\n", "W|src/files/");
  resized->setLength(4);
  EXPECT_EQ(log.text(), "Error: unable to set length of an open file.\n");
  EXPECT_EQ(read(path("f")), "0123456789");
  resized->closeFile();
  resized->setLength(4);
  EXPECT_EQ(read(path("f")), "0123");
  EXPECT_EQ(resized->sizeInBytes(), 4);
}

// ---- Attributes ----

TEST_F(BaseFileTest, RegularFile)
{
  write(path("f.txt"), "12345");
  struct timeval times[2] = {{1000000000, 0}, {1200000000, 0}};
  ASSERT_EQ(utimes(path("f.txt").c_str(), times), 0);
  BaseFile* regular = file(path("f.txt"));
  BaseDictionary* attributes = regular->getFileAttributes();
  EXPECT_EQ(keysOf(attributes), "fa_adate fa_cdate fa_mdate fa_name fa_size fa_type ");
  EXPECT_EQ(stringOf(attributes->objectForKey("fa_name")), "f.txt");
  EXPECT_EQ(stringOf(attributes->objectForKey("fa_type")), "ft_reg");
  EXPECT_EQ(integerOf(attributes->objectForKey("fa_size")), 5);
  EXPECT_EQ(static_cast<BaseDate*>(attributes->objectForKey("fa_mdate"))->getSeconds(), 1200000000.0);
  EXPECT_EQ(static_cast<BaseDate*>(attributes->objectForKey("fa_adate"))->getSeconds(), 1000000000.0);

  regular->setContextAttribute(text("photos/2024"));
  EXPECT_EQ(stringOf(regular->getFileAttributes()->objectForKey("fa_ctx")), "photos/2024");
  EXPECT_EQ(keysOf(regular->getFileAttributes()),
            "fa_adate fa_cdate fa_ctx fa_mdate fa_name fa_size fa_type ");
}

TEST_F(BaseFileTest, DirectoryAndSpecialFile)
{
  mkdir(path("d").c_str(), 0700);
  BaseDictionary* attributes = file(path("d"))->getFileAttributes();
  EXPECT_EQ(stringOf(attributes->objectForKey("fa_type")), "ft_dir");
  EXPECT_EQ(integerOf(attributes->objectForKey("fa_size")), 0);
  EXPECT_EQ(attributes->objectForKey("fa_to"), nullptr);
  EXPECT_EQ(attributes->objectForKey("fa_res"), nullptr);
  EXPECT_EQ(stringOf(file("/dev/null")->getFileAttributes()->objectForKey("fa_type")), "ft_spc");
}

TEST_F(BaseFileTest, ResumeIsOfferedAboveTenMebibytes)
{
  write(path("exact"), "");
  write(path("above"), "");
  ASSERT_EQ(truncate(path("exact").c_str(), 10 * MIB), 0);
  ASSERT_EQ(truncate(path("above").c_str(), 10 * MIB + 1), 0);
  BaseFile* exact = file(path("exact"));
  BaseFile* above = file(path("above"));
  exact->enableResume();
  above->enableResume();
  EXPECT_FALSE(exact->isResumeEnabled());
  EXPECT_TRUE(above->isResumeEnabled());
  EXPECT_EQ(exact->getFileAttributes()->objectForKey("fa_res"), nullptr);
  BaseObject* resume = above->getFileAttributes()->objectForKey("fa_res");
  ASSERT_TRUE(BaseObject::isOfClass(resume, "BaseNumber"));
  EXPECT_TRUE(static_cast<BaseNumber*>(resume)->getBoolean());
}

TEST_F(BaseFileTest, DatesAreAppliedFromAttributes)
{
  write(path("source"), "x");
  write(path("target"), "y");
  struct timeval times[2] = {{1000000000, 0}, {1200000000, 0}};
  ASSERT_EQ(utimes(path("source").c_str(), times), 0);
  file(path("target"))->setFileDatesFromAttributes(file(path("source"))->getFileAttributes());
  struct stat status;
  ASSERT_EQ(stat(path("target").c_str(), &status), 0);
  EXPECT_EQ(status.st_atime, 1000000000);
  EXPECT_EQ(status.st_mtime, 1200000000);
}

TEST_F(BaseFileTest, MissingOrForeignDatesChangeNothing)
{
  write(path("f"), "x");
  struct timeval times[2] = {{1000000000, 0}, {1200000000, 0}};
  ASSERT_EQ(utimes(path("f").c_str(), times), 0);
  BaseDictionary* onlyOne = new (eRetainAutorelease) BaseDictionary();
  onlyOne->setObjectForKey(new (eRetainAutorelease) BaseDate(5L), "fa_mdate");
  BaseDictionary* foreign = new (eRetainAutorelease) BaseDictionary();
  foreign->setObjectForKey(new (eRetainAutorelease) BaseDate(5L), "fa_mdate");
  foreign->setCStringForKey("yesterday", "fa_adate");
  LogCapture log("%S: %m\n", "V|src/files/");
  file(path("f"))->setFileDatesFromAttributes(onlyOne);
  file(path("f"))->setFileDatesFromAttributes(foreign);
  EXPECT_EQ(log.text(),
            "Info: Unable to change file times, at least one date is missing\n"
            "Info: Unable to change file times, at least one date is missing\n");
  struct stat status;
  ASSERT_EQ(stat(path("f").c_str(), &status), 0);
  EXPECT_EQ(status.st_mtime, 1200000000);
}

TEST_F(BaseFileTest, TextFormIsThatOfTheAttributes)
{
  write(path("f.txt"), "12345");
  BaseFile* regular = file(path("f.txt"));
  EXPECT_STREQ(regular->getClass(), "BaseFile");
  EXPECT_STREQ(regular->toString(1)->cString(), regular->getFileAttributes()->toString(1)->cString());
}

// ---- Atomic writes ----

TEST_F(BaseFileTest, WritesUnderATemporaryNameUntilClosed)
{
  write(path("f"), "old content");
  BaseFile* target = file(path("f"));
  ASSERT_TRUE(target->openFileForAtomicWrite(false));
  EXPECT_STREQ(target->getAtomicPath()->cString(), path(".f.temp").c_str());
  EXPECT_FALSE(present(path("f")));  // the old content is gone from the start
  ASSERT_TRUE(target->writeIO("new", 3));
  EXPECT_EQ(target->sizeInBytes(), 3);
  target->closeFile();
  EXPECT_EQ(read(path("f")), "new");
  EXPECT_FALSE(present(path(".f.temp")));
  EXPECT_EQ(target->getAtomicPath(), nullptr);
  EXPECT_TRUE(target->isFile());
  EXPECT_EQ(target->sizeInBytes(), 3);
}

TEST_F(BaseFileTest, ResumableWriteUsesThePartialName)
{
  BaseFile* target = file(path("f"));
  ASSERT_TRUE(target->openFileForAtomicWrite(true));
  EXPECT_STREQ(target->getAtomicPath()->cString(), path(".f.partial").c_str());
  ASSERT_TRUE(target->writeIO("data", 4));
  EXPECT_TRUE(target->commitAtomicWrite());
  EXPECT_EQ(read(path("f")), "data");
  EXPECT_FALSE(present(path(".f.partial")));
}

TEST_F(BaseFileTest, NewPathWarnsOnceFromTheOldFilesDelete)
{
  LogCapture log("%S: %m\n", "W|src/files/");
  BaseFile* target = file(path("g"), false);
  log.clear();
  ASSERT_TRUE(target->openFileForAtomicWrite(false));
  ASSERT_TRUE(target->writeIO("x", 1));
  target->closeFile();
  EXPECT_EQ(log.text(), "Warning: " + path("g") + " : No such file or directory\n");
  EXPECT_EQ(read(path("g")), "x");
}

TEST_F(BaseFileTest, CancelDeletesATemporaryFileAndKeepsAPartialOne)
{
  BaseFile* plain = file(path("f"));
  ASSERT_TRUE(plain->openFileForAtomicWrite(false));
  ASSERT_TRUE(plain->writeIO("abc", 3));
  EXPECT_TRUE(plain->cancelAtomicWrite());
  EXPECT_FALSE(present(path(".f.temp")));
  EXPECT_FALSE(present(path("f")));
  EXPECT_FALSE(plain->cancelAtomicWrite());

  BaseFile* resumable = file(path("g"));
  ASSERT_TRUE(resumable->openFileForAtomicWrite(true));
  ASSERT_TRUE(resumable->writeIO("abc", 3));
  EXPECT_TRUE(resumable->cancelAtomicWrite());
  EXPECT_EQ(read(path(".g.partial")), "abc");
  EXPECT_FALSE(present(path("g")));
}

TEST_F(BaseFileTest, DestructionCancels)
{
  BaseFile* plain = new (eRetainNone) BaseFile(text(path("f")), false);
  ASSERT_TRUE(plain->openFileForAtomicWrite(false));
  ASSERT_TRUE(plain->writeIO("abc", 3));
  plain->release();
  EXPECT_FALSE(present(path(".f.temp")));
  EXPECT_FALSE(present(path("f")));

  BaseFile* resumable = new (eRetainNone) BaseFile(text(path("g")), false);
  ASSERT_TRUE(resumable->openFileForAtomicWrite(true));
  ASSERT_TRUE(resumable->writeIO("abc", 3));
  resumable->release();
  EXPECT_EQ(read(path(".g.partial")), "abc");
  EXPECT_FALSE(present(path("g")));
}

TEST_F(BaseFileTest, ResumeContinuesAPartialFile)
{
  write(path(".f.partial"), "abc");
  BaseFile* target = file(path("f"));
  ASSERT_TRUE(target->openFileForAtomicWrite(true));
  EXPECT_EQ(target->sizeInBytes(), 3);
  target->setOffset(target->sizeInBytes());
  ASSERT_TRUE(target->writeIO("def", 3));
  target->closeFile();
  EXPECT_EQ(read(path("f")), "abcdef");
  EXPECT_FALSE(present(path(".f.partial")));
}

TEST_F(BaseFileTest, CommitWithoutAnAtomicWriteWarns)
{
  write(path("f"), "x");
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_FALSE(file(path("f"))->commitAtomicWrite());
  EXPECT_EQ(log.text(), "Warning: tried to commit a non atomic file\n");
}

TEST_F(BaseFileTest, NeverReplacesADirectory)
{
  mkdir(path("d").c_str(), 0700);
  BaseFile* target = file(path("d"));
  ASSERT_TRUE(target->openFileForAtomicWrite(false));
  ASSERT_TRUE(target->writeIO("x", 1));
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_FALSE(target->commitAtomicWrite());
  EXPECT_EQ(log.text(), "Warning: Unable to replace existing file\n");
  struct stat status;
  ASSERT_EQ(stat(path("d").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST_F(BaseFileTest, DoesNotFollowALinkPlantedUnderTheTemporaryName)
{
  write(path("victim"), "keep me");
  ASSERT_EQ(symlink(path("victim").c_str(), path(".f.temp").c_str()), 0);
  BaseFile* target = file(path("f"));
  EXPECT_FALSE(target->openFileForAtomicWrite(false));
  EXPECT_FALSE(target->writeIO("x", 1));
  EXPECT_EQ(read(path("victim")), "keep me");
}

TEST_F(BaseFileTest, PartialPathsAndFiles)
{
  EXPECT_STREQ(BaseFile::partialPathForFilePath(text("/d/f"))->cString(), "/d/.f.partial");
  EXPECT_STREQ(BaseFile::partialPathForFilePath(text("/f"))->cString(), "/.f.partial");
  EXPECT_STREQ(BaseFile::partialPathForFilePath(text("f"))->cString(), "./.f.partial");
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_EQ(BaseFile::partialFileForPath(text(path("f"))), nullptr);
  EXPECT_EQ(log.text(), "");
  write(path(".f.partial"), "abc");
  BaseFile* partial = BaseFile::partialFileForPath(text(path("f")));
  ASSERT_NE(partial, nullptr);
  EXPECT_STREQ(partial->getFilePath()->cString(), path(".f.partial").c_str());
  EXPECT_EQ(partial->sizeInBytes(), 3);
}

// ---- Resume slices ----

class BaseFileSlicesTest : public BaseFileTest
{
protected:
  BaseArray* slicesOf(const std::string& filePath)
  {
    testing::internal::CaptureStdout();
    BaseArray* slices = file(filePath)->getSlicesPatterns();
    m_printed = testing::internal::GetCapturedStdout();
    return slices;
  }
  BaseDictionary* slice(BaseArray* slices, unsigned int index)
  {
    return static_cast<BaseDictionary*>(slices->objectAtIndex(index));
  }
  int64_t transferOffsetAgainst(const std::string& filePath, BaseArray* slices)
  {
    BaseFile* sender = file(filePath);
    sender->compareSlicesPatterns(slices);
    return sender->getTransferOffset();
  }

  std::string m_printed;
};

TEST_F(BaseFileSlicesTest, TwentyFiveMebibytesGiveThreeSlices)
{
  write(path("f"), patternBytes(25 * MIB));
  BaseArray* slices = slicesOf(path("f"));
  ASSERT_EQ(slices->count(), 3u);
  const char* digests[] = {"45cb14ece9897323b3d11e670f34b518", "1d9f2651e87daeb4fb792fa349cb94bc",
                           "a72a891678b5e436177917ea543efabc"};
  const int64_t lengths[] = {10 * MIB, 10 * MIB, 5 * MIB};
  for (unsigned int i = 0; i < 3; i++) {
    EXPECT_EQ(keysOf(slice(slices, i)), "FSCS FSL FSSO ");
    EXPECT_EQ(integerOf(slice(slices, i)->objectForKey("FSSO")), 10 * MIB * i);
    EXPECT_EQ(stringOf(slice(slices, i)->objectForKey("FSCS")), digests[i]);
    EXPECT_EQ(integerOf(slice(slices, i)->objectForKey("FSL")), lengths[i]);
  }
  EXPECT_EQ(m_printed.rfind("Slices:\n", 0), 0u);
  EXPECT_NE(m_printed.find("1d9f2651e87daeb4fb792fa349cb94bc"), std::string::npos);
  EXPECT_EQ(slicesOf(path("missing"))->count(), 0u);
}

TEST_F(BaseFileSlicesTest, ComparisonFindsTheEndOfTheMatchingRun)
{
  std::string bytes = patternBytes(25 * MIB);
  write(path("received"), bytes.substr(0, 12 * MIB));
  BaseArray* slices = slicesOf(path("received"));  // 10 MiB and 2 MiB
  write(path("same"), bytes);
  EXPECT_EQ(transferOffsetAgainst(path("same"), slicesOf(path("same"))), 25 * MIB);
  EXPECT_EQ(transferOffsetAgainst(path("same"), slices), 12 * MIB);

  bytes[11 * MIB] ^= 1;
  write(path("second differs"), bytes);
  EXPECT_EQ(transferOffsetAgainst(path("second differs"), slices), 10 * MIB);
  bytes[0] ^= 1;
  write(path("first differs"), bytes);
  EXPECT_EQ(transferOffsetAgainst(path("first differs"), slices), 0);

  BaseFile* sender = file(path("same"));
  sender->compareSlicesPatterns(slices);
  EXPECT_EQ(integerOf(sender->getFileAttributes()->objectForKey("fa_to")), 12 * MIB);
}

TEST_F(BaseFileSlicesTest, PeerSlicesMustBeContiguousAndWithinTheFile)
{
  std::string bytes = patternBytes(3 * MIB);
  write(path("f"), bytes);
  BaseDictionary* whole = slice(slicesOf(path("f")), 0);

  // A slice claimed beyond the end, with the digest of what is actually there.
  BaseDictionary* longer = new (eRetainAutorelease) BaseDictionary();
  longer->addEntriesFromDictionary(whole);
  longer->setObjectForKey(new (eRetainAutorelease) BaseNumber((long long)(20 * MIB)), "FSL");
  EXPECT_EQ(transferOffsetAgainst(path("f"), new (eRetainAutorelease) BaseArray(longer, nullptr)), 0);

  // A gap: the second slice does not begin where the first ends.
  write(path("g"), bytes + bytes);
  BaseDictionary* later = new (eRetainAutorelease) BaseDictionary();
  later->addEntriesFromDictionary(whole);
  later->setObjectForKey(new (eRetainAutorelease) BaseNumber((long long)(3 * MIB + 1)), "FSSO");
  EXPECT_EQ(transferOffsetAgainst(path("g"), new (eRetainAutorelease) BaseArray(whole, later, nullptr)),
            3 * MIB);

  // Missing fields and foreign entries end the comparison with a Warning, not a stop.
  BaseDictionary* incomplete = new (eRetainAutorelease) BaseDictionary();
  incomplete->setCStringForKey("0", "FSSO");
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_EQ(transferOffsetAgainst(path("g"), new (eRetainAutorelease) BaseArray(whole, incomplete, nullptr)),
            3 * MIB);
  EXPECT_EQ(transferOffsetAgainst(path("g"), new (eRetainAutorelease) BaseArray(text("x"), nullptr)), 0);
  EXPECT_EQ(log.text(),
            "Warning: invalid slice description at index 1\nWarning: invalid slice description at index 0\n");
}

// ---- Generic names ----

TEST_F(BaseFileTest, DecomposedNamesAreComposed)
{
  BaseString* decomposed = text("cafe\xcc\x81.txt");
  BaseString* generic = BaseFile::osFileNameToGeneric(decomposed);
  EXPECT_NE(generic, decomposed);
  EXPECT_STREQ(generic->cString(), "caf\xc3\xa9.txt");
  BaseString* plain = text("plain.txt");
  EXPECT_EQ(BaseFile::osFileNameToGeneric(plain), plain);
  BaseString* notUTF8 = text("bad\xff\xfe");
  EXPECT_EQ(BaseFile::osFileNameToGeneric(notUTF8), notUTF8);
}

TEST_F(BaseFileTest, LongNamesAreCutBetweenCharacters)
{
  std::string name;
  for (int i = 0; i < 600; i++) name += "e\xcc\x81";
  BaseString* generic = BaseFile::osFileNameToGeneric(text(name));
  ASSERT_EQ(generic->length(), 1022u);  // 511 two-byte characters; a 512th would pass 1023
  for (unsigned int i = 0; i < generic->length(); i += 2)
    ASSERT_EQ(std::string(generic->cString() + i, 2), "\xc3\xa9") << i;
}

TEST_F(BaseFileTest, FileOnDiskKeepsItsOwnSpelling)
{
  std::string decomposedPath = path("cafe\xcc\x81");
  write(decomposedPath, "bytes");
  BaseFile* named = file(decomposedPath);
  EXPECT_STREQ(named->getFilename()->cString(), "caf\xc3\xa9");
  EXPECT_STREQ(named->getFilePath()->cString(), path("caf\xc3\xa9").c_str());
  EXPECT_STREQ(named->getOSFilePath()->cString(), decomposedPath.c_str());
  ASSERT_NE(named->getContent(), nullptr);
  EXPECT_EQ(named->getContent()->length(), 5u);
}

// ---- Locks ----

class BaseFileLockTest : public BaseFileTest
{
protected:
  // Whether another open file description can take the lock right now.
  bool lockableElsewhere(const std::string& filePath)
  {
    int descriptor = open(filePath.c_str(), O_RDONLY);
    bool taken = flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    close(descriptor);
    return taken;
  }
};

TEST_F(BaseFileLockTest, LockIsExclusiveUntilReleased)
{
  write(path("f"), "");
  BaseFile* locked = new (eRetainNone) BaseFile(text(path("f")), false);
  ASSERT_TRUE(locked->lockFile());
  EXPECT_TRUE(locked->lockFile());  // already held
  EXPECT_FALSE(lockableElsewhere(path("f")));
  locked->unlockFile();
  EXPECT_TRUE(lockableElsewhere(path("f")));
  ASSERT_TRUE(locked->lockFile());
  locked->release();  // destruction releases it too
  EXPECT_TRUE(lockableElsewhere(path("f")));
}

TEST_F(BaseFileLockTest, MissingFileCannotBeLocked)
{
  LogCapture log("%S: %m\n", "W|src/files/");
  BaseFile* missing = file(path("missing"));
  log.clear();
  EXPECT_FALSE(missing->lockFile());
  EXPECT_EQ(log.text(), "Error: Unable to open the lock file " + path("missing") + "\n");
}

TEST_F(BaseFileLockTest, SharedLockIsOneMutexForTheProcess)
{
  BaseMutex* shared = BaseFile::sharedLock();
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(BaseFile::sharedLock(), shared);
  EXPECT_EQ(shared->lock(), 0);
  EXPECT_EQ(shared->unlock(), 0);
}

}  // namespace
