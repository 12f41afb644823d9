#include "platform/Unicode.h"

#include <windows.h>

#include <winnls.h>

#include "platform/windows/WideText.h"

namespace platform {

bool composeUnicode(const char* text, size_t length, std::string& composed)
{
  if (length > 0x7FFFFFFFu) return false;
  if (length == 0) {
    composed.clear();
    return true;
  }
  // Strict decoding: bytes that are not UTF-8 have no Unicode form to normalize.
  int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, int(length), nullptr, 0);
  if (wideLength <= 0) return false;
  std::wstring wide(size_t(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, int(length), &wide[0], wideLength);

  // The first call estimates; a second one may be needed when the estimate was short.
  int estimate = NormalizeString(NormalizationC, wide.data(), wideLength, nullptr, 0);
  for (int attempt = 0; attempt < 4 && estimate > 0; attempt++) {
    std::wstring normal(size_t(estimate), L'\0');
    int written = NormalizeString(NormalizationC, wide.data(), wideLength, &normal[0], estimate);
    if (written > 0) {
      normal.resize(size_t(written));
      composed = utf8FromWide(normal);
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    estimate = -written;
  }
  return false;
}

}  // namespace platform
