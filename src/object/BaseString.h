// The text object: a mutable, reference-counted byte sequence, always NUL-terminated and
// treated as UTF-8. Lengths and indices count bytes. The hash is cached until the next
// change. Not safe for concurrent mutation; hash() writes its cache, so a string may be
// shared read-only between threads only once its hash has been computed.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cwchar>

#include "object/BaseObject.h"

template <typename T>
class BaseTypedArray;
template <typename T>
class BaseTypedDictionary;

class BaseString : public BaseObject
{
public:
  BaseString();
  explicit BaseString(unsigned int capacity);
  explicit BaseString(const BaseString* other);
  BaseString(const char* text, int length = -1);
  BaseString(const wchar_t* text, int length);
  ~BaseString() override;

  // Clears every field without freeing (raw storage only).
  void init();

  // A negative length means up to the NUL.
  void setCString(const char* aCString, int length = -1);
  void setString(BaseString* aString);
  void append(const char* text, int length = -1);
  void append(BaseString* aString);
  // One character as UTF-8 (1 to 5 bytes). Values above 0x3FFFFFF (negative wchar_t
  // values among them) have no such form and are written as U+FFFD, the replacement character.
  void appendUTF8(uint32_t character);
  // Joins with exactly one "/" between the receiver and `component` ("" + "a" gives "/a").
  void appendPathComponent(BaseString* component);
  // Appends the parts with `separator` between them (null counts as empty).
  void fuse(BaseTypedArray<BaseString>* parts, const char* separator);
  // Replaces the content with the UTF-8 form of wide text (negative length: up to the zero).
  // UTF-16 surrogate pairs are combined; an unpaired high surrogate ends the text there.
  void setWString(const wchar_t* text, int length = -1);
  // Sets the length, makes room and returns the bytes for the caller to fill.
  char* getBuffer(unsigned int length);

  const char* cString() const { return m_stringBuffer; }
  unsigned int length() const { return m_stringLength; }
  // Bytes allocated, the terminating NUL included.
  unsigned int capacity() const { return m_bufferSize; }

  // Formatting engine, printf-style (BaseStringFormat.cpp). Besides d i o u x X c e E f
  // g G p s it takes %S (a BaseString*), %@ (any object's Lua text form), %P (a BaseString*
  // path component, not null, joined as appendPathComponent does) and %t (an int of
  // seconds). Null texts and objects print "(null)". Arguments are read with their real
  // width on this LP64 platform: int with no modifier or "h"/"hh", long with "l", long long
  // with "ll" or "L"; e E f g G read a double, "%Lf" included. Widths and precisions have
  // at most two digits. A malformed format (too many flags, a three-digit width, an
  // unsupported conversion) is a programming error and stops the program.
  void appendFormatv(const char* format, va_list arguments);
  void appendFormat(const char* format, ...);
  void setFormatv(const char* format, va_list arguments);
  void setFormat(const char* format, ...);
  // New strings owned by the caller's innermost pool.
  static BaseString* stringWithFormatv(const char* format, va_list arguments);
  static BaseString* stringWithFormat(const char* format, ...);

  // The wide-character copy, owned by the string until its next change; null (with an
  // Error log line) when the bytes are not valid UTF-8. Where wchar_t holds 16 bits
  // (Windows) it is UTF-16: characters above U+FFFF become surrogate pairs, and those
  // above U+10FFFF, which UTF-16 cannot spell, U+FFFD.
  const wchar_t* wString();
  bool hasPrefix(const char* prefix) const;
  bool hasPrefix(BaseString* prefix) const;
  bool hasSuffix(const char* suffix) const;
  bool hasSuffix(BaseString* suffix) const;
  bool containsString(const char* text) const;
  // Byte offset of the first occurrence, or NOT_FOUND.
  unsigned int indexOfString(BaseString* text) const;
  bool isPlainASCII() const;
  bool isValidIdentifier() const;
  int64_t toS64() const;
  // Like compare, ignoring case and only over the receiver's length, so "abc"
  // equals "ABCdef"; -1, 0 or 1.
  int compareCaseInsensitive(BaseString* other);

  // These return new strings owned by the caller's innermost pool; the receiver is unchanged.
  // Bytes from index start up to (not including) index end, both limited to the length.
  BaseString* substring(unsigned int start, unsigned int end);
  // Non-overlapping occurrences, left to right. An empty search text replaces nothing.
  BaseString* replaceString(const char* search, const char* replacement);
  BaseString* replaceChar(char from, char to);
  BaseString* toLower();
  // ASCII letters, digits and "." stay; every other byte becomes "%xx" (lowercase hexadecimal).
  BaseString* escapeString();
  // escapeString applied between the "/" separators.
  BaseString* urlCompliantPath();
  // Reverses escapeString; "%00" and malformed escapes add no byte.
  BaseString* unescapedString();
  BaseString* pathExtension();
  BaseString* pathWithoutExtension();
  BaseString* lastPathComponent(bool keepExtension = true);
  // May return the receiver itself.
  BaseString* substringByDeletingTrailingSlash();
  BaseString* substringByDeletingLastPathComponent();

  // New containers owned by the caller's innermost pool. maxParts NOT_FOUND: unlimited.
  // Empty pieces are kept; a null separator or an empty receiver gives an empty array, an
  // empty separator one element holding the whole text.
  BaseTypedArray<BaseString>* split(const char* separator, unsigned int maxParts = 0xFFFFFFFFu);
  // Pieces that are not exactly one key and one value are ignored; a later key wins.
  BaseTypedDictionary<BaseString>* splitKeyValuePairs(const char* pairSeparator,
                                                      const char* keyValueSeparator);

  static constexpr unsigned int NOT_FOUND = 0xFFFFFFFFu;

  bool isEqual(BaseObject* other) override;
  int compare(BaseObject* other) override;
  uint32_t hash() override;
  const char* getClass() const override;
  BaseString* toString(int flags = eToStringPlain) override;

  // Every mutation ends here: drops the cached hash.
  virtual void setModified();

protected:
  // Makes room for `needed` bytes of content plus the NUL.
  void extendBuffer(unsigned int needed);
  // Replaces the content with `count` bytes.
  void _setBytes(const char* bytes, size_t count);
  // Appends `count` bytes, which may lie inside this string's own buffer.
  void _appendBytes(const char* bytes, size_t count);

  char* m_stringBuffer;
  wchar_t* m_wideStringBuffer;
  uint32_t m_bufferSize;
  uint32_t m_stringLength;
  uint32_t m_stringHash;
};
