// The byte-stream interface that every byte source and sink implements: buffers, files,
// filters and network drivers. The interface locks nothing; a stream is used by one thread
// at a time unless its own class says otherwise. Every stream also registers itself in a
// process-wide set of live streams, so that an address read from text (a log target such
// as "io:0x7f12...") can be checked before it is used as a stream.
#pragma once

#include <cstdint>

#include "object/BaseObject.h"

class BaseBuffer;
class BaseString;

class IOAbstract : public BaseObject
{
public:
  IOAbstract();
  ~IOAbstract() override;

  // On entry `length` is the most the caller accepts; on return the count delivered.
  // True only when at least one byte was delivered; false on failure or end of data.
  virtual bool readIO(void* buffer, uint32_t& length) = 0;
  // True when every byte was accepted.
  virtual bool writeIO(const void* bytes, uint32_t length) = 0;
  virtual bool flushIO();
  // Reads and discards `count` bytes through readIO; false as soon as a read fails.
  virtual bool skipBytesInIO(uint32_t count);
  virtual bool closeIO();
  // Bytes that the next reads would deliver and that are already in memory, so that a
  // reader may parse them in place: their address, with their count in `count` (null and
  // 0 when there are none or the stream keeps none). They stay where they are, and stay
  // unread, until the reading thread next calls the stream; takeBufferedIO(n) then takes the
  // first n of them (n at most the count given), as a read of n bytes would have.
  virtual const unsigned char* bufferedIO(uint32_t& count);
  virtual void takeBufferedIO(uint32_t count);

  // Reads exactly `count` bytes through readIO; false as soon as one call fails (what was
  // read stays in the buffer). Named apart from readIO so that a call with a plain
  // uint32_t variable is never ambiguous.
  bool readIOExact(void* buffer, uint32_t count);
  // The bytes of the string or buffer in one writeIO, without prefix or terminator.
  bool writeString(const BaseString* text);
  bool writeBuffer(BaseBuffer* buffer);
  // Copies `count` bytes from `source` through a 1024-byte stack buffer.
  bool writeFrom(IOAbstract* source, uint32_t count);
  // Fixed-width integers: each format digit 1-4 is a field width; littleEndian true puts
  // the least significant byte first. writeFormat takes one uint32_t value per digit,
  // readFormat one destination per digit (uint8_t* for 1, uint16_t* for 2, uint32_t* for
  // 3 and 4). Another character in a format is a programming error.
  bool writeFormat(bool littleEndian, const char* format, ...);
  bool readFormat(bool littleEndian, const char* format, ...);

  // The stream living at `address`, retained for the caller, or null when no stream
  // lives there (never constructed, already destroyed, or being destroyed). Any thread.
  static IOAbstract* retainLiveStream(const void* address);

  enum
  {
    SKIP_CHUNK = 16384,
    COPY_CHUNK = 1024
  };
};
