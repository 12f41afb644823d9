// The directory walker: listing order and depth first, every option bit, ignored names,
// the three forms of an entry, roots that are not directories, links that are not entered,
// and a subdirectory that disappears during the walk.
#include "files/DirectoryStructureEnumerator.h"

#include <gtest/gtest.h>

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
#include "support/FileTree.h"

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
  std::string at(const std::string& relative) const { return m_root + "/" + relative; }
  // What a walk must hand out: the platform's listing order, each directory (other than "."
  // and "..") followed by its own contents, filtered by `keep`.
  Paths expected(const Keep& keep, const std::string& relative = "")
  {
    Paths paths;
    for (const std::string& name : rawListing(relative.empty() ? m_root : at(relative))) {
      std::string entry = relative.empty() ? name : relative + "/" + name;
      platform::FileStatus status;
      bool directory = platform::fileStatus(at(entry).c_str(), status, false) &&
                       status.kind == platform::eFileDirectory;
      if (keep(entry, name, directory)) paths.push_back(at(entry));
      if (directory && !isDotName(name)) {
        Paths inner = expected(keep, entry);
        paths.insert(paths.end(), inner.begin(), inner.end());
      }
    }
    return paths;
  }
  // The paths handed out (sorted if asked), at most 1000: a walk that never ends fails instead of hanging.
  Paths walk(D* walker, bool sorted = false, const std::function<void(const std::string&)>& seen = nullptr)
  {
    Paths paths;
    while (BaseString* path = walker->getNextDirectoryItemPath()) {
      paths.push_back(path->cString());
      if (seen) seen(paths.back());
      if (paths.size() > 1000) break;
    }
    EXPECT_EQ(walker->getNextDirectoryItem(), nullptr) << "a finished walk stays finished";
    if (sorted) std::sort(paths.begin(), paths.end());
    return paths;
  }
  D* walker(int options, const std::string& root = "")
  {
    return D::directoryEnumeratorAtPath(
        new (eRetainAutorelease) BaseString((root.empty() ? m_root : at(root)).c_str()), options);
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"corvane-walk"};
  const std::string& m_root = m_temporary.path();
};

TEST_F(DirectoryStructureEnumeratorTest, EachOptionBitFiltersTheDepthFirstWalk)
{
  // The pipe and the dangling link where the system makes them.
  const std::string tree = "a='a' b='b' d/ d/c='c' .hidden='h' .hiddenDirectory/ .hiddenDirectory/e1/ "
                           ".hiddenDirectory/e1/f1/ .hiddenDirectory/e1/f1/inside='i' d/e2/ d/e2/y='y'";
  const bool specials = makeTree(m_root, tree + " d/pipe| dangling->nowhere") || !makeTree(m_root, tree);
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Paths paths = walk(walker(c.options));
    EXPECT_EQ(paths, expected(c.keep));
    EXPECT_EQ(paths.size(), c.count - (specials ? 0 : c.keep("d/pipe", "pipe", false) + c.keep("dangling", "dangling", false)));
  }
}

TEST_F(DirectoryStructureEnumeratorTest, IgnoredNamesHideEntriesButNotTheirContentsAndMatchGenericNames)
{
  makeTree(m_root, "a='a' b='b' d/ d/c='c' e\xcc\x81='decomposed'");
  D* enumerator = walker(D::eSkipPosixDotNames);
  for (const char* name : {"d", "b", "\xc3\xa9"})
    enumerator->addIgnoringName(new (eRetainAutorelease) BaseString(name));
  EXPECT_EQ(walk(enumerator), expected([](auto&, auto& name, bool) {
              return !isDotName(name) && name != "d" && name != "b" && name != "e\xcc\x81";
            }));
  // A directory with a decomposed name is entered and reported recomposed.
  makeTree(m_root, "d/e\xcc\x81/ d/e\xcc\x81/inside='i'");
  EXPECT_EQ(walk(walker(D::eSkipPosixDotNames, "d"), true),
            (Paths{at("d/c"), at("d/\xc3\xa9"), at("d/\xc3\xa9/inside")}));
}

TEST_F(DirectoryStructureEnumeratorTest, OddRootsLinksNotEnteredAndASubdirectoryRemovedDuringTheWalk)
{
  EXPECT_EQ(walker(D::eSkipHidden)->getNextDirectoryItem(), nullptr);
  const std::string tree = "file='f' outside/ outside/far='f' tree/ tree/near='n' p/ p/gone/ p/gone/x='x' p/k='k'";
  const bool links = makeTree(m_root, tree + " tree/link->../outside tree/loop->.") || !makeTree(m_root, tree);
  LogCapture log("%S: %m\n", "W|src/files/");
  EXPECT_EQ(walker(0, "file")->getNextDirectoryItemAttributes(), nullptr);
  EXPECT_EQ(log.text(), "Error: rootpath is not a directory " + at("file") + "\n");
  EXPECT_EQ(walk(walker(D::eSkipPosixDotNames, "tree"), true),
            (links ? Paths{at("tree/link"), at("tree/loop"), at("tree/near")} : Paths{at("tree/near")}));
  Paths paths = walk(walker(D::eSkipPosixDotNames, "p"), false, [&](const std::string& path) {
    if (path == at("p/gone/x")) fs::remove_all(at("p/gone"));
  });
  std::set<std::string> unique(paths.begin(), paths.end());
  EXPECT_EQ(unique.size(), paths.size()) << "nothing is handed out twice";
  EXPECT_TRUE(unique.count(at("p/gone")) && unique.count(at("p/gone/x")));
  EXPECT_LE(paths.size(), 3u);
}

}  // namespace
