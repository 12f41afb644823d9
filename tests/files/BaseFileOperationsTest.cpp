// The operations of BaseFile on paths and whole files: deleting, moving, copying, appending,
// ranges, directories and their listings, temporary files and size texts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "platform/Process.h"
#include "support/CaptureStream.h"
#include "support/FileTree.h"

namespace fs = std::filesystem;

namespace {

std::string pattern(size_t count, unsigned seed = 1)
{
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i++) bytes[i] = (char)(unsigned char)((i * 31 + seed * 7 + i / 251) & 0xff);
  return bytes;
}

std::string textOf(BaseObject* object)
{
  return static_cast<BaseString*>(object)->cString();
}
std::vector<std::string> texts(BaseArray* strings)
{
  std::vector<std::string> result;
  for (unsigned int i = 0; i < strings->count(); i++) result.push_back(textOf(strings->objectAtIndex(i)));
  return result;
}

class FileOperationsTest : public ::testing::Test
{
protected:
  std::string at(const std::string& relative) const { return m_root + "/" + relative; }
  BaseString* str(const std::string& text) { return new (eRetainAutorelease) BaseString(text.c_str()); }
  BaseFile* file(const std::string& path) { return new (eRetainAutorelease) BaseFile(str(path)); }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"corvane-fsops"};
  const std::string& m_root = m_temporary.path();
};

// One operation on a path: the tree before, the result, the tree after and, where it
// matters, the log ("@" stands for the test's directory and a slash).
TEST_F(FileOperationsTest, OperationsOnFilesDirectoriesLinksAndNothing)
{
  const char* missing = "Warning: @x : No such file or directory\n";
  const int recursive = BaseFile::eDeleteRecursive, parents = BaseFile::eDeleteEmptiedParents;
  const struct
  {
    const char* operation;
    const char* path;
    const char* before;
    bool result;
    const char* after;
    const char* log;
  } cases[] = {
      {"delete", "x", "x='1'", true, "", nullptr},
      {"delete", "x", "x/", true, "", nullptr},
      {"delete", "x", "x/ x/f='1'", false, "x/ x/f='1'", nullptr},
      {"delete", "x", "o/ o/p='1' x->o", true, "o/ o/p='1'", nullptr},
      {"delete", "x", "x|", false, "x|", nullptr},
      {"delete", "x", "", false, "", missing},
      {"delete recursive", "x", "keep='k' x/ x/top='1' x/.hidden='2' x/a/ x/a/b/ x/a/b/deep='3' x/a/empty/",
       true, "keep='k'", nullptr},
      {"delete recursive", "x", "x/ x/pipe|", false, "x/ x/pipe|", nullptr},
      {"delete recursive", "x", "o/ o/p='1' x/ x/dir->../o x/file->../o/p x/dangling->nowhere", true,
       "o/ o/p='1'", nullptr},
      {"delete recursive", "x", "o/ o/p='1' x->o", true, "o/ o/p='1'", nullptr},
      {"delete parents", "a/b/c", "keep='k' a/ a/b/ a/b/c='c'", true, "keep='k'", nullptr},
      {"delete both", "p/q/t", "keep='k' p/ p/q/ p/q/t/ p/q/t/s/ p/q/t/s/f='f'", true, "keep='k'", nullptr},
      {"move", "x", "x='new' to='old_and_longer'", true, "to='new'", nullptr},
      {"move", "x", "", false, "", "Error: @x -> @to: No such file or directory\n"},
      {"copy", "x", "x/ to='keep'", false, "to='keep' x/", nullptr},
      {"copy", "x", "x='' to/", false, "to/ x=''", nullptr},
      {"copy from object", "x", "x/ to='keep'", false, "to='keep' x/", nullptr},
      {"directories", "x/y/z", "x/", true, "x/ x/y/ x/y/z/", nullptr},
      {"directories", "r/s/", "", true, "r/ r/s/", nullptr},
      {"directories", "x", "x='f'", false, "x='f'", nullptr},
      {"directories", "x/z", "x='f'", false, "x='f'", "Error: @x/z failed Not a directory\n"},
      {"directory", "x", "x/", true, "x/", nullptr},
      {"directory", "x/y", "", false, "", nullptr},
      {"create", "x", "", true, "x/", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + c.path + " in " + c.before);
    if (!makeTree(m_root, c.before)) continue;
    BaseString* path = str(at(c.path));
    std::string operation = c.operation;
    LogCapture log("%S: %m\n", "W|src/files/");
    bool result = operation == "delete"             ? BaseFile::deleteFile(path, 0)
                  : operation == "delete recursive" ? BaseFile::deleteFile(path, recursive)
                  : operation == "delete parents"   ? BaseFile::deleteFile(path, parents)
                  : operation == "delete both"      ? BaseFile::deleteFile(path, recursive | parents)
                  : operation == "move"             ? BaseFile::movePath(path, str(at("to")))
                  : operation == "copy"             ? BaseFile::copyFile(path, str(at("to")))
                  : operation == "copy from object" ? file(at(c.path))->copyFile(str(at("to")))
                  : operation == "directories"      ? BaseFile::createDirectoryAtPath(path, true)
                  : operation == "directory"        ? BaseFile::createDirectoryAtPath(path, false)
                                                    : file(at(c.path))->createDirectory();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(treeOf(m_root), c.after);
    if (c.log) {
      std::string expected = c.log;
      for (size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, m_root + "/");
      EXPECT_EQ(log.text(), expected);
    }
    fs::remove_all(m_root);
    fs::create_directory(m_root);
  }
}

TEST_F(FileOperationsTest, CopiesHoldExactlyTheSourceBytesAtEverySize)
{
  for (size_t size : {0ul, 8193ul, 3 * 8192ul + 5}) {
    SCOPED_TRACE(size);
    std::string bytes = pattern(size, (unsigned)size);
    writeFile(at("source"), bytes);
    writeFile(at("destination"), pattern(40000, 9));  // longer: the copy must truncate it
    EXPECT_TRUE(BaseFile::copyFile(str(at("source")), str(at("destination"))));
    EXPECT_EQ(readFile(at("destination")), bytes);
  }
}

TEST_F(FileOperationsTest, CopyingAFileOntoItselfIsRefusedAndDeletingAnOpenFileClosesIt)
{
  writeFile(at("self"), "precious");
  ASSERT_TRUE(platform::makeHardLink(at("self").c_str(), at("hardlink").c_str()));
  BaseString* self = str(at("self"));
  EXPECT_FALSE(BaseFile::copyFile(self, self) || BaseFile::copyFile(self, str(at("hardlink"))) ||
               file(at("self"))->copyFile(self) || BaseFile::copyFile(self, str(at("no/such/dir/f"))));
  EXPECT_EQ(readFile(at("self")), "precious");
  BaseFile* open = file(at("self"));
  ASSERT_TRUE(open->openFile(true));
  EXPECT_TRUE(open->deleteFile(0));
  EXPECT_FALSE(open->isOpen() || present(at("self")));
}

TEST_F(FileOperationsTest, AppendingFromAnOffsetAtTheEnd)
{
  std::string other = pattern(20000, 3);
  writeFile(at("other"), other);
  writeFile(at("target"), "head");
  auto append = [&](const std::string& from, int64_t offset) {
    BaseFile* target = file(at("target"));
    EXPECT_TRUE(target->openFile(false));
    target->setOffset(target->sizeInBytes());
    bool appended = target->appendContentOfFile(file(at(from)), offset);
    target->closeFile();
    return appended;
  };
  LogCapture log("%S: %m\n", "E|src/files/");
  EXPECT_FALSE(append("missing", 0));
  EXPECT_EQ(log.text(), "Error: other file do not exists\n");
  EXPECT_FALSE(append("other", 20001));
  EXPECT_FALSE(append("other", -1));
  EXPECT_EQ(readFile(at("target")), "head");
  EXPECT_TRUE(append("other", 8193));
  std::string held = "head" + other.substr(8193);
  EXPECT_EQ(readFile(at("target")), held);
  EXPECT_TRUE(append("target", 0));  // itself: what it held, then it ends
  EXPECT_EQ(readFile(at("target")), held + held);
}

TEST_F(FileOperationsTest, RangesIntoNewOrOpenFiles)
{
  std::string bytes = pattern(40000, 5);
  writeFile(at("source"), bytes);
  writeFile(at("existing"), "old");
  BaseFile* source = file(at("source"));
  for (int64_t length : {0l, 8193l, 39995l}) {
    std::string path = at("x/y/part" + std::to_string(length));
    BaseFile* part = source->writeContentAtOffsetToFile(str(path), 5, length);
    EXPECT_FALSE(!part || part->isOpen() || source->isOpen()) << length;
    EXPECT_EQ(readFile(path), bytes.substr(5, (size_t)length)) << length;
  }
  EXPECT_FALSE(source->writeContentAtOffsetToFile(str(at("short")), 100, 39901) || present(at("short")));
  EXPECT_FALSE(source->writeContentAtOffsetToFile(str(at("existing")), 40001, 1) || present(at("existing")));
  ASSERT_TRUE(source->openFile(true));  // opened by the caller: left open
  EXPECT_TRUE(source->writeContentAtOffsetToFile(str(at("open")), 1, 4) && source->isOpen());
  EXPECT_EQ(readFile(at("open")), bytes.substr(1, 4));
  EXPECT_FALSE(file(at("x"))->writeContentAtOffsetToFile(str(at("from dir")), 0, 0) ||
               present(at("from dir")));
}

TEST_F(FileOperationsTest, EntriesInListingOrderWithOrWithoutDotNames)
{
  makeTree(m_root, "a='12345' .hidden='h' d/ e\xcc\x81='decomposed'");
  std::vector<std::string> all = rawListing(m_root), visible, generic;
  for (const std::string& name : all)
    if (name[0] != '.') visible.push_back(name), generic.push_back(name == "e\xcc\x81" ? "\xc3\xa9" : name);
  BaseFile* directory = file(m_root);
  EXPECT_EQ(texts(directory->directoryEntries(false, false)), all);
  EXPECT_EQ(texts(directory->directoryEntries(true, false)), visible);
  EXPECT_EQ(texts(directory->directoryEntries(true)), generic);
  EXPECT_EQ(directory->directoryEntriesAttributes(false)->count(), 6u);
  EXPECT_EQ(file(at("a"))->directoryEntries(false)->count() + file(at("a"))->directoryEntriesAttributes(false)->count(), 0u);
}

TEST_F(FileOperationsTest, TemporaryDirectoryAndFiles)
{
  const char* variable = platform::temporaryDirectoryVariable();
  const char* value = getenv(variable);
  std::string saved = value ? value : "";
  platform::setEnvironmentVariable(variable, m_root.c_str());
  BaseFile::setTemporaryDirectory("");
  BaseString* directory = BaseFile::temporaryDirectory();
  EXPECT_EQ(directory->cString(), m_root);
  EXPECT_EQ(BaseFile::temporaryDirectory(), directory);
  platform::setEnvironmentVariable(variable, "");  // empty: the system's own folder
  BaseFile::setTemporaryDirectory("");
  EXPECT_EQ(BaseFile::temporaryDirectory()->cString(), platform::defaultTemporaryDirectory());
  platform::setEnvironmentVariable(variable, value ? saved.c_str() : nullptr);
  BaseFile::setTemporaryDirectory("/elsewhere");
  EXPECT_STREQ(BaseFile::temporaryDirectory()->cString(), "/elsewhere");
  EXPECT_EQ(BaseFile::temporaryDirectory(), directory);

  BaseFile::setTemporaryDirectory(m_root.c_str());
  BaseFile* first = BaseFile::createTemporaryFile();
  BaseFile* second = BaseFile::createTemporaryFile();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->getRetainCount(), 1);
  EXPECT_NE(std::string(first->getFilePath()->cString()), second->getFilePath()->cString());
  std::string path = first->getFilePath()->cString();
  platform::FileStatus status;
  EXPECT_TRUE(path.rfind(m_root + "/BaseFile", 0) == 0 && path.size() == m_root.size() + 15) << path;
  EXPECT_TRUE(platform::fileStatus(path.c_str(), status) && status.kind == platform::eFileRegular && status.size == 0);
  const int permissions = platform::filePermissions(path.c_str());  // where the system has them
  if (permissions != -1) {
    EXPECT_EQ(permissions, 0600);
  }
  first->release();
  second->release();
  BaseFile::setTemporaryDirectory(at("missing").c_str());
  LogCapture log("%S: %m\n", "E|src/files/");
  EXPECT_EQ(BaseFile::createTemporaryFile(), nullptr);
  EXPECT_NE(log.text().find("Error: Unable to create a temporary file"), std::string::npos);
  BaseFile::setTemporaryDirectory("");  // the next reader fills it again from the environment
}

TEST(BaseFileSizeTextTest, DecimalUnitsWithOneDecimalAndTheRoundingThreshold)
{
  BaseAutorelease pool;
  const std::pair<int64_t, const char*> cases[] = {
      {-5, "-5 B"}, {999, "999 B"}, {1000, "1.0 KB"}, {999499, "999.5 KB"}, {999500, "1.0 MB"},
      {2500000000ll, "2.5 GB"}, {999500000000ll, "1.0 TB"}, {1000000000000000ll, "1.0 PB"}, {INT64_MAX, "9.2 EB"}};
  for (auto [bytes, text] : cases)
    EXPECT_STREQ(BaseFile::humanReadableFileSizeWithBytes(bytes)->cString(), text) << bytes;
}

}  // namespace
