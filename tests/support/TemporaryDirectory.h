// A fresh directory in the folder for temporary files (/tmp) for one test, removed with everything in it (links are
// removed, never followed) when the object goes away; and the plain file helpers the file
// tests check results with, independent of the classes under test.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Files.h"

class TemporaryDirectory
{
public:
  explicit TemporaryDirectory(const std::string& prefix)
  {
    std::string pattern = platform::defaultTemporaryDirectory() + "/" + prefix + ".XXXXXX";
    if (platform::createUniqueDirectory(pattern.data())) m_path = pattern;
  }
  ~TemporaryDirectory()
  {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(std::filesystem::u8path(m_path), ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  // Empty when the directory could not be made.
  const std::string& path() const { return m_path; }

private:
  std::string m_path;
};

// Paths are UTF-8, as the framework's, also where the system's narrow names are not.
// Makes the file at `path` hold exactly `bytes`.
inline void writeFile(const std::string& path, const std::string& bytes)
{
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}

// The content of the file at `path`; empty when there is none.
inline std::string readFile(const std::string& path)
{
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The same with every line ending in "\n", whatever a text stream of the system writes ("\r\n"
// on Windows).
inline std::string readTextFile(const std::string& path)
{
  std::string text = readFile(path);
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

// File content with no short period, so that two slices of one file never share a digest.
inline std::string patternBytes(size_t count)
{
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; i++) bytes[i] = (char)((uint32_t)(i * 2654435761u) >> 24);
  return bytes;
}

// Something, even a dangling link, is at `path`.
inline bool present(const std::string& path)
{
  platform::FileStatus status;
  return platform::fileStatus(path.c_str(), status, false);
}

// The names as the platform lists them, in its order, "." and ".." included.
inline std::vector<std::string> rawListing(const std::string& path)
{
  std::vector<std::string> names;
  platform::listDirectory(path.c_str(), false, names);
  return names;
}
