// Integers as text without printf, for the formatters: digits are written backwards from
// the end of the caller's buffer, so no length need be known first.
#pragma once

namespace Digits {

// Room for any 64-bit value in base 8, 10 or 16, with a sign.
const unsigned MAX_LENGTH = 24;

// The magnitude of `value`, defined for the most negative one too.
inline unsigned long long magnitudeOf(long long value)
{
  return value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
}

// The digits of `value` in base 8, 10 or 16, ending at `end`; returns where they start.
// Zero has the one digit "0".
char* write(char* end, unsigned long long value, int base = 10, bool upper = false);
// `value` as "%lld" prints it, ending at `end`; returns where it starts.
char* writeDecimal(char* end, long long value);

}  // namespace Digits
