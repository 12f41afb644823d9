// Reads objects from arbitrary bytes the way a session reads them from a peer: object
// after object until a read fails. Every object read is written again and the writing read
// back, so a writer that produces what its reader refuses is found too. Log lines are
// formatted into a sink that discards them, so that the texts of odd objects are built.
#include <cstddef>
#include <cstdint>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "FuzzLogSink.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  if (size > 1 << 20) return 0;
  BaseAutorelease pool;
  BaseBuffer* input = new (eRetainAutorelease) BaseBuffer(data, (uint32_t)size);
  BaseSerializer* reader = new (eRetainAutorelease) BaseSerializer(input);
  for (;;) {
    BaseAutorelease objectPool;
    BaseObject* object = reader->unserializeObjectFromIO();
    if (!object) break;
    BaseBuffer* written = BaseSerializer::serializeObject(object);
    if (!BaseSerializer::unserializeObject(written)) __builtin_trap();
  }
  return 0;
}
