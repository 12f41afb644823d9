// File-system calls on UTF-8 paths: status, streams, links left unfollowed, directories,
// times, locks, unique temporary files and replacing renames. On Windows the names are
// handed to the system as UTF-16. A failing call returns false (or null) and leaves the
// reason in errno. Any thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

enum eFileKind
{
  eFileMissing,  // nothing there, or the status could not be taken
  eFileRegular,
  eFileDirectory,
  eFileSymbolicLink,  // only when links are not followed
  eFileOther          // devices, pipes, sockets
};

// Times are whole seconds since 1970 (UTC). The change time is the status change on POSIX
// systems and the creation on Windows.
struct FileStatus
{
  eFileKind kind = eFileMissing;
  int64_t size = 0;
  int64_t accessTime = 0;
  int64_t modificationTime = 0;
  int64_t changeTime = 0;
};

// stat(), or lstat() when links are not followed; a failure clears `status`.
bool fileStatus(const char* path, FileStatus& status, bool followLinks = true);
// The status of the file behind an open stream.
bool streamStatus(FILE* stream, FileStatus& status);
// The permission bits of the file (st_mode & 07777), -1 when the status cannot be taken or, on
// Windows, which grants access by lists rather than bits, always.
int filePermissions(const char* path);
// Whether both paths reach one and the same file (through links or other names).
bool isSameFile(const char* first, const char* second);

// fopen(); an "e" in the mode keeps the stream out of child processes.
FILE* openStream(const char* path, const char* mode);
// A read-write stream on the regular file at the path, refusing a symbolic link there: the
// existing file ("rb+"), or, with `create`, a new or emptied one ("wb+", mode 0666 less the
// creation mask). Kept out of child processes.
FILE* openStreamNoFollow(const char* path, bool create);
// fflush(): pending writes reach the file, and a stream that was read from stays where it was
// (the Windows C library's fflush drops read-ahead bytes without moving the file back).
bool flushStream(FILE* stream);
// 64-bit positions, also where long holds 32 bits.
int64_t streamOffset(FILE* stream);
bool seekStream(FILE* stream, int64_t offset, int whence);

bool truncateFile(const char* path, int64_t length);
bool setFileTimes(const char* path, int64_t accessTime, int64_t modificationTime);
// unlink(): a file, or a symbolic link itself (whatever it points to).
bool removeFile(const char* path);
bool removeDirectory(const char* path);
// mode 0777 less the creation mask; errno EEXIST when something is there already.
bool makeDirectory(const char* path);
// rename(): within one file system; an existing target file is replaced.
bool renamePath(const char* from, const char* to);

// The names in a directory, in the system's listing order ("." and ".." as the system gives
// them). With `noFollow`, a symbolic link at the path is refused rather than entered.
bool listDirectory(const char* path, bool noFollow, std::vector<std::string>& names);

// An exclusive advisory lock on the existing file at the path, held until unlockFile();
// blocks until granted, or with `wait` false gives up at once when another holds it.
// NO_FILE_LOCK when the file cannot be opened or locked; `opened` tells which.
using FileLock = intptr_t;
constexpr FileLock NO_FILE_LOCK = -1;
FileLock lockFile(const char* path, bool& opened, bool wait = true);
void unlockFile(FileLock lock);

// mkstemp(): replaces the trailing "XXXXXX" of the template in place by a name nobody can
// predict and creates that file exclusively, readable and writable by its owner only; the
// file is left closed.
bool createUniqueFile(char* pathTemplate);
// mkdtemp(): the same for a new directory, readable, writable and searchable by its owner only.
bool createUniqueDirectory(char* pathTemplate);
// The folder for temporary files when nobody chose one: "TMPDIR" or "/tmp" on POSIX
// systems, the user's temporary folder (without a trailing separator) on Windows.
std::string defaultTemporaryDirectory();
// The environment variable that chooses that folder: "TMPDIR", or "TMP" on Windows.
const char* temporaryDirectoryVariable();

// Further names for files, which the framework never makes but must cope with when it finds
// them. False with errno ENOSYS where the system cannot make that kind (a named pipe on
// Windows; a symbolic link on Windows without the privilege or under an emulation that
// pretends to make it).
// symlink(): a link at `path` to `target`, taken as it is (relative to the link's folder).
bool makeSymbolicLink(const char* target, const char* path);
// readlink(): the target a link holds, as it was written.
bool readSymbolicLink(const char* path, std::string& target);
// link(): a second name for an existing file.
bool makeHardLink(const char* existing, const char* path);
// mkfifo(): a named pipe, readable and writable by its owner.
bool makeNamedPipe(const char* path);

// Whether the path starts with a drive ("C:"), which only Windows has.
bool startsWithDrive(const char* path);
// Whether `c` separates path components: '/' everywhere, and '\\' too on Windows.
bool isPathSeparator(char c);
// Whether `c`, in a name received from elsewhere, could reach outside the folder the name
// is put in: a path separator, and on Windows ':' too (drive letters, alternate streams).
bool isUnsafeInFileName(char c);

}  // namespace platform
