// A fresh directory under /tmp for one test, removed with everything in it (links are
// removed, never followed) when the object goes away.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

class TemporaryDirectory
{
public:
  explicit TemporaryDirectory(const std::string& prefix)
  {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data())) m_path = pattern;
  }
  ~TemporaryDirectory()
  {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  // Empty when the directory could not be made.
  const std::string& path() const { return m_path; }

private:
  std::string m_path;
};
