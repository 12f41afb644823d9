// A filter that deflates what is written through it into a zlib- or gzip-wrapped stream, and
// inflates what is read through it (either wrapper, told apart by its header). Chunked, every
// run of compressed bytes travels behind its 16-bit big-endian length, so that a reader on a
// shared stream knows how much to take. It owns both zlib records and both blocks and retains
// the wrapped stream (IOFilter). A writer ends with closeIO (or at least flushIO): what the
// deflater still holds at destruction is lost. One thread at a time; reading and writing use
// separate state, so one reader and one writer may share it when the wrapped stream allows.
#pragma once

#include <zlib.h>

#include "io/IOFilter.h"

class IOGzipFilter : public IOFilter
{
public:
  // Both block sizes are raised to at least MIN_BLOCK_SIZE; chunked, the output block is
  // also held to MAX_CHUNK_SIZE, the most a chunk length can say. `level` is zlib's 0-9.
  IOGzipFilter(IOAbstract* stream, bool gzip, bool chunked, uint8_t level, uint32_t inputBlockSize,
               uint32_t outputBlockSize);
  ~IOGzipFilter() override;

  // Decompresses into the caller's buffer. Once the compressed stream has ended, or its data
  // turned out corrupt, this returns what the call produced and every later read fails
  // without touching the wrapped stream. Zero bytes asked: true, nothing read.
  bool readIO(void* buffer, uint32_t& length) override;
  // Compresses from the caller's bytes; the wrapped stream sees whole output blocks only.
  bool writeIO(const void* bytes, uint32_t length) override;
  // Z_FULL_FLUSH: everything written so far becomes decodable by a reader.
  bool flushIO() override;
  // Ends the compressed stream with its trailer, then closes the wrapped stream; both are
  // always done, and the result is true only when both succeeded.
  bool closeIO() override;

  // Runs the deflater with a zlib flush mode and passes all its output on, then flushes the
  // wrapped stream. A flush with nothing new to pass on succeeds.
  bool flush(int mode);

  enum
  {
    // zlib repeats flush markers when it has fewer than six bytes of room.
    MIN_BLOCK_SIZE = 10,
    MAX_CHUNK_SIZE = 65535
  };

protected:
  // Passes the first `count` bytes of the output block on (behind their length when
  // chunked) and gives the deflater the whole block again. On failure the block stays full,
  // so the deflater cannot go on and the writing side stays failed.
  bool _emit(uint32_t count);
  // Gives the inflater the next compressed bytes; false, with `refused` set when the read
  // must fail even if this call produced bytes.
  bool _fillInput(bool& refused);

  z_stream* m_inflater;
  z_stream* m_deflater;
  unsigned char* m_inputBlock;
  unsigned char* m_outputBlock;
  uint32_t m_inputBlockSize;
  uint32_t m_outputBlockSize;
  uint16_t m_chunkRemainder;  // compressed bytes of the current chunk not yet read
  bool m_chunked;
  // Set at the end of the compressed stream or on corrupt data: reads fail from then on.
  bool m_inflateDone;
};
