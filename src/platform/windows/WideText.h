// UTF-8 to UTF-16 and back, for the system calls of Windows, which take UTF-16.
#pragma once

#include <string>

namespace platform {

// Invalid UTF-8 becomes U+FFFD; an empty input gives an empty result.
std::wstring wideFromUtf8(const char* text);
std::wstring wideFromUtf8(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string utf8FromWide(const std::wstring& text);

}  // namespace platform
