#include "platform/Console.h"

#include <windows.h>

namespace platform {

namespace {

// WriteFile on the standard handle: the C library's write() on a descriptor the process
// never had may end in its invalid-parameter handler, which stops the process.
void writeAll(DWORD which, const char* text, size_t length)
{
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  while (length > 0) {
    DWORD written = 0;
    DWORD chunk = length > 0x10000 ? 0x10000 : DWORD(length);
    if (!WriteFile(handle, text, chunk, &written, nullptr) || written == 0) return;
    text += written;
    length -= written;
  }
}

}  // namespace

void writeStandardOutput(const char* text, size_t length)
{
  writeAll(STD_OUTPUT_HANDLE, text, length);
}

void writeStandardError(const char* text, size_t length)
{
  writeAll(STD_ERROR_HANDLE, text, length);
}

}  // namespace platform
