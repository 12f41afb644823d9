// The operations of BaseFile on paths and whole files: deleting (recursive, with emptied
// parents, never through links), moving, copying and appending, extracting ranges,
// directories and their listings, the temporary directory and files, and size texts.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

std::string pattern(size_t count, unsigned seed = 1)
{
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i++) bytes[i] = (char)(unsigned char)((i * 31 + seed * 7 + i / 251) & 0xff);
  return bytes;
}

std::vector<std::string> texts(BaseArray* strings)
{
  std::vector<std::string> result;
  for (unsigned int i = 0; i < strings->count(); i++)
    result.push_back(static_cast<BaseString*>(strings->objectAtIndex(i))->cString());
  return result;
}

// Each test works in a directory of its own, removed afterwards.
class FileOperationsTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_FALSE(m_root.empty()); }

  std::string at(const std::string& relative) const { return m_root + "/" + relative; }
  BaseString* str(const std::string& text) { return new (eRetainAutorelease) BaseString(text.c_str()); }
  BaseFile* file(const std::string& path, bool create = false)
  {
    return new (eRetainAutorelease) BaseFile(str(path), create);
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"corvane-fsops"};
  const std::string& m_root = m_temporary.path();
};

// ---- Deleting ----

TEST_F(FileOperationsTest, AFileGoesAndAnEmptyDirectoryGoesWithoutFlags)
{
  writeFile(at("f"), "x");
  fs::create_directory(at("empty"));
  EXPECT_TRUE(BaseFile::deleteFile(str(at("f")), 0));
  EXPECT_TRUE(file(at("empty"))->deleteFile(0));
  EXPECT_FALSE(present(at("f")));
  EXPECT_FALSE(present(at("empty")));
  // A directory that is not empty stays without the recursive flag.
  fs::create_directory(at("d"));
  writeFile(at("d/f"), "x");
  EXPECT_FALSE(BaseFile::deleteFile(str(at("d")), 0));
  EXPECT_TRUE(present(at("d/f")));
}

TEST_F(FileOperationsTest, NothingAtThePathIsFalseWithTheConstructorsWarning)
{
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_FALSE(BaseFile::deleteFile(str(at("missing")), BaseFile::eDeleteRecursive));
  EXPECT_EQ(log.text(), "Warning: " + at("missing") + " : No such file or directory\n");
}

TEST_F(FileOperationsTest, RecursiveRemovesTheWholeTreeDepthFirst)
{
  fs::create_directories(at("t/a/b/c"));
  writeFile(at("t/top"), "1");
  writeFile(at("t/.hidden"), "2");
  writeFile(at("t/a/b/c/deep"), pattern(10000));
  fs::create_directory(at("t/a/empty"));
  // A decomposed name: the delete must reach it under the name the disk holds.
  writeFile(at("t/a/e\xcc\x81t\xc3\xa9"), "3");
  writeFile(at("keep"), "k");

  EXPECT_TRUE(BaseFile::deleteFile(str(at("t")), BaseFile::eDeleteRecursive));
  EXPECT_FALSE(present(at("t")));
  EXPECT_TRUE(present(at("keep")));
}

TEST_F(FileOperationsTest, RecursiveStopsAtAnEntryItCannotRemoveAndKeepsTheDirectory)
{
  fs::create_directory(at("t"));
  ASSERT_EQ(mkfifo(at("t/pipe").c_str(), 0600), 0);
  EXPECT_FALSE(BaseFile::deleteFile(str(at("t")), BaseFile::eDeleteRecursive));
  EXPECT_TRUE(present(at("t")));
  EXPECT_TRUE(present(at("t/pipe")));
}

TEST_F(FileOperationsTest, RecursiveRemovesLinksButNeverWhatTheyPointTo)
{
  fs::create_directory(at("outside"));
  writeFile(at("outside/precious"), "p");
  fs::create_directory(at("t"));
  fs::create_directory_symlink(at("outside"), at("t/linkToDirectory"));
  fs::create_symlink(at("outside/precious"), at("t/linkToFile"));
  fs::create_symlink(at("nowhere"), at("t/dangling"));

  EXPECT_TRUE(BaseFile::deleteFile(str(at("t")), BaseFile::eDeleteRecursive));
  EXPECT_FALSE(present(at("t")));
  EXPECT_EQ(readFile(at("outside/precious")), "p");

  // A link handed in directly goes the same way.
  fs::create_directory_symlink(at("outside"), at("link"));
  EXPECT_TRUE(BaseFile::deleteFile(str(at("link")), BaseFile::eDeleteRecursive));
  EXPECT_FALSE(present(at("link")));
  EXPECT_TRUE(present(at("outside/precious")));
}

TEST_F(FileOperationsTest, EmptiedParentsGoUpwardsUntilOneIsNotEmpty)
{
  writeFile(at("keep"), "k");  // the test's own directory must end the climb
  fs::create_directories(at("a/b"));
  writeFile(at("a/b/c.txt"), "c");
  EXPECT_TRUE(BaseFile::deleteFile(str(at("a/b/c.txt")), BaseFile::eDeleteEmptiedParents));
  EXPECT_FALSE(present(at("a")));
  EXPECT_TRUE(present(at("keep")));
  fs::create_directories(at("x/y"));
  writeFile(at("x/y/z.txt"), "z");
  writeFile(at("x/other"), "o");
  EXPECT_TRUE(BaseFile::deleteFile(str(at("x/y/z.txt")), BaseFile::eDeleteEmptiedParents));
  EXPECT_FALSE(present(at("x/y")));
  EXPECT_TRUE(present(at("x/other")));
}

TEST_F(FileOperationsTest, RecursiveWithEmptiedParentsRemovesTheTreeAndItsEmptyParents)
{
  writeFile(at("keep"), "k");
  fs::create_directories(at("p/q/tree/sub"));
  writeFile(at("p/q/tree/sub/f"), "f");
  EXPECT_TRUE(BaseFile::deleteFile(str(at("p/q/tree")),
                                   BaseFile::eDeleteRecursive | BaseFile::eDeleteEmptiedParents));
  EXPECT_FALSE(present(at("p")));
  EXPECT_TRUE(present(at("keep")));
}

TEST_F(FileOperationsTest, AnOpenFileIsClosedAndRemoved)
{
  writeFile(at("open"), "content");
  BaseFile* open = file(at("open"));
  ASSERT_TRUE(open->openFile(true));
  EXPECT_TRUE(open->deleteFile(0));
  EXPECT_FALSE(open->isOpen());
  EXPECT_FALSE(present(at("open")));
}

// ---- Moving ----

TEST_F(FileOperationsTest, RenameReplacesAnExistingTarget)
{
  writeFile(at("from"), "new");
  writeFile(at("to"), "old and longer");
  EXPECT_TRUE(BaseFile::movePath(str(at("from")), str(at("to"))));
  EXPECT_FALSE(present(at("from")));
  EXPECT_EQ(readFile(at("to")), "new");
}

TEST_F(FileOperationsTest, AFailureIsLoggedWithBothPaths)
{
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_FALSE(BaseFile::movePath(str(at("missing")), str(at("to"))));
  EXPECT_EQ(log.text(), "Error: " + at("missing") + " -> " + at("to") + ": No such file or directory\n");
}

// ---- Copying and appending ----

TEST_F(FileOperationsTest, CopiesHoldExactlyTheSourceBytesAtEverySize)
{
  for (size_t size : {0ul, 1ul, 8191ul, 8192ul, 8193ul, 3 * 8192ul + 5}) {
    SCOPED_TRACE(size);
    std::string bytes = pattern(size, (unsigned)size);
    writeFile(at("source"), bytes);
    writeFile(at("destination"), pattern(40000, 9));  // longer: the copy must truncate it
    EXPECT_TRUE(BaseFile::copyFile(str(at("source")), str(at("destination"))));
    EXPECT_EQ(readFile(at("destination")), bytes);
    EXPECT_EQ(readFile(at("source")), bytes);
  }
}

TEST_F(FileOperationsTest, ADirectoryOrMissingSourceIsRefusedAndTheDestinationKept)
{
  fs::create_directory(at("d"));
  writeFile(at("destination"), "keep me");
  EXPECT_FALSE(file(at("d"))->copyFile(str(at("destination"))));
  EXPECT_FALSE(BaseFile::copyFile(str(at("d")), str(at("destination"))));
  EXPECT_FALSE(BaseFile::copyFile(str(at("missing")), str(at("destination"))));
  EXPECT_EQ(readFile(at("destination")), "keep me");
}

TEST_F(FileOperationsTest, CopyingAFileOntoItselfIsRefusedAndLosesNothing)
{
  writeFile(at("self"), "precious");
  ASSERT_EQ(link(at("self").c_str(), at("hardlink").c_str()), 0);
  EXPECT_FALSE(BaseFile::copyFile(str(at("self")), str(at("self"))));
  EXPECT_FALSE(BaseFile::copyFile(str(at("self")), str(at("hardlink"))));
  EXPECT_FALSE(file(at("self"))->copyFile(str(at("self"))));
  EXPECT_EQ(readFile(at("self")), "precious");
}

TEST_F(FileOperationsTest, ADestinationThatCannotBeCreatedFailsEvenForAnEmptySource)
{
  writeFile(at("empty"), "");
  fs::create_directory(at("d"));
  EXPECT_FALSE(BaseFile::copyFile(str(at("empty")), str(at("no/such/dir/f"))));
  EXPECT_FALSE(BaseFile::copyFile(str(at("empty")), str(at("d"))));
  EXPECT_TRUE(fs::is_directory(at("d")));
}

TEST_F(FileOperationsTest, AppendWritesTheOtherFileFromTheOffsetAtThePosition)
{
  std::string other = pattern(20000, 3);
  writeFile(at("other"), other);
  writeFile(at("target"), "head");
  BaseFile* target = file(at("target"));
  ASSERT_TRUE(target->openFile(false));
  target->setOffset(4);
  EXPECT_TRUE(target->appendContentOfFile(file(at("other")), 8193));
  target->closeFile();
  EXPECT_EQ(readFile(at("target")), "head" + other.substr(8193));
}

TEST_F(FileOperationsTest, AppendingAFileToItselfCopiesWhatItHeldAndEnds)
{
  std::string bytes = pattern(9000, 4);
  writeFile(at("self"), bytes);
  BaseFile* target = file(at("self"));
  ASSERT_TRUE(target->openFile(false));
  target->setOffset(target->sizeInBytes());
  EXPECT_TRUE(target->appendContentOfFile(file(at("self")), 0));
  target->closeFile();
  EXPECT_EQ(readFile(at("self")), bytes + bytes);
}

TEST_F(FileOperationsTest, AppendFromNothingOrBeyondTheEndFailsAndWritesNothing)
{
  writeFile(at("other"), "12345");
  writeFile(at("target"), "");
  BaseFile* target = file(at("target"));
  ASSERT_TRUE(target->openFile(false));
  {
    LogCapture log("%S: %m\n", "E|src/files/");
    EXPECT_FALSE(target->appendContentOfFile(file(at("missing")), 0));
    EXPECT_EQ(log.text(), "Error: other file do not exists\n");
  }
  EXPECT_FALSE(target->appendContentOfFile(file(at("other")), 6));
  EXPECT_FALSE(target->appendContentOfFile(file(at("other")), -1));
  target->closeFile();
  EXPECT_EQ(readFile(at("target")), "");
}

// ---- Extracting ranges ----

TEST_F(FileOperationsTest, ARangeGoesIntoANewFileWithItsDirectoriesAtAnyLength)
{
  std::string bytes = pattern(40000, 5);
  writeFile(at("source"), bytes);
  BaseFile* source = file(at("source"));
  for (int64_t length : {0l, 1l, 8191l, 8192l, 8193l, 20000l, 39995l}) {
    SCOPED_TRACE(length);
    std::string path = at("x/y/part" + std::to_string(length));
    BaseFile* part = source->writeContentAtOffsetToFile(str(path), 5, length);
    ASSERT_NE(part, nullptr);
    EXPECT_FALSE(part->isOpen());
    EXPECT_EQ(readFile(path), bytes.substr(5, (size_t)length));
  }
  EXPECT_FALSE(source->isOpen());
}

TEST_F(FileOperationsTest, ARangePastTheEndGivesNullAndLeavesNoFile)
{
  writeFile(at("source"), pattern(10000, 6));
  writeFile(at("existing"), "old");
  BaseFile* source = file(at("source"));
  EXPECT_EQ(source->writeContentAtOffsetToFile(str(at("short")), 100, 9901), nullptr);
  EXPECT_FALSE(present(at("short")));
  EXPECT_EQ(source->writeContentAtOffsetToFile(str(at("existing")), 10001, 1), nullptr);
  EXPECT_FALSE(present(at("existing")));
}

TEST_F(FileOperationsTest, IntoAnOpenFileAtItsPositionFromAnOpenSource)
{
  std::string bytes = pattern(20000, 7);
  writeFile(at("source"), bytes);
  writeFile(at("target"), "0123456789");
  BaseFile* source = file(at("source"));
  BaseFile* target = file(at("target"));
  ASSERT_TRUE(source->openFile(true));
  ASSERT_TRUE(target->openFile(false));
  target->setOffset(3);
  EXPECT_TRUE(source->writeContentAtOffsetToFile(target, 8190, 8197));
  EXPECT_TRUE(source->isOpen());  // the caller's stream stays open
  target->closeFile();
  EXPECT_EQ(readFile(at("target")), "012" + bytes.substr(8190, 8197));
}

// ---- Directories and listings ----

TEST_F(FileOperationsTest, IntermediateLevelsAreMadeAndAnExistingDirectoryIsFine)
{
  fs::create_directory(at("x"));
  EXPECT_TRUE(BaseFile::createDirectoryAtPath(str(at("x/y/z")), true));
  EXPECT_TRUE(fs::is_directory(at("x/y/z")));
  EXPECT_TRUE(BaseFile::createDirectoryAtPath(str(at("x/y/z")), true));
  EXPECT_TRUE(BaseFile::createDirectoryAtPath(str(at("x/y")), false));
  EXPECT_TRUE(BaseFile::createDirectoryAtPath(str(at("r/s/")), true));
  EXPECT_TRUE(fs::is_directory(at("r/s")));
}

TEST_F(FileOperationsTest, WithoutIntermediatesAMissingParentFails)
{
  EXPECT_FALSE(BaseFile::createDirectoryAtPath(str(at("m/n")), false));
  EXPECT_FALSE(present(at("m")));
  EXPECT_TRUE(file(at("single"))->createDirectory());
  EXPECT_FALSE(file(at("single"))->createDirectory());
  EXPECT_TRUE(fs::is_directory(at("single")));
}

TEST_F(FileOperationsTest, AFileInTheWayIsAFailureNotAnExistingDirectory)
{
  writeFile(at("file"), "f");
  EXPECT_FALSE(BaseFile::createDirectoryAtPath(str(at("file")), false));
  EXPECT_FALSE(BaseFile::createDirectoryAtPath(str(at("file")), true));
  LogCapture log("%S: %m\n", "E|src/files/");
  EXPECT_FALSE(BaseFile::createDirectoryAtPath(str(at("file/z")), true));
  EXPECT_EQ(log.text(), "Error: " + at("file/z") + " failed Not a directory\n");
}

TEST_F(FileOperationsTest, EntriesComeInListingOrderWithOrWithoutDotNames)
{
  writeFile(at("a"), "a");
  writeFile(at(".hidden"), "h");
  fs::create_directory(at("d"));
  std::vector<std::string> all = rawListing(m_root);
  std::vector<std::string> visible;
  for (const std::string& name : all)
    if (name[0] != '.') visible.push_back(name);

  BaseFile* directory = file(m_root);
  EXPECT_EQ(texts(directory->directoryEntries(false)), all);
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()),
            (std::set<std::string>{".", "..", "a", ".hidden", "d"}));
  EXPECT_EQ(texts(directory->directoryEntries(true)), visible);
  EXPECT_EQ(visible.size(), 2u);
}

TEST_F(FileOperationsTest, EntryNamesAreRecomposedUnlessAskedForAsOnDisk)
{
  writeFile(at("e\xcc\x81"), "decomposed");
  BaseFile* directory = file(m_root);
  EXPECT_EQ(texts(directory->directoryEntries(true)), std::vector<std::string>{"\xc3\xa9"});
  EXPECT_EQ(texts(directory->directoryEntries(true, false)), std::vector<std::string>{"e\xcc\x81"});
}

TEST_F(FileOperationsTest, ANonDirectoryHasNoEntries)
{
  writeFile(at("f"), "f");
  EXPECT_EQ(file(at("f"))->directoryEntries(false)->count(), 0u);
  EXPECT_EQ(file(at("missing"))->directoryEntries(false)->count(), 0u);
  EXPECT_EQ(file(at("f"))->directoryEntriesAttributes(false)->count(), 0u);
}

TEST_F(FileOperationsTest, EntryAttributesFollowTheListing)
{
  writeFile(at("a"), "12345");
  writeFile(at(".h"), "h");
  fs::create_directory(at("d"));
  BaseArray* attributes = file(m_root)->directoryEntriesAttributes(true);
  std::vector<std::string> names = texts(file(m_root)->directoryEntries(true));
  ASSERT_EQ(attributes->count(), 2u);
  for (unsigned int i = 0; i < attributes->count(); i++) {
    BaseDictionary* entry = static_cast<BaseDictionary*>(attributes->objectAtIndex(i));
    BaseString* name = static_cast<BaseString*>(entry->objectForKey("fa_name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->cString(), names[i]);
    BaseString* type = static_cast<BaseString*>(entry->objectForKey("fa_type"));
    ASSERT_NE(type, nullptr);
    EXPECT_STREQ(type->cString(), names[i] == "a" ? "ft_reg" : "ft_dir");
  }
  EXPECT_EQ(file(m_root)->directoryEntriesAttributes(false)->count(), 5u);
}

// ---- Temporary directory and files ----

class BaseFileTemporaryTest : public FileOperationsTest
{
protected:
  void SetUp() override
  {
    FileOperationsTest::SetUp();
    const char* value = getenv("TMPDIR");
    m_hadTmpdir = value != nullptr;
    if (value) m_tmpdir = value;
  }
  void TearDown() override
  {
    if (m_hadTmpdir)
      setenv("TMPDIR", m_tmpdir.c_str(), 1);
    else
      unsetenv("TMPDIR");
    BaseFile::setTemporaryDirectory("");  // the next reader fills it again from the environment
    FileOperationsTest::TearDown();
  }

  bool m_hadTmpdir = false;
  std::string m_tmpdir;
};

TEST_F(BaseFileTemporaryTest, TheDirectoryComesFromTMPDIROrIsTmpAndIsOneSharedString)
{
  setenv("TMPDIR", m_root.c_str(), 1);
  BaseFile::setTemporaryDirectory("");
  BaseString* directory = BaseFile::temporaryDirectory();
  EXPECT_EQ(directory->cString(), m_root);
  EXPECT_EQ(BaseFile::temporaryDirectory(), directory);

  unsetenv("TMPDIR");
  BaseFile::setTemporaryDirectory("");
  EXPECT_STREQ(BaseFile::temporaryDirectory()->cString(), "/tmp");
  setenv("TMPDIR", "", 1);
  BaseFile::setTemporaryDirectory("");
  EXPECT_STREQ(BaseFile::temporaryDirectory()->cString(), "/tmp");

  BaseFile::setTemporaryDirectory("/elsewhere");
  EXPECT_STREQ(BaseFile::temporaryDirectory()->cString(), "/elsewhere");
  EXPECT_EQ(BaseFile::temporaryDirectory(), directory);
}

TEST_F(BaseFileTemporaryTest, EachTemporaryFileIsNewEmptyPrivateAndNamedBaseFile)
{
  BaseFile::setTemporaryDirectory(m_root.c_str());
  BaseFile* first = BaseFile::createTemporaryFile();
  BaseFile* second = BaseFile::createTemporaryFile();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->getRetainCount(), 1);
  std::string firstPath = first->getFilePath()->cString();
  std::string secondPath = second->getFilePath()->cString();
  EXPECT_NE(firstPath, secondPath);
  for (const std::string& path : {firstPath, secondPath}) {
    EXPECT_EQ(path.rfind(m_root + "/BaseFile", 0), 0u) << path;
    EXPECT_EQ(path.size(), m_root.size() + 1 + 14);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_size, 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
  }
  EXPECT_TRUE(first->isFile());
  first->release();
  second->release();
}

TEST_F(BaseFileTemporaryTest, AMissingTemporaryDirectoryGivesNull)
{
  BaseFile::setTemporaryDirectory(at("missing").c_str());
  LogCapture log("%S: %m\n", "E|src/files/");
  EXPECT_EQ(BaseFile::createTemporaryFile(), nullptr);
  EXPECT_NE(log.text().find("Error: Unable to create a temporary file"), std::string::npos);
}

// ---- Size texts ----

TEST(BaseFileSizeTextTest, DecimalUnitsWithOneDecimalAndTheRoundingThreshold)
{
  BaseAutorelease pool;
  const struct
  {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {-5, "-5 B"},
      {0, "0 B"},
      {999, "999 B"},
      {1000, "1.0 KB"},
      {1536, "1.5 KB"},
      {999499, "999.5 KB"},
      {999500, "1.0 MB"},
      {1000000, "1.0 MB"},
      {2500000000ll, "2.5 GB"},
      {999500000000ll, "1.0 TB"},
      {1000000000000000ll, "1.0 PB"},
      {INT64_MAX, "9.2 EB"},
  };
  for (const auto& entry : cases) {
    BaseString* text = BaseFile::humanReadableFileSizeWithBytes(entry.bytes);
    ASSERT_NE(text, nullptr) << entry.bytes;
    EXPECT_STREQ(text->cString(), entry.text) << entry.bytes;
  }
}

}  // namespace
