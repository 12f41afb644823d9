// MD5 digests (RFC 1321) of bytes, strings and byte buffers, fed incrementally, handed out
// as 16 raw bytes or as 32 lower-case hexadecimal characters. The object owns only its
// fixed-size state and keeps no reference to what it was fed. One thread at a time per
// object; the class operations share no state and may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "object/BaseObject.h"

class BaseBuffer;
class BaseFile;
class BaseString;

class BaseMD5 : public BaseObject
{
public:
  enum
  {
    DIGEST_LENGTH = 16,
    BLOCK_LENGTH = 64
  };

  BaseMD5();
  ~BaseMD5() override;

  const char* getClass() const override;

  // A null pointer is allowed only with a length of 0, which changes nothing.
  void appendBytes(const void* bytes, size_t length);
  // The string's UTF-8 bytes, its byte length of them, without the terminating zero.
  void appendString(BaseString* aString);
  // The buffer's whole data, whatever its read position. Not for a FIFO being written to.
  void appendData(BaseBuffer* data);
  // The file's whole content from offset 0, read through the file object, which is closed
  // afterwards (also when it was open before). False when it cannot be opened, or when a
  // read fails before the end: the digest would not be that of the file. Defined with the
  // files (files/BaseMD5File.cpp): the digest itself knows only bytes.
  bool appendFile(BaseFile* file);

  // Taking a digest finishes a copy of the running state: the object may be asked again
  // (same answer) or fed further, and then digests everything fed so far.
  // A new buffer of the 16 digest bytes in the caller's innermost pool.
  BaseBuffer* getRawDigest();
  // A new string in the caller's innermost pool: each digest byte as "%02x".
  BaseString* getHexDigest();

  // The hexadecimal digest of the string's or buffer's bytes, in the caller's innermost pool.
  static BaseString* md5FromString(BaseString* aString);
  static BaseString* md5FromData(BaseBuffer* data);
  // Null when appendFile fails.
  static BaseString* md5FromFile(BaseFile* file);

protected:
  // Adds the padding and the length to a copy of the running state and fills m_digest.
  void _finishInternal();
  // One 64-byte block through the four rounds, into `chaining`.
  static void _transformBlock(uint32_t chaining[4], const uint8_t block[BLOCK_LENGTH]);

  // The running state, updated by every append: bits processed so far modulo 2^64 (low
  // word first), the chaining words, and the bytes of an incomplete block.
  struct State
  {
    uint32_t bitCount[2];
    uint32_t chaining[4];
    uint8_t block[BLOCK_LENGTH];
  };
  static void _updateState(State& state, const uint8_t* bytes, size_t length);

  State m_state;
  uint8_t m_digest[DIGEST_LENGTH];  // the last digest taken
};
