#include "object/BaseString.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/SmallBlocks.h"
#include "platform/Algorithms.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

namespace {

// Byte searches see past embedded NULs, unlike strstr and strrchr.
const char* findBytes(const char* bytes, size_t length, const char* pattern, size_t patternLength)
{
  return static_cast<const char*>(platform::findBytes(bytes, length, pattern, patternLength));
}

const char* findLastByte(const char* bytes, size_t length, char wanted)
{
  for (size_t i = length; i > 0; i--)
    if (bytes[i - 1] == wanted) return bytes + i - 1;
  return nullptr;
}

bool isAsciiLetter(unsigned char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(unsigned char c)
{
  return c >= '0' && c <= '9';
}

int hexDigitValue(unsigned char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A new string in the caller's innermost pool holding `count` bytes.
BaseString* newString(const char* bytes, size_t count)
{
  BASE_ASSERT(count < 0xFFFFFFFFu);
  BaseString* result = new (eRetainAutorelease) BaseString((unsigned int)count);
  if (count) memcpy(result->getBuffer((unsigned int)count), bytes, count);
  return result;
}

// Writes the UTF-8 form of one character and returns its byte count (1 to 5).
int encodeUTF8(uint32_t character, char* out)
{
  if (character < 0x80) {
    out[0] = (char)character;
    return 1;
  }
  // Five bytes carry 26 bits; anything wider has no form here.
  if (character > 0x3FFFFFF) character = 0xFFFD;
  int count = character < 0x800 ? 2 : character < 0x10000 ? 3 : character < 0x200000 ? 4 : 5;
  for (int i = count - 1; i > 0; i--) {
    out[i] = (char)(0x80 | (character & 0x3F));
    character >>= 6;
  }
  out[0] = (char)(((0xFF00u >> count) & 0xFF) | character);
  return count;
}

bool isHighSurrogate(uint32_t character)
{
  return character >= 0xD800 && character <= 0xDBFF;
}

bool isLowSurrogate(uint32_t character)
{
  return character >= 0xDC00 && character <= 0xDFFF;
}

// Drops a final "/" unless the text is a root ("/", "C:/").
size_t lengthWithoutTrailingSlash(const char* bytes, size_t length)
{
  if (length <= 1 || bytes[length - 1] != '/' || (length == 3 && bytes[1] == ':')) return length;
  return length - 1;
}

// URL escaping: letters, digits and "." stay, every other byte becomes "%xx".
void appendEscapedBytes(BaseString* out, const char* bytes, size_t length)
{
  static const char hex[] = "0123456789abcdef";
  for (size_t i = 0; i < length; i++) {
    unsigned char c = (unsigned char)bytes[i];
    if (isAsciiLetter(c) || isAsciiDigit(c) || c == '.') {
      out->append(bytes + i, 1);
    } else {
      const char escape[3] = {'%', hex[c >> 4], hex[c & 15]};
      out->append(escape, 3);
    }
  }
}

// The quoted, backslash-escaped text of the JSON and Lua forms.
void appendEscaped(BaseString* out, const char* bytes, unsigned int length, bool json)
{
  out->append("\"", 1);
  for (unsigned int i = 0; i < length; i++) {
    unsigned char c = (unsigned char)bytes[i];
    char escape[8];
    switch (c) {
      case '\\':
        out->append("\\\\", 2);
        break;
      case '"':
        out->append("\\\"", 2);
        break;
      case 8:
        out->append("\\b", 2);
        break;
      case 9:
        out->append("\\t", 2);
        break;
      case 10:
        out->append("\\n", 2);
        break;
      case 13:
        out->append("\\r", 2);
        break;
      default:
        if (c < 32) {
          snprintf(escape, sizeof escape, json ? "\\u%04X" : "\\%03d", c);
          out->append(escape);
        } else {
          out->append(reinterpret_cast<const char*>(&bytes[i]), 1);
        }
    }
  }
  out->append("\"", 1);
}

}  // namespace

// clang-format off

BaseString::BaseString()
{
  init();
  extendBuffer(0);
  m_stringBuffer[0] = 0;
}

BaseString::BaseString(unsigned int capacity)
{
  init();
  extendBuffer(capacity);
  m_stringBuffer[0] = 0;
}

BaseString::BaseString(const BaseString* other)
{
  BASE_ASSERT(other!=NULL);
  init();
  _setBytes(other->m_stringBuffer, other->m_stringLength);
}

BaseString::BaseString(const char* text, int length)
{
  init();
  setCString(text, length);
}

BaseString::BaseString(const wchar_t* text, int length)
{
  init();
  extendBuffer(0);
  m_stringBuffer[0] = 0;
  setWString(text, length);
}

BaseString::~BaseString()
{
  SmallBlocks::release(m_stringBuffer, m_bufferSize);
  free(m_wideStringBuffer);
  init();
}

void BaseString::init()
{
  m_stringBuffer = nullptr;
  m_wideStringBuffer = nullptr;
  m_bufferSize = 0;
  m_stringLength = 0;
  m_stringHash = 0;
}

void BaseString::extendBuffer(unsigned int needed)
{
  if (m_bufferSize > needed) return;
  BASE_ASSERT(needed < 0xFFFFFFFFu);
  uint64_t newSize = needed + 1 < 16 ? 16 : needed + 1;
  // Small increases double the buffer so that repeated appends stay amortised constant.
  if (m_stringBuffer && m_stringLength != m_bufferSize && 2 * (newSize - m_bufferSize) < m_bufferSize &&
      2ull * m_bufferSize <= 0xFFFFFFFFu)
    newSize = 2ull * m_bufferSize;
  m_stringBuffer = static_cast<char*>(SmallBlocks::reallocate(m_stringBuffer, m_bufferSize, (size_t)newSize));
  m_bufferSize = (uint32_t)newSize;
}

void BaseString::setCString(const char* aCString, int length)
{
  BASE_ASSERT(aCString!=NULL);
  _setBytes(aCString, length < 0 ? strlen(aCString) : (size_t)length);
}

void BaseString::setString(BaseString* aString)
{
  BASE_ASSERT(aString!=NULL);
  _setBytes(aString->m_stringBuffer, aString->m_stringLength);
}

void BaseString::append(const char* text, int length)
{
  BASE_ASSERT(text!=NULL);
  _appendBytes(text, length < 0 ? strlen(text) : (size_t)length);
}

void BaseString::append(BaseString* aString)
{
  BASE_ASSERT(aString);
  _appendBytes(aString->m_stringBuffer, aString->m_stringLength);
}

// clang-format on

void BaseString::_setBytes(const char* bytes, size_t count)
{
  BASE_ASSERT(count < 0xFFFFFFFFu);
  // Text inside our own buffer is never longer than the buffer, so the growth cannot move it.
  extendBuffer((unsigned int)count);
  if (count) memmove(m_stringBuffer, bytes, count);
  m_stringBuffer[count] = 0;
  m_stringLength = (uint32_t)count;
  setModified();
}

void BaseString::_appendBytes(const char* bytes, size_t count)
{
  BASE_ASSERT(count < 0xFFFFFFFFu - m_stringLength);
  // `bytes` may point into our own buffer, which the growth can move.
  ptrdiff_t inside = (m_stringBuffer && bytes >= m_stringBuffer && bytes < m_stringBuffer + m_bufferSize)
                         ? bytes - m_stringBuffer
                         : -1;
  extendBuffer(m_stringLength + (unsigned int)count);
  if (inside >= 0) bytes = m_stringBuffer + inside;
  if (count) memmove(m_stringBuffer + m_stringLength, bytes, count);
  m_stringLength += (uint32_t)count;
  m_stringBuffer[m_stringLength] = 0;
  setModified();
}

void BaseString::appendUTF8(uint32_t character)
{
  char bytes[6];
  _appendBytes(bytes, (size_t)encodeUTF8(character, bytes));
}

// clang-format off
void BaseString::appendPathComponent(BaseString* component)
{
  BASE_ASSERT(component!=NULL);
  // clang-format on
  if (component == this) {
    // The join changes the receiver before the component is read: join a copy.
    BaseString* copy = new (eRetainNone) BaseString(this);
    appendPathComponent(copy);
    copy->release();
    return;
  }
  bool endsInSlash = m_stringLength > 0 && m_stringBuffer[m_stringLength - 1] == '/';
  if (component->m_stringLength > 0 && component->m_stringBuffer[0] == '/') {
    if (endsInSlash) m_stringBuffer[--m_stringLength] = 0;
  } else if (!endsInSlash) {
    _appendBytes("/", 1);
  }
  _appendBytes(component->m_stringBuffer, component->m_stringLength);
}

void BaseString::fuse(BaseTypedArray<BaseString>* parts, const char* separator)
{
  if (!parts) return;
  size_t separatorLength = separator ? strlen(separator) : 0;
  // Appending moves our buffer, so a separator or part taken from this very string is
  // found again by its offset; what was there before the call stays unchanged.
  ptrdiff_t separatorOffset =
      (separator && separator >= m_stringBuffer && separator < m_stringBuffer + m_bufferSize)
          ? separator - m_stringBuffer
          : -1;
  uint32_t originalLength = m_stringLength;
  for (unsigned int i = 0; i < parts->count(); i++) {
    if (i > 0 && separatorLength)
      _appendBytes(separatorOffset >= 0 ? m_stringBuffer + separatorOffset : separator, separatorLength);
    BaseString* part = parts->objectAtIndex(i);
    if (part == this)
      _appendBytes(m_stringBuffer, originalLength);
    else
      _appendBytes(part->m_stringBuffer, part->m_stringLength);
  }
  setModified();
}

// clang-format off
void BaseString::setWString(const wchar_t* text, int length)
{
  BASE_ASSERT(text!=NULL);
  // clang-format on
  size_t count = length < 0 ? wcslen(text) : (size_t)length;
  // `text` may be our own wide copy, which every change frees: keep it until the end.
  wchar_t* cache = m_wideStringBuffer;
  m_wideStringBuffer = nullptr;
  m_stringLength = 0;
  m_stringBuffer[0] = 0;
  for (size_t i = 0; i < count; i++) {
    uint32_t character = (uint32_t)text[i];
    // Only values in the surrogate range pair up; U+1D800 and its kind are characters.
    if (isHighSurrogate(character)) {
      if (i + 1 >= count || !isLowSurrogate((uint32_t)text[i + 1])) break;
      character = ((character << 10) & 0xFFC00) + 0x10000 + ((uint32_t)text[++i] & 0x3FF);
    }
    char bytes[6];
    _appendBytes(bytes, (size_t)encodeUTF8(character, bytes));
  }
  free(cache);
  setModified();
}

char* BaseString::getBuffer(unsigned int length)
{
  extendBuffer(length);
  m_stringLength = length;
  m_stringBuffer[length] = 0;
  setModified();
  return m_stringBuffer;
}

void BaseString::setModified()
{
  m_stringHash = 0;
  free(m_wideStringBuffer);
  m_wideStringBuffer = nullptr;
}

const wchar_t* BaseString::wString()
{
  free(m_wideStringBuffer);
  m_wideStringBuffer = nullptr;
  wchar_t* wide = static_cast<wchar_t*>(malloc(((size_t)m_stringLength + 1) * sizeof(wchar_t)));
  // clang-format off
  BASE_ASSERT(wide!=NULL);
  // clang-format on

  // Decoding stops at the first NUL. Every byte it reads before then is not a NUL, and a
  // sequence cut short by the NUL fails the continuation test on the NUL itself, so no
  // byte beyond the terminator is ever read.
  static const uint32_t smallestValue[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_stringBuffer);
  size_t in = 0, out = 0;
  bool overlong = false, invalid = false;
  for (;;) {
    uint32_t lead = bytes[in++];
    if (lead < 0x80) {
      wide[out++] = (wchar_t)lead;
      if (lead == 0) break;
      continue;
    }
    if ((lead & 0xC0) == 0x80) {
      overlong = true;
      break;
    }
    int count = 0;
    while (count < 8 && (lead & (0x80u >> count))) count++;
    // Seven or eight leading ones would carry more bits than a character holds.
    if (count > 6) {
      invalid = true;
      break;
    }
    uint32_t value = lead & (0xFFu >> (count + 1));
    if (value == 0 && (bytes[in] & 0x3Fu) < (256u >> count)) {
      overlong = true;
      break;
    }
    for (int k = 1; k < count && !invalid; k++) {
      uint32_t next = bytes[in];
      if ((next & 0xC0) != 0x80) {
        invalid = true;
      } else {
        in++;
        value = (value << 6) | (next & 0x3F);
      }
    }
    if (invalid) break;
    // The lead-byte test above misses C1, which spells only values below 0x80.
    if (value < smallestValue[count]) {
      overlong = true;
      break;
    }
    if (sizeof(wchar_t) == 2 && value > 0xFFFF) {
      // Every such character took four UTF-8 bytes or more, so its pair fits in the room
      // counted for them.
      if (value > 0x10FFFF) {
        wide[out++] = (wchar_t)0xFFFD;
      } else {
        wide[out++] = (wchar_t)(0xD800 + ((value - 0x10000) >> 10));
        wide[out++] = (wchar_t)(0xDC00 + ((value - 0x10000) & 0x3FF));
      }
      continue;
    }
    wide[out++] = (wchar_t)value;
  }

  if (overlong || invalid) {
    free(wide);
    if (overlong)
      BASE_LOG(this, eMsgError, "Overlong character in UTF-8");
    else
      BASE_LOG(this, eMsgError, "invalid UTF-8 string");
    return nullptr;
  }
  m_wideStringBuffer = wide;
  return m_wideStringBuffer;
}

bool BaseString::hasPrefix(const char* prefix) const
{
  if (!prefix) return false;
  size_t length = strlen(prefix);
  return length <= m_stringLength && memcmp(m_stringBuffer, prefix, length) == 0;
}

bool BaseString::hasPrefix(BaseString* prefix) const
{
  if (!prefix) return false;
  return prefix->m_stringLength <= m_stringLength &&
         memcmp(m_stringBuffer, prefix->m_stringBuffer, prefix->m_stringLength) == 0;
}

bool BaseString::hasSuffix(const char* suffix) const
{
  if (!suffix) return false;
  size_t length = strlen(suffix);
  return length <= m_stringLength && memcmp(m_stringBuffer + m_stringLength - length, suffix, length) == 0;
}

bool BaseString::hasSuffix(BaseString* suffix) const
{
  if (!suffix) return false;
  return suffix->m_stringLength <= m_stringLength &&
         memcmp(m_stringBuffer + m_stringLength - suffix->m_stringLength, suffix->m_stringBuffer,
                suffix->m_stringLength) == 0;
}

bool BaseString::containsString(const char* text) const
{
  if (!text) return false;
  return findBytes(m_stringBuffer, m_stringLength, text, strlen(text)) != nullptr;
}

unsigned int BaseString::indexOfString(BaseString* text) const
{
  if (!text) return NOT_FOUND;
  const char* hit = findBytes(m_stringBuffer, m_stringLength, text->m_stringBuffer, text->m_stringLength);
  return hit ? (unsigned int)(hit - m_stringBuffer) : NOT_FOUND;
}

bool BaseString::isPlainASCII() const
{
  for (const unsigned char* cursor = reinterpret_cast<const unsigned char*>(m_stringBuffer); *cursor;
       cursor++)
    if (*cursor >= 0x80) return false;
  return true;
}

bool BaseString::isValidIdentifier() const
{
  if (m_stringLength == 0) return false;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_stringBuffer);
  if (!isAsciiLetter(bytes[0]) && bytes[0] != '_') return false;
  for (uint32_t i = 1; i < m_stringLength; i++)
    if (!isAsciiLetter(bytes[i]) && !isAsciiDigit(bytes[i]) && bytes[i] != '_') return false;
  return true;
}

int64_t BaseString::toS64() const
{
  // Reads what "%lld" reads, but saturates instead of overflowing; 0 when there is no number.
  return (int64_t)strtoll(m_stringBuffer, nullptr, 10);
}

// clang-format off
int BaseString::compareCaseInsensitive(BaseString* other)
{
  BASE_ASSERT(other!=NULL);
  // clang-format on
  int order = strncasecmp(other->m_stringBuffer, m_stringBuffer, m_stringLength);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

BaseString* BaseString::substring(unsigned int start, unsigned int end)
{
  if (start > m_stringLength) start = m_stringLength;
  if (end > m_stringLength) end = m_stringLength;
  if (end <= start) return new (eRetainAutorelease) BaseString();
  return newString(m_stringBuffer + start, end - start);
}

BaseString* BaseString::replaceString(const char* search, const char* replacement)
{
  size_t searchLength = search ? strlen(search) : 0;
  if (searchLength == 0) {
    // An empty text occurs everywhere and nowhere; replacing it would never end.
    BASE_LOG(this, eMsgError, "empty search text, nothing replaced");
    return newString(m_stringBuffer, m_stringLength);
  }
  size_t replacementLength = replacement ? strlen(replacement) : 0;
  BaseString* result = new (eRetainAutorelease) BaseString(m_stringLength);
  const char* cursor = m_stringBuffer;
  const char* end = m_stringBuffer + m_stringLength;
  while (const char* hit = findBytes(cursor, end - cursor, search, searchLength)) {
    result->_appendBytes(cursor, hit - cursor);
    result->_appendBytes(replacement, replacementLength);
    cursor = hit + searchLength;
  }
  result->_appendBytes(cursor, end - cursor);
  return result;
}

BaseString* BaseString::replaceChar(char from, char to)
{
  BaseString* result = new (eRetainAutorelease) BaseString(m_stringLength);
  char* bytes = result->getBuffer(m_stringLength);
  for (uint32_t i = 0; i < m_stringLength; i++) bytes[i] = m_stringBuffer[i] == from ? to : m_stringBuffer[i];
  return result;
}

BaseString* BaseString::toLower()
{
  BaseString* result = new (eRetainAutorelease) BaseString(m_stringLength);
  char* bytes = result->getBuffer(m_stringLength);
  for (uint32_t i = 0; i < m_stringLength; i++) {
    char c = m_stringBuffer[i];
    bytes[i] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
  }
  return result;
}

BaseString* BaseString::escapeString()
{
  BaseString* result = new (eRetainAutorelease) BaseString(m_stringLength);
  appendEscapedBytes(result, m_stringBuffer, m_stringLength);
  return result;
}

BaseString* BaseString::urlCompliantPath()
{
  BaseString* result = new (eRetainAutorelease) BaseString(m_stringLength);
  const char* cursor = m_stringBuffer;
  const char* end = m_stringBuffer + m_stringLength;
  while (cursor < end) {
    const char* slash = static_cast<const char*>(memchr(cursor, '/', end - cursor));
    const char* pieceEnd = slash ? slash : end;
    appendEscapedBytes(result, cursor, pieceEnd - cursor);
    if (!slash) break;
    result->append("/", 1);
    cursor = slash + 1;
  }
  return result;
}

BaseString* BaseString::unescapedString()
{
  BaseString* result = new (eRetainAutorelease) BaseString(m_stringLength);
  const char* end = m_stringBuffer + m_stringLength;
  const char* percent = static_cast<const char*>(memchr(m_stringBuffer, '%', m_stringLength));
  result->_appendBytes(m_stringBuffer, (percent ? percent : end) - m_stringBuffer);
  while (percent) {
    // One piece runs from after this "%" to the next one; its first two bytes are the
    // escape, but a piece may be shorter than that at the end of the text.
    const char* piece = percent + 1;
    percent = static_cast<const char*>(memchr(piece, '%', end - piece));
    size_t pieceLength = (size_t)((percent ? percent : end) - piece);
    unsigned int value = 0;
    for (size_t i = 0; i < 2 && i < pieceLength; i++) {
      int digit = hexDigitValue((unsigned char)piece[i]);
      if (digit < 0) break;
      value = value * 16 + (unsigned int)digit;
    }
    if (value != 0) {
      char byte = (char)value;
      result->_appendBytes(&byte, 1);
    }
    if (pieceLength > 2) result->_appendBytes(piece + 2, pieceLength - 2);
  }
  return result;
}

BaseString* BaseString::pathExtension()
{
  const char* dot = findLastByte(m_stringBuffer, m_stringLength, '.');
  if (!dot) return new (eRetainAutorelease) BaseString();
  return newString(dot + 1, m_stringBuffer + m_stringLength - dot - 1);
}

BaseString* BaseString::pathWithoutExtension()
{
  const char* dot = findLastByte(m_stringBuffer, m_stringLength, '.');
  return newString(m_stringBuffer, dot ? (size_t)(dot - m_stringBuffer) : m_stringLength);
}

BaseString* BaseString::lastPathComponent(bool keepExtension)
{
  const char* slash = findLastByte(m_stringBuffer, m_stringLength, '/');
  const char* start = slash ? slash + 1 : m_stringBuffer;
  const char* stop = m_stringBuffer + m_stringLength;
  if (!keepExtension) {
    // A "." before the last "/" belongs to a directory name.
    const char* dot = findLastByte(m_stringBuffer, m_stringLength, '.');
    if (dot && dot >= start) stop = dot;
  }
  return newString(start, stop - start);
}

BaseString* BaseString::substringByDeletingTrailingSlash()
{
  size_t length = lengthWithoutTrailingSlash(m_stringBuffer, m_stringLength);
  if (length == m_stringLength) return this;
  return newString(m_stringBuffer, length);
}

BaseString* BaseString::substringByDeletingLastPathComponent()
{
  size_t length = lengthWithoutTrailingSlash(m_stringBuffer, m_stringLength);
  const char* slash = findLastByte(m_stringBuffer, length, '/');
  if (!slash) return new (eRetainAutorelease) BaseString();
  return newString(m_stringBuffer, slash - m_stringBuffer);
}

BaseTypedArray<BaseString>* BaseString::split(const char* separator, unsigned int maxParts)
{
  BaseTypedArray<BaseString>* parts = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  if (!separator || m_stringLength == 0) return parts;
  size_t separatorLength = strlen(separator);
  const char* cursor = m_stringBuffer;
  const char* end = m_stringBuffer + m_stringLength;
  auto addPart = [parts](const char* bytes, size_t count) {
    BaseString* part = new (eRetainNone) BaseString((unsigned int)count);
    if (count) memcpy(part->getBuffer((unsigned int)count), bytes, count);
    parts->addObject(part);
    part->release();
  };
  // An empty separator would match without advancing: it never splits.
  unsigned int allowance = maxParts;
  while (separatorLength > 0 && allowance > 1) {
    const char* hit = findBytes(cursor, end - cursor, separator, separatorLength);
    if (!hit) break;
    addPart(cursor, hit - cursor);
    cursor = hit + separatorLength;
    if (allowance != NOT_FOUND) allowance--;
  }
  addPart(cursor, end - cursor);
  return parts;
}

uint32_t BaseString::hash()
{
  if (m_stringHash) return m_stringHash;
  // At most 31 bytes, spread evenly and counted from the end, enter the hash.
  uint32_t h = m_stringLength;
  uint32_t step = (m_stringLength >> 5) + 1;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_stringBuffer);
  for (uint32_t i = m_stringLength; i >= step; i -= step) h = h ^ ((h << 5) + (h >> 2) + bytes[i - 1]);
  m_stringHash = h ? h : 1;
  return m_stringHash;
}

bool BaseString::isEqual(BaseObject* other)
{
  if (!isOfClass(other, "BaseString")) return false;
  BaseString* text = static_cast<BaseString*>(other);
  if (text->m_stringLength != m_stringLength || text->hash() != hash()) return false;
  return memcmp(text->m_stringBuffer, m_stringBuffer, m_stringLength) == 0;
}

int BaseString::compare(BaseObject* other)
{
  if (!isOfClass(other, "BaseString")) return BaseObject::compare(other);
  return strcmp(static_cast<BaseString*>(other)->m_stringBuffer, m_stringBuffer);
}

const char* BaseString::getClass() const
{
  return "BaseString";
}

BaseString* BaseString::toString(int flags)
{
  BaseString* text = new (eRetainAutorelease) BaseString(m_stringLength + 2);
  switch (flags & 3) {
    case eToStringPlain:
      text->append("\"", 1);
      text->_appendBytes(m_stringBuffer, m_stringLength);
      text->append("\"", 1);
      break;
    case eToStringJSON:
    case eToStringLua:
      appendEscaped(text, m_stringBuffer, m_stringLength, (flags & 3) == eToStringJSON);
      break;
    default:
      text->append("<string>");
      text->_appendBytes(m_stringBuffer, m_stringLength);
      text->append("</string>");
      break;
  }
  return toStringCommon(flags, text, -1);
}

BaseTypedDictionary<BaseString>* BaseString::splitKeyValuePairs(const char* pairSeparator,
                                                                const char* keyValueSeparator)
{
  BaseAutorelease pool;
  BaseTypedDictionary<BaseString>* pairs = new (eRetainAutorelease) BaseTypedDictionary<BaseString>();
  BaseTypedArray<BaseString>* pieces = split(pairSeparator);
  for (unsigned int i = 0; i < pieces->count(); i++) {
    // "a=b=c" and pieces without a separator are not pairs.
    BaseTypedArray<BaseString>* parts = pieces->objectAtIndex(i)->split(keyValueSeparator);
    if (parts->count() == 2) pairs->setObjectForKey(parts->objectAtIndex(1), parts->objectAtIndex(0));
  }
  pairs->retain();
  pairs->autorelease(1);
  return pairs;
}
