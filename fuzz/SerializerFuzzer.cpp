// Reads objects from arbitrary bytes the way a session reads them from a peer: object
// after object until a read fails. Every object read is written again and the writing read
// back, so a writer that produces what its reader refuses is found too. Log lines are
// formatted into a sink that discards them, so that the texts of odd objects are built.
// File objects land in a scratch directory of the process's own, emptied after each input.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "files/BaseFile.h"

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "FuzzLogSink.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"

namespace {

// The directory received files go to, made on first use and removed at exit.
const std::string& scratchDirectory()
{
  // Never destroyed: the exit handler that removes the directory still needs it.
  static const std::string* path = [] {
    std::string* pattern = new std::string(std::filesystem::temp_directory_path().string() + "/corvane-fuzz.XXXXXX");
    if (!mkdtemp(pattern->data())) __builtin_trap();
    BaseFile::setTemporaryDirectory(pattern->c_str());
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchDirectory(), ignored);
    });
    return pattern;
  }();
  return *path;
}

void emptyScratchDirectory()
{
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  scratchDirectory();
  if (size > 1 << 20) return 0;
  BaseAutorelease pool;
  BaseBuffer* input = new (eRetainAutorelease) BaseBuffer(data, (uint32_t)size);
  BaseSerializer* reader = new (eRetainAutorelease) BaseSerializer(input);
  for (;;) {
    BaseAutorelease objectPool;
    BaseObject* object = reader->unserializeObjectFromIO();
    if (!object) break;
    BaseBuffer* written = BaseSerializer::serializeObject(object);
    // Only a file object that stands for no file writes nothing at all (and says so).
    if (written->length() > 0 && !BaseSerializer::unserializeObject(written)) __builtin_trap();
  }
  emptyScratchDirectory();
  return 0;
}
