// The packed integer of the object stream, as pure functions on bytes: no stream, no
// object, no logging. A first byte holds the sign (0x80), whether extension bytes follow
// (0x40) and either the whole magnitude (0 to 63) or, with extensions, their count less one
// (bits 3-5) and the magnitude's low three bits; the extension bytes hold the rest of the
// magnitude, least significant first. The serializer and corvane-dump share these rules.
#pragma once

#include <cstdint>
#include <cstring>

namespace PackedInteger {

// The first byte and at most eight extension bytes.
const unsigned MAX_LENGTH = 9;
// A 32-bit field has at most four extension bytes; a 64-bit field may have all eight.
const unsigned MAX_EXTENSION_32 = 4;
const unsigned MAX_EXTENSION_64 = 8;
// The largest magnitudes of the two fields: INT_MIN and LLONG_MIN have no packed form.
const uint64_t MAX_MAGNITUDE_32 = 0x7FFFFFFFull;
const uint64_t MAX_MAGNITUDE_64 = 0x7FFFFFFFFFFFFFFFull;

// Writes the form of the signed magnitude at `out`, which has room for MAX_LENGTH bytes
// (all of which may be written to); returns the length of the form, 1 to MAX_LENGTH.
// Inline: every integer the serializer writes goes through it.
inline unsigned encode(bool negative, uint64_t magnitude, unsigned char* out)
{
  const unsigned char sign = negative ? 0x80 : 0;
  if (magnitude <= 63) {
    out[0] = (unsigned char)(sign | magnitude);
    return 1;
  }
  // The fewest bytes that hold the magnitude shifted right by 3 (at least 8, so one).
  const uint64_t high = magnitude >> 3;
  const unsigned extension = (unsigned)(64 - __builtin_clzll(high) + 7) / 8;
  out[0] = (unsigned char)(sign | 0x40 | ((extension - 1) << 3) | (magnitude & 7));
  // Least significant byte first; `out` has room for all eight.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  memcpy(out + 1, &high, 8);
#else
  for (unsigned i = 0; i < 8; i++) out[1 + i] = (unsigned char)(high >> (8 * i));
#endif
  return 1 + extension;
}

inline bool isNegative(unsigned char first)
{
  return (first & 0x80) != 0;
}
// How many extension bytes follow `first`: 0 to 8.
inline unsigned extensionLength(unsigned char first)
{
  return (first & 0x40) ? ((first >> 3) & 7) + 1u : 0u;
}
// The magnitude of a form whose extensionLength(first) extension bytes are at `extension`
// (unused when there are none). False when it exceeds `maxMagnitude`.
bool decodeMagnitude(unsigned char first, const unsigned char* extension, uint64_t maxMagnitude,
                     uint64_t& magnitude);

}  // namespace PackedInteger
