#include "io/BaseBuffer.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "object/BaseString.h"
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

BaseBuffer::BaseBuffer(unsigned long capacity)
{
  initialize(capacity);
}

BaseBuffer::BaseBuffer(const void* bytes, uint32_t count)
{
  if (initialize((unsigned long)count + 1) && count > 0) {
    memcpy(bufferBytes, bytes, count);
    bufferLength = count;
  }
}

BaseBuffer::BaseBuffer(const char* text)
{
  size_t count = text ? strlen(text) : 0;
  if (initialize((unsigned long)count + 1) && count > 0) {
    memcpy(bufferBytes, text, count);
    bufferLength = (uint32_t)count;
  }
}

BaseBuffer::BaseBuffer(const BaseBuffer& other) : IOAbstract()
{
  if (initialize(other.bufferCapacity) && other.bufferLength > 0) {
    memcpy(bufferBytes, other.bufferBytes, other.bufferLength);
    bufferLength = other.bufferLength;
  }
}

BaseBuffer::~BaseBuffer()
{
  free(bufferBytes);
  delete fifoChanged;
  BaseObject::release(fifoMutex);
}

bool BaseBuffer::initialize(unsigned long capacity)
{
  bufferLength = 0;
  streamPosition = 0;
  fifoSize = 0;
  fifoBlocking = false;
  fifoMutex = nullptr;
  fifoChanged = nullptr;
  fifoClosed = false;
  // At least one byte: the zero after the (empty) data.
  if (capacity == 0) capacity = 1;
  bufferBytes = capacity <= MAX_CAPACITY ? static_cast<unsigned char*>(calloc(capacity, 1)) : nullptr;
  if (!bufferBytes) {
    bufferCapacity = 0;
    BASE_LOG(this, eMsgError, "unable to allocate memory");
    return false;
  }
  bufferCapacity = (uint32_t)capacity;
  return true;
}

bool BaseBuffer::_reserve(uint64_t needed)
{
  if (needed <= bufferCapacity) return true;
  if (needed > MAX_CAPACITY) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  uint64_t capacity = 2 * (uint64_t)bufferCapacity;
  if (capacity < needed) capacity = needed;
  if (capacity < DEFAULT_CAPACITY) capacity = DEFAULT_CAPACITY;
  if (capacity > MAX_CAPACITY) capacity = MAX_CAPACITY;
  // Keeps the old storage, and with it the data, when the system refuses.
  unsigned char* grown = static_cast<unsigned char*>(realloc(bufferBytes, capacity));
  if (!grown) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  bufferBytes = grown;
  bufferCapacity = (uint32_t)capacity;
  return true;
}

bool BaseBuffer::appendBytes(const void* bytes, uint32_t count)
{
  if (count == 0) return true;
  BASE_ASSERT(bytes != NULL);
  // Bytes taken from this very buffer move when the storage grows.
  const unsigned char* source = static_cast<const unsigned char*>(bytes);
  bool inside = bufferBytes && source >= bufferBytes && source < bufferBytes + bufferCapacity;
  size_t insideOffset = inside ? (size_t)(source - bufferBytes) : 0;
  if (!_reserve((uint64_t)bufferLength + count + 1)) return false;
  if (inside) source = bufferBytes + insideOffset;
  memmove(bufferBytes + bufferLength, source, count);
  bufferLength += count;
  bufferBytes[bufferLength] = 0;
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
  appendBytes(other.bufferBytes, other.bufferLength);
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
  if ((uint64_t)count + 1 > bufferCapacity) {
    free(bufferBytes);
    bufferLength = 0;
    bufferBytes = static_cast<unsigned char*>(calloc((size_t)count + 1, 1));
    if (!bufferBytes) {
      bufferCapacity = 0;
      streamPosition = 0;
      BASE_LOG(this, eMsgError, "unable to allocate memory");
      return false;
    }
    bufferCapacity = count + 1;
  }
  // The source may be a tail of this very storage.
  if (count > 0) memmove(bufferBytes, bytes, count);
  bufferLength = count;
  bufferBytes[count] = 0;
  if (streamPosition > bufferLength) streamPosition = bufferLength;
  return true;
}

BaseBuffer& BaseBuffer::operator=(const BaseBuffer& other)
{
  if (&other != this) _assign(other.bufferBytes, other.bufferLength);
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
    if (bufferCapacity != DEFAULT_CAPACITY) {
      free(bufferBytes);
      bufferBytes = static_cast<unsigned char*>(calloc(DEFAULT_CAPACITY, 1));
      bufferCapacity = bufferBytes ? DEFAULT_CAPACITY : 0;
      if (!bufferBytes) BASE_LOG(this, eMsgError, "unable to allocate memory");
    }
    if (bufferBytes) bufferBytes[0] = 0;
    bufferLength = 0;
    streamPosition = 0;
    return bufferBytes != nullptr;
  }
  uint64_t needed = (uint64_t)length + 1;
  if (needed > MAX_CAPACITY) {
    BASE_LOG(this, eMsgError, "unable to reallocate memory");
    return false;
  }
  if (needed > bufferCapacity) {
    BASE_LOG(this, eMsgDebug, "len %i thr %i, clen %i", (int)bufferLength, (int)needed, (int)bufferCapacity);
    unsigned char* grown = static_cast<unsigned char*>(realloc(bufferBytes, needed));
    if (!grown) {
      BASE_LOG(this, eMsgError, "unable to reallocate memory");
      return false;
    }
    bufferBytes = grown;
    bufferCapacity = (uint32_t)needed;
  }
  if (bufferLength < bufferCapacity) memset(bufferBytes + bufferLength, 0, bufferCapacity - bufferLength);
  bufferLength = length;
  // Also when shrinking, so that the bytes always read as text of exactly this length.
  bufferBytes[length] = 0;
  if (streamPosition > bufferLength) streamPosition = bufferLength;
  return true;
}

bool BaseBuffer::contains(const void* pattern, uint32_t patternLength, uint32_t* offset) const
{
  BASE_ASSERT(pattern != NULL || patternLength == 0);
  int64_t found = lastOccurrence(bufferBytes, bufferLength, pattern, patternLength);
  if (found < 0) return false;
  if (offset) *offset = (uint32_t)found;
  return true;
}

bool BaseBuffer::containsString(const char* pattern) const
{
  BASE_ASSERT(pattern != NULL);
  size_t count = strlen(pattern);
  return count <= bufferLength && contains(pattern, (uint32_t)count);
}

bool BaseBuffer::hasPrefix(const char* text) const
{
  BASE_ASSERT(text != NULL);
  size_t count = strlen(text);
  return count <= bufferLength && (count == 0 || memcmp(bufferBytes, text, count) == 0);
}

bool BaseBuffer::hasSuffix(const char* text) const
{
  BASE_ASSERT(text != NULL);
  size_t count = strlen(text);
  return count <= bufferLength &&
         (count == 0 || memcmp(bufferBytes + bufferLength - count, text, count) == 0);
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
  if (start >= bufferLength || delimiterLength == 0) return;
  // The text ends at the first zero byte.
  const char* text = reinterpret_cast<const char*>(bufferBytes) + start;
  const void* zero = memchr(text, 0, bufferLength - start);
  size_t textLength = zero ? (size_t)(static_cast<const char*>(zero) - text) : bufferLength - start;
  const char* first = static_cast<const char*>(memmem(text, textLength, delimiter, delimiterLength));
  if (!first) return;
  const char* inner = first + delimiterLength;
  const char* second = static_cast<const char*>(
      memmem(inner, textLength - (size_t)(inner - text), delimiter, delimiterLength));
  if (!second) return;
  size_t count = (size_t)(second - inner);
  if (count > room - 1) count = room - 1;
  memcpy(output, inner, count);
  output[count] = 0;
  size = (uint32_t)count;
}

bool BaseBuffer::writeToFile(const char* path) const
{
  FILE* file = fopen(path, "wb+");
  if (!file) {
    BASE_LOG(const_cast<BaseBuffer*>(this), eMsgError, "unable to open %s", path);
    return false;
  }
  bool written = bufferLength == 0 || fwrite(bufferBytes, 1, bufferLength, file) == bufferLength;
  if (fclose(file) != 0) written = false;
  return written;
}

bool BaseBuffer::readFromFile(const char* path)
{
  FILE* file = fopen(path, "rb");
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
  uint32_t taken = count < bufferLength ? count : bufferLength;
  bool complete = true;
  if (file && taken > 0) {
    size_t written = fwrite(bufferBytes, 1, taken, file);
    if (written < taken) {
      // What the file did not take stays at the front.
      complete = false;
      taken = (uint32_t)written;
    }
  }
  uint32_t rest = bufferLength - taken;
  if (taken > 0 && rest > 0) memmove(bufferBytes, bufferBytes + taken, rest);
  uint32_t position = streamPosition > taken ? streamPosition - taken : 0;
  setLength(rest);
  streamPosition = position < bufferLength ? position : bufferLength;
  return complete;
}

void BaseBuffer::setFIFO(unsigned long size, bool blocking)
{
  // clang-format off
  BASE_ASSERT(streamPosition==0);
  // clang-format on
  if (size > 0 && !fifoMutex) {
    fifoMutex = new BaseMutex();
    fifoChanged = new std::condition_variable_any();
  }
  fifoSize = size <= MAX_CAPACITY ? (uint32_t)size : (uint32_t)MAX_CAPACITY;
  fifoBlocking = blocking;
  fifoClosed = false;
}

bool BaseBuffer::readIO(void* buffer, uint32_t& length)
{
  if (fifoSize > 0) return _readFIFO(buffer, length);
  uint32_t available = streamPosition < bufferLength ? bufferLength - streamPosition : 0;
  if (length > available) length = available;
  if (length == 0) return false;
  memcpy(buffer, bufferBytes + streamPosition, length);
  streamPosition += length;
  return true;
}

bool BaseBuffer::writeIO(const void* bytes, uint32_t length)
{
  if (fifoSize > 0) return _writeFIFO(bytes, length);
  return appendBytes(bytes, length);
}

bool BaseBuffer::closeIO()
{
  if (fifoSize == 0 || !fifoMutex) return true;
  {
    std::lock_guard<BaseMutex> guard(*fifoMutex);
    fifoClosed = true;
  }
  fifoChanged->notify_all();
  return true;
}

void BaseBuffer::_removeFront(void* output, uint32_t count)
{
  memcpy(output, bufferBytes, count);
  uint32_t rest = bufferLength - count;
  if (rest > 0) memmove(bufferBytes, bufferBytes + count, rest);
  bufferLength = rest;
  bufferBytes[rest] = 0;
}

bool BaseBuffer::_readFIFO(void* buffer, uint32_t& length)
{
  const uint32_t asked = length;
  // A failed read delivers nothing, and says so: a caller adding up counts must not
  // mistake the request for a delivery.
  length = 0;
  if (asked == 0) return false;
  // A request larger than the FIFO could never be met whole: it takes what a full FIFO holds.
  const uint32_t enough = asked < fifoSize ? asked : fifoSize;
  std::unique_lock<BaseMutex> guard(*fifoMutex);
  while (bufferLength < enough && !fifoClosed && fifoBlocking) fifoChanged->wait(guard);
  uint32_t count = bufferLength < asked ? bufferLength : asked;
  // Before the end, a short read is no read at all; once closed, the rest is handed out.
  if (count == 0 || (count < enough && !fifoClosed)) return false;
  _removeFront(buffer, count);
  guard.unlock();
  fifoChanged->notify_all();
  length = count;
  return true;
}

bool BaseBuffer::_writeFIFO(const void* bytes, uint32_t length)
{
  const unsigned char* cursor = static_cast<const unsigned char*>(bytes);
  std::unique_lock<BaseMutex> guard(*fifoMutex);
  if (fifoClosed) return false;
  uint32_t room = bufferLength < fifoSize ? fifoSize - bufferLength : 0;
  if (!fifoBlocking && room < length) return false;
  // A blocking writer passes its bytes on as room appears, so that it never waits for more
  // room than a waiting reader would ever leave.
  while (length > 0) {
    while (!fifoClosed && bufferLength >= fifoSize) fifoChanged->wait(guard);
    if (fifoClosed) return false;
    room = fifoSize - bufferLength;
    uint32_t count = length < room ? length : room;
    if (!appendBytes(cursor, count)) return false;
    cursor += count;
    length -= count;
    guard.unlock();
    fifoChanged->notify_all();
    guard.lock();
  }
  return true;
}

BaseString* BaseBuffer::hexDump(uint32_t count)
{
  static const char digits[] = "0123456789abcdef";
  if (count > bufferLength) count = bufferLength;
  BaseString* dump = new (eRetainAutorelease) BaseString((unsigned int)(count / 16 * 3 + count * 3 + 16));
  dump->append("BUFFER (", 8);
  char group[3] = {0, 0, ' '};
  for (uint32_t i = 0; i < count; i++) {
    if (i % 16 == 0) dump->append("\n  ", 3);
    group[0] = digits[bufferBytes[i] >> 4];
    group[1] = digits[bufferBytes[i] & 15];
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
      text = hexDump(bufferLength);
      break;
    case eToStringJSON:
    case eToStringLua: {
      int count = bufferLength <= 0x7FFFFFFFu ? (int)bufferLength : 0x7FFFFFFF;
      BaseString* data =
          new (eRetainAutorelease) BaseString(count > 0 ? (const char*)bufferBytes : "", count);
      text = data->toString(flags & 3);
      break;
    }
    default:
      text = BaseString::stringWithFormat("<data>%S</data>", hexDump(bufferLength));
      break;
  }
  return toStringCommon(flags, text, (int)(bufferLength <= 0x7FFFFFFFu ? bufferLength : 0x7FFFFFFF));
}
