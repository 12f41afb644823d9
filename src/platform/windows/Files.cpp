#include "platform/Files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/windows/WideText.h"

namespace platform {

namespace {

// Seconds between 1601-01-01 (FILETIME's origin) and 1970-01-01.
constexpr int64_t EPOCH_DIFFERENCE = 11644473600LL;
constexpr int64_t TICKS_PER_SECOND = 10000000LL;

void setErrnoFromLastError()
{
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DIR_NOT_EMPTY:
      errno = ENOTEMPTY;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_DIRECTORY:
      errno = ENOTDIR;
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      errno = ENOMEM;
      break;
    default:
      errno = EIO;
      break;
  }
}

int64_t secondsOf(const FILETIME& time)
{
  int64_t ticks = (int64_t)(((uint64_t)time.dwHighDateTime << 32) | time.dwLowDateTime);
  return ticks / TICKS_PER_SECOND - EPOCH_DIFFERENCE;
}

bool fileTimeOf(int64_t seconds, FILETIME& time)
{
  if (seconds < -EPOCH_DIFFERENCE || seconds > INT64_MAX / TICKS_PER_SECOND - EPOCH_DIFFERENCE) return false;
  uint64_t ticks = (uint64_t)((seconds + EPOCH_DIFFERENCE) * TICKS_PER_SECOND);
  time.dwLowDateTime = (DWORD)ticks;
  time.dwHighDateTime = (DWORD)(ticks >> 32);
  return true;
}

// A handle for reading the status, following links or not; directories open too.
HANDLE openForStatus(const char* path, bool followLinks, DWORD access = FILE_READ_ATTRIBUTES)
{
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE handle =
      CreateFileW(wideFromUtf8(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) setErrnoFromLastError();
  return handle;
}

// Symbolic links and junctions: what a POSIX system would report as a link.
bool isLinkHandle(HANDLE handle, DWORD attributes)
{
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) return true;
  return tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT;
}

bool statusOfHandle(HANDLE handle, bool followLinks, FileStatus& status)
{
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) {
    setErrnoFromLastError();
    return false;
  }
  if (!followLinks && isLinkHandle(handle, information.dwFileAttributes))
    status.kind = eFileSymbolicLink;
  else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    status.kind = eFileDirectory;
  else if (GetFileType(handle) == FILE_TYPE_DISK)
    status.kind = eFileRegular;
  else
    status.kind = eFileOther;
  status.size = (int64_t)(((uint64_t)information.nFileSizeHigh << 32) | information.nFileSizeLow);
  status.accessTime = secondsOf(information.ftLastAccessTime);
  status.modificationTime = secondsOf(information.ftLastWriteTime);
  status.changeTime = secondsOf(information.ftCreationTime);
  return true;
}

// True when a symbolic link or junction sits at the path itself.
bool isLinkAtPath(const char* path)
{
  FileStatus status;
  return fileStatus(path, status, false) && status.kind == eFileSymbolicLink;
}

std::wstring wideMode(const char* mode)
{
  std::wstring wide;
  // "e" (close-on-exec) is "N" (not inherited) to the Windows C library.
  for (const char* c = mode; *c; c++) wide += *c == 'e' ? L'N' : wchar_t(*c);
  return wide;
}

}  // namespace

bool fileStatus(const char* path, FileStatus& status, bool followLinks)
{
  status = FileStatus();
  HANDLE handle = openForStatus(path, followLinks);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool taken = statusOfHandle(handle, followLinks, status);
  CloseHandle(handle);
  if (!taken) status = FileStatus();
  return taken;
}

bool streamStatus(FILE* stream, FileStatus& status)
{
  status = FileStatus();
  HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  if (statusOfHandle(handle, true, status)) return true;
  status = FileStatus();
  return false;
}

bool isSameFile(const char* first, const char* second)
{
  BY_HANDLE_FILE_INFORMATION information[2];
  const char* paths[2] = {first, second};
  for (int i = 0; i < 2; i++) {
    HANDLE handle = openForStatus(paths[i], true);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool taken = GetFileInformationByHandle(handle, &information[i]);
    CloseHandle(handle);
    if (!taken) return false;
  }
  return information[0].dwVolumeSerialNumber == information[1].dwVolumeSerialNumber &&
         information[0].nFileIndexHigh == information[1].nFileIndexHigh &&
         information[0].nFileIndexLow == information[1].nFileIndexLow;
}

FILE* openStream(const char* path, const char* mode)
{
  return _wfopen(wideFromUtf8(path).c_str(), wideMode(mode).c_str());
}

FILE* openStreamNoFollow(const char* path, bool create)
{
  if (isLinkAtPath(path)) {
    errno = ELOOP;
    return nullptr;
  }
  // A handle made here is not inheritable (no security attributes ask for it).
  HANDLE handle = CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              create ? CREATE_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    setErrnoFromLastError();
    return nullptr;
  }
  FileStatus status;
  if (!statusOfHandle(handle, false, status) || status.kind != eFileRegular) {
    CloseHandle(handle);
    errno = status.kind == eFileSymbolicLink ? ELOOP : EISDIR;
    return nullptr;
  }
  int descriptor = _open_osfhandle((intptr_t)handle, _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* stream = _fdopen(descriptor, create ? "wb+" : "rb+");
  if (!stream) _close(descriptor);
  return stream;
}

int64_t streamOffset(FILE* stream)
{
  return _ftelli64(stream);
}

bool seekStream(FILE* stream, int64_t offset, int whence)
{
  return _fseeki64(stream, offset, whence) == 0;
}

bool truncateFile(const char* path, int64_t length)
{
  HANDLE handle = CreateFileW(wideFromUtf8(path).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    setErrnoFromLastError();
    return false;
  }
  LARGE_INTEGER position;
  position.QuadPart = length;
  bool done = SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
  if (!done) setErrnoFromLastError();
  CloseHandle(handle);
  return done;
}

bool setFileTimes(const char* path, int64_t accessTime, int64_t modificationTime)
{
  FILETIME access, modification;
  if (!fileTimeOf(accessTime, access) || !fileTimeOf(modificationTime, modification)) {
    errno = EINVAL;
    return false;
  }
  HANDLE handle = openForStatus(path, true, FILE_WRITE_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool done = SetFileTime(handle, nullptr, &access, &modification);
  if (!done) setErrnoFromLastError();
  CloseHandle(handle);
  return done;
}

bool removeFile(const char* path)
{
  std::wstring wide = wideFromUtf8(path);
  if (DeleteFileW(wide.c_str())) return true;
  // A link to a directory is itself a directory entry to Windows.
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && RemoveDirectoryW(wide.c_str()))
    return true;
  SetLastError(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                   ? ERROR_ACCESS_DENIED
                   : GetLastError());
  setErrnoFromLastError();
  return false;
}

bool removeDirectory(const char* path)
{
  if (RemoveDirectoryW(wideFromUtf8(path).c_str())) return true;
  setErrnoFromLastError();
  return false;
}

bool makeDirectory(const char* path)
{
  if (CreateDirectoryW(wideFromUtf8(path).c_str(), nullptr)) return true;
  setErrnoFromLastError();
  return false;
}

bool renamePath(const char* from, const char* to)
{
  if (MoveFileExW(wideFromUtf8(from).c_str(), wideFromUtf8(to).c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  setErrnoFromLastError();
  return false;
}

bool listDirectory(const char* path, bool noFollow, std::vector<std::string>& names)
{
  names.clear();
  if (noFollow && isLinkAtPath(path)) {
    errno = ELOOP;
    return false;
  }
  std::wstring pattern = wideFromUtf8(path);
  if (!pattern.empty() && pattern.back() != L'/' && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(pattern.c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    // A drive's root may hold no entry at all, not even ".".
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
    setErrnoFromLastError();
    return false;
  }
  do {
    names.push_back(utf8FromWide(entry.cFileName));
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return true;
}

FileLock lockFile(const char* path, bool& opened)
{
  HANDLE handle = CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  opened = handle != INVALID_HANDLE_VALUE;
  if (!opened) {
    setErrnoFromLastError();
    return NO_FILE_LOCK;
  }
  // Windows locks are mandatory: the lock covers one byte far beyond any content, so that
  // it only stops other lockers, as an advisory lock would, and never a read or a write.
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFEu;
  at.OffsetHigh = 0x7FFFFFFFu;
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    setErrnoFromLastError();
    CloseHandle(handle);
    return NO_FILE_LOCK;
  }
  return (FileLock)handle;
}

void unlockFile(FileLock lock)
{
  if (lock == NO_FILE_LOCK) return;
  HANDLE handle = (HANDLE)lock;
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFEu;
  at.OffsetHigh = 0x7FFFFFFFu;
  UnlockFileEx(handle, 0, 1, 0, &at);
  CloseHandle(handle);
}

bool createUniqueFile(char* pathTemplate)
{
  static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  size_t length = strlen(pathTemplate);
  if (length < 6 || strcmp(pathTemplate + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return false;
  }
  std::random_device source;
  for (int attempt = 0; attempt < 100; attempt++) {
    for (size_t i = length - 6; i < length; i++) pathTemplate[i] = LETTERS[source() % (sizeof LETTERS - 1)];
    HANDLE handle = CreateFileW(wideFromUtf8(pathTemplate).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  setErrnoFromLastError();
  return false;
}

std::string defaultTemporaryDirectory()
{
  wchar_t buffer[MAX_PATH + 2];
  DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
  if (length == 0 || length > MAX_PATH + 1) return "C:/Windows/Temp";
  std::string path = utf8FromWide(std::wstring(buffer, length));
  // The framework joins paths with '/', which Windows takes as well.
  for (char& c : path)
    if (c == '\\') c = '/';
  while (path.size() > 3 && path.back() == '/') path.pop_back();
  return path;
}

bool isPathSeparator(char c)
{
  return c == '/' || c == '\\';
}

bool isUnsafeInFileName(char c)
{
  return c == '/' || c == '\\' || c == ':';
}

}  // namespace platform
