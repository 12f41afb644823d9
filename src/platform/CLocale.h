// Numbers read and written in the "C" locale whatever locale the host process has set:
// JSON and our own texts always use '.' as the decimal point.
#pragma once

#include <cstddef>

namespace platform {

// strtod() in the C locale.
double parseDouble(const char* text, char** end = nullptr);
// snprintf(buffer, size, "%.16g", value) in the C locale; the result of snprintf.
int formatDouble(char* buffer, size_t size, double value);

// snprintf(buffer, size, "%.*f", precision, value) in the calling thread's current locale,
// done without printf where that is sure to give the same text: the length written (no
// NUL), or -1 when the caller must ask printf itself.
int formatFixedQuickly(char* buffer, size_t size, double value, int precision);

}  // namespace platform
