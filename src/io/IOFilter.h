// The base of the filters stacked on a stream: every operation goes to the wrapped stream
// unchanged. The filter retains the wrapped stream from construction to destruction;
// closing the filter closes that stream but keeps the reference. One thread at a time,
// unless the wrapped stream and the subclass both allow more.
#pragma once

#include "io/IOAbstract.h"

class IOFilter : public IOAbstract
{
public:
  explicit IOFilter(IOAbstract* stream);
  ~IOFilter() override;

  bool readIO(void* buffer, uint32_t& length) override;
  bool writeIO(const void* bytes, uint32_t length) override;
  bool flushIO() override;
  bool closeIO() override;
  // skipBytesInIO stays the default: a filter skips by reading through itself.

  // The wrapped stream, not retained for the caller.
  IOAbstract* getStream() const { return m_stream; }

protected:
  IOAbstract* m_stream;
};
