// The directory walker: listing order and depth first, every option bit, ignored names,
// the three forms of an entry, roots that are not directories, links that are not entered,
// and a subdirectory that disappears during the walk.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "files/DirectoryStructureEnumerator.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

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
  // and "..") followed by its own contents, filtered by `keep` (path relative to the root,
  // name, is a directory).
  std::vector<std::string> expected(
      const std::function<bool(const std::string&, const std::string&, bool)>& keep,
      const std::string& relative = "")
  {
    std::vector<std::string> paths;
    for (const std::string& name : rawListing(relative.empty() ? m_root : at(relative))) {
      std::string entry = relative.empty() ? name : relative + "/" + name;
      struct stat status;
      bool directory = lstat(at(entry).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
      if (keep(entry, name, directory)) paths.push_back(at(entry));
      if (directory && name != "." && name != "..") {
        std::vector<std::string> inner = expected(keep, entry);
        paths.insert(paths.end(), inner.begin(), inner.end());
      }
    }
    return paths;
  }

  std::vector<std::string> walk(DirectoryStructureEnumerator* walker)
  {
    std::vector<std::string> paths;
    while (BaseString* path = walker->getNextDirectoryItemPath()) {
      paths.push_back(path->cString());
      if (paths.size() > 1000) break;  // a walk that never ends fails instead of hanging
    }
    EXPECT_EQ(walker->getNextDirectoryItem(), nullptr) << "a finished walk stays finished";
    return paths;
  }
  std::vector<std::string> walk(int options) { return walk(walker(options)); }
  DirectoryStructureEnumerator* walker(int options)
  {
    return DirectoryStructureEnumerator::directoryEnumeratorAtPath(str(m_root), options);
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"corvane-walk"};
  const std::string& m_root = m_temporary.path();
};

bool isDotName(const std::string& name)
{
  return name == "." || name == "..";
}

class DirectoryWalkOrderTest : public DirectoryStructureEnumeratorTest
{
};

TEST_F(DirectoryWalkOrderTest, WithoutOptionsEveryEntryComesDotNamesIncludedEachDirectoryBeforeItsContents)
{
  makeTree();
  std::vector<std::string> paths = walk(0);
  EXPECT_EQ(paths, expected([](const std::string&, const std::string&, bool) { return true; }));
  EXPECT_EQ(paths.size(), 8u);  // a, b, d, "." and "..", then c, "." and ".." of d
}

TEST_F(DirectoryWalkOrderTest, ADeepTreeComesBackToEachParentAtItsPlace)
{
  fs::create_directories(at("d1/e1/f1"));
  fs::create_directories(at("d2/e2"));
  writeFile(at("d1/e1/f1/leaf"), "l");
  writeFile(at("d1/x"), "x");
  writeFile(at("d2/e2/y"), "y");
  writeFile(at("z"), "z");
  auto noDots = [](const std::string&, const std::string& name, bool) { return !isDotName(name); };
  EXPECT_EQ(walk(DirectoryStructureEnumerator::eSkipPosixDotNames), expected(noDots));
  EXPECT_EQ(walk(DirectoryStructureEnumerator::eSkipPosixDotNames).size(), 9u);
}

TEST_F(DirectoryWalkOrderTest, TheThreeFormsOfAnEntryDescribeTheSameEntries)
{
  makeTree();
  DirectoryStructureEnumerator* files = walker(DirectoryStructureEnumerator::eSkipPosixDotNames);
  DirectoryStructureEnumerator* attributes = walker(DirectoryStructureEnumerator::eSkipPosixDotNames);
  std::vector<std::string> paths = walk(DirectoryStructureEnumerator::eSkipPosixDotNames);
  for (const std::string& path : paths) {
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

class DirectoryWalkOptionsTest : public DirectoryStructureEnumeratorTest
{
};

TEST_F(DirectoryWalkOptionsTest, Bit2LeavesOutDotAndDotDot)
{
  makeTree();
  writeFile(at(".hidden"), "h");
  auto noDots = [](const std::string&, const std::string& name, bool) { return !isDotName(name); };
  std::vector<std::string> paths = walk(DirectoryStructureEnumerator::eSkipPosixDotNames);
  EXPECT_EQ(paths, expected(noDots));
  EXPECT_EQ(paths.size(), 5u);  // a, b, d, c and .hidden
}

TEST_F(DirectoryWalkOptionsTest, Bit4NeitherHandsOutNorEntersDotNames)
{
  makeTree();
  writeFile(at(".hidden"), "h");
  fs::create_directory(at(".hiddenDirectory"));
  writeFile(at(".hiddenDirectory/inside"), "i");
  auto visible = [](const std::string& relative, const std::string& name, bool) {
    return name[0] != '.' && relative.rfind(".hiddenDirectory", 0) != 0;
  };
  std::vector<std::string> paths = walk(DirectoryStructureEnumerator::eSkipHidden);
  EXPECT_EQ(paths, expected(visible));
  EXPECT_EQ(paths.size(), 4u);
}

TEST_F(DirectoryWalkOptionsTest, Bit8HandsOutNoDirectoriesButWalksThem)
{
  makeTree();
  std::vector<std::string> paths = walk(DirectoryStructureEnumerator::eSkipDirectories);
  EXPECT_EQ(paths,
            expected([](const std::string&, const std::string&, bool directory) { return !directory; }));
  EXPECT_EQ(paths.size(), 3u);  // a, b and c
}

TEST_F(DirectoryWalkOptionsTest, Bit16HandsOutOnlyTheDirectories)
{
  makeTree();
  std::vector<std::string> paths = walk(DirectoryStructureEnumerator::eSkipFiles);
  EXPECT_EQ(paths,
            expected([](const std::string&, const std::string&, bool directory) { return directory; }));
  EXPECT_EQ(paths.size(), 5u);  // d and the four dot entries
}

TEST_F(DirectoryWalkOptionsTest, Bit32LeavesOutPipesAndDanglingLinks)
{
  makeTree();
  ASSERT_EQ(mkfifo(at("d/pipe").c_str(), 0600), 0);
  fs::create_symlink(at("nowhere"), at("dangling"));
  auto special = [](const std::string&, const std::string& name, bool) {
    return name == "pipe" || name == "dangling";
  };
  auto noDots = [](const std::string&, const std::string& name, bool) { return !isDotName(name); };
  auto plain = [&](const std::string& relative, const std::string& name, bool directory) {
    return noDots(relative, name, directory) && !special(relative, name, directory);
  };
  EXPECT_EQ(walk(DirectoryStructureEnumerator::eSkipPosixDotNames), expected(noDots));
  EXPECT_EQ(walk(DirectoryStructureEnumerator::eSkipPosixDotNames |
                 DirectoryStructureEnumerator::eOnlyFilesAndDirectories),
            expected(plain));
}

TEST_F(DirectoryWalkOptionsTest, CombinedBitsFilterTogether)
{
  makeTree();
  writeFile(at(".hidden"), "h");
  std::vector<std::string> paths =
      walk(DirectoryStructureEnumerator::eSkipHidden | DirectoryStructureEnumerator::eSkipDirectories);
  EXPECT_EQ(paths, expected([](const std::string&, const std::string& name, bool directory) {
              return !directory && name[0] != '.';
            }));
  EXPECT_EQ(paths.size(), 3u);
}

TEST_F(DirectoryWalkOptionsTest, AnIgnoredDirectoryNameHidesTheDirectoryButNotItsContents)
{
  makeTree();
  DirectoryStructureEnumerator* enumerator = walker(DirectoryStructureEnumerator::eSkipPosixDotNames);
  enumerator->addIgnoringName(str("d"));
  enumerator->addIgnoringName(str("b"));
  std::vector<std::string> paths = walk(enumerator);
  EXPECT_EQ(paths, expected([](const std::string&, const std::string& name, bool) {
              return !isDotName(name) && name != "d" && name != "b";
            }));
  EXPECT_EQ(paths.size(), 2u);  // a and d/c
}

TEST_F(DirectoryWalkOptionsTest, IgnoredNamesMatchTheGenericName)
{
  writeFile(at("e\xcc\x81"), "decomposed");
  writeFile(at("other"), "o");
  DirectoryStructureEnumerator* enumerator = walker(DirectoryStructureEnumerator::eSkipPosixDotNames);
  enumerator->addIgnoringName(str("\xc3\xa9"));
  EXPECT_EQ(walk(enumerator), std::vector<std::string>{at("other")});
}

class DirectoryWalkEdgeTest : public DirectoryStructureEnumeratorTest
{
};

TEST_F(DirectoryWalkEdgeTest, AnEmptyRootWithBit4EndsAtOnce)
{
  EXPECT_EQ(walker(DirectoryStructureEnumerator::eSkipHidden)->getNextDirectoryItem(), nullptr);
}

TEST_F(DirectoryWalkEdgeTest, ARootThatIsNoDirectoryLogsAnErrorAndHandsOutNothing)
{
  writeFile(at("file"), "f");
  LogCapture log("%S: %m\n", "W|src/files/");
  DirectoryStructureEnumerator* enumerator =
      DirectoryStructureEnumerator::directoryEnumeratorAtPath(str(at("file")), 0);
  EXPECT_EQ(enumerator->getNextDirectoryItem(), nullptr);
  EXPECT_EQ(log.text(), "Error: rootpath is not a directory " + at("file") + "\n");
}

TEST_F(DirectoryWalkEdgeTest, ADirectoryWithADecomposedNameIsEnteredAndReportedRecomposed)
{
  fs::create_directory(at("e\xcc\x81"));
  writeFile(at("e\xcc\x81/inside"), "i");
  EXPECT_EQ(walk(DirectoryStructureEnumerator::eSkipPosixDotNames),
            (std::vector<std::string>{at("\xc3\xa9"), at("\xc3\xa9/inside")}));
}

TEST_F(DirectoryWalkEdgeTest, LinksToDirectoriesAreHandedOutButNeverEntered)
{
  fs::create_directory(at("outside"));
  writeFile(at("outside/far"), "f");
  fs::create_directory(at("tree"));
  writeFile(at("tree/near"), "n");
  fs::create_directory_symlink(at("outside"), at("tree/link"));
  fs::create_directory_symlink(at("tree"), at("tree/loop"));
  std::vector<std::string> paths;
  DirectoryStructureEnumerator* enumerator = DirectoryStructureEnumerator::directoryEnumeratorAtPath(
      str(at("tree")), DirectoryStructureEnumerator::eSkipPosixDotNames);
  while (BaseString* path = enumerator->getNextDirectoryItemPath()) {
    paths.push_back(path->cString());
    if (paths.size() > 100) break;
  }
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{at("tree/link"), at("tree/loop"), at("tree/near")}));
}

TEST_F(DirectoryWalkEdgeTest, ASubdirectoryRemovedDuringItsWalkEndsTheWalkCleanly)
{
  fs::create_directories(at("p/gone"));
  writeFile(at("p/gone/x"), "x");
  writeFile(at("p/k"), "k");
  DirectoryStructureEnumerator* enumerator = walker(DirectoryStructureEnumerator::eSkipPosixDotNames);
  std::vector<std::string> paths;
  while (BaseString* path = enumerator->getNextDirectoryItemPath()) {
    paths.push_back(path->cString());
    if (paths.back() == at("p/gone/x")) fs::remove_all(at("p/gone"));
    if (paths.size() > 100) break;
  }
  std::set<std::string> unique(paths.begin(), paths.end());
  EXPECT_EQ(unique.size(), paths.size()) << "nothing is handed out twice";
  EXPECT_TRUE(unique.count(at("p")) && unique.count(at("p/gone")) && unique.count(at("p/gone/x")));
  EXPECT_LE(paths.size(), 4u);
}

}  // namespace
