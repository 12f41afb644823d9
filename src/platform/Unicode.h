// Unicode normalization of UTF-8 text.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Normalization Form C (canonical composition) of `length` bytes of UTF-8. False, with
// `composed` untouched, when the bytes are not valid UTF-8 or the system cannot tell.
bool composeUnicode(const char* text, size_t length, std::string& composed);

}  // namespace platform
