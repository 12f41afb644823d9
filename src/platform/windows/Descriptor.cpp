#include "platform/Descriptor.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <chrono>

#include "platform/windows/WideText.h"

namespace platform {

bool openPipe(int ends[2])
{
  return _pipe(ends, 65536, _O_BINARY | _O_NOINHERIT) == 0;
}

int createFile(const char* path)
{
  return _wopen(wideFromUtf8(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}

namespace {

// Whether a read from the handle would return at once.
bool readable(HANDLE handle)
{
  switch (GetFileType(handle)) {
    case FILE_TYPE_PIPE: {
      DWORD available = 0;
      // A pipe whose writer has gone fails here: a read would return its end at once.
      if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return true;
      return available > 0;
    }
    case FILE_TYPE_CHAR:
      return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    default:
      return true;  // files, and what cannot be told: let the read decide
  }
}

}  // namespace

int waitForInput(const int* fds, int count, int timeoutMs)
{
  if (count < 0 || count > 8) return -1;
  HANDLE handles[8];
  for (int i = 0; i < count; ++i) {
    handles[i] = reinterpret_cast<HANDLE>(_get_osfhandle(fds[i]));
    if (handles[i] == INVALID_HANDLE_VALUE) return -1;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (DWORD pause = 1;; pause = pause < 8 ? pause * 2 : pause) {
    int bits = 0;
    for (int i = 0; i < count; ++i)
      if (readable(handles[i])) bits |= 1 << i;
    if (bits != 0) return bits;
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= end) return 0;
    Sleep(pause);
  }
}

bool waitForRoom(int, int)
{
  return true;
}

void setNonBlocking(int) {}

void setBinaryMode(int fd)
{
  _setmode(fd, _O_BINARY);
}

}  // namespace platform
