#include "io/IOBufferFilter.h"

#include <cstdlib>
#include <cstring>

#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

namespace {

// Zero-length writes still get a valid pointer: some streams hand it to memcpy.
const unsigned char NO_BYTES[1] = {0};

}  // namespace

IOBufferFilter::IOBufferFilter(IOAbstract* stream, uint32_t readBlockSize, uint32_t writeBlockSize)
    : IOFilter(stream),
      m_readBlock(nullptr),
      m_writeBlock(nullptr),
      m_readCursor(0),
      m_readBlockSize(readBlockSize),
      m_writeBlockSize(writeBlockSize),
      m_available(0),
      m_pending(0)
{
  if (readBlockSize > 0) m_readBlock = static_cast<unsigned char*>(malloc(readBlockSize));
  if (writeBlockSize > 0) m_writeBlock = static_cast<unsigned char*>(malloc(writeBlockSize));
  // Without its block a side passes straight through, which is slower but still correct.
  if (!m_readBlock) m_readBlockSize = 0;
  if (!m_writeBlock) m_writeBlockSize = 0;
  if (m_readBlockSize != readBlockSize || m_writeBlockSize != writeBlockSize)
    BASE_LOG(this, eMsgError, "unable to allocate memory");
}

IOBufferFilter::~IOBufferFilter()
{
  free(m_readBlock);
  free(m_writeBlock);
}

const unsigned char* IOBufferFilter::bufferedIO(uint32_t& count)
{
  if (m_available > 0) {
    count = m_available;
    return m_readBlock + m_readCursor;
  }
  // Reads pass straight through when there is no read block.
  if (m_readBlockSize == 0) return m_stream->bufferedIO(count);
  count = 0;
  return nullptr;
}

void IOBufferFilter::takeBufferedIO(uint32_t count)
{
  if (m_available > 0) {
    BASE_ASSERT(count <= m_available);
    m_readCursor += count;
    m_available -= count;
  } else if (m_readBlockSize == 0) {
    m_stream->takeBufferedIO(count);
  } else {
    BASE_ASSERT(count == 0);
  }
}

bool IOBufferFilter::readIO(void* buffer, uint32_t& length)
{
  unsigned char* output = static_cast<unsigned char*>(buffer);
  const uint32_t wanted = length;
  uint32_t delivered = 0;
  while (delivered < wanted) {
    if (m_available == 0) {
      uint32_t rest = wanted - delivered;
      if (rest >= m_readBlockSize) {
        uint32_t count = rest;
        // A failed read delivered nothing, whatever count it left behind.
        if (!m_stream->readIO(output + delivered, count) || count > rest) count = 0;
        length = delivered + count;
        return length != 0;
      }
      uint32_t count = m_readBlockSize;
      if (!m_stream->readIO(m_readBlock, count) || count == 0 || count > m_readBlockSize) {
        length = delivered;
        return delivered != 0;
      }
      m_available = count;
      m_readCursor = 0;
    }
    uint32_t count = wanted - delivered < m_available ? wanted - delivered : m_available;
    memcpy(output + delivered, m_readBlock + m_readCursor, count);
    m_readCursor += count;
    m_available -= count;
    delivered += count;
  }
  length = delivered;
  // A read of nothing delivers nothing, and a stream never reports that as success.
  return delivered != 0;
}

bool IOBufferFilter::writeIO(const void* bytes, uint32_t length)
{
  const unsigned char* cursor = static_cast<const unsigned char*>(bytes);
  uint32_t remaining = length;
  // Bytes of this call sitting in the block: a failed write takes them back out, so that
  // a failed call never reaches the wrapped stream later as a fragment.
  uint32_t gathered = 0;
  while (remaining > 0) {
    if (m_pending == m_writeBlockSize) {
      if (!m_stream->writeIO(m_writeBlock ? m_writeBlock : NO_BYTES, m_pending)) {
        m_pending -= gathered;
        return false;
      }
      m_pending = 0;
      gathered = 0;
      if (remaining >= m_writeBlockSize) return m_stream->writeIO(cursor, remaining);
    }
    uint32_t room = m_writeBlockSize - m_pending;
    uint32_t count = remaining < room ? remaining : room;
    memcpy(m_writeBlock + m_pending, cursor, count);
    m_pending += count;
    gathered += count;
    cursor += count;
    remaining -= count;
  }
  return true;
}

bool IOBufferFilter::flushIO()
{
  if (!m_stream->writeIO(m_writeBlock ? m_writeBlock : NO_BYTES, m_pending)) return false;
  m_pending = 0;
  return m_stream->flushIO();
}
