#include "io/BaseBuffer.h"

#include <cstdlib>
#include <cstring>

#include "object/BaseString.h"
#include "platform/Algorithms.h"
#include "platform/Files.h"
#include "runtime/BaseAssert.h"
#include "runtime/BaseMutex.h"
#include "runtime/Debug.h"

namespace {

enum
{
  DEFAULT_CAPACITY = 256,
  FILE_CHUNK = 1024
};

const uint64_t MAX_CAPACITY = 0xFFFFFFFFull;

// The last occurrence of `pattern` in `data`, or -1. An empty pattern is found at the end.
int64_t lastOccurrence(const unsigned char* data, uint32_t length, const void* pattern,
                       uint32_t patternLength)
{
  if (patternLength > length) return -1;
  if (patternLength == 0) return length;
  const unsigned char* wanted = static_cast<const unsigned char*>(pattern);
  for (int64_t offset = (int64_t)length - patternLength; offset >= 0; offset--) {
    if (data[offset] == wanted[0] && memcmp(data + offset, wanted, patternLength) == 0) return offset;
  }
  return -1;
}

}  // namespace

BaseBuffer::BaseBuffer()
{
  initialize(DEFAULT_CAPACITY);
}

BaseBuffer::BaseBuffer(size_t capacity)
{
  initialize(capacity);
}

BaseBuffer::BaseBuffer(const void* bytes, uint32_t count)
{
  if (initialize((size_t)count + 1) && count > 0) {
    memcpy(m_bufferBytes, bytes, count);
    m_bufferLength = count;
  }
}

BaseBuffer::BaseBuffer(const char* text)
{
  size_t count = text ? strlen(text) : 0;
  if (initialize((size_t)count + 1) && count > 0) {
    memcpy(m_bufferBytes, text, count);
    m_bufferLength = (uint32_t)count;
  }
}

BaseBuffer::BaseBuffer(const BaseBuffer& other) : IOAbstract()
{
  if (initialize(other.m_bufferCapacity) && other.m_bufferLength > 0) {
    memcpy(m_bufferBytes, other.m_bufferBytes, other.m_bufferLength);
    m_bufferLength = other.m_bufferLength;
  }
}

BaseBuffer::~BaseBuffer()
{
  free(m_bufferBytes);
  delete m_fifoChanged;
  BaseObject::release(m_fifoMutex);
}

bool BaseBuffer::initialize(size_t capacity)
{
  m_bufferLength = 0;
  m_streamPosition = 0;
  m_fifoSize = 0;
  m_fifoBlocking = false;
  m_fifoMutex = nullptr;
  m_fifoChanged = nullptr;
  // At least one byte: the zero after the (empty) data.
  if (capacity == 0) capacity = 1;
  m_bufferBytes = capacity <= MAX_CAPACITY ? static_cast<unsigned char*>(calloc(capacity, 1)) : nullptr;
  if (!m_bufferBytes) {
    m_bufferCapacity = 0;
    BASE_LOG(this, eMsgError, "unable to allocate memory");
    return false;
  }
  m_bufferCapacity = (uint32_t)capacity;
  return true;
}

bool BaseBuffer::_reserve(uint64_t needed)
{
  if (needed <= m_bufferCapacity) return true;
  if (needed > MAX_CAPACITY) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  uint64_t capacity = 2 * (uint64_t)m_bufferCapacity;
  if (capacity < needed) capacity = needed;
  if (capacity < DEFAULT_CAPACITY) capacity = DEFAULT_CAPACITY;
  if (capacity > MAX_CAPACITY) capacity = MAX_CAPACITY;
  // Keeps the old storage, and with it the data, when the system refuses.
  unsigned char* grown = static_cast<unsigned char*>(realloc(m_bufferBytes, capacity));
  if (!grown) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  m_bufferBytes = grown;
  m_bufferCapacity = (uint32_t)capacity;
  return true;
}

bool BaseBuffer::appendBytes(const void* bytes, uint32_t count)
{
  if (count == 0) return true;
  BASE_ASSERT(bytes != NULL);
  // Bytes taken from this very buffer move when the storage grows.
  const unsigned char* source = static_cast<const unsigned char*>(bytes);
  bool inside = m_bufferBytes && source >= m_bufferBytes && source < m_bufferBytes + m_bufferCapacity;
  size_t insideOffset = inside ? (size_t)(source - m_bufferBytes) : 0;
  if (!_reserve((uint64_t)m_bufferLength + count + 1)) return false;
  if (inside) source = m_bufferBytes + insideOffset;
  memmove(m_bufferBytes + m_bufferLength, source, count);
  m_bufferLength += count;
  m_bufferBytes[m_bufferLength] = 0;
  return true;
}

bool BaseBuffer::appendString(const BaseString* text)
{
  BASE_ASSERT(text != NULL);
  return appendBytes(text->cString(), text->length());
}

bool BaseBuffer::appendString(const char* text)
{
  BASE_ASSERT(text != NULL);
  size_t count = strlen(text);
  if (count > MAX_CAPACITY) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  return appendBytes(text, (uint32_t)count);
}

BaseBuffer& BaseBuffer::operator+=(const BaseBuffer& other)
{
  appendBytes(other.m_bufferBytes, other.m_bufferLength);
  return *this;
}

BaseBuffer& BaseBuffer::operator+=(char byte)
{
  appendBytes(&byte, 1);
  return *this;
}

BaseBuffer& BaseBuffer::operator+=(const char* text)
{
  appendString(text);
  return *this;
}

bool BaseBuffer::_assign(const void* bytes, uint32_t count)
{
  if ((uint64_t)count + 1 > MAX_CAPACITY) {
    BASE_LOG(this, eMsgError, "unable to allocate memory");
    return false;
  }
  if ((uint64_t)count + 1 > m_bufferCapacity) {
    free(m_bufferBytes);
    m_bufferLength = 0;
    m_bufferBytes = static_cast<unsigned char*>(calloc((size_t)count + 1, 1));
    if (!m_bufferBytes) {
      m_bufferCapacity = 0;
      m_streamPosition = 0;
      BASE_LOG(this, eMsgError, "unable to allocate memory");
      return false;
    }
    m_bufferCapacity = count + 1;
  }
  // The source may be a tail of this very storage.
  if (count > 0) memmove(m_bufferBytes, bytes, count);
  m_bufferLength = count;
  m_bufferBytes[count] = 0;
  if (m_streamPosition > m_bufferLength) m_streamPosition = m_bufferLength;
  return true;
}

BaseBuffer& BaseBuffer::operator=(const BaseBuffer& other)
{
  if (&other != this) _assign(other.m_bufferBytes, other.m_bufferLength);
  return *this;
}

BaseBuffer& BaseBuffer::operator=(const char* text)
{
  BASE_ASSERT(text != NULL);
  size_t count = strlen(text);
  if (count >= MAX_CAPACITY)
    BASE_LOG(this, eMsgError, "unable to allocate memory");
  else
    _assign(text, (uint32_t)count);
  return *this;
}

bool BaseBuffer::setLength(uint32_t length)
{
  if (length == 0) {
    if (m_bufferCapacity != DEFAULT_CAPACITY) {
      free(m_bufferBytes);
      m_bufferBytes = static_cast<unsigned char*>(calloc(DEFAULT_CAPACITY, 1));
      m_bufferCapacity = m_bufferBytes ? DEFAULT_CAPACITY : 0;
      if (!m_bufferBytes) BASE_LOG(this, eMsgError, "unable to allocate memory");
    }
    if (m_bufferBytes) m_bufferBytes[0] = 0;
    m_bufferLength = 0;
    m_streamPosition = 0;
    return m_bufferBytes != nullptr;
  }
  uint64_t needed = (uint64_t)length + 1;
  if (needed > MAX_CAPACITY) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  if (needed > m_bufferCapacity) {
    BASE_LOG(this, eMsgDebug, "len %i thr %i, clen %i", (int)m_bufferLength, (int)needed,
             (int)m_bufferCapacity);
    unsigned char* grown = static_cast<unsigned char*>(realloc(m_bufferBytes, needed));
    if (!grown) {
      BASE_LOG(this, eMsgError, "unable to reallocate memory");
      return false;
    }
    m_bufferBytes = grown;
    m_bufferCapacity = (uint32_t)needed;
  }
  if (m_bufferLength < m_bufferCapacity)
    memset(m_bufferBytes + m_bufferLength, 0, m_bufferCapacity - m_bufferLength);
  m_bufferLength = length;
  // Also when shrinking, so that the bytes always read as text of exactly this length.
  m_bufferBytes[length] = 0;
  if (m_streamPosition > m_bufferLength) m_streamPosition = m_bufferLength;
  return true;
}

bool BaseBuffer::contains(const void* pattern, uint32_t patternLength, uint32_t* offset) const
{
  BASE_ASSERT(pattern != NULL || patternLength == 0);
  int64_t found = lastOccurrence(m_bufferBytes, m_bufferLength, pattern, patternLength);
  if (found < 0) return false;
  if (offset) *offset = (uint32_t)found;
  return true;
}

bool BaseBuffer::containsString(const char* pattern) const
{
  BASE_ASSERT(pattern != NULL);
  size_t count = strlen(pattern);
  return count <= m_bufferLength && contains(pattern, (uint32_t)count);
}

bool BaseBuffer::hasPrefix(const char* text) const
{
  BASE_ASSERT(text != NULL);
  size_t count = strlen(text);
  return count <= m_bufferLength && (count == 0 || memcmp(m_bufferBytes, text, count) == 0);
}

bool BaseBuffer::hasSuffix(const char* text) const
{
  BASE_ASSERT(text != NULL);
  size_t count = strlen(text);
  return count <= m_bufferLength &&
         (count == 0 || memcmp(m_bufferBytes + m_bufferLength - count, text, count) == 0);
}

void BaseBuffer::copySubstringBetween(const char* delimiter, char* output, uint32_t& size,
                                      uint32_t start) const
{
  BASE_ASSERT(delimiter != NULL);
  uint32_t room = size;
  size = 0;
  if (room == 0) return;
  BASE_ASSERT(output != NULL);
  output[0] = 0;
  size_t delimiterLength = strlen(delimiter);
  if (start >= m_bufferLength || delimiterLength == 0) return;
  // The text ends at the first zero byte.
  const char* text = reinterpret_cast<const char*>(m_bufferBytes) + start;
  const void* zero = memchr(text, 0, m_bufferLength - start);
  size_t textLength = zero ? (size_t)(static_cast<const char*>(zero) - text) : m_bufferLength - start;
  const char* first =
      static_cast<const char*>(platform::findBytes(text, textLength, delimiter, delimiterLength));
  if (!first) return;
  const char* inner = first + delimiterLength;
  const char* second = static_cast<const char*>(
      platform::findBytes(inner, textLength - (size_t)(inner - text), delimiter, delimiterLength));
  if (!second) return;
  size_t count = (size_t)(second - inner);
  if (count > room - 1) count = room - 1;
  memcpy(output, inner, count);
  output[count] = 0;
  size = (uint32_t)count;
}

bool BaseBuffer::writeToFile(const char* path) const
{
  FILE* file = platform::openStream(path, "wb+");
  if (!file) {
    BASE_LOG(const_cast<BaseBuffer*>(this), eMsgError, "unable to open %s", path);
    return false;
  }
  bool written = m_bufferLength == 0 || fwrite(m_bufferBytes, 1, m_bufferLength, file) == m_bufferLength;
  if (fclose(file) != 0) written = false;
  return written;
}

bool BaseBuffer::readFromFile(const char* path)
{
  FILE* file = platform::openStream(path, "rb");
  if (!file) {
    BASE_LOG(this, eMsgError, "unable to open %s", path);
    return false;
  }
  unsigned char chunk[FILE_CHUNK];
  bool complete = true;
  for (;;) {
    size_t count = fread(chunk, 1, sizeof chunk, file);
    if (count > 0 && !appendBytes(chunk, (uint32_t)count)) {
      complete = false;
      break;
    }
    if (count < sizeof chunk) {
      // A short read is the end of the file or an error; either way nothing more comes.
      if (ferror(file)) {
        BASE_LOG(this, eMsgError, "read error in %s", path);
        complete = false;
      }
      break;
    }
  }
  fclose(file);
  return complete;
}

bool BaseBuffer::readFromFileUpTo(FILE* file, const char* terminator, uint32_t maxCount)
{
  BASE_ASSERT(file != NULL);
  BASE_ASSERT(terminator != NULL);
  for (uint32_t count = 0; count < maxCount; count++) {
    int byte = fgetc(file);
    if (byte == EOF) return false;
    char character = (char)byte;
    if (!appendBytes(&character, 1)) return false;
    if (hasSuffix(terminator)) return true;
  }
  return false;
}

bool BaseBuffer::getBytesToFile(FILE* file, uint32_t count)
{
  uint32_t taken = count < m_bufferLength ? count : m_bufferLength;
  bool complete = true;
  if (file && taken > 0) {
    size_t written = fwrite(m_bufferBytes, 1, taken, file);
    if (written < taken) {
      // What the file did not take stays at the front.
      complete = false;
      taken = (uint32_t)written;
    }
  }
  uint32_t rest = m_bufferLength - taken;
  if (taken > 0 && rest > 0) memmove(m_bufferBytes, m_bufferBytes + taken, rest);
  uint32_t position = m_streamPosition > taken ? m_streamPosition - taken : 0;
  setLength(rest);
  m_streamPosition = position < m_bufferLength ? position : m_bufferLength;
  return complete;
}

void BaseBuffer::setFIFO(unsigned long size, bool blocking)
{
  // clang-format off
  BASE_ASSERT(m_streamPosition==0);
  // clang-format on
  if (size > 0 && !m_fifoMutex) {
    m_fifoMutex = new BaseMutex();
    m_fifoChanged = new std::condition_variable_any();
  }
  m_fifoSize = size <= MAX_CAPACITY ? (uint32_t)size : (uint32_t)MAX_CAPACITY;
  m_fifoBlocking = blocking;
  // Without a mutex the FIFO was never opened, so never closed.
  if (m_fifoMutex) {
    BaseMutexLocker guard(*m_fifoMutex);
    m_fifoClosed = false;
  }
}

bool BaseBuffer::readIO(void* buffer, uint32_t& length)
{
  if (m_fifoSize > 0) return _readFIFO(buffer, length);
  uint32_t available = m_streamPosition < m_bufferLength ? m_bufferLength - m_streamPosition : 0;
  if (length > available) length = available;
  if (length == 0) return false;
  memcpy(buffer, m_bufferBytes + m_streamPosition, length);
  m_streamPosition += length;
  return true;
}

const unsigned char* BaseBuffer::bufferedIO(uint32_t& count)
{
  count = m_fifoSize == 0 && m_streamPosition < m_bufferLength ? m_bufferLength - m_streamPosition : 0;
  return count ? m_bufferBytes + m_streamPosition : nullptr;
}

void BaseBuffer::takeBufferedIO(uint32_t count)
{
  uint32_t available;
  bufferedIO(available);
  BASE_ASSERT(count <= available);
  m_streamPosition += count;
}

bool BaseBuffer::writeIO(const void* bytes, uint32_t length)
{
  if (m_fifoSize > 0) return _writeFIFO(bytes, length);
  return appendBytes(bytes, length);
}

bool BaseBuffer::closeIO()
{
  if (m_fifoSize == 0 || !m_fifoMutex) return true;
  {
    BaseMutexLocker guard(*m_fifoMutex);
    m_fifoClosed = true;
  }
  m_fifoChanged->notify_all();
  return true;
}

void BaseBuffer::_removeFront(void* output, uint32_t count)
{
  memcpy(output, m_bufferBytes, count);
  uint32_t rest = m_bufferLength - count;
  if (rest > 0) memmove(m_bufferBytes, m_bufferBytes + count, rest);
  m_bufferLength = rest;
  m_bufferBytes[rest] = 0;
}

bool BaseBuffer::_readFIFO(void* buffer, uint32_t& length)
{
  const uint32_t asked = length;
  // A failed read delivers nothing, and says so: a caller adding up counts must not
  // mistake the request for a delivery.
  length = 0;
  if (asked == 0) return false;
  // A request larger than the FIFO could never be met whole: it takes what a full FIFO holds.
  const uint32_t enough = asked < m_fifoSize ? asked : m_fifoSize;
  uint32_t count;
  {
    BaseMutexLocker guard(*m_fifoMutex);
    while (m_bufferLength < enough && !m_fifoClosed && m_fifoBlocking) m_fifoChanged->wait(*m_fifoMutex);
    count = m_bufferLength < asked ? m_bufferLength : asked;
    // Before the end, a short read is no read at all; once closed, the rest is handed out.
    if (count == 0 || (count < enough && !m_fifoClosed)) return false;
    _removeFront(buffer, count);
  }
  m_fifoChanged->notify_all();
  length = count;
  return true;
}

bool BaseBuffer::_writeFIFO(const void* bytes, uint32_t length)
{
  const unsigned char* cursor = static_cast<const unsigned char*>(bytes);
  BaseMutexLocker guard(*m_fifoMutex);
  if (m_fifoClosed) return false;
  uint32_t room = m_bufferLength < m_fifoSize ? m_fifoSize - m_bufferLength : 0;
  if (!m_fifoBlocking && room < length) return false;
  // A blocking writer passes its bytes on as room appears, so that it never waits for more
  // room than a waiting reader would ever leave.
  while (length > 0) {
    while (!m_fifoClosed && m_bufferLength >= m_fifoSize) m_fifoChanged->wait(*m_fifoMutex);
    if (m_fifoClosed) return false;
    room = m_fifoSize - m_bufferLength;
    uint32_t count = length < room ? length : room;
    if (!appendBytes(cursor, count)) return false;
    cursor += count;
    length -= count;
    // Under the lock: a woken reader gets it when this writer waits for room or returns.
    m_fifoChanged->notify_all();
  }
  return true;
}

BaseString* BaseBuffer::hexDump(uint32_t count)
{
  static const char digits[] = "0123456789abcdef";
  if (count > m_bufferLength) count = m_bufferLength;
  BaseString* dump = new (eRetainAutorelease) BaseString((unsigned int)(count / 16 * 3 + count * 3 + 16));
  dump->append("BUFFER (", 8);
  char group[3] = {0, 0, ' '};
  for (uint32_t i = 0; i < count; i++) {
    if (i % 16 == 0) dump->append("\n  ", 3);
    group[0] = digits[m_bufferBytes[i] >> 4];
    group[1] = digits[m_bufferBytes[i] & 15];
    dump->append(group, 3);
  }
  dump->append(")\n", 2);
  return dump;
}

const char* BaseBuffer::getClass() const
{
  return "BaseBuffer";
}

BaseString* BaseBuffer::toString(int flags)
{
  BaseString* text;
  switch (flags & 3) {
    case eToStringPlain:
      text = hexDump(m_bufferLength);
      break;
    case eToStringJSON:
    case eToStringLua: {
      int count = m_bufferLength <= 0x7FFFFFFFu ? (int)m_bufferLength : 0x7FFFFFFF;
      BaseString* data =
          new (eRetainAutorelease) BaseString(count > 0 ? (const char*)m_bufferBytes : "", count);
      text = data->toString(flags & 3);
      break;
    }
    default:
      text = BaseString::stringWithFormat("<data>%S</data>", hexDump(m_bufferLength));
      break;
  }
  return toStringCommon(flags, text, (int)(m_bufferLength <= 0x7FFFFFFFu ? m_bufferLength : 0x7FFFFFFF));
}
