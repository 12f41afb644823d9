#include "object/Digits.h"

namespace Digits {

namespace {

const char DECIMAL_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

char* write(char* end, unsigned long long value, int base, bool upper)
{
  char* at = end;
  if (base == 10) {
    while (value >= 100) {
      unsigned int pair = static_cast<unsigned int>(value % 100) * 2;
      value /= 100;
      *--at = DECIMAL_PAIRS[pair + 1];
      *--at = DECIMAL_PAIRS[pair];
    }
    if (value >= 10) {
      unsigned int pair = static_cast<unsigned int>(value) * 2;
      *--at = DECIMAL_PAIRS[pair + 1];
      *--at = DECIMAL_PAIRS[pair];
    } else {
      *--at = static_cast<char>('0' + value);
    }
    return at;
  }
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  const unsigned int shift = base == 16 ? 4 : 3;
  do {
    *--at = digits[value & (base - 1)];
    value >>= shift;
  } while (value != 0);
  return at;
}

char* writeDecimal(char* end, long long value)
{
  char* at = write(end, magnitudeOf(value));
  if (value < 0) *--at = '-';
  return at;
}

}  // namespace Digits
