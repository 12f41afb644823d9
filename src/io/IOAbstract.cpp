#include "io/IOAbstract.h"

#include <cstdarg>
#include <unordered_set>

#include "io/BaseBuffer.h"
#include "object/BaseString.h"
#include "runtime/BaseAssert.h"
#include "runtime/BaseMutex.h"
#include "runtime/Debug.h"

namespace {

// The addresses of every constructed, not yet destroyed stream. Never destroyed, its lock
// included: streams may still be made or destroyed by static destructors at exit.
struct LiveStreams
{
  BaseMutex lock;
  std::unordered_set<const void*> streams GUARDED_BY(lock);
};

LiveStreams& liveStreams()
{
  static LiveStreams* registry = new LiveStreams();
  return *registry;
}

}  // namespace

IOAbstract::IOAbstract()
{
  LiveStreams& registry = liveStreams();
  BaseMutexLocker guard(registry.lock);
  registry.streams.insert(this);
}

IOAbstract::~IOAbstract()
{
  LiveStreams& registry = liveStreams();
  BaseMutexLocker guard(registry.lock);
  registry.streams.erase(this);
}

bool IOAbstract::flushIO()
{
  return true;
}

const unsigned char* IOAbstract::bufferedIO(uint32_t& count)
{
  count = 0;
  return nullptr;
}

void IOAbstract::takeBufferedIO(uint32_t count)
{
  BASE_ASSERT(count == 0);
}

bool IOAbstract::skipBytesInIO(uint32_t count)
{
  unsigned char discarded[SKIP_CHUNK];
  while (count > 0) {
    uint32_t asked = count < SKIP_CHUNK ? count : (uint32_t)SKIP_CHUNK;
    uint32_t length = asked;
    if (!readIO(discarded, length)) return false;
    // A stream that reports nothing, or more than it was asked for, breaks the read
    // contract; stop rather than loop forever or miscount.
    if (length == 0 || length > asked) return false;
    count -= length;
  }
  return true;
}

bool IOAbstract::closeIO()
{
  return true;
}

bool IOAbstract::readIOExact(void* buffer, uint32_t count)
{
  unsigned char* cursor = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    uint32_t length = count;
    if (!readIO(cursor, length)) return false;
    // A stream that reports nothing, or more than it was asked for, breaks the read
    // contract; stop rather than loop forever or run past the caller's buffer.
    if (length == 0 || length > count) {
      BASE_LOG(this, eMsgError, "stream delivered %u bytes for %u asked", length, count);
      return false;
    }
    cursor += length;
    count -= length;
  }
  return true;
}

bool IOAbstract::writeString(const BaseString* text)
{
  BASE_ASSERT(text != NULL);
  return writeIO(text->cString(), text->length());
}

bool IOAbstract::writeBuffer(BaseBuffer* buffer)
{
  BASE_ASSERT(buffer != NULL);
  return writeIO(buffer->bytes(), buffer->length());
}

bool IOAbstract::writeFrom(IOAbstract* source, uint32_t count)
{
  BASE_ASSERT(source != NULL);
  unsigned char chunk[COPY_CHUNK];
  while (count > 0) {
    uint32_t asked = count < COPY_CHUNK ? count : (uint32_t)COPY_CHUNK;
    uint32_t length = asked;
    if (!source->readIO(chunk, length)) return false;
    if (length == 0 || length > asked) {
      BASE_LOG(this, eMsgError, "stream delivered %u bytes for %u asked", length, asked);
      return false;
    }
    if (!writeIO(chunk, length)) return false;
    count -= length;
  }
  return true;
}

bool IOAbstract::writeFormat(bool littleEndian, const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  bool written = true;
  for (const char* directive = format; *directive && written; directive++) {
    int size = *directive - '0';
    BASE_ASSERT(size > 0);
    BASE_ASSERT(size <= 4);
    uint32_t value = va_arg(arguments, uint32_t);
    unsigned char field[4];
    for (int i = 0; i < size; i++) {
      int shift = 8 * (littleEndian ? i : size - 1 - i);
      field[i] = (unsigned char)(value >> shift);
    }
    written = writeIO(field, (uint32_t)size);
  }
  va_end(arguments);
  return written;
}

bool IOAbstract::readFormat(bool littleEndian, const char* format, ...)
{
  va_list arguments;
  va_start(arguments, format);
  bool read = true;
  for (const char* directive = format; *directive && read; directive++) {
    int size = *directive - '0';
    BASE_ASSERT(size <= 4);
    BASE_ASSERT(size > 0);
    unsigned char field[4];
    read = readIOExact(field, (uint32_t)size);
    if (!read) break;
    uint32_t value = 0;
    for (int i = 0; i < size; i++) value = (value << 8) | field[littleEndian ? size - 1 - i : i];
    if (size == 1)
      *va_arg(arguments, uint8_t*) = (uint8_t)value;
    else if (size == 2)
      *va_arg(arguments, uint16_t*) = (uint16_t)value;
    else
      *va_arg(arguments, uint32_t*) = value;
  }
  va_end(arguments);
  return read;
}

IOAbstract* IOAbstract::retainLiveStream(const void* address)
{
  if (!address) return nullptr;
  LiveStreams& registry = liveStreams();
  BaseMutexLocker guard(registry.lock);
  if (registry.streams.find(address) == registry.streams.end()) return nullptr;
  IOAbstract* stream = static_cast<IOAbstract*>(const_cast<void*>(address));
  // A stream whose last reference is gone is being destroyed (its derived destructors run
  // before ours unregisters it): it must not be brought back.
  int32_t count = stream->m_retainCount.load(std::memory_order_relaxed);
  while (count > 0) {
    if (stream->m_retainCount.compare_exchange_weak(count, count + 1, std::memory_order_relaxed))
      return stream;
  }
  return nullptr;
}
