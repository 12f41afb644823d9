// Small trees of files written and read back in one notation, entries apart by spaces:
// name='content' (a file), name/ (a directory), name->target (a symbolic link), name|
// (a named pipe). Names may hold "/" for deeper entries; contents hold no space.
#pragma once

#include <cerrno>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "platform/Files.h"
#include "support/TemporaryDirectory.h"

// Whether this system makes symbolic links ('>') or named pipes ('|'): not every one does
// (platform::makeSymbolicLink, makeNamedPipe). Tried once.
inline bool systemMakes(char kind)
{
  static const bool links = [] {
    TemporaryDirectory probe("corvane-probe");
    return platform::makeSymbolicLink("target", (probe.path() + "/link").c_str()) || errno != ENOSYS;
  }();
  static const bool pipes = [] {
    TemporaryDirectory probe("corvane-probe");
    return platform::makeNamedPipe((probe.path() + "/pipe").c_str()) || errno != ENOSYS;
  }();
  return kind == '|' ? pipes : links;
}

// Makes the entries of `layout` under `root`, in order. False, making nothing, when the system
// cannot make one of them: the caller leaves that case out, which is noted on standard output.
inline bool makeTree(const std::string& root, const std::string& layout)
{
  for (char kind : {'>', '|'}) {
    if (layout.find(kind == '>' ? "->" : "|") == std::string::npos || systemMakes(kind)) continue;
    std::printf("[ LEFT OUT ] \"%s\": this system makes no %s\n", layout.c_str(),
                kind == '|' ? "named pipes" : "symbolic links");
    return false;
  }
  std::istringstream entries(layout);
  for (std::string entry; entries >> entry;) {
    size_t quote = entry.find("='"), arrow = entry.find("->");
    if (quote != std::string::npos)
      writeFile(root + "/" + entry.substr(0, quote), entry.substr(quote + 2, entry.size() - quote - 3));
    else if (arrow != std::string::npos)
      platform::makeSymbolicLink(entry.substr(arrow + 2).c_str(), (root + "/" + entry.substr(0, arrow)).c_str());
    else if (entry.back() == '/')
      platform::makeDirectory((root + "/" + entry).c_str());
    else if (entry.back() == '|')
      platform::makeNamedPipe((root + "/" + entry.substr(0, entry.size() - 1)).c_str());
  }
  return true;
}

// Everything under `root` in the same notation, sorted by name, links not followed.
inline std::string treeOf(const std::string& root, const std::string& prefix = "")
{
  std::set<std::string> entries;
  for (const std::string& name : rawListing(root + "/" + prefix)) {
    if (name == "." || name == "..") continue;
    std::string relative = prefix + name, path = root + "/" + relative;
    platform::FileStatus status;
    platform::fileStatus(path.c_str(), status, false);
    if (status.kind == platform::eFileSymbolicLink) {
      std::string target;
      platform::readSymbolicLink(path.c_str(), target);
      entries.insert(relative + "->" + target);
    } else if (status.kind == platform::eFileDirectory) {
      entries.insert(relative + "/");
      std::string inner = treeOf(root, relative + "/");
      if (!inner.empty()) entries.insert(inner);
    } else if (status.kind == platform::eFileOther) {
      entries.insert(relative + "|");
    } else {
      entries.insert(relative + "='" + readFile(path) + "'");
    }
  }
  std::string text;
  for (const std::string& entry : entries) text += (text.empty() ? "" : " ") + entry;
  return text;
}
