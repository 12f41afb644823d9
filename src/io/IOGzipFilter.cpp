#include "io/IOGzipFilter.h"

#include <cstdlib>

#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

namespace {

// 32 KiB window; +32 lets inflate take a zlib or a gzip header, +16 makes deflate write gzip.
const int WINDOW_BITS = 15;
const int DETECT_HEADER = 32;
const int GZIP_WRAPPER = 16;
const int MEMORY_LEVEL = 8;

uint32_t raisedToMinimum(uint32_t size)
{
  return size < IOGzipFilter::MIN_BLOCK_SIZE ? (uint32_t)IOGzipFilter::MIN_BLOCK_SIZE : size;
}

}  // namespace

IOGzipFilter::IOGzipFilter(IOAbstract* stream, bool gzip, bool chunked, uint8_t level,
                           uint32_t inputBlockSize, uint32_t outputBlockSize)
    : IOFilter(stream),
      m_inflater(new (eRetainZeroed) z_stream),
      m_deflater(new (eRetainZeroed) z_stream),
      m_inputBlock(nullptr),
      m_outputBlock(nullptr),
      m_inputBlockSize(raisedToMinimum(inputBlockSize)),
      m_outputBlockSize(raisedToMinimum(outputBlockSize)),
      m_chunkRemainder(0),
      m_chunked(chunked),
      m_inflateDone(false)
{
  // A longer run could not say its length in the two bytes in front of it.
  if (chunked && m_outputBlockSize > MAX_CHUNK_SIZE) m_outputBlockSize = MAX_CHUNK_SIZE;
  m_inputBlock = static_cast<unsigned char*>(malloc(m_inputBlockSize));
  m_outputBlock = static_cast<unsigned char*>(malloc(m_outputBlockSize));
  if (!m_inputBlock || !m_outputBlock) BASE_LOG(this, eMsgError, "unable to allocate memory");
  // A side without its block fails every call: reads by ending at once, writes because the
  // deflater has no room to write into.
  if (!m_inputBlock) m_inflateDone = true;

  int res = inflateInit2(m_inflater, WINDOW_BITS + DETECT_HEADER);
  BASE_ASSERT(res == Z_OK);
  m_deflater->next_out = m_outputBlock;
  m_deflater->avail_out = m_outputBlock ? m_outputBlockSize : 0;
  res = deflateInit2(m_deflater, level, Z_DEFLATED, gzip ? WINDOW_BITS + GZIP_WRAPPER : WINDOW_BITS,
                     MEMORY_LEVEL, Z_DEFAULT_STRATEGY);
  BASE_ASSERT(res == Z_OK);
}

IOGzipFilter::~IOGzipFilter()
{
  inflateEnd(m_inflater);
  deflateEnd(m_deflater);
  delete m_inflater;
  delete m_deflater;
  free(m_inputBlock);
  free(m_outputBlock);
}

bool IOGzipFilter::_emit(uint32_t count)
{
  if (m_chunked && !m_stream->writeFormat(false, "2", count)) return false;
  if (!m_stream->writeIO(m_outputBlock, count)) return false;
  m_deflater->next_out = m_outputBlock;
  m_deflater->avail_out = m_outputBlockSize;
  return true;
}

bool IOGzipFilter::writeIO(const void* bytes, uint32_t length)
{
  if (length == 0) return true;
  // zlib never writes through its input pointer; it is simply not declared const.
  m_deflater->next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
  m_deflater->avail_in = length;
  for (;;) {
    int res = deflate(m_deflater, Z_NO_FLUSH);
    bool failed = res != Z_OK;
    if (failed) BASE_LOG(this, eMsgError, "deflate failed (%d)", res);
    if (!failed && m_deflater->avail_out == 0) failed = !_emit(m_outputBlockSize);
    if (failed) {
      // The caller's bytes are gone after this call; a later flush must not reach for them.
      m_deflater->next_in = Z_NULL;
      m_deflater->avail_in = 0;
      return false;
    }
    if (m_deflater->avail_in == 0) return true;
  }
}

bool IOGzipFilter::flush(int mode)
{
  for (;;) {
    int res = deflate(m_deflater, mode);
    // zlib refuses a second flush in a row with nothing written between (Z_BUF_ERROR); with
    // room left in the block that only means there is nothing more to say.
    if (res == Z_BUF_ERROR && m_deflater->avail_out != 0) break;
    if (res < 0) {
      BASE_LOG(this, eMsgError, "deflate failed (%d)", res);
      return false;
    }
    if (m_deflater->avail_out != 0) break;
    if (!_emit(m_outputBlockSize)) return false;
  }
  if (!_emit(m_outputBlockSize - m_deflater->avail_out)) return false;
  return m_stream->flushIO();
}

bool IOGzipFilter::flushIO()
{
  return flush(Z_FULL_FLUSH);
}

bool IOGzipFilter::closeIO()
{
  bool finished = flush(Z_FINISH);
  bool closed = m_stream->closeIO();
  return finished && closed;
}

bool IOGzipFilter::_fillInput(bool& refused)
{
  uint32_t count = m_inputBlockSize;
  if (m_chunked) {
    // A flush with nothing to pass on sends an empty chunk. Each costs the wrapped stream two
    // bytes, so a run of them ends with that stream's data.
    while (m_chunkRemainder == 0)
      if (!m_stream->readFormat(false, "2", &m_chunkRemainder)) return false;
    if (count > m_chunkRemainder) count = m_chunkRemainder;
  }
  const uint32_t asked = count;
  // A stream that claims success with nothing delivered would have us ask again for ever.
  if (!m_stream->readIO(m_inputBlock, count) || count == 0 || count > asked) {
    refused = true;
    return false;
  }
  if (m_chunked) m_chunkRemainder -= count;
  m_inflater->next_in = m_inputBlock;
  m_inflater->avail_in = count;
  return true;
}

bool IOGzipFilter::readIO(void* buffer, uint32_t& length)
{
  const uint32_t wanted = length;
  if (wanted == 0) return true;
  length = 0;
  if (m_inflateDone) return false;
  m_inflater->next_out = static_cast<Bytef*>(buffer);
  m_inflater->avail_out = wanted;
  for (;;) {
    if (m_inflater->avail_in == 0) {
      bool refused = false;
      if (!_fillInput(refused)) return !refused && length != 0;
    }
    const uInt inputBefore = m_inflater->avail_in;
    const uInt roomBefore = m_inflater->avail_out;
    int res = inflate(m_inflater, Z_NO_FLUSH);
    length = wanted - m_inflater->avail_out;
    if (res == Z_STREAM_END) {
      // Whatever follows the trailer is not ours to read.
      m_inflateDone = true;
      return length != 0;
    }
    // Z_NEED_DICT counts as corrupt: no preset dictionary is agreed with any writer, and
    // inflate would ask for it again on every call. A Z_OK that moved nothing breaks zlib's
    // word and would have us go round for ever.
    if (res != Z_OK || (m_inflater->avail_in == inputBefore && m_inflater->avail_out == roomBefore)) {
      BASE_LOG(this, eMsgError, "inflate failed (%d): %s", res,
               m_inflater->msg ? m_inflater->msg : "no progress");
      m_inflateDone = true;
      return false;
    }
    if (m_inflater->avail_out == 0) return true;
  }
}
