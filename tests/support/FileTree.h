// Small trees of files written and read back in one notation, entries apart by spaces:
// name='content' (a file), name/ (a directory), name->target (a symbolic link), name|
// (a named pipe). Names may hold "/" for deeper entries; contents hold no space.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>

#include "support/TemporaryDirectory.h"

// Makes the entries of `layout` under `root`, in order.
inline void makeTree(const std::string& root, const std::string& layout)
{
  std::istringstream entries(layout);
  for (std::string entry; entries >> entry;) {
    size_t quote = entry.find("='"), arrow = entry.find("->");
    if (quote != std::string::npos)
      writeFile(root + "/" + entry.substr(0, quote), entry.substr(quote + 2, entry.size() - quote - 3));
    else if (arrow != std::string::npos)
      (void)!symlink(entry.substr(arrow + 2).c_str(), (root + "/" + entry.substr(0, arrow)).c_str());
    else if (entry.back() == '/')
      mkdir((root + "/" + entry).c_str(), 0700);
    else if (entry.back() == '|')
      mkfifo((root + "/" + entry.substr(0, entry.size() - 1)).c_str(), 0600);
  }
}

// Everything under `root` in the same notation, sorted by name, links not followed.
inline std::string treeOf(const std::string& root, const std::string& prefix = "")
{
  std::set<std::string> entries;
  for (const std::string& name : rawListing(root + "/" + prefix)) {
    if (name == "." || name == "..") continue;
    std::string relative = prefix + name, path = root + "/" + relative;
    struct stat status;
    lstat(path.c_str(), &status);
    if (S_ISLNK(status.st_mode)) {
      char target[4096];
      ssize_t length = readlink(path.c_str(), target, sizeof target);
      entries.insert(relative + "->" + std::string(target, length > 0 ? (size_t)length : 0));
    } else if (S_ISDIR(status.st_mode)) {
      entries.insert(relative + "/");
      std::string inner = treeOf(root, relative + "/");
      if (!inner.empty()) entries.insert(inner);
    } else if (S_ISFIFO(status.st_mode)) {
      entries.insert(relative + "|");
    } else {
      entries.insert(relative + "='" + readFile(path) + "'");
    }
  }
  std::string text;
  for (const std::string& entry : entries) text += (text.empty() ? "" : " ") + entry;
  return text;
}
