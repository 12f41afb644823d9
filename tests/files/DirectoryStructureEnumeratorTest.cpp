// The directory walker: listing order and depth first, every option bit, ignored names,
// the three forms of an entry, roots that are not directories, links that are not entered,
// and a subdirectory that disappears during the walk.
#include "files/DirectoryStructureEnumerator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::string>;
using Keep = std::function<bool(const std::string& relative, const std::string& name, bool directory)>;
using D = DirectoryStructureEnumerator;

bool isDotName(const std::string& name)
{
  return name == "." || name == "..";
}

class DirectoryStructureEnumeratorTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_FALSE(m_root.empty()); }

  std::string at(const std::string& relative) const { return m_root + "/" + relative; }
  BaseString* str(const std::string& text) { return new (eRetainAutorelease) BaseString(text.c_str()); }
  // The root holds files a and b and a directory d holding c.
  void makeTree()
  {
    writeFile(at("a"), "a");
    writeFile(at("b"), "b");
    fs::create_directory(at("d"));
    writeFile(at("d/c"), "c");
  }
  // What a walk must hand out: the platform's listing order, each directory (other than "."
  // and "..") followed by its own contents, filtered by `keep`.
  Paths expected(const Keep& keep, const std::string& relative = "")
  {
    Paths paths;
    for (const std::string& name : rawListing(relative.empty() ? m_root : at(relative))) {
      std::string entry = relative.empty() ? name : relative + "/" + name;
      struct stat status;
      bool directory = lstat(at(entry).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
      if (keep(entry, name, directory)) paths.push_back(at(entry));
      if (directory && !isDotName(name)) {
        Paths inner = expected(keep, entry);
        paths.insert(paths.end(), inner.begin(), inner.end());
      }
    }
    return paths;
  }
  Paths walk(DirectoryStructureEnumerator* walker,
             const std::function<void(const std::string&)>& seen = nullptr)
  {
    Paths paths;
    while (BaseString* path = walker->getNextDirectoryItemPath()) {
      paths.push_back(path->cString());
      if (seen) seen(paths.back());
      if (paths.size() > 1000) break;  // a walk that never ends fails instead of hanging
    }
    EXPECT_EQ(walker->getNextDirectoryItem(), nullptr) << "a finished walk stays finished";
    return paths;
  }
  DirectoryStructureEnumerator* walker(int options, const std::string& root = "")
  {
    return D::directoryEnumeratorAtPath(str(root.empty() ? m_root : at(root)), options);
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"corvane-walk"};
  const std::string& m_root = m_temporary.path();
};

TEST_F(DirectoryStructureEnumeratorTest, EachOptionBitFiltersTheDepthFirstWalk)
{
  makeTree();
  writeFile(at(".hidden"), "h");
  fs::create_directories(at(".hiddenDirectory/e1/f1"));
  writeFile(at(".hiddenDirectory/e1/f1/inside"), "i");
  fs::create_directories(at("d/e2"));
  writeFile(at("d/e2/y"), "y");
  ASSERT_EQ(mkfifo(at("d/pipe").c_str(), 0600), 0);
  fs::create_symlink(at("nowhere"), at("dangling"));
  auto visible = [](const std::string& relative, const std::string& name) {
    return name[0] != '.' && relative.rfind(".hiddenDirectory", 0) != 0;
  };
  auto special = [](const std::string& name) { return name == "pipe" || name == "dangling"; };
  const struct
  {
    const char* name;
    int options;
    Keep keep;
    size_t count;
  } cases[] = {
      {"none", 0, [](auto&, auto&, bool) { return true; }, 25},
      {"no dot names", D::eSkipPosixDotNames, [](auto&, auto& name, bool) { return !isDotName(name); }, 13},
      {"no hidden", D::eSkipHidden, [&](auto& relative, auto& name, bool) { return visible(relative, name); },
       8},
      {"no directories", D::eSkipDirectories, [](auto&, auto&, bool directory) { return !directory; }, 8},
      {"only directories and specials", D::eSkipFiles,
       [&](auto&, auto& name, bool directory) { return directory || special(name); }, 19},
      {"only files and directories", D::eSkipPosixDotNames | D::eOnlyFilesAndDirectories,
       [&](auto&, auto& name, bool) { return !isDotName(name) && !special(name); }, 11},
      {"no hidden, no directories", D::eSkipHidden | D::eSkipDirectories,
       [&](auto& relative, auto& name, bool directory) { return !directory && visible(relative, name); }, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Paths paths = walk(walker(c.options));
    EXPECT_EQ(paths, expected(c.keep));
    EXPECT_EQ(paths.size(), c.count);
  }
}

TEST_F(DirectoryStructureEnumeratorTest, TheThreeFormsOfAnEntryDescribeTheSameEntries)
{
  makeTree();
  DirectoryStructureEnumerator* files = walker(D::eSkipPosixDotNames);
  DirectoryStructureEnumerator* attributes = walker(D::eSkipPosixDotNames);
  for (const std::string& path : walk(walker(D::eSkipPosixDotNames))) {
    BaseFile* item = files->getNextDirectoryItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->getFilePath()->cString(), path);
    BaseDictionary* record = attributes->getNextDirectoryItemAttributes();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(static_cast<BaseString*>(record->objectForKey("fa_name"))->cString(),
              fs::path(path).filename().string());
  }
  EXPECT_EQ(files->getNextDirectoryItem(), nullptr);
  EXPECT_EQ(attributes->getNextDirectoryItemAttributes(), nullptr);
}

TEST_F(DirectoryStructureEnumeratorTest, IgnoredNamesHideEntriesButNotTheirContentsAndMatchGenericNames)
{
  makeTree();
  writeFile(at("e\xcc\x81"), "decomposed");
  DirectoryStructureEnumerator* enumerator = walker(D::eSkipPosixDotNames);
  for (const char* name : {"d", "b", "\xc3\xa9"}) enumerator->addIgnoringName(str(name));
  EXPECT_EQ(walk(enumerator), expected([](auto&, auto& name, bool) {
              return !isDotName(name) && name != "d" && name != "b" && name != "e\xcc\x81";
            }));
  // A directory with a decomposed name is entered and reported recomposed.
  fs::create_directory(at("d/e\xcc\x81"));
  writeFile(at("d/e\xcc\x81/inside"), "i");
  Paths inD = walk(walker(D::eSkipPosixDotNames, "d"));
  std::sort(inD.begin(), inD.end());
  EXPECT_EQ(inD, (Paths{at("d/c"), at("d/\xc3\xa9"), at("d/\xc3\xa9/inside")}));
}

TEST_F(DirectoryStructureEnumeratorTest, EmptyRootsAndRootsThatAreNoDirectory)
{
  EXPECT_EQ(walker(D::eSkipHidden)->getNextDirectoryItem(), nullptr);
  writeFile(at("file"), "f");
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_EQ(walker(0, "file")->getNextDirectoryItem(), nullptr);
  EXPECT_EQ(log.text(), "Error: rootpath is not a directory " + at("file") + "\n");
}

TEST_F(DirectoryStructureEnumeratorTest, LinksToDirectoriesAreHandedOutButNeverEntered)
{
  fs::create_directory(at("outside"));
  writeFile(at("outside/far"), "f");
  fs::create_directory(at("tree"));
  writeFile(at("tree/near"), "n");
  fs::create_directory_symlink(at("outside"), at("tree/link"));
  fs::create_directory_symlink(at("tree"), at("tree/loop"));
  Paths paths = walk(walker(D::eSkipPosixDotNames, "tree"));
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (Paths{at("tree/link"), at("tree/loop"), at("tree/near")}));
}

TEST_F(DirectoryStructureEnumeratorTest, ASubdirectoryRemovedDuringItsWalkEndsTheWalkCleanly)
{
  fs::create_directories(at("p/gone"));
  writeFile(at("p/gone/x"), "x");
  writeFile(at("p/k"), "k");
  Paths paths = walk(walker(D::eSkipPosixDotNames), [&](const std::string& path) {
    if (path == at("p/gone/x")) fs::remove_all(at("p/gone"));
  });
  std::set<std::string> unique(paths.begin(), paths.end());
  EXPECT_EQ(unique.size(), paths.size()) << "nothing is handed out twice";
  EXPECT_TRUE(unique.count(at("p")) && unique.count(at("p/gone")) && unique.count(at("p/gone/x")));
  EXPECT_LE(paths.size(), 4u);
}

}  // namespace
