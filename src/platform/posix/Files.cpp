#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

void fillStatus(const struct stat& raw, FileStatus& status)
{
  if (S_ISREG(raw.st_mode))
    status.kind = eFileRegular;
  else if (S_ISDIR(raw.st_mode))
    status.kind = eFileDirectory;
  else if (S_ISLNK(raw.st_mode))
    status.kind = eFileSymbolicLink;
  else
    status.kind = eFileOther;
  status.size = (int64_t)raw.st_size;
  status.accessTime = (int64_t)raw.st_atime;
  status.modificationTime = (int64_t)raw.st_mtime;
  status.changeTime = (int64_t)raw.st_ctime;
}

}  // namespace

bool fileStatus(const char* path, FileStatus& status, bool followLinks)
{
  struct stat raw;
  status = FileStatus();
  if ((followLinks ? stat(path, &raw) : lstat(path, &raw)) != 0) return false;
  fillStatus(raw, status);
  return true;
}

bool streamStatus(FILE* stream, FileStatus& status)
{
  struct stat raw;
  status = FileStatus();
  if (fstat(fileno(stream), &raw) != 0) return false;
  fillStatus(raw, status);
  return true;
}

int filePermissions(const char* path)
{
  struct stat raw;
  return stat(path, &raw) == 0 ? int(raw.st_mode & 07777) : -1;
}

bool isSameFile(const char* first, const char* second)
{
  struct stat a, b;
  return stat(first, &a) == 0 && stat(second, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FILE* openStream(const char* path, const char* mode)
{
  return fopen(path, mode);
}

FILE* openStreamNoFollow(const char* path, bool create)
{
  int descriptor = create ? open(path, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666)
                          : open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  FILE* stream = fdopen(descriptor, create ? "wb+" : "rb+");
  if (!stream) {
    int error = errno;
    close(descriptor);
    errno = error;
  }
  return stream;
}

bool flushStream(FILE* stream)
{
  return fflush(stream) == 0;
}

int64_t streamOffset(FILE* stream)
{
  return (int64_t)ftello(stream);
}

bool seekStream(FILE* stream, int64_t offset, int whence)
{
  return fseeko(stream, (off_t)offset, whence) == 0;
}

bool truncateFile(const char* path, int64_t length)
{
  return truncate(path, (off_t)length) == 0;
}

bool setFileTimes(const char* path, int64_t accessTime, int64_t modificationTime)
{
  struct timeval times[2] = {};
  times[0].tv_sec = (time_t)accessTime;
  times[1].tv_sec = (time_t)modificationTime;
  return utimes(path, times) == 0;
}

bool removeFile(const char* path)
{
  return unlink(path) == 0;
}

bool removeDirectory(const char* path)
{
  return rmdir(path) == 0;
}

bool makeDirectory(const char* path)
{
  return mkdir(path, 0777) == 0;
}

bool renamePath(const char* from, const char* to)
{
  return rename(from, to) == 0;
}

bool listDirectory(const char* path, bool noFollow, std::vector<std::string>& names)
{
  names.clear();
  DIR* directory;
  if (noFollow) {
    int descriptor = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    directory = descriptor >= 0 ? fdopendir(descriptor) : nullptr;
    if (!directory && descriptor >= 0) close(descriptor);
  } else {
    directory = opendir(path);
  }
  if (!directory) return false;
  while (struct dirent* entry = readdir(directory)) names.emplace_back(entry->d_name);
  closedir(directory);
  return true;
}

FileLock lockFile(const char* path, bool& opened, bool wait)
{
  int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  opened = descriptor >= 0;
  if (!opened) return NO_FILE_LOCK;
  while (flock(descriptor, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
    if (errno == EINTR) continue;
    close(descriptor);
    return NO_FILE_LOCK;
  }
  return descriptor;
}

void unlockFile(FileLock lock)
{
  if (lock == NO_FILE_LOCK) return;
  flock((int)lock, LOCK_UN);
  close((int)lock);
}

bool createUniqueFile(char* pathTemplate)
{
  int descriptor = mkstemp(pathTemplate);
  if (descriptor < 0) return false;
  close(descriptor);
  return true;
}

bool createUniqueDirectory(char* pathTemplate)
{
  return mkdtemp(pathTemplate) != nullptr;
}

std::string defaultTemporaryDirectory()
{
  const char* value = getenv(temporaryDirectoryVariable());
  return value && *value ? value : "/tmp";
}

const char* temporaryDirectoryVariable()
{
  return "TMPDIR";
}

bool makeSymbolicLink(const char* target, const char* path)
{
  return symlink(target, path) == 0;
}

bool readSymbolicLink(const char* path, std::string& target)
{
  char buffer[4096];
  ssize_t length = readlink(path, buffer, sizeof buffer);
  if (length < 0) return false;
  target.assign(buffer, (size_t)length);
  return true;
}

bool makeHardLink(const char* existing, const char* path)
{
  return link(existing, path) == 0;
}

bool makeNamedPipe(const char* path)
{
  return mkfifo(path, 0600) == 0;
}

bool startsWithDrive(const char*)
{
  return false;
}

bool isPathSeparator(char c)
{
  return c == '/';
}

bool isUnsafeInFileName(char c)
{
  return c == '/';
}

}  // namespace platform
