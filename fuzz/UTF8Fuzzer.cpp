// Feeds arbitrary bytes to the text object as peers' strings reach it: decoded to wide
// characters (checked against a plain decoder of the same rules), encoded back, and put
// through the byte-wise operations with results that can be checked (case, substrings,
// escaping, splitting, comparison). The bytes read as wide characters go the other way:
// encoded, then decoded back to the same characters. Log lines are formatted into a sink
// that discards them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzLogSink.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"

namespace {

// The characters of `bytes` up to the first NUL, or false when they are not UTF-8 as the
// text object reads it: 1 to 6 bytes a character, no stray continuation byte, no lead
// byte of seven or eight ones, no value spelled with more bytes than it needs.
bool decode(const std::string& bytes, std::vector<uint32_t>& characters)
{
  static const uint32_t smallest[7] = {0, 0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};
  const size_t end = bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0');
  for (size_t i = 0; i < end;) {
    const uint8_t lead = (uint8_t)bytes[i];
    int count = 0;
    while (count < 8 && (lead & (0x80 >> count))) count++;
    if (count == 0) {
      characters.push_back(lead);
      i++;
      continue;
    }
    if (count == 1 || count > 6 || i + count > end) return false;
    uint32_t value = lead & (0xFF >> (count + 1));
    for (int k = 1; k < count; k++) {
      const uint8_t next = (uint8_t)bytes[i + k];
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest[count]) return false;
    characters.push_back(value);
    i += count;
  }
  return true;
}

bool isSurrogate(uint32_t c)
{
  return c >= 0xD800 && c <= 0xDFFF;
}

void checkDecoding(BaseString* text, const std::string& bytes)
{
  std::vector<uint32_t> expected;
  const bool valid = decode(bytes, expected);
  const wchar_t* wide = text->wString();
  if ((wide != nullptr) != valid) __builtin_trap();
  if (!wide) return;
  size_t count = 0;
  while (wide[count]) count++;
  if (count != expected.size()) __builtin_trap();
  bool encodable = true;
  for (size_t i = 0; i < count; i++) {
    if ((uint32_t)wide[i] != expected[i]) __builtin_trap();
    encodable = encodable && !isSurrogate(expected[i]) && expected[i] <= 0x3FFFFFF;
  }
  // Surrogates pair up and six-byte characters have no form when encoded; the rest come
  // back as the very bytes they were read from.
  if (!encodable) return;
  BaseAutorelease pool;
  BaseString* again = new (eRetainAutorelease) BaseString(wide, -1);
  if (again->length() != strlen(bytes.c_str()) ||
      memcmp(again->cString(), bytes.c_str(), again->length()) != 0)
    __builtin_trap();
  BaseString* appended = new (eRetainAutorelease) BaseString();
  for (size_t i = 0; i < count; i++) appended->appendUTF8(wide[i]);
  if (!appended->isEqual(again)) __builtin_trap();
}

// The bytes as wide characters, encoded and read back.
void checkEncoding(const uint8_t* data, size_t size)
{
  const size_t count = size / sizeof(wchar_t);
  if (count == 0) return;
  std::vector<wchar_t> wide(count + 1, 0);
  memcpy(wide.data(), data, count * sizeof(wchar_t));
  // What setWString keeps: pairs combined, the rest up to an unpaired high surrogate, with
  // characters that have no form replaced; decoding stops at the first zero.
  std::vector<uint32_t> expected;
  for (size_t i = 0; i < count; i++) {
    uint32_t c = (uint32_t)wide[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      const uint32_t next = i + 1 < count ? (uint32_t)wide[i + 1] : 0;
      if (next < 0xDC00 || next > 0xDFFF) break;
      c = ((c << 10) & 0xFFC00) + 0x10000 + ((uint32_t)wide[++i] & 0x3FF);
    }
    if (c > 0x3FFFFFF) c = 0xFFFD;
    if (c == 0) break;
    expected.push_back(c);
  }
  BaseAutorelease pool;
  BaseString* text = new (eRetainAutorelease) BaseString(wide.data(), (int)count);
  const wchar_t* back = text->wString();
  if (!back) __builtin_trap();
  size_t i = 0;
  for (; back[i]; i++)
    if (i >= expected.size() || (uint32_t)back[i] != expected[i]) __builtin_trap();
  if (i != expected.size()) __builtin_trap();
}

void checkByteOperations(BaseString* text, const std::string& bytes, const uint8_t* data, size_t size)
{
  const unsigned int length = text->length();
  BaseString* lower = text->toLower();
  if (lower->length() != length) __builtin_trap();
  if (text->compareCaseInsensitive(lower) != 0) __builtin_trap();
  if (lower->isPlainASCII() != text->isPlainASCII()) __builtin_trap();

  const unsigned int start = size > 0 ? data[0] : 0, stop = size > 1 ? data[1] : 0;
  BaseString* piece = text->substring(start, stop);
  const unsigned int from = start < length ? start : length, to = stop < length ? stop : length;
  if (piece->length() != (to > from ? to - from : 0)) __builtin_trap();
  if (piece->length() && memcmp(piece->cString(), bytes.data() + from, piece->length()) != 0)
    __builtin_trap();
  if (piece->length() && text->indexOfString(piece) > from) __builtin_trap();

  // Escaping keeps every byte but NUL.
  if (bytes.find('\0') == std::string::npos && !text->escapeString()->unescapedString()->isEqual(text))
    __builtin_trap();
  text->urlCompliantPath();
  text->unescapedString();

  // Split by a separator taken from the text itself, then joined again.
  if (size > 2) {
    std::string separator(bytes.substr(2, (size_t)(data[2] % 4) + 1));
    separator = separator.substr(0, separator.find('\0'));
    BaseTypedArray<BaseString>* parts = text->split(separator.c_str());
    if (!separator.empty() && length > 0) {
      BaseString* joined = new (eRetainAutorelease) BaseString();
      joined->fuse(parts, separator.c_str());
      if (!joined->isEqual(text)) __builtin_trap();
    }
    text->splitKeyValuePairs(separator.c_str(), "=");
  }

  BaseString* copy = new (eRetainAutorelease) BaseString(text);
  if (!copy->isEqual(text) || copy->hash() != text->hash() || copy->compare(text) != 0) __builtin_trap();
  for (int flags = 0; flags < 4; flags++) text->toString(flags);
  text->isValidIdentifier();
  text->toS64();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  fuzzing::installDiscardingSink();
  // Every operation is linear in the text; long texts only take longer.
  if (size > 1 << 14) return 0;
  BaseAutorelease pool;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  BaseString* text = new (eRetainAutorelease) BaseString(bytes.data(), (int)bytes.size());
  if (text->length() != size) __builtin_trap();
  checkDecoding(text, bytes);
  checkByteOperations(text, bytes, data, size);
  checkEncoding(data, size);
  return 0;
}
