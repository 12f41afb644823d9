// The operations of BaseFile that act on paths and whole files rather than on one open
// stream: delete, move, copy, content extraction, directories, listings, the temporary
// directory and the text form of a size.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "files/BaseFile.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseString.h"
#include "platform/Files.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"

namespace {

constexpr int64_t COPY_BLOCK = 8192;
constexpr size_t TEMPLATE_MAX_BYTES = 1023;

// The process-wide temporary directory; the lock guards filling and replacing the text.
struct TemporaryDirectory
{
  std::mutex lock;
  BaseString* path = nullptr;
  ~TemporaryDirectory()
  {
    BaseObject::release(path);
    path = nullptr;
  }
};

TemporaryDirectory& temporaryDirectoryRecord()
{
  static TemporaryDirectory record;
  return record;
}

// Called with the record's lock held.
BaseString* filledTemporaryDirectory(TemporaryDirectory& record)
{
  if (!record.path) record.path = new (eRetainNone) BaseString();
  if (record.path->length() == 0) {
    record.path->setCString(platform::defaultTemporaryDirectory().c_str());
  }
  return record.path;
}

platform::eFileKind kindAtPath(BaseString* path, bool followLinks)
{
  platform::FileStatus status;
  platform::fileStatus(path->cString(), status, followLinks);
  return status.kind;
}

bool isDirectoryAtPath(BaseString* path)
{
  return kindAtPath(path, true) == platform::eFileDirectory;
}

bool isSymbolicLinkAtPath(BaseString* path)
{
  return kindAtPath(path, false) == platform::eFileSymbolicLink;
}

bool isRegularFileItselfAtPath(BaseString* path)
{
  return kindAtPath(path, false) == platform::eFileRegular;
}

// Two paths that reach one file: copying one onto the other would empty it before it is read.
bool isSameFile(BaseString* first, BaseString* second)
{
  return platform::isSameFile(first->cString(), second->cString());
}

bool isPosixDotName(const char* name)
{
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

// ---- Deleting and moving ----

bool BaseFile::deleteFile(int flags)
{
  _closeStream();

  BaseAutorelease pool;
  const char* path = m_path->cString();
  bool removed;
  if (isSymbolicLinkAtPath(m_path)) {
    // The link goes, dangling or not; what it points to is outside this delete.
    removed = platform::removeFile(path);
  } else if (isDirectory()) {
    if (flags & eDeleteRecursive) {
      // Listed without following a link that replaced the directory since its status was taken.
      std::vector<std::string> names;
      if (!platform::listDirectory(path, true, names)) return false;
      // Names as the file system spells them: a generic (recomposed) name may reach nothing.
      for (const std::string& name : names) {
        if (isPosixDotName(name.c_str())) continue;
        BaseAutorelease entryPool;
        BaseString* entryName = new (eRetainAutorelease) BaseString(name.c_str(), (int)name.size());
        BaseString* entryPath = BaseString::stringWithFormat("%S%P", m_path, entryName);
        BaseFile* entry = new (eRetainAutorelease) BaseFile(entryPath, false);
        if (!entry->deleteFile(eDeleteRecursive)) return false;
      }
    }
    removed = platform::removeDirectory(path);
  } else if (isFile()) {
    removed = platform::removeFile(path);
  } else {
    return false;
  }

  if (flags & eDeleteEmptiedParents) {
    BaseString* parent = m_path;
    for (;;) {
      parent = parent->substringByDeletingLastPathComponent();
      if (parent->length() == 0 || !platform::removeDirectory(parent->cString())) break;
    }
  }
  return removed;
}

bool BaseFile::deleteFile(BaseString* aPath, int flags)
{
  BaseAutorelease pool;
  BaseFile* file = new (eRetainAutorelease) BaseFile(aPath, false);
  return file->deleteFile(flags);
}

bool BaseFile::movePath(BaseString* fromPath, BaseString* toPath)
{
  if (platform::renamePath(fromPath->cString(), toPath->cString())) return true;
  int error = errno;
  BASE_LOG(nullptr, eMsgError, "%S -> %S: %s", fromPath, toPath, strerror(error));
  return false;
}

// ---- Copying and extracting content ----

bool BaseFile::copyFile(BaseString* destinationPath)
{
  if (!isFile()) return false;
  if (isSameFile(m_path, destinationPath)) {
    BASE_LOG(this, eMsgError, "%S -> %S: source and destination are the same file", m_path, destinationPath);
    return false;
  }
  BaseFile* destination = new (eRetainNone) BaseFile(destinationPath, true);
  bool copied = destination->openFile(false) && destination->appendContentOfFile(this, 0);
  // A full disk may only show when the last block leaves the stream's buffer.
  copied = destination->flushIO() && copied;
  destination->release();
  return copied;
}

bool BaseFile::copyFile(BaseString* sourcePath, BaseString* destinationPath)
{
  BaseAutorelease pool;
  BaseFile* source = new (eRetainAutorelease) BaseFile(sourcePath, false);
  // Refusals that happen before the destination is touched must leave it alone.
  if (!source->isFile() || isSameFile(sourcePath, destinationPath)) return source->copyFile(destinationPath);
  if (source->copyFile(destinationPath)) return true;
  // Only the file this copy created is removed, never a directory or link found at the path.
  if (isRegularFileItselfAtPath(destinationPath)) deleteFile(destinationPath, 0);
  return false;
}

bool BaseFile::appendContentOfFile(BaseFile* other, int64_t offset)
{
  if (!other->isDirectory() && !other->isFile()) {
    BASE_LOG(this, eMsgError, "other file do not exists");
    return false;
  }
  if (other == this || offset < 0 || offset > other->sizeInBytes()) {
    BASE_LOG(this, eMsgError, "unable to append '%S' from offset %lld", other->m_path, (long long)offset);
    return false;
  }
  if (!other->openFile(true)) return false;
  // The content is what the file holds now: a source that grows while it is read (such as
  // this very file through another object) must not make the copy run on until the disk is full.
  platform::FileStatus current;
  int64_t expected = platform::streamStatus(other->m_stream, current) ? current.size - offset : -1;
  other->setOffset(offset);
  bool written = expected >= 0 && other->getOffset() == offset;
  int64_t copied = 0;
  while (written && copied < expected) {
    unsigned char* bytes = nullptr;
    int64_t wanted = expected - copied < COPY_BLOCK ? expected - copied : COPY_BLOCK;
    uint32_t count = other->getNextBytes(&bytes, (uint32_t)wanted);
    if (count == 0) break;
    if (!writeIO(bytes, count)) {
      written = false;
      break;
    }
    copied += count;
  }
  other->closeFile();
  if (written && copied < expected) {
    BASE_LOG(this, eMsgError, "'%S' ended after %lld of %lld bytes", other->m_path, (long long)copied,
             (long long)expected);
    return false;
  }
  return written;
}

bool BaseFile::writeContentAtOffsetToFile(BaseFile* destination, int64_t anOffset, int64_t length)
{
  if (anOffset < 0 || length < 0 || anOffset > sizeInBytes()) {
    BASE_LOG(this, eMsgError, "unable to extract %lld bytes at offset %lld of '%S'", (long long)length,
             (long long)anOffset, m_path);
    return false;
  }
  bool openedHere = !isOpen();
  if (openedHere && !openFile(true)) return false;
  setOffset(anOffset);
  // clang-format off
  BASE_ASSERT(getOffset()==anOffset);
  // clang-format on
  bool copied = false;
  if (destination->isDirectory() || destination->isFile()) {
    unsigned char block[COPY_BLOCK];
    int64_t remaining = length;
    bool written = true;
    while (remaining > 0) {
      uint32_t count = (uint32_t)(remaining < COPY_BLOCK ? remaining : COPY_BLOCK);
      if (!readIO(block, count)) break;
      if (!destination->writeIO(block, count)) {
        written = false;
        break;
      }
      remaining -= count;
    }
    copied = destination->flushIO() && written && remaining == 0;
    if (written && remaining > 0)
      BASE_LOG(this, eMsgError, "'%S' ended %lld bytes before the end of the range", m_path,
               (long long)remaining);
  }
  if (openedHere) closeFile();
  return copied;
}

BaseFile* BaseFile::writeContentAtOffsetToFile(BaseString* destinationPath, int64_t offset, int64_t length)
{
  BaseAutorelease pool;
  BaseString* parent = destinationPath->substringByDeletingLastPathComponent();
  if (parent->length() > 0) createDirectoryAtPath(parent, true);
  BaseFile* destination = new (eRetainNone) BaseFile(destinationPath, true);
  if (destination->openFile(false) && writeContentAtOffsetToFile(destination, offset, length)) {
    destination->closeFile();
    destination->autorelease(1);
    return destination;
  }
  destination->closeFile();
  // An incomplete extract must not pass for the part it was asked for.
  bool createdHere = destination->isFile();
  destination->release();
  if (createdHere && isRegularFileItselfAtPath(destinationPath)) deleteFile(destinationPath, 0);
  return nullptr;
}

// ---- Directories ----

bool BaseFile::createDirectory()
{
  return platform::makeDirectory(m_path->cString());
}

bool BaseFile::createDirectoryAtPath(BaseString* aPath, bool intermediate)
{
  if (platform::makeDirectory(aPath->cString())) return true;
  // "Already there" means a directory: a file of that name is a failure, not a success.
  if (errno == EEXIST || !intermediate) return isDirectoryAtPath(aPath);

  BaseAutorelease pool;
  BaseTypedArray<BaseString>* pieces = aPath->split("/");
  BaseString* prefix = new (eRetainAutorelease) BaseString();
  for (unsigned int i = 0; i < pieces->count(); i++) {
    prefix->append(pieces->objectAtIndex(i));
    prefix->append("/", 1);
    const char* text = prefix->cString();
    // The root, or a drive root such as "C:/", is never made.
    if (prefix->length() == 1 || (prefix->length() == 3 && text[1] == ':')) continue;
    if (!platform::makeDirectory(text) && errno != EEXIST && errno != EISDIR) {
      int error = errno;
      BASE_LOG(nullptr, eMsgError, "%S failed %s", aPath, strerror(error));
      return false;
    }
  }
  return isDirectoryAtPath(aPath);
}

BaseTypedArray<BaseString>* BaseFile::directoryEntries(bool skipDotNames, bool genericNames)
{
  BaseAutorelease pool;
  BaseTypedArray<BaseString>* entries = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  entries->retain();
  entries->autorelease(1);
  if (!isDirectory()) return entries;
  std::vector<std::string> names;
  if (!platform::listDirectory(m_path->cString(), false, names)) return entries;
  for (const std::string& text : names) {
    if (skipDotNames && text[0] == '.') continue;
    BaseString* name = new (eRetainAutorelease) BaseString(text.c_str(), (int)text.size());
    entries->addObject(genericNames ? osFileNameToGeneric(name) : name);
  }
  return entries;
}

BaseArray* BaseFile::directoryEntriesAttributes(bool skipDotNames)
{
  BaseAutorelease pool;
  BaseArray* attributes = new (eRetainAutorelease) BaseArray();
  attributes->retain();
  attributes->autorelease(1);
  BaseTypedArray<BaseString>* names = directoryEntries(skipDotNames, false);
  for (unsigned int i = 0; i < names->count(); i++) {
    BaseAutorelease entryPool;
    BaseString* entryPath = new (eRetainAutorelease) BaseString(m_path);
    entryPath->appendPathComponent(names->objectAtIndex(i));
    BaseFile* entry = new (eRetainAutorelease) BaseFile(entryPath, false);
    attributes->addObject(entry->getFileAttributes());
  }
  return attributes;
}

// ---- Temporary files ----

BaseString* BaseFile::temporaryDirectory()
{
  TemporaryDirectory& record = temporaryDirectoryRecord();
  std::lock_guard<std::mutex> guard(record.lock);
  return filledTemporaryDirectory(record);
}

void BaseFile::setTemporaryDirectory(const char* text)
{
  TemporaryDirectory& record = temporaryDirectoryRecord();
  std::lock_guard<std::mutex> guard(record.lock);
  if (!record.path) record.path = new (eRetainNone) BaseString();
  record.path->setCString(text ? text : "");
}

BaseFile* BaseFile::createTemporaryFile()
{
  BaseAutorelease pool;
  char path[TEMPLATE_MAX_BYTES + 1];
  {
    TemporaryDirectory& record = temporaryDirectoryRecord();
    std::lock_guard<std::mutex> guard(record.lock);
    BaseString* pattern = BaseString::stringWithFormat("%S/BaseFileXXXXXX", filledTemporaryDirectory(record));
    size_t length = pattern->length() < TEMPLATE_MAX_BYTES ? pattern->length() : TEMPLATE_MAX_BYTES;
    memcpy(path, pattern->cString(), length);
    path[length] = 0;
  }
  // mkstemp picks a name nobody can predict and creates the file exclusively (mode 0600).
  if (!platform::createUniqueFile(path)) {
    int error = errno;
    BASE_LOG(nullptr, eMsgError, "Unable to create a temporary file %s: %s", path, strerror(error));
    return nullptr;
  }
  BaseString* filePath = new (eRetainAutorelease) BaseString(path);
  return new (eRetainNone) BaseFile(filePath, false);
}

// ---- Sizes ----

BaseString* BaseFile::humanReadableFileSizeWithBytes(int64_t byteCount)
{
  if (byteCount < 1000) return BaseString::stringWithFormat("%lld B", (long long)byteCount);
  double value = (double)byteCount;
  for (const char* unit = "KMGTPE"; *unit; unit++) {
    value /= 1000.0;
    // 999.5 rather than 1000: what would print as "1000.0" of one unit is "1.0" of the next.
    if (value < 999.5) return BaseString::stringWithFormat("%.1f %cB", value, *unit);
  }
  return nullptr;
}
