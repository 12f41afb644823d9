// One path in the file system and, at the same time, a byte stream over the file there:
// status, content, the attribute dictionary that travels with a file, atomic writes under a
// hidden temporary name, resume slices and locks. The object retains its path, read buffer,
// context attribute and atomic path. The status is a snapshot taken when the object is made
// and at the operations that say so; type, size and dates answer from it, not from the disk.
// One thread at a time per object; threads coordinate through sharedLock(), processes
// through lockFile().
#pragma once

#include <cstdint>
#include <cstdio>

#include "io/IOAbstract.h"
#include "platform/Files.h"

class BaseArray;
class BaseBuffer;
class BaseDate;
class BaseDictionary;
class BaseMutex;
class BaseString;
template <class T>
class BaseTypedArray;

class BaseFile : public IOAbstract
{
public:
  enum
  {
    SLICE_LENGTH = 10485760,       // resume slices, and the size above which resume is offered
    SLICE_READ_CHUNK = 4096,       // bytes per getNextBytes while digesting a slice
    READ_BUFFER_CAPACITY = 8192,   // first allocation of the getNextBytes buffer
    GENERIC_NAME_MAX_BYTES = 1023  // longest generic name, in UTF-8 bytes
  };

  // A null path is a programming error. Without create, a failed status is logged at Warning
  // and the object reports that nothing exists there. With create, the file is made empty
  // (an existing one is truncated) before its status is taken.
  BaseFile(BaseString* aFilePath, bool create = false);
  ~BaseFile() override;

  const char* getClass() const override;
  // The text form of getFileAttributes().
  BaseString* toString(int flags = eToStringPlain) override;

  // Status snapshot.
  bool exists() const;
  bool isDirectory() const;
  bool isFile() const;
  int64_t sizeInBytes() const;
  // New dates in the caller's innermost pool, whole seconds.
  BaseDate* lastAccessDate() const;
  BaseDate* modificationDate() const;
  BaseDate* statusChangeDate() const;

  // Generic form (NFC) of the path and of its last component; may be new autoreleased strings.
  BaseString* getFilePath();
  BaseString* getFilename();
  // The path as handed to the constructor, without a trailing slash, as the system spells it.
  BaseString* getOSFilePath() const { return m_path; }
  bool isInvisible() const;
  bool isPosixDotDirectory();
  void setReadOnlyIfDotName(BaseString* aName);

  // Names. A plain ASCII or not valid UTF-8 name comes back as the same object; otherwise a
  // new autoreleased string in Normalization Form C, at most GENERIC_NAME_MAX_BYTES long.
  static BaseString* osFileNameToGeneric(BaseString* aName);
  static BaseString* genericFilePathToOS(BaseString* aPath) { return aPath; }
  static BaseString* genericFileNameToOS(BaseString* aName) { return aName; }

  // Streams. openFile is true at once when already open; only a regular file opens.
  bool openFile(bool readOnly);
  // Commits an open atomic write first, then flushes and closes.
  void closeFile();
  bool isOpen() const { return m_stream != nullptr; }
  // True when a read of the open stream failed (getNextBytes then reports 0, as at the end).
  bool readFailed() const;
  bool readIO(void* buffer, uint32_t& length) override;
  bool writeIO(const void* bytes, uint32_t length) override;
  bool flushIO() override;
  bool skipBytesInIO(uint32_t count) override;
  // Up to `count` bytes into the object's read buffer; `*bytes` points at them until the next
  // call. 0 (and `*bytes` null) when not open, at the end of the file or on a read error.
  uint32_t getNextBytes(unsigned char** bytes, uint32_t count);
  int64_t getOffset();
  // An offset above sizeInBytes() is a programming error.
  void setOffset(int64_t offset);
  // Only for a closed file: truncates or extends the file at the path.
  void setLength(int64_t length);
  // The whole file in a new autoreleased buffer, or null.
  BaseBuffer* getContent();
  // Overwrites the start of an existing file with the buffer; bytes beyond it stay.
  bool setContent(BaseBuffer* buffer);

  // Attributes: a new autoreleased dictionary ("fa_name", "fa_type", "fa_to", "fa_res",
  // "fa_size", "fa_cdate", "fa_mdate", "fa_adate", "fa_ctx").
  BaseDictionary* getFileAttributes();
  // Access and modification times from "fa_adate" and "fa_mdate" (both needed).
  void setFileDatesFromAttributes(BaseDictionary* attributes);
  void setContextAttribute(BaseString* context);
  BaseString* getContextAttribute() const { return m_contextAttribute; }
  // Offers resume only for a regular file larger than SLICE_LENGTH.
  void enableResume();
  bool isResumeEnabled() const { return m_resume; }
  int64_t getTransferOffset() const { return m_transferOffset; }

  // Atomic writes: the content goes to "<dir>/.<name>.temp" (".partial" when resuming) and
  // replaces the path only on commit. The old file at the path is deleted when the write
  // opens. A cancelled resumable write keeps its ".partial" file for a later attempt.
  bool openFileForAtomicWrite(bool resume);
  bool commitAtomicWrite();
  bool cancelAtomicWrite();
  BaseString* getAtomicPath() const { return m_atomicPath; }
  static BaseString* partialPathForFilePath(BaseString* aPath);
  static BaseFile* partialFileForPath(BaseString* aPath);

  // Resume by slices of SLICE_LENGTH bytes: "FSSO" start, "FSCS" hexadecimal MD5, "FSL"
  // length. getSlicesPatterns leaves the file open. compareSlicesPatterns sets the transfer
  // offset to the end of the leading run of slices that match this file.
  BaseArray* getSlicesPatterns();
  void compareSlicesPatterns(BaseArray* slices);

  // Exclusive advisory lock on the file at the path; blocks until granted.
  bool lockFile();
  void unlockFile();
  // The process-wide mutex for threads that serialize their file work.
  static BaseMutex* sharedLock();

  // ---- Operations on paths and whole files (BaseFileOperations.cpp) ----
  enum eDeleteFlags
  {
    eDeleteRecursive = 1,       // a directory's entries first, depth first
    eDeleteEmptiedParents = 2,  // then the parents that became empty, going upwards
    eDeleteForAtomicWrite = 4   // no effect of its own
  };
  // Closes the stream first. False when nothing (or only a device, pipe
  // or socket) is at the path, or at the first entry of a recursive delete that cannot be
  // removed. A symbolic link is removed itself; its target is never touched or entered.
  bool deleteFile(int flags);
  static bool deleteFile(BaseString* aPath, int flags);
  // rename(): within one file system; an existing target file is replaced.
  static bool movePath(BaseString* fromPath, BaseString* toPath);
  // Makes the destination hold exactly this regular file's bytes. Refuses a destination that
  // is this very file (it would be emptied before it is read).
  bool copyFile(BaseString* destinationPath);
  // The class form also deletes a destination left incomplete by a failed copy.
  static bool copyFile(BaseString* sourcePath, BaseString* destinationPath);
  // Writes `other` from `offset` to its end at this file's position. False when `other`
  // cannot be read whole from there, the offset lies outside it, or a write fails.
  bool appendContentOfFile(BaseFile* other, int64_t offset);
  // Copies `length` bytes from `offset` of this file (opened read-only for the copy when it
  // is closed) to the destination's position, in blocks of 8192. False unless every byte
  // was copied.
  bool writeContentAtOffsetToFile(BaseFile* destination, int64_t offset, int64_t length);
  // The same into a new file at the path (its parent directories made): the closed file, in
  // the caller's pool, or null with nothing left at the path.
  BaseFile* writeContentAtOffsetToFile(BaseString* destinationPath, int64_t offset, int64_t length);
  // Permissions 0777 less the process's file-creation mask.
  bool createDirectory();
  // True when a directory is at the path afterwards (made now or already there).
  static bool createDirectoryAtPath(BaseString* aPath, bool intermediate);
  // Names in the platform's listing order, in a new autoreleased array; skipDotNames leaves
  // out every name that begins with ".". Generic names by default; genericNames false keeps
  // them as the file system spells them, for building paths that must reach the entries.
  BaseTypedArray<BaseString>* directoryEntries(bool skipDotNames, bool genericNames = true);
  // getFileAttributes() of each entry, same order and skipping, in a new autoreleased array.
  BaseArray* directoryEntriesAttributes(bool skipDotNames);
  // The process-wide string itself, filled from "TMPDIR" ("/tmp" when unset or empty; the
  // user's temporary folder on Windows) the first time it is asked for while empty. Any
  // thread; change it only before threads share it.
  static BaseString* temporaryDirectory();
  static void setTemporaryDirectory(const char* text);
  // A new, empty file "<temporary directory>/BaseFileXXXXXX" made by mkstemp (mode 0600),
  // owned by the caller; null when it cannot be made.
  static BaseFile* createTemporaryFile();
  // "999 B", "1.5 KB", "1.0 MB": decimal units up to E, in the caller's pool.
  static BaseString* humanReadableFileSizeWithBytes(int64_t byteCount);
  // ---- end of operations on paths ----

protected:
  // Takes the status of `path` into m_status; on failure the status is cleared, and logged
  // at Warning ("%S : %s") when `logFailure`.
  bool _takeStatus(BaseString* path, bool logFailure);
  // "<parent>/.<name>.<suffix>" beside `path`.
  static BaseString* _hiddenSiblingPath(BaseString* path, const char* suffix);
  // Flushes and closes the stream if one is open; false when buffered data could not be written.
  bool _closeStream();

  BaseString* m_path;          // without a trailing slash; retained
  BaseString* m_atomicPath;    // the temporary path while an atomic write is open; retained
  platform::FileStatus m_status;  // snapshot; cleared when the status could not be taken
  FILE* m_stream;              // the open file
  BaseBuffer* m_readBuffer;    // made by the first getNextBytes, then reused
  BaseString* m_contextAttribute;
  platform::FileLock m_lock;   // NO_FILE_LOCK when no lock is held
  bool m_resume;
  int64_t m_transferOffset;
};
