#include "serialization/PackedInteger.h"

namespace PackedInteger {

bool decodeMagnitude(unsigned char first, const unsigned char* extension, uint64_t maxMagnitude,
                     uint64_t& magnitude)
{
  const unsigned count = extensionLength(first);
  if (count == 0) {
    magnitude = first & 0x3F;
    return magnitude <= maxMagnitude;
  }
  uint64_t high = 0;
  for (unsigned i = count; i-- > 0;) high = (high << 8) | extension[i];
  if (high > (maxMagnitude >> 3)) return false;
  magnitude = (high << 3) | (first & 7);
  return true;
}

}  // namespace PackedInteger
