// Reads arbitrary bytes as a logging configuration, the way a user's configuration file is
// read: once through setFromFile on a file holding the bytes, once split at NUL bytes into
// the format, target and filter texts of a sink's constructor. Every sink made then gets a
// few lines of each severity, so that line formats, date patterns and filters run too.
// Targets are confined: the sinks are made inside a scratch directory of the process's own,
// "/" never reaches a target text, so "file:" targets can only name files in that
// directory, standard output goes to /dev/null, and "io:" takes only a live stream's
// address, which the facility checks. Nothing is written anywhere else, nothing connects.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "FuzzLogSink.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"

namespace {

const char* const CONFIGURATION_NAME = "configuration";

// The directory the sinks are made in, made on first use and removed at exit.
const std::string& scratchDirectory()
{
  // Never destroyed: the exit handler that removes the directory still needs it.
  static const std::string* path = [] {
    std::string* pattern =
        new std::string(std::filesystem::temp_directory_path().string() + "/corvane-fuzz.XXXXXX");
    if (!mkdtemp(pattern->data())) __builtin_trap();
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchDirectory(), ignored);
    });
    // Lines sent to standard output go nowhere; libFuzzer reports on standard error.
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) __builtin_trap();
    close(null);
    return pattern;
  }();
  return *path;
}

// Works inside the scratch directory while it lives, and goes back where it was after.
class InScratchDirectory
{
public:
  InScratchDirectory() : m_previous(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
  {
    if (m_previous < 0 || chdir(scratchDirectory().c_str()) != 0) __builtin_trap();
  }
  ~InScratchDirectory()
  {
    if (fchdir(m_previous) != 0) __builtin_trap();
    close(m_previous);
  }
  InScratchDirectory(const InScratchDirectory&) = delete;
  InScratchDirectory& operator=(const InScratchDirectory&) = delete;

private:
  int m_previous;
};

// True when a target of the text could have opened a file: "file:" in any case, with the
// carriage returns that setFromFile drops already left out.
bool mayOpenFiles(const std::string& text)
{
  static const char WORD[] = "file:";
  size_t matched = 0;
  for (char c : text) {
    if (c == '\r') continue;
    char lower = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    matched = lower == WORD[matched] ? matched + 1 : (lower == WORD[0] ? 1 : 0);
    if (matched == sizeof WORD - 1) return true;
  }
  return false;
}

void emptyScratchDirectory()
{
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

// A few lines through every sink registered now, from a function with a name of its own.
void logThroughEverySink()
{
  BaseString* object = new (eRetainAutorelease) BaseString("subject");
  BASE_LOG(nullptr, eMsgFatal, "fatal %d", 1);
  BASE_LOG(object, eMsgError, "error %s", "two");
  BASE_LOG(object, eMsgWarning, "warning %S", object);
  BASE_LOG(nullptr, eMsgInfo, "info %@", object);
  BASE_LOG(object, eMsgDebug, "debug %x", 0xdebu);
  BASE_LOG(nullptr, eMsgVerbose, "verbose");
}

void configureFromFile(const std::string& text)
{
  BaseAutorelease pool;
  FILE* file = fopen(CONFIGURATION_NAME, "wb");
  if (!file) __builtin_trap();
  if (!text.empty() && fwrite(text.data(), 1, text.size(), file) != text.size()) __builtin_trap();
  fclose(file);
  DebugManager::setFromFile(CONFIGURATION_NAME);
  logThroughEverySink();
}

void configureByConstructor(const std::string& text)
{
  // format NUL target NUL filter; a missing piece is null, which means its default.
  std::string pieces[3];
  bool present[3] = {false, false, false};
  size_t start = 0;
  for (int i = 0; i < 3 && start <= text.size(); i++) {
    size_t end = i < 2 ? text.find('\0', start) : std::string::npos;
    pieces[i] = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    present[i] = true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  BaseAutorelease pool;
  DebugManager* sink = new (eRetainAutorelease)
      DebugManager(present[0] ? pieces[0].c_str() : nullptr, present[1] ? pieces[1].c_str() : nullptr,
                   present[2] ? pieces[2].c_str() : nullptr);
  (void)sink;
  logThroughEverySink();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  // A configuration is a few lines; each line of a large one only makes one more sink.
  if (size > 1 << 14) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  for (char& c : text)
    if (c == '/') c = '_';
  {
    InScratchDirectory inside;
    configureFromFile(text);
    configureByConstructor(text);
  }
  // Every sink is gone with its pool, and with it every file it had open.
  if (mayOpenFiles(text)) emptyScratchDirectory();
  return 0;
}
