#include "platform/Files.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cctype>
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

// Names that Windows resolves to a device in any folder (NUL, CON, COM1, ...), and paths in
// the device namespace ("\\\\.\\pipe\\..."): only a handle tells what they are.
bool isDevicePath(const char* path)
{
  if ((isPathSeparator(path[0]) && isPathSeparator(path[1]) && (path[2] == '.' || path[2] == '?')))
    return true;
  const char* name = path;
  for (const char* c = path; *c; c++)
    if (isPathSeparator(*c) || *c == ':') name = c + 1;
  std::string stem;
  for (const char* c = name; *c && *c != '.'; c++) stem += (char)toupper((unsigned char)*c);
  static const char* const DEVICES[] = {"NUL", "CON", "PRN", "AUX", "CONIN$", "CONOUT$"};
  for (const char* device : DEVICES)
    if (stem == device) return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

bool fileStatus(const char* path, FileStatus& status, bool followLinks)
{
  status = FileStatus();
  // Plain files and directories by name, without opening them (Wine counts some queries on an
  // open file as an access); links and devices through a handle.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!isDevicePath(path)) {
    if (!GetFileAttributesExW(wideFromUtf8(path).c_str(), GetFileExInfoStandard, &data)) {
      setErrnoFromLastError();
      return false;
    }
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      status.kind = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? eFileDirectory
                    : data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE  ? eFileOther
                                                                      : eFileRegular;
      status.size = (int64_t)(((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow);
      status.accessTime = secondsOf(data.ftLastAccessTime);
      status.modificationTime = secondsOf(data.ftLastWriteTime);
      status.changeTime = secondsOf(data.ftCreationTime);
      return true;
    }
  }
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

int filePermissions(const char*)
{
  return -1;
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

bool flushStream(FILE* stream)
{
  // A seek writes what is pending and drops read-ahead bytes, and leaves the stream where it
  // was; streams that cannot seek (pipes, devices) read nothing ahead that could be lost.
  int64_t at = _ftelli64(stream);
  if (at >= 0 && _fseeki64(stream, at, SEEK_SET) == 0) return true;
  return fflush(stream) == 0;
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
  bool pathNotFound = GetLastError() == ERROR_PATH_NOT_FOUND;
  setErrnoFromLastError();
  if (!pathNotFound) return false;
  // A file where a folder of the path should be is ENOTDIR, as on POSIX systems, rather than
  // a missing path.
  std::string ancestor = path;
  for (size_t end; (end = ancestor.find_last_of("/\\")) != std::string::npos && end > 0;) {
    ancestor.resize(end);
    FileStatus status;
    if (!fileStatus(ancestor.c_str(), status)) continue;
    if (status.kind != eFileDirectory) errno = ENOTDIR;
    break;
  }
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

FileLock lockFile(const char* path, bool& opened, bool wait)
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
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0, &at)) {
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

// Fills the template's final XXXXXX with random letters until `make` creates a new entry
// there (at most 100 tries); false with errno set otherwise.
template <typename Make>
static bool createUnique(char* pathTemplate, Make make)
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
    if (make(wideFromUtf8(pathTemplate))) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  setErrnoFromLastError();
  return false;
}

bool createUniqueFile(char* pathTemplate)
{
  return createUnique(pathTemplate, [](const std::wstring& path) {
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
  });
}

bool createUniqueDirectory(char* pathTemplate)
{
  // Inside the user's temporary folder, the inherited permissions are the user's alone.
  return createUnique(pathTemplate,
                      [](const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; });
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

const char* temporaryDirectoryVariable()
{
  // GetTempPath reads TMP first, then TEMP.
  return "TMP";
}

bool makeSymbolicLink(const char* target, const char* path)
{
  std::string native = target;
  for (char& c : native)
    if (c == '/') c = '\\';
  // A link to a directory is made as one; the target is looked up from the link's folder.
  std::string resolved = target;
  bool absolute = !resolved.empty() && (isPathSeparator(resolved[0]) || resolved.find(':') != std::string::npos);
  if (!absolute) {
    std::string folder = path;
    size_t end = folder.find_last_of("/\\");
    resolved = (end == std::string::npos ? std::string(".") : folder.substr(0, end)) + "/" + resolved;
  }
  FileStatus status;
  DWORD flags = fileStatus(resolved.c_str(), status) && status.kind == eFileDirectory ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
  std::wstring link = wideFromUtf8(path), wideTarget = wideFromUtf8(native);
  // Without administrator rights only in developer mode (Windows 10 1703 on); older systems
  // refuse the flag that asks for it.
  const DWORD UNPRIVILEGED = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  bool made = CreateSymbolicLinkW(link.c_str(), wideTarget.c_str(), flags | UNPRIVILEGED) ||
              (GetLastError() == ERROR_INVALID_PARAMETER && CreateSymbolicLinkW(link.c_str(), wideTarget.c_str(), flags));
  if (!made) {
    if (GetLastError() == ERROR_PRIVILEGE_NOT_HELD) {
      errno = ENOSYS;
    } else {
      setErrnoFromLastError();
    }
    return false;
  }
  // Wine answers success and makes nothing.
  if (!fileStatus(path, status, false) || status.kind != eFileSymbolicLink) {
    errno = ENOSYS;
    return false;
  }
  return true;
}

bool readSymbolicLink(const char* path, std::string& target)
{
  HANDLE handle = openForStatus(path, false);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // REPARSE_DATA_BUFFER's symbolic-link form, which only the driver kit's headers declare.
  struct LinkReparseData
  {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
    DWORD flags;
    WCHAR names[1];
  };
  union {
    LinkReparseData data;
    BYTE bytes[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
  } buffer;
  DWORD length = 0;
  bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, &buffer, sizeof buffer, &length, nullptr);
  if (!read) setErrnoFromLastError();
  CloseHandle(handle);
  if (!read) return false;
  if (buffer.data.tag != IO_REPARSE_TAG_SYMLINK) {
    errno = EINVAL;
    return false;
  }
  // The name to show, as it was written; the name the system substitutes when there is none.
  const WCHAR* names = buffer.data.names;
  std::wstring wide =
      buffer.data.printLength
          ? std::wstring(names + buffer.data.printOffset / 2, buffer.data.printLength / 2)
          : std::wstring(names + buffer.data.substituteOffset / 2, buffer.data.substituteLength / 2);
  target = utf8FromWide(wide);
  for (char& c : target)
    if (c == '\\') c = '/';
  return true;
}

bool makeHardLink(const char* existing, const char* path)
{
  if (CreateHardLinkW(wideFromUtf8(path).c_str(), wideFromUtf8(existing).c_str(), nullptr)) return true;
  setErrnoFromLastError();
  return false;
}

bool makeNamedPipe(const char*)
{
  // Windows' named pipes live apart from the file system.
  errno = ENOSYS;
  return false;
}

bool startsWithDrive(const char* path)
{
  return isalpha((unsigned char)path[0]) && path[1] == ':';
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
