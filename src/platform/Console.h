// The process's standard output and error, written directly and unbuffered, for lines that
// must not depend on the logging facility or on stdio's buffering. Silent when the stream
// is closed or missing (a windowed program on Windows has none).
#pragma once

#include <cstddef>

namespace platform {

void writeStandardOutput(const char* text, size_t length);
void writeStandardError(const char* text, size_t length);

}  // namespace platform
