#include "platform/Algorithms.h"

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

struct Comparison
{
  ContextComparison compare;
  void* context;
};

int compareInOrder(const void* first, const void* second, void* comparison)
{
  const Comparison* call = static_cast<const Comparison*>(comparison);
  return call->compare(call->context, first, second);
}

}  // namespace

const void* findBytes(const void* bytes, size_t length, const void* pattern, size_t patternLength)
{
  return memmem(bytes, length, pattern, patternLength);
}

void sortWithContext(void* base, size_t count, size_t size, ContextComparison compare, void* context)
{
  Comparison call = {compare, context};
  qsort_r(base, count, size, compareInOrder, &call);
}

}  // namespace platform
