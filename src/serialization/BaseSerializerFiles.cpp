// BaseSerializer's file objects: a file's attributes and content written from a BaseFile,
// and read back into a file under a safe name, or skipped in a stored stream; the checks
// that keep a received name or context path inside the directory meant for it; and the
// object stream written to and read from a file.
#include "serialization/BaseSerializer.h"

#include <cstring>

#include "files/BaseFile.h"
#include "io/IOExceptionFilter.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "platform/Files.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializerInternal.h"

using SerializerInternal::LevelGuard;
using SerializerInternal::Owned;
using SerializerInternal::ROW_OF_KIND;

namespace {

// The value of an integer attribute: false when the key is missing, `invalid` set when it
// holds anything but a non-negative 64-bit integer.
bool integerAttribute(BaseDictionary* attributes, const char* key, int64_t& value, bool& invalid)
{
  BaseObject* object = attributes->objectForKey(key);
  if (!object) return false;
  BaseNumber* number = BaseObject::isOfClass(object, "BaseNumber") ? static_cast<BaseNumber*>(object) : nullptr;
  if (!number || number->getNumberType() != BaseNumber::eNumberInteger || number->getInteger64() < 0)
    invalid = true;
  else
    value = number->getInteger64();
  return true;
}

// A single path component that names an entry of the directory it is put in.
bool isSafeFileName(BaseObject* object)
{
  if (!BaseObject::isOfClass(object, "BaseString")) return false;
  BaseString* name = static_cast<BaseString*>(object);
  const char* text = name->cString();
  const unsigned int length = name->length();
  if (length == 0 || strcmp(text, ".") == 0 || strcmp(text, "..") == 0) return false;
  if (memchr(text, 0, length)) return false;
  for (unsigned int i = 0; i < length; i++)
    if (platform::isUnsafeInFileName(text[i])) return false;
  return true;
}

// A relative path that stays below the directory it is appended to.
bool isSafeContextPath(BaseObject* object)
{
  if (!BaseObject::isOfClass(object, "BaseString")) return false;
  BaseString* path = static_cast<BaseString*>(object);
  const char* text = path->cString();
  const unsigned int length = path->length();
  if (memchr(text, 0, length) || (length > 0 && platform::isPathSeparator(text[0]))) return false;
  // Components are split at every separator of this system; a character that is unsafe
  // in a name but no separator (':' on Windows) is refused outright.
  size_t componentStart = 0;
  for (size_t i = 0; i <= length; i++) {
    if (i < length && !platform::isPathSeparator(text[i])) {
      if (platform::isUnsafeInFileName(text[i])) return false;
      continue;
    }
    if (i - componentStart == 2 && text[componentStart] == '.' && text[componentStart + 1] == '.') return false;
    componentStart = i + 1;
  }
  return true;
}

// Closes a file being sent when its write is left by an exception.
class FileCloser
{
public:
  explicit FileCloser(BaseFile* file) : m_file(file) {}
  ~FileCloser() { m_file->closeFile(); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

private:
  BaseFile* m_file;
};

}  // namespace

bool BaseSerializer::isValidFile(BaseObject* object, eBSObject)
{
  return static_cast<BaseFile*>(object)->exists();
}

void BaseSerializer::serializeFile(BaseObject* object)
{
  BaseFile* file = static_cast<BaseFile*>(object);
  BaseAutorelease pool;
  BaseDictionary* attributes = file->getFileAttributes();
  const int64_t start = file->getTransferOffset();
  if (!file->openFile(true)) {
    _stagePacked(false, eBSDictionary);
    _stagePacked(false, objectDesc[ROW_OF_KIND[eBSDictionary]].version);
    _stagePacked(false, 0);
    BASE_LOG(this, eMsgError, "Couldn't read file at path %S, ignored", file->getFilename());
    notifyProgression(1, 1, 0);
    return;
  }
  FileCloser closer(file);
  _writeObject(attributes);
  // The reader takes exactly the bytes the attributes announce, so exactly those are sent:
  // a file that grew since its status was taken is cut there, and one that shrank fails the
  // write rather than let the reader take the next object's bytes for content.
  const int64_t size = file->sizeInBytes();
  file->setOffset(start);
  notifyProgression(0, 0, (uint32_t)start);
  for (int64_t remaining = size - start; remaining > 0;) {
    BaseAutorelease blockPool;
    unsigned char* bytes = nullptr;
    const uint32_t got = file->getNextBytes(&bytes, remaining < 8192 ? (uint32_t)remaining : 8192u);
    if (got == 0) {
      BASE_LOG(this, eMsgError, "file %S ended %lli bytes before its announced size", file->getFilename(),
               (long long)remaining);
      throw new IOException();
    }
    _stage(bytes, got);
    remaining -= got;
    notifyProgression(0, 0, got);
  }
  BASE_LOG(this, eMsgInfo, "done serializing file %S", file->getFilename());
  notifyProgression(1, 1, 0);
}

BaseObject* BaseSerializer::unserializeFile(unsigned char)
{
  if (!m_acceptsFiles) {
    BASE_LOG(this, eMsgError, "file object refused by this reader");
    return nullptr;
  }
  // The attributes are one level down: a chain of file headers, each taking the next as its
  // attributes, must meet the nesting limit like nested collections do.
  if (m_readDepth >= MAX_NESTING_DEPTH) {
    BASE_LOG(this, eMsgError, "nesting deeper than %i levels in data", (int)MAX_NESTING_DEPTH);
    return nullptr;
  }
  int kind = 0;
  Owned<BaseObject> read(nullptr);
  {
    LevelGuard depth(m_readDepth);
    read.reset(_readObjectInternal(&kind));
  }
  if (!read.get()) return nullptr;
  if (kind != eBSDictionary) {
    BASE_LOG(this, eMsgError, "file attributes of class %s in data", read->getClass());
    return nullptr;
  }
  BaseDictionary* attributes = static_cast<BaseDictionary*>(read.get());
  int64_t size = 0, offset = 0;
  bool invalid = false;
  if (!integerAttribute(attributes, "fa_size", size, invalid)) {
    BASE_LOG(this, eMsgWarning, "Invalid file in the stream, ignored");
    notifyProgression(1, 1, 0);
    BaseString* empty = new (eRetainNone) BaseString();
    BaseFile* file = new (eRetainNone) BaseFile(empty);
    empty->release();
    return file;
  }
  integerAttribute(attributes, "fa_to", offset, invalid);
  if (invalid) {
    BASE_LOG(this, eMsgError, "size or transfer offset that is not a non-negative integer in file attributes");
    return nullptr;
  }
  if (offset > size) {
    BASE_LOG(this, eMsgError, "transfer offset %lli beyond the file size %lli in file attributes",
             (long long)offset, (long long)size);
    return nullptr;
  }
  if (m_mode == SERIALIZER_MODE_SKIP_FILES_CONTENT) return _skipFileContent(attributes, size, offset);
  return _receiveFileContent(attributes, size, offset);
}

BaseObject* BaseSerializer::_skipFileContent(BaseDictionary* attributes, int64_t size, int64_t offset)
{
  // The stream is skipped and asked for its offset: it must be where plain reads put it.
  _closeReadWindow();
  // The content that follows the attributes is what lies after the transfer offset.
  const int64_t length = size - offset;
  for (int64_t remaining = length; remaining > 0;) {
    const uint32_t step = remaining < 0x40000000 ? (uint32_t)remaining : 0x40000000u;
    m_stream->test(m_io->skipBytesInIO(step));
    remaining -= step;
  }
  notifyProgression(0, 0, (uint32_t)length);
  BaseSerializerDelegate* delegate = getSerializerDelegate();
  if (!delegate) return new BaseString();
  const int64_t relativeOffset = static_cast<BaseFile*>(m_io)->getOffset() - length - m_baseOffset;
  BASE_ASSERT(relativeOffset>=0);
  BaseNumber* position = new (eRetainNone) BaseNumber((long long)relativeOffset);
  attributes->setObjectForKey(position, "fo_pk");
  position->release();
  BaseAutorelease pool;
  BaseObject* answer = delegate->getPathForIncommingFile(attributes);
  return answer ? answer->retain() : new BaseString();
}

BaseString* BaseSerializer::_destinationForFile(BaseDictionary* attributes, int64_t offset, bool resume)
{
  BaseObject* name = attributes->objectForKey("fa_name");
  if (!isSafeFileName(name)) {
    BASE_LOG(this, eMsgError, "unsafe file name in data");
    return nullptr;
  }
  BaseObject* context = attributes->objectForKey("fa_ctx");
  if (context && !isSafeContextPath(context)) {
    BASE_LOG(this, eMsgError, "unsafe context path in data");
    return nullptr;
  }
  BaseSerializerDelegate* delegate = getSerializerDelegate();
  BaseString* directory = delegate ? delegate->getPathForIncommingFile(attributes) : nullptr;
  const bool underContext = directory && directory->length() > 0 && context;
  BaseString* destination = new (eRetainAutorelease) BaseString(underContext ? directory : m_temporaryStorage);
  if (underContext) destination->appendPathComponent(static_cast<BaseString*>(context));
  BaseString* folder = underContext ? new (eRetainAutorelease) BaseString(destination) : nullptr;
  destination->appendPathComponent(static_cast<BaseString*>(name));

  // Nothing is written unless the offset continues what is on disk: a fresh file starts
  // empty, a resumed one from its partial copy, of which only the part before the offset
  // is kept (the rest is sent again).
  BaseFile* partial = resume ? BaseFile::partialFileForPath(destination) : nullptr;
  if (partial && !partial->isFile()) {
    BASE_LOG(this, eMsgError, "partial copy of a received file is not a regular file");
    return nullptr;
  }
  const int64_t received = partial ? partial->sizeInBytes() : 0;
  if (offset > received) {
    BASE_LOG(this, eMsgError, "transfer offset %lli beyond the %lli bytes received before, in data",
             (long long)offset, (long long)received);
    return nullptr;
  }
  if (partial && received > offset) partial->setLength(offset);
  if (folder && !BaseFile::createDirectoryAtPath(folder, true))
    BASE_LOG(this, eMsgError, "unable to create dir hierarchy for file");
  return destination;
}

BaseObject* BaseSerializer::_receiveFileContent(BaseDictionary* attributes, int64_t size, int64_t offset)
{
  // The delegate is asked for a folder before the content is read; the stream is left as
  // plain reads would leave it for whatever it does meanwhile.
  _closeReadWindow();
  BaseAutorelease pool;
  BaseObject* resumeFlag = attributes->objectForKey("fa_res");
  const bool resume =
      BaseObject::isOfClass(resumeFlag, "BaseNumber") && static_cast<BaseNumber*>(resumeFlag)->getBoolean();
  BaseString* destination = _destinationForFile(attributes, offset, resume);
  if (!destination) return nullptr;

  // Released on every way out; an unfinished atomic write is then cancelled, keeping a
  // resumable ".partial" copy and never touching the destination.
  Owned<BaseFile> file(new BaseFile(destination));
  if (!file->openFileForAtomicWrite(resume)) {
    BASE_LOG(this, eMsgError, "unable to write received file %S", destination);
    return nullptr;
  }
  file->setOffset(offset);
  notifyProgression(0, 0, (uint32_t)offset);
  unsigned char block[1024];
  for (int64_t remaining = size - offset; remaining > 0;) {
    BaseAutorelease blockPool;
    const uint32_t step = remaining < (int64_t)sizeof block ? (uint32_t)remaining : (uint32_t)sizeof block;
    _readBytes(block, step);
    if (!file->writeIO(block, step)) {
      BASE_LOG(this, eMsgError, "unable to write received file %S", destination);
      return nullptr;
    }
    remaining -= step;
    notifyProgression(0, 0, step);
  }
  if (!file->commitAtomicWrite()) {
    BASE_LOG(this, eMsgError, "unable to write received file %S", destination);
    return nullptr;
  }
  file->closeFile();
  file->setFileDatesFromAttributes(attributes);
  notifyProgression(1, 1, 0);
  return file.take();
}

void BaseSerializer::setSerializerMode(int aMode)
{
  BASE_ASSERT(aMode>=SERIALIZER_MODE_DEFAULT && aMode<=SERIALIZER_MODE_SKIP_FILES_CONTENT);
  if (aMode == SERIALIZER_MODE_SKIP_FILES_CONTENT) {
    BASE_ASSERT(m_io->isOfClass("BaseFile"));
    m_baseOffset = static_cast<BaseFile*>(m_io)->getOffset();
  } else {
    m_baseOffset = 0;
  }
  m_mode = aMode;
}

bool BaseSerializer::serializeObjectToFile(BaseObject* object, const char* path)
{
  BaseAutorelease pool;
  BaseString* filePath = new (eRetainAutorelease) BaseString(path);
  BaseFile* file = new (eRetainAutorelease) BaseFile(filePath, true);
  if (!file->openFile(false)) return false;
  bool written;
  {
    BaseSerializer serializer(file, nullptr);
    written = serializer.appendSerializableObject(object);
  }
  file->closeFile();
  return written;
}

BaseObject* BaseSerializer::unserializeObjectFromFile(const char* path)
{
  BaseObject* object = nullptr;
  {
    BaseAutorelease pool;
    BaseString* filePath = new (eRetainAutorelease) BaseString(path);
    BaseFile* file = new (eRetainAutorelease) BaseFile(filePath);
    if (!file->openFile(true)) return nullptr;
    BaseSerializer serializer(file, nullptr);
    object = serializer.unserializeObjectFromIO();
    file->closeFile();
    if (object) object->retain();
  }
  if (object) object->autorelease();
  return object;
}
