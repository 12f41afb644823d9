#include "crypto/BaseMD5.h"

#include <cstring>

#include "io/BaseBuffer.h"
#include "object/BaseString.h"
#include "runtime/BaseAssert.h"

namespace {

// floor(2^32 * |sin(i + 1)|) for the 64 steps, as RFC 1321 tabulates them.
const uint32_t SINE_TABLE[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left-rotation amounts: four per round, repeated over the round's sixteen steps.
const unsigned int SHIFTS[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

const uint32_t INITIAL_CHAINING[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

inline uint32_t rotateLeft(uint32_t value, unsigned int count)
{
  return (value << count) | (value >> (32 - count));
}

// MD5 reads and writes words least significant byte first, whatever the host's order.
inline uint32_t readLittleEndian(const uint8_t* bytes)
{
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

inline void writeLittleEndian(uint8_t* bytes, uint32_t value)
{
  bytes[0] = uint8_t(value);
  bytes[1] = uint8_t(value >> 8);
  bytes[2] = uint8_t(value >> 16);
  bytes[3] = uint8_t(value >> 24);
}

}  // namespace

BaseMD5::BaseMD5()
{
  m_state.bitCount[0] = 0;
  m_state.bitCount[1] = 0;
  memcpy(m_state.chaining, INITIAL_CHAINING, sizeof m_state.chaining);
  memset(m_state.block, 0, sizeof m_state.block);
  memset(m_digest, 0, sizeof m_digest);
}

BaseMD5::~BaseMD5() {}

const char* BaseMD5::getClass() const
{
  return "BaseMD5";
}

void BaseMD5::appendBytes(const void* bytes, size_t length)
{
  // clang-format off
  BASE_ASSERT(bytes!=nullptr || length==0);
  // clang-format on
  _updateState(m_state, static_cast<const uint8_t*>(bytes), length);
}

void BaseMD5::appendString(BaseString* aString)
{
  // clang-format off
  BASE_ASSERT(aString!=nullptr);
  // clang-format on
  _updateState(m_state, reinterpret_cast<const uint8_t*>(aString->cString()), aString->length());
}

void BaseMD5::appendData(BaseBuffer* data)
{
  // clang-format off
  BASE_ASSERT(data!=nullptr);
  // clang-format on
  _updateState(m_state, data->bytes(), data->length());
}

BaseBuffer* BaseMD5::getRawDigest()
{
  _finishInternal();
  return new (eRetainAutorelease) BaseBuffer(m_digest, DIGEST_LENGTH);
}

BaseString* BaseMD5::getHexDigest()
{
  static const char HEX_DIGITS[] = "0123456789abcdef";
  _finishInternal();
  BaseString* text = new (eRetainAutorelease) BaseString();
  char* characters = text->getBuffer(2 * DIGEST_LENGTH);
  for (int i = 0; i < DIGEST_LENGTH; i++) {
    characters[2 * i] = HEX_DIGITS[m_digest[i] >> 4];
    characters[2 * i + 1] = HEX_DIGITS[m_digest[i] & 0x0f];
  }
  return text;
}

BaseString* BaseMD5::md5FromString(BaseString* aString)
{
  BaseMD5* digest = new (eRetainNone) BaseMD5();
  digest->appendString(aString);
  BaseString* text = digest->getHexDigest();
  digest->release();
  return text;
}

BaseString* BaseMD5::md5FromData(BaseBuffer* data)
{
  BaseMD5* digest = new (eRetainNone) BaseMD5();
  digest->appendData(data);
  BaseString* text = digest->getHexDigest();
  digest->release();
  return text;
}

void BaseMD5::_updateState(State& state, const uint8_t* bytes, size_t length)
{
  if (length == 0) return;
  size_t used = (state.bitCount[0] >> 3) & (BLOCK_LENGTH - 1);

  // The count is kept modulo 2^64 bits, as the length field of the padding is.
  uint64_t bits = (uint64_t(state.bitCount[1]) << 32 | state.bitCount[0]) + (uint64_t(length) << 3);
  state.bitCount[0] = uint32_t(bits);
  state.bitCount[1] = uint32_t(bits >> 32);

  // Complete a started block first, then take whole blocks straight from the input, and
  // keep what is left for the next call.
  if (used > 0) {
    size_t take = BLOCK_LENGTH - used;
    if (length < take) {
      memcpy(state.block + used, bytes, length);
      return;
    }
    memcpy(state.block + used, bytes, take);
    _transformBlock(state.chaining, state.block);
    bytes += take;
    length -= take;
  }
  for (; length >= BLOCK_LENGTH; bytes += BLOCK_LENGTH, length -= BLOCK_LENGTH)
    _transformBlock(state.chaining, bytes);
  if (length > 0) memcpy(state.block, bytes, length);
}

void BaseMD5::_finishInternal()
{
  State finished = m_state;

  // The length is that of the message alone, taken before the padding is added.
  uint8_t lengthField[8];
  writeLittleEndian(lengthField, finished.bitCount[0]);
  writeLittleEndian(lengthField + 4, finished.bitCount[1]);

  // One 0x80 byte, then zeros up to 56 bytes past a block boundary (a whole block of
  // padding when the message already ends at 56 to 63).
  uint8_t padding[BLOCK_LENGTH] = {0x80};
  size_t used = (finished.bitCount[0] >> 3) & (BLOCK_LENGTH - 1);
  size_t paddingLength = used < 56 ? 56 - used : 120 - used;
  _updateState(finished, padding, paddingLength);
  _updateState(finished, lengthField, sizeof lengthField);

  for (int i = 0; i < 4; i++) writeLittleEndian(m_digest + 4 * i, finished.chaining[i]);
}

void BaseMD5::_transformBlock(uint32_t chaining[4], const uint8_t block[BLOCK_LENGTH])
{
  uint32_t words[16];
  for (int i = 0; i < 16; i++) words[i] = readLittleEndian(block + 4 * i);

  uint32_t a = chaining[0], b = chaining[1], c = chaining[2], d = chaining[3];
  for (unsigned int step = 0; step < 64; step++) {
    unsigned int round = step / 16;
    uint32_t mixed;
    unsigned int wordIndex;
    switch (round) {
      case 0:
        mixed = (b & c) | (~b & d);
        wordIndex = step;
        break;
      case 1:
        mixed = (b & d) | (c & ~d);
        wordIndex = (5 * step + 1) % 16;
        break;
      case 2:
        mixed = b ^ c ^ d;
        wordIndex = (3 * step + 5) % 16;
        break;
      default:
        mixed = c ^ (b | ~d);
        wordIndex = (7 * step) % 16;
        break;
    }
    uint32_t sum = a + mixed + words[wordIndex] + SINE_TABLE[step];
    a = d;
    d = c;
    c = b;
    b = b + rotateLeft(sum, SHIFTS[round][step % 4]);
  }

  chaining[0] += a;
  chaining[1] += b;
  chaining[2] += c;
  chaining[3] += d;
}
