#include "platform/Console.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

void writeAll(int descriptor, const char* text, size_t length)
{
  while (length > 0) {
    ssize_t written = write(descriptor, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= size_t(written);
  }
}

}  // namespace

void writeStandardOutput(const char* text, size_t length)
{
  writeAll(STDOUT_FILENO, text, length);
}

void writeStandardError(const char* text, size_t length)
{
  writeAll(STDERR_FILENO, text, length);
}

}  // namespace platform
