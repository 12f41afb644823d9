#include "files/BaseFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/BaseMD5.h"
#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Unicode.h"
#include "runtime/BaseAssert.h"
#include "runtime/BaseMutex.h"
#include "runtime/Debug.h"

namespace {

void setNumberForKey(BaseDictionary* dictionary, long long value, const char* key)
{
  BaseNumber* number = new (eRetainNone) BaseNumber(value);
  dictionary->setObjectForKey(number, key);
  number->release();
}

// Removes the regular file at `path`, the way the atomic-write code needs it: a missing
// path is logged at Warning by the probing object and fails, and a directory is never
// removed (a received file must not take an empty directory's place).
bool removeFileAtPath(BaseString* path)
{
  BaseFile* file = new (eRetainNone) BaseFile(path, false);
  bool removed = file->isFile() && platform::removeFile(path->cString());
  file->release();
  return removed;
}

bool renamePath(BaseString* from, BaseString* to)
{
  if (platform::renamePath(from->cString(), to->cString())) return true;
  BASE_LOG(nullptr, eMsgError, "%S -> %S: %s", from, to, strerror(errno));
  return false;
}

// A whole-second time from a date that may come from a peer: NaN, infinities and values
// beyond what time_t holds are refused rather than converted.
bool secondsOfDate(BaseDate* date, int64_t& seconds)
{
  double value = date->getSeconds();
  if (!std::isfinite(value) || value < -9.0e15 || value > 9.0e15) return false;
  seconds = (int64_t)value;
  return true;
}

}  // namespace

BaseFile::BaseFile(BaseString* aFilePath, bool create)
    : m_path(nullptr),
      m_atomicPath(nullptr),
      m_stream(nullptr),
      m_readBuffer(nullptr),
      m_contextAttribute(nullptr),
      m_lock(platform::NO_FILE_LOCK),
      m_resume(false),
      m_transferOffset(0)
{
  BASE_ASSERT(aFilePath!=NULL);
  m_path = retain(aFilePath->substringByDeletingTrailingSlash());
  if (create) {
    FILE* created = platform::openStream(m_path->cString(), "wb+e");
    if (created)
      fclose(created);
    else
      BASE_LOG(this, eMsgError, "Unable to create file '%S'", m_path);
  }
  _takeStatus(m_path, true);
}

BaseFile::~BaseFile()
{
  if (m_atomicPath) cancelAtomicWrite();
  unlockFile();
  _closeStream();
  release(m_path);
  release(m_readBuffer);
  release(m_contextAttribute);
  release(m_atomicPath);
}

const char* BaseFile::getClass() const
{
  return "BaseFile";
}

BaseString* BaseFile::toString(int flags)
{
  return toStringCommon(flags, getFileAttributes()->toString(flags & 3), -1);
}

// ---- Status ----

bool BaseFile::_takeStatus(BaseString* path, bool logFailure)
{
  if (platform::fileStatus(path->cString(), m_status)) return true;
  int error = errno;
  // An empty path names no file at all (a file object that stands for nothing): no news.
  if (logFailure && path->length() > 0) BASE_LOG(this, eMsgWarning, "%S : %s", path, strerror(error));
  return false;
}

bool BaseFile::exists() const
{
  return isDirectory() || isFile();
}
bool BaseFile::isDirectory() const
{
  return m_status.kind == platform::eFileDirectory;
}
bool BaseFile::isFile() const
{
  return m_status.kind == platform::eFileRegular;
}
int64_t BaseFile::sizeInBytes() const
{
  return isFile() ? m_status.size : 0;
}

BaseDate* BaseFile::lastAccessDate() const
{
  return new (eRetainAutorelease) BaseDate((double)m_status.accessTime);
}
BaseDate* BaseFile::modificationDate() const
{
  return new (eRetainAutorelease) BaseDate((double)m_status.modificationTime);
}
BaseDate* BaseFile::statusChangeDate() const
{
  return new (eRetainAutorelease) BaseDate((double)m_status.changeTime);
}

BaseString* BaseFile::getFilePath()
{
  return osFileNameToGeneric(m_path);
}
BaseString* BaseFile::getFilename()
{
  return osFileNameToGeneric(m_path->lastPathComponent(true));
}

bool BaseFile::isInvisible() const
{
  const char* name = m_path->cString();
  for (const char* c = name; *c; c++)
    if (platform::isPathSeparator(*c)) name = c + 1;
  return name[0] == '.';
}

bool BaseFile::isPosixDotDirectory()
{
  if (!isDirectory()) return false;
  const char* name = getFilename()->cString();
  return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

void BaseFile::setReadOnlyIfDotName(BaseString*) {}

// ---- Names ----

BaseString* BaseFile::osFileNameToGeneric(BaseString* aName)
{
  if (!aName || aName->isPlainASCII() || aName->length() > 0x7FFFFFFFu) return aName;
  // Bytes that are not UTF-8 have no Unicode form to normalize: such a name stays as the
  // file system spells it, so that it still names the same file.
  std::string text;
  if (!platform::composeUnicode(aName->cString(), aName->length(), text)) return aName;

  // A longer name is cut at the last whole character that fits, never inside one.
  size_t length = text.size();
  if (length > GENERIC_NAME_MAX_BYTES) {
    length = GENERIC_NAME_MAX_BYTES;
    while (length > 0 && ((unsigned char)text[length] & 0xC0) == 0x80) length--;
  }
  return new (eRetainAutorelease) BaseString(text.data(), (int)length);
}

// ---- Streams ----

bool BaseFile::openFile(bool readOnly)
{
  if (m_stream) return true;
  if (!isFile()) return false;
  m_stream = platform::openStream(m_path->cString(), readOnly ? "rbe" : "rb+e");
  if (!m_stream) {
    perror("Can't open file");
    return false;
  }
  return true;
}

bool BaseFile::_closeStream()
{
  if (!m_stream) return true;
  bool flushed = platform::flushStream(m_stream);
  bool closed = fclose(m_stream) == 0;
  m_stream = nullptr;
  return flushed && closed;
}

void BaseFile::closeFile()
{
  if (m_atomicPath) commitAtomicWrite();
  _closeStream();
}

bool BaseFile::readFailed() const
{
  return m_stream && ferror(m_stream);
}

bool BaseFile::readIO(void* buffer, uint32_t& length)
{
  if (!m_stream) {
    length = 0;
    return false;
  }
  length = (uint32_t)fread(buffer, 1, length, m_stream);
  return length > 0;
}

bool BaseFile::writeIO(const void* bytes, uint32_t length)
{
  if (!m_stream) return false;
  if (fwrite(bytes, 1, length, m_stream) != length) return false;
  // An overwrite inside the file leaves its size as it was; only a write past the end grows it.
  int64_t end = platform::streamOffset(m_stream);
  if (m_status.kind == platform::eFileRegular && end > m_status.size) m_status.size = end;
  return true;
}

bool BaseFile::flushIO()
{
  return m_stream && platform::flushStream(m_stream);
}

bool BaseFile::skipBytesInIO(uint32_t count)
{
  if (!m_stream) return false;
  // Like a read, a skip ends at the end of the file: one past it meets a premature end.
  platform::FileStatus status;
  int64_t position = platform::streamOffset(m_stream);
  if (position < 0 || !platform::flushStream(m_stream) || !platform::streamStatus(m_stream, status) ||
      (int64_t)count > status.size - position)
    return false;
  return platform::seekStream(m_stream, (int64_t)count, SEEK_CUR);
}

uint32_t BaseFile::getNextBytes(unsigned char** bytes, uint32_t count)
{
  if (bytes) *bytes = nullptr;
  if (!m_stream || count == 0) return 0;
  if (feof(m_stream)) {
    BASE_LOG(this, eMsgInfo, "End of file");
    return 0;
  }
  if (ferror(m_stream)) {
    BASE_LOG(this, eMsgWarning, "File error");
    return 0;
  }
  if (!m_readBuffer) m_readBuffer = new (eRetainNone) BaseBuffer((size_t)READ_BUFFER_CAPACITY);
  if (count > m_readBuffer->length() && !m_readBuffer->setLength(count)) return 0;
  uint32_t got = (uint32_t)fread(m_readBuffer->bytes(), 1, count, m_stream);
  if (got == 0) {
    if (ferror(m_stream))
      BASE_LOG(this, eMsgWarning, "File error");
    else
      BASE_LOG(this, eMsgInfo, "End of file");
    return 0;
  }
  if (bytes) *bytes = m_readBuffer->bytes();
  return got;
}

int64_t BaseFile::getOffset()
{
  return m_stream ? platform::streamOffset(m_stream) : 0;
}

void BaseFile::setOffset(int64_t offset)
{
  BASE_ASSERT(offset<=sizeInBytes());
  if (!m_stream) return;
  if (!platform::seekStream(m_stream, offset, SEEK_SET))
    BASE_LOG(this, eMsgError, "setOffset failed %s", strerror(errno));
}

void BaseFile::setLength(int64_t length)
{
  if (m_stream) {
    BASE_LOG(this, eMsgError, "unable to set length of an open file.");
    return;
  }
  if (length < 0 || !platform::truncateFile(m_path->cString(), length)) {
    BASE_LOG(this, eMsgWarning, "unable to set length of '%S'", m_path);
    return;
  }
  _takeStatus(m_path, false);
}

BaseBuffer* BaseFile::getContent()
{
  if (!openFile(true)) return nullptr;
  int64_t size = sizeInBytes();
  // The buffer holds at most 32 bits of length (and its terminating zero).
  if (size >= 0xFFFFFFFFLL) {
    BASE_LOG(this, eMsgError, "file too large to be read in memory: '%S'", m_path);
    closeFile();
    return nullptr;
  }
  BaseBuffer* content = new (eRetainAutorelease) BaseBuffer((size_t)size + 1);
  if (size > 0 && content->setLength((uint32_t)size)) {
    platform::seekStream(m_stream, 0, SEEK_SET);
    size_t got = fread(content->bytes(), 1, (size_t)size, m_stream);
    content->setLength((uint32_t)got);
  }
  closeFile();
  return content;
}

bool BaseFile::setContent(BaseBuffer* buffer)
{
  if (!buffer || !openFile(false)) return false;
  bool written = platform::seekStream(m_stream, 0, SEEK_SET) && writeBuffer(buffer);
  written = _closeStream() && written;
  return written;
}

// ---- Attributes ----

BaseDictionary* BaseFile::getFileAttributes()
{
  BaseDictionary* attributes = new (eRetainAutorelease) BaseDictionary();
  attributes->setObjectForKey(getFilename(), "fa_name");
  attributes->setCStringForKey(isFile() ? "ft_reg" : (isDirectory() ? "ft_dir" : "ft_spc"), "fa_type");
  if (isFile() && m_transferOffset > 0) setNumberForKey(attributes, m_transferOffset, "fa_to");
  if (isFile() && m_resume) {
    BaseNumber* resume = new (eRetainNone) BaseNumber(true);
    attributes->setObjectForKey(resume, "fa_res");
    resume->release();
  }
  setNumberForKey(attributes, sizeInBytes(), "fa_size");
  attributes->setObjectForKey(statusChangeDate(), "fa_cdate");
  attributes->setObjectForKey(modificationDate(), "fa_mdate");
  attributes->setObjectForKey(lastAccessDate(), "fa_adate");
  if (m_contextAttribute) attributes->setObjectForKey(m_contextAttribute, "fa_ctx");
  return attributes;
}

void BaseFile::setFileDatesFromAttributes(BaseDictionary* attributes)
{
  BaseObject* access = BaseDictionary::objectForKey(attributes, "fa_adate");
  BaseObject* modification = BaseDictionary::objectForKey(attributes, "fa_mdate");
  // Attributes arrive from peers: an entry of another class counts as missing.
  if (!isOfClass(access, "BaseDate") || !isOfClass(modification, "BaseDate")) {
    BASE_LOG(this, eMsgInfo, "Unable to change file times, at least one date is missing");
    return;
  }
  int64_t accessTime = 0, modificationTime = 0;
  if (!secondsOfDate(static_cast<BaseDate*>(access), accessTime) ||
      !secondsOfDate(static_cast<BaseDate*>(modification), modificationTime) ||
      !platform::setFileTimes(m_path->cString(), accessTime, modificationTime))
    BASE_LOG(this, eMsgWarning, "Unable to change file times of '%S'", m_path);
}

void BaseFile::setContextAttribute(BaseString* context)
{
  setMember(&m_contextAttribute, context);
}

void BaseFile::enableResume()
{
  if (isFile() && sizeInBytes() > SLICE_LENGTH) m_resume = true;
}

// ---- Atomic writes ----

BaseString* BaseFile::_hiddenSiblingPath(BaseString* path, const char* suffix)
{
  BaseString* parent = path->substringByDeletingLastPathComponent();
  BaseString* name = path->lastPathComponent(true);
  // A bare name has its hidden sibling in the current directory, not at the root.
  if (parent->length() == 0 && path->cString()[0] != '/')
    return BaseString::stringWithFormat("./.%S.%s", name, suffix);
  return BaseString::stringWithFormat("%S/.%S.%s", parent, name, suffix);
}

BaseString* BaseFile::partialPathForFilePath(BaseString* aPath)
{
  BASE_ASSERT(aPath!=NULL);
  return _hiddenSiblingPath(aPath->substringByDeletingTrailingSlash(), "partial");
}

BaseFile* BaseFile::partialFileForPath(BaseString* aPath)
{
  BaseString* partialPath = partialPathForFilePath(aPath);
  // Probe first: no partial file is the common case and not worth a Warning.
  platform::FileStatus status;
  if (!platform::fileStatus(partialPath->cString(), status) ||
      !(status.kind == platform::eFileRegular || status.kind == platform::eFileDirectory))
    return nullptr;
  BaseFile* partial = new (eRetainAutorelease) BaseFile(partialPath, false);
  return partial->exists() ? partial : nullptr;
}

bool BaseFile::openFileForAtomicWrite(bool resume)
{
  if (m_atomicPath) cancelAtomicWrite();
  _closeStream();
  m_resume = resume;
  removeFileAtPath(m_path);
  setMember(&m_atomicPath, _hiddenSiblingPath(m_path, resume ? "partial" : "temp"));
  _takeStatus(m_atomicPath, false);
  bool continuing = resume && exists();
  // Never through a link planted under the hidden name: the data goes to this directory only.
  m_stream = platform::openStreamNoFollow(m_atomicPath->cString(), !continuing);
  if (!m_stream) {
    perror("Can't open file");
    // No atomic write is under way: a later close must not move whatever sits under the
    // hidden name (a planted link, say) into place.
    setMember(&m_atomicPath, nullptr);
    _takeStatus(m_path, false);
    return false;
  }
  // The snapshot describes the temporary file as it is now open, created or continued.
  _takeStatus(m_atomicPath, false);
  return true;
}

bool BaseFile::commitAtomicWrite()
{
  if (!m_atomicPath) {
    BASE_LOG(this, eMsgWarning, "tried to commit a non atomic file");
    return false;
  }
  _takeStatus(m_path, false);
  // Data that did not reach the disk must not show up as a complete file.
  if (!_closeStream()) {
    BASE_LOG(this, eMsgWarning, "Unable to write atomic file '%S'", m_atomicPath);
    cancelAtomicWrite();
    return false;
  }
  bool committed;
  if (exists() && !removeFileAtPath(m_path)) {
    BASE_LOG(this, eMsgWarning, "Unable to replace existing file");
    committed = false;
  } else {
    committed = renamePath(m_atomicPath, m_path);
    if (!committed) BASE_LOG(this, eMsgWarning, "Unable to move atomic file to final destination");
  }
  setMember(&m_atomicPath, nullptr);
  if (committed) _takeStatus(m_path, false);
  return committed;
}

bool BaseFile::cancelAtomicWrite()
{
  if (!m_atomicPath) return false;
  _closeStream();
  bool result = m_resume ? true : removeFileAtPath(m_atomicPath);
  setMember(&m_atomicPath, nullptr);
  _takeStatus(m_path, false);
  return result;
}

// ---- Resume by slices ----

BaseArray* BaseFile::getSlicesPatterns()
{
  BaseArray* slices = new (eRetainAutorelease) BaseArray();
  if (!openFile(true)) return slices;
  BaseAutorelease pool;
  setOffset(0);
  int64_t size = sizeInBytes();
  int64_t offset = 0;
  while (offset < size) {
    BaseMD5* digest = new (eRetainAutorelease) BaseMD5();
    int64_t remaining = SLICE_LENGTH;
    while (remaining > 0) {
      unsigned char* bytes = nullptr;
      uint32_t got = getNextBytes(&bytes, SLICE_READ_CHUNK);
      if (got == 0) break;
      digest->appendBytes(bytes, got);
      remaining -= got;
    }
    int64_t length = SLICE_LENGTH - remaining;
    if (length == 0) break;
    BaseDictionary* slice = new (eRetainAutorelease) BaseDictionary();
    setNumberForKey(slice, offset, "FSSO");
    slice->setObjectForKey(digest->getHexDigest(), "FSCS");
    setNumberForKey(slice, length, "FSL");
    slices->addObject(slice);
    offset += length;
  }
  printf("Slices:\n%s\n", slices->toString(2)->cString());
  return slices;
}

void BaseFile::compareSlicesPatterns(BaseArray* slices)
{
  if (!slices) return;
  m_transferOffset = 0;
  if (!openFile(true)) return;
  BaseAutorelease pool;
  int64_t size = sizeInBytes();
  for (unsigned int index = 0; index < slices->count(); index++) {
    BaseObject* entry = slices->objectAtIndex(index);
    BaseDictionary* slice =
        isOfClass(entry, "BaseDictionary") ? static_cast<BaseDictionary*>(entry) : nullptr;
    BaseObject* start = BaseDictionary::objectForKey(slice, "FSSO");
    BaseObject* length = BaseDictionary::objectForKey(slice, "FSL");
    BaseObject* expected = BaseDictionary::objectForKey(slice, "FSCS");
    // The slices come from the peer. Only a run that starts at 0, leaves no gap and lies
    // within this file can say where the transfer continues.
    if (!isOfClass(start, "BaseNumber") || !isOfClass(length, "BaseNumber")) {
      BASE_LOG(this, eMsgWarning, "invalid slice description at index %u", index);
      return;
    }
    int64_t sliceStart = static_cast<BaseNumber*>(start)->getInteger64();
    int64_t sliceLength = static_cast<BaseNumber*>(length)->getInteger64();
    if (sliceStart != m_transferOffset || sliceLength < 0 || sliceLength > size - sliceStart) return;
    setOffset(sliceStart);
    BaseMD5* digest = new (eRetainAutorelease) BaseMD5();
    int64_t remaining = sliceLength;
    while (remaining > 0) {
      unsigned char* bytes = nullptr;
      uint32_t got = getNextBytes(
          &bytes, remaining < SLICE_READ_CHUNK ? (uint32_t)remaining : (uint32_t)SLICE_READ_CHUNK);
      if (got == 0) break;
      digest->appendBytes(bytes, got);
      remaining -= got;
    }
    if (remaining != 0 || !digest->getHexDigest()->isEqual(expected)) return;
    m_transferOffset = sliceStart + sliceLength;
  }
}

// ---- Locks ----

bool BaseFile::lockFile()
{
  if (m_lock != platform::NO_FILE_LOCK) return true;
  bool opened = false;
  m_lock = platform::lockFile(m_path->cString(), opened);
  if (m_lock == platform::NO_FILE_LOCK) {
    if (opened)
      BASE_LOG(this, eMsgError, "Unable to lock the file %S", m_path);
    else
      BASE_LOG(this, eMsgError, "Unable to open the lock file %S", m_path);
    return false;
  }
  return true;
}

void BaseFile::unlockFile()
{
  platform::unlockFile(m_lock);
  m_lock = platform::NO_FILE_LOCK;
}

BaseMutex* BaseFile::sharedLock()
{
  struct Holder
  {
    BaseMutex* mutex = new (eRetainNone) BaseMutex();
    ~Holder() { mutex->release(); }
  };
  static Holder holder;
  return holder.mutex;
}
