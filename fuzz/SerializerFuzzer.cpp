// Reads objects from arbitrary bytes the way a session reads them from a peer: object
// after object until a read fails. Every object read is written again and the writing read
// back, so a writer that produces what its reader refuses is found too. Log lines are
// formatted into a sink that discards them, so that the texts of odd objects are built.
// File objects land in a scratch directory of the process's own, emptied after each input
// that put something there. The same bytes are then read as a stored stream, from a file in
// skip mode, where file objects leave their content in place and tell the delegate where
// it starts.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "FuzzLogSink.h"
#include "files/BaseFile.h"
#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"

namespace {

// The directory received files go to, made on first use and removed at exit.
const std::string& scratchDirectory()
{
  // Never destroyed: the exit handler that removes the directory still needs it.
  static const std::string* path = [] {
    std::string* pattern =
        new std::string(std::filesystem::temp_directory_path().string() + "/corvane-fuzz.XXXXXX");
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

// Asked for a directory before a received file touches the disk: until it is asked, the
// scratch directory holds nothing to empty. In skip mode it answers with a name of its own.
class Receiver : public BaseSerializerDelegate
{
public:
  BaseString* getPathForIncommingFile(BaseDictionary*) override
  {
    asked = true;
    return new (eRetainAutorelease) BaseString();
  }
  void handleProgression(uint32_t, uint32_t, uint32_t, uint32_t) override {}

  bool asked = false;
};

// The stored stream the skip-mode reader reads; rewritten for every input.
const std::string& storedStreamPath()
{
  static const std::string* path = new std::string(scratchDirectory() + "/.stored");
  return *path;
}

void readStoredStream(const uint8_t* data, size_t size)
{
  int descriptor = open(storedStreamPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) __builtin_trap();
  if (size > 0 && write(descriptor, data, size) != (ssize_t)size) __builtin_trap();
  close(descriptor);

  // Declared before the pool, so that it outlives the reader the pool holds.
  Receiver receiver;
  BaseAutorelease pool;
  BaseFile* stored =
      new (eRetainAutorelease) BaseFile(new (eRetainAutorelease) BaseString(storedStreamPath().c_str()));
  if (!stored->openFile(true)) __builtin_trap();
  BaseSerializer* reader = new (eRetainAutorelease) BaseSerializer(stored, &receiver);
  reader->setSerializerMode(SERIALIZER_MODE_SKIP_FILES_CONTENT);
  for (;;) {
    BaseAutorelease objectPool;
    if (!reader->unserializeObjectFromIO()) break;
  }
  stored->closeFile();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  scratchDirectory();
  if (size > 1 << 20) return 0;
  Receiver receiver;
  BaseAutorelease pool;
  BaseBuffer* input = new (eRetainAutorelease) BaseBuffer(data, (uint32_t)size);
  BaseSerializer* reader = new (eRetainAutorelease) BaseSerializer(input, &receiver);
  for (;;) {
    BaseAutorelease objectPool;
    BaseObject* object = reader->unserializeObjectFromIO();
    if (!object) break;
    BaseBuffer* written = BaseSerializer::serializeObject(object);
    // Only a file object that stands for no file writes nothing at all (and says so).
    if (written->length() > 0 && !BaseSerializer::unserializeObject(written)) __builtin_trap();
  }
  // Received files come back through the writer, whose reader receives them again.
  if (receiver.asked) emptyScratchDirectory();
  readStoredStream(data, size);
  return 0;
}
