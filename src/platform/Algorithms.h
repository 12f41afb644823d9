// Byte search and sorting with a context, which the C libraries offer under different
// names and argument orders.
#pragma once

#include <cstddef>

namespace platform {

// memmem(): the first occurrence of `pattern` in `bytes`, NUL bytes included; an empty
// pattern is found at the start. Null when absent.
const void* findBytes(const void* bytes, size_t length, const void* pattern, size_t patternLength);

// qsort() whose comparison receives `context` first. Not stable.
using ContextComparison = int (*)(void* context, const void* first, const void* second);
void sortWithContext(void* base, size_t count, size_t size, ContextComparison compare, void* context);

}  // namespace platform
