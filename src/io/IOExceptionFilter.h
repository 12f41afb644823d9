// A filter that turns every failed operation of the wrapped stream into a thrown
// IOException, so that a reader or writer of a long record (the serializer) can be written
// straight through and catch one failure at the top. The exception is a plain-allocated
// object thrown by pointer; whoever catches it owns it and releases it. It is thrown and
// caught on the calling thread; the filter itself is for one thread at a time.
#pragma once

#include "io/IOFilter.h"

class IOException : public BaseObject
{
public:
  IOException();
  ~IOException() override;
};

class IOExceptionFilter : public IOFilter
{
public:
  explicit IOExceptionFilter(IOAbstract* stream);

  // Each returns true or throws IOException*. An exact read through the filter that meets
  // the end of the data throws with the bytes read so far already in the caller's buffer.
  bool readIO(void* buffer, uint32_t& length) override;
  bool writeIO(const void* bytes, uint32_t length) override;
  bool flushIO() override;
  bool closeIO() override;

  // True for true; for false throws a new IOException (owned by the catcher).
  bool test(bool result);
};
