// The text object: a mutable, reference-counted byte sequence, always NUL-terminated and
// treated as UTF-8. Lengths and indices count bytes. The hash is cached until the next
// change. Not safe for concurrent mutation; hash() writes its cache, so a string may be
// shared read-only between threads only once its hash has been computed.
#pragma once

#include <cstdint>

#include "object/BaseObject.h"

class BaseString : public BaseObject
{
public:
  BaseString();
  explicit BaseString(unsigned int capacity);
  explicit BaseString(const BaseString* other);
  BaseString(const char* text, int length = -1);
  ~BaseString() override;

  // Clears every field without freeing (raw storage only).
  void init();

  // A negative length means up to the NUL.
  void setCString(const char* aCString, int length = -1);
  void setString(BaseString* aString);
  void append(const char* text, int length = -1);
  void append(BaseString* aString);

  const char* cString() const { return stringBuffer; }
  unsigned int length() const { return stringLength; }

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

  char* stringBuffer;
  wchar_t* wideStringBuffer;
  uint32_t bufferSize;
  uint32_t stringLength;
  uint32_t stringHash;
};
