#include "object/BaseString.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/BaseAssert.h"

BaseString::BaseString()
{
  init();
  extendBuffer(0);
  stringBuffer[0] = 0;
}

BaseString::BaseString(unsigned int capacity)
{
  init();
  extendBuffer(capacity);
  stringBuffer[0] = 0;
}

BaseString::BaseString(const BaseString* other)
{
  init();
  setCString(other->stringBuffer, (int)other->stringLength);
}

BaseString::BaseString(const char* text, int length)
{
  init();
  setCString(text, length);
}

BaseString::~BaseString()
{
  free(stringBuffer);
  free(wideStringBuffer);
  init();
}

void BaseString::init()
{
  stringBuffer = nullptr;
  wideStringBuffer = nullptr;
  bufferSize = 0;
  stringLength = 0;
  stringHash = 0;
}

void BaseString::extendBuffer(unsigned int needed)
{
  if (bufferSize > needed) return;
  BASE_ASSERT(needed < 0xFFFFFFFFu);
  uint32_t newSize = needed + 1 < 16 ? 16 : needed + 1;
  // Small increases double the buffer so that repeated appends stay amortised constant.
  if (stringBuffer && stringLength != bufferSize && 2ull * (newSize - bufferSize) < bufferSize)
    newSize = bufferSize * 2;
  char* grown = static_cast<char*>(realloc(stringBuffer, newSize));
  BASE_ASSERT(grown!=NULL);
  stringBuffer = grown;
  bufferSize = newSize;
}

void BaseString::setCString(const char* aCString, int length)
{
  BASE_ASSERT(aCString!=NULL);
  size_t n = length < 0 ? strlen(aCString) : (size_t)length;
  BASE_ASSERT(n < 0xFFFFFFFFu);
  extendBuffer((unsigned int)n);
  memmove(stringBuffer, aCString, n);
  stringBuffer[n] = 0;
  stringLength = (uint32_t)n;
  setModified();
}

void BaseString::setString(BaseString* aString)
{
  BASE_ASSERT(aString!=NULL);
  setCString(aString->stringBuffer, (int)aString->stringLength);
}

void BaseString::append(const char* text, int length)
{
  size_t n = length < 0 ? strlen(text) : (size_t)length;
  BASE_ASSERT(n < 0xFFFFFFFFu - stringLength);
  // `text` may point into our own buffer, which the growth can move.
  ptrdiff_t inside = (stringBuffer && text >= stringBuffer && text < stringBuffer + bufferSize)
                         ? text - stringBuffer
                         : -1;
  extendBuffer(stringLength + (unsigned int)n);
  if (inside >= 0) text = stringBuffer + inside;
  memmove(stringBuffer + stringLength, text, n);
  stringLength += (uint32_t)n;
  stringBuffer[stringLength] = 0;
  setModified();
}

void BaseString::append(BaseString* aString)
{
  BASE_ASSERT(aString);
  append(aString->stringBuffer, (int)aString->stringLength);
}

void BaseString::setModified()
{
  stringHash = 0;
  free(wideStringBuffer);
  wideStringBuffer = nullptr;
}

uint32_t BaseString::hash()
{
  if (stringHash) return stringHash;
  // At most 31 bytes, spread evenly and counted from the end, enter the hash.
  uint32_t h = stringLength;
  uint32_t step = (stringLength >> 5) + 1;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(stringBuffer);
  for (uint32_t i = stringLength; i >= step; i -= step) h = h ^ ((h << 5) + (h >> 2) + bytes[i - 1]);
  stringHash = h ? h : 1;
  return stringHash;
}

bool BaseString::isEqual(BaseObject* other)
{
  if (!isOfClass(other, "BaseString")) return false;
  BaseString* text = static_cast<BaseString*>(other);
  if (text->stringLength != stringLength || text->hash() != hash()) return false;
  return memcmp(text->stringBuffer, stringBuffer, stringLength) == 0;
}

int BaseString::compare(BaseObject* other)
{
  if (!isOfClass(other, "BaseString")) return BaseObject::compare(other);
  return strcmp(static_cast<BaseString*>(other)->stringBuffer, stringBuffer);
}

const char* BaseString::getClass() const
{
  return "BaseString";
}

namespace {

void appendEscaped(BaseString* out, const char* bytes, unsigned int length, bool json)
{
  out->append("\"", 1);
  for (unsigned int i = 0; i < length; i++) {
    unsigned char c = (unsigned char)bytes[i];
    char escape[8];
    switch (c) {
      case '\\': out->append("\\\\", 2); break;
      case '"': out->append("\\\"", 2); break;
      case 8: out->append("\\b", 2); break;
      case 9: out->append("\\t", 2); break;
      case 10: out->append("\\n", 2); break;
      case 13: out->append("\\r", 2); break;
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

BaseString* BaseString::toString(int flags)
{
  BaseString* text = new (eRetainAutorelease) BaseString(stringLength + 2);
  switch (flags & 3) {
    case eToStringPlain:
      text->append("\"", 1);
      text->append(stringBuffer, (int)stringLength);
      text->append("\"", 1);
      break;
    case eToStringJSON:
    case eToStringLua:
      appendEscaped(text, stringBuffer, stringLength, (flags & 3) == eToStringJSON);
      break;
    default:
      text->append("<string>");
      text->append(stringBuffer, (int)stringLength);
      text->append("</string>");
      break;
  }
  return text;
}
