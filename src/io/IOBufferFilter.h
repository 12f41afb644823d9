// A filter that gathers small writes into one block before passing them to the wrapped
// stream, and can read ahead from it in blocks. It owns both blocks and retains the wrapped
// stream (IOFilter). Bytes still gathered at destruction or close are not sent: flush
// first. One thread at a time; reading and writing touch disjoint state, so one reader and
// one writer may share it when the wrapped stream allows that.
#pragma once

#include "io/IOFilter.h"

class IOBufferFilter : public IOFilter
{
public:
  // Either size may be 0: reads, or writes, then pass straight through.
  IOBufferFilter(IOAbstract* stream, uint32_t readBlockSize, uint32_t writeBlockSize);
  ~IOBufferFilter() override;

  // Serves the read block first; a request at least as large as the read block goes
  // straight to the wrapped stream, a smaller one refills the block. Delivers the whole
  // request unless the wrapped stream fails.
  bool readIO(void* buffer, uint32_t& length) override;
  // What is left of the read block, or without a read block the wrapped stream's own.
  const unsigned char* bufferedIO(uint32_t& count) override;
  void takeBufferedIO(uint32_t count) override;
  // Gathers; a full block is passed on at the start of the next write or at a flush. On
  // failure, the bytes of this call that were not passed on are given back (not kept).
  bool writeIO(const void* bytes, uint32_t length) override;
  // Passes on the gathered bytes (one write, possibly empty), then flushes the wrapped stream.
  bool flushIO() override;

protected:
  unsigned char* m_readBlock;
  unsigned char* m_writeBlock;
  uint32_t m_readCursor;  // offset of the next unread byte in the read block
  uint32_t m_readBlockSize;
  uint32_t m_writeBlockSize;
  uint32_t m_available;  // unread bytes in the read block
  uint32_t m_pending;    // gathered bytes not yet passed on
};
