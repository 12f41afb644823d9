// The bit patterns of doubles and 64-bit integers, for code that stores or sends values
// exactly (the number object, the object stream). Copies bytes, so no aliasing rules bend.
#pragma once

#include <cstdint>
#include <cstring>

inline uint64_t bitsOfDouble(double value)
{
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline double doubleOfBits(uint64_t bits)
{
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}
