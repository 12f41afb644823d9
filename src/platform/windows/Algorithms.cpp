#include "platform/Algorithms.h"

#include <cstdlib>
#include <cstring>

namespace platform {

const void* findBytes(const void* bytes, size_t length, const void* pattern, size_t patternLength)
{
  if (patternLength == 0) return bytes;
  if (patternLength > length) return nullptr;
  const unsigned char* text = static_cast<const unsigned char*>(bytes);
  const unsigned char* wanted = static_cast<const unsigned char*>(pattern);
  const unsigned char* last = text + (length - patternLength);
  // memchr finds each candidate for the first byte quickly; memcmp checks the rest.
  for (const unsigned char* at = text; at <= last;) {
    const void* next = memchr(at, wanted[0], size_t(last - at) + 1);
    if (!next) return nullptr;
    at = static_cast<const unsigned char*>(next);
    if (memcmp(at + 1, wanted + 1, patternLength - 1) == 0) return at;
    at++;
  }
  return nullptr;
}

void sortWithContext(void* base, size_t count, size_t size, ContextComparison compare, void* context)
{
  // qsort_s passes the context first, as we do.
  qsort_s(base, count, size, compare, context);
}

}  // namespace platform
