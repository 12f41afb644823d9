#include "serialization/BaseSerializer.h"


#include <pthread.h>

#include <climits>
#include <cstring>
#include <memory>
#include <typeinfo>
#include <vector>

#include "io/BaseBuffer.h"
#include "files/BaseFile.h"
#include "io/IOExceptionFilter.h"
#include "object/BaseBits.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseList.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "runtime/BaseAssert.h"
#include "runtime/Debug.h"
#include "serialization/BaseSerializerInternal.h"
#include "serialization/PackedInteger.h"

using SerializerInternal::LevelGuard;
using SerializerInternal::Owned;
using SerializerInternal::ROW_OF_KIND;

namespace {

// The reversed-byte form of this double is INT64_MIN, which has no packed form.
const uint64_t UNENCODABLE_DOUBLE_BITS = 0x80;

// The rows of the class BaseNumber.
constexpr uint32_t NUMBER_ROWS =
    (1u << ROW_OF_KIND[eBSInteger]) | (1u << ROW_OF_KIND[eBSDouble]) | (1u << ROW_OF_KIND[eBSBoolean]);

bool isCollectionKind(eBSObject kind)
{
  return kind == eBSArray || kind == eBSDictionary || kind == eBSList;
}

}  // namespace

// clang-format off
const BaseSerializer::ObjectDescription BaseSerializer::objectDesc[OBJECT_KINDS] = {
  {"BaseString",     eBSString,     0, &BaseSerializer::serializeString,     &BaseSerializer::unserializeString,     nullptr},
  {"BaseBuffer",     eBSBuffer,     0, &BaseSerializer::serializeBuffer,     &BaseSerializer::unserializeBuffer,     nullptr},
  {"BaseArray",      eBSArray,      0, &BaseSerializer::serializeArray,      &BaseSerializer::unserializeArray,      nullptr},
  {"BaseList",       eBSList,       0, &BaseSerializer::serializeList,       &BaseSerializer::unserializeList,       nullptr},
  {"BaseDictionary", eBSDictionary, 0, &BaseSerializer::serializeDictionary, &BaseSerializer::unserializeDictionary, nullptr},
  {"BaseNumber",     eBSInteger,    0, &BaseSerializer::serializeInteger,    &BaseSerializer::unserializeInteger,    &BaseSerializer::isValidInteger},
  {"BaseNumber",     eBSDouble,     0, &BaseSerializer::serializeDouble,     &BaseSerializer::unserializeDouble,     &BaseSerializer::isValidDouble},
  {"BaseFile",       eBSFile,       0, &BaseSerializer::serializeFile,       &BaseSerializer::unserializeFile,       &BaseSerializer::isValidFile},
  {"BaseNull",       eBSNull,       0, &BaseSerializer::serializeNull,       &BaseSerializer::unserializeNull,       nullptr},
  {"BaseDate",       eBSDate,       0, &BaseSerializer::serializeDate,       &BaseSerializer::unserializeDate,       nullptr},
  {"BaseNumber",     eBSBoolean,    0, &BaseSerializer::serializeBoolean,    &BaseSerializer::unserializeBoolean,    &BaseSerializer::isValidBoolean},
};
// clang-format on

// ---------------------------------------------------------------------------------------
// Delegate defaults

BaseSerializerDelegate::~BaseSerializerDelegate() {}

void BaseSerializerDelegate::handleIncommingObject(BaseObject*) {}

void BaseSerializerDelegate::handleDeserializationError(BaseString* message)
{
  BASE_LOG(nullptr, eMsgError, "in deserialization: %S", message);
}

BaseString* BaseSerializerDelegate::getPathForIncommingFile(BaseDictionary*)
{
  return new (eRetainAutorelease) BaseString();
}

// ---------------------------------------------------------------------------------------
// Lifecycle

BaseSerializer::BaseSerializer(IOAbstract* anIO, BaseSerializerDelegate* aDelegate)
    : m_stream(nullptr),
      m_io(nullptr),
      m_contextObject(nullptr),
      m_delegate(aDelegate),
      m_progression{{0}, {0}, {0}},
      m_temporaryStorage(nullptr),
      m_baseOffset(0),
      m_mode(SERIALIZER_MODE_DEFAULT),
      m_acceptsFiles(true),
      m_writeDepth(0),
      m_writeNesting(0),
      m_stageLength(0),
      m_classRows{},
      m_classRowsNext(0),
      m_classRowsLast(0),
      m_readDepth(0),
      m_recentKeys{},
      m_recentKeysNext(0),
      m_recentKeysHint(0),
      m_window(nullptr),
      m_windowLength(0),
      m_windowUsed(0),
      m_dataRejected(false),
      m_readerDone(false)
{
  BASE_ASSERT(anIO);
  m_stream = new IOExceptionFilter(anIO);
  m_io = retain(anIO);
  m_temporaryStorage = retain(BaseFile::temporaryDirectory());
}

BaseSerializer::~BaseSerializer()
{
  // Joining itself is impossible, and the loop would go on with a destroyed object.
  BASE_ASSERT(!isThreadRunning() || !pthread_equal(pthread_self(), getThreadId()));
  stopReadingInBackground();
  release(m_stream);
  m_stream = nullptr;
  release(m_io);
  m_io = nullptr;
  release(m_temporaryStorage);
  m_temporaryStorage = nullptr;
  release(m_contextObject);
  m_contextObject = nullptr;
  for (BaseString*& key : m_recentKeys) {
    release(key);
    key = nullptr;
  }
}

const char* BaseSerializer::getClass() const
{
  return "BaseSerializer";
}

void BaseSerializer::setSerializerDelegate(BaseSerializerDelegate* aDelegate)
{
  if (aDelegate) m_delegate.store(aDelegate, std::memory_order_release);
}

void BaseSerializer::setContextObject(BaseObject* object)
{
  initProgression();
  setMember(&m_contextObject, object);
}

void BaseSerializer::setTemporaryStorage(BaseString* path)
{
  setMember(&m_temporaryStorage, path);
}

void BaseSerializer::initProgression()
{
  for (std::atomic<uint32_t>& counter : m_progression) counter.store(0, std::memory_order_relaxed);
}

void BaseSerializer::notifyProgression(uint32_t first, uint32_t second, uint32_t bytes)
{
  uint32_t totals[3] = {
      m_progression[0].fetch_add(first, std::memory_order_relaxed) + first,
      m_progression[1].fetch_add(second, std::memory_order_relaxed) + second,
      m_progression[2].fetch_add(bytes, std::memory_order_relaxed) + bytes,
  };
  BaseSerializerDelegate* delegate = getSerializerDelegate();
  if (delegate) delegate->handleProgression(totals[0], totals[1], totals[2], 0);
}

uint32_t BaseSerializer::getProgression(int which) const
{
  BASE_ASSERT(which >= 0 && which < 3);
  return m_progression[which].load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------
// Public entry points

bool BaseSerializer::appendSerializableObject(BaseObject* object)
{
  try {
    _appendSerializableObject(object);
    m_stream->test(m_io->flushIO());
  } catch (IOException* exception) {
    exception->release();
    BASE_LOG(this, eMsgError, "Write error on output stream while serializing");
    return false;
  }
  return true;
}

class BaseSerializer::ReadScope
{
public:
  explicit ReadScope(BaseSerializer* serializer) : m_serializer(serializer) {}
  ~ReadScope() { m_serializer->_closeReadWindow(); }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

private:
  BaseSerializer* m_serializer;
};

BaseObject* BaseSerializer::unserializeObjectFromIO()
{
  ReadScope scope(this);
  m_dataRejected = false;
  // The readers make no autoreleased temporaries, so no pool of our own is needed: the
  // one new reference goes straight to the caller's pool.
  BaseObject* object = _readObjectInternal();
  if (object) object->autorelease();
  return object;
}

bool BaseSerializer::unserializeObjectFromIOInBackground()
{
  if (!isThreadRunning()) m_readerDone.store(false);
  return startThread();
}

void BaseSerializer::stopReadingInBackground()
{
  m_keepRunning.store(false);
  if (!isThreadRunning()) return;
  // From the delegate's callback: the loop ends after it; another thread joins later.
  if (pthread_equal(pthread_self(), getThreadId())) return;
  // Only closing the stream ends a read that waits for data.
  if (!m_readerDone.load()) m_io->closeIO();
  stopThread();
}

void BaseSerializer::threadMethod()
{
  while (m_keepRunning.load()) {
    BaseAutorelease pool;
    BaseObject* object = unserializeObjectFromIO();
    if (!object) {
      m_keepRunning.store(false);
      continue;
    }
    BaseSerializerDelegate* delegate = getSerializerDelegate();
    if (delegate) delegate->handleIncommingObject(object);
  }
  m_readerDone.store(true);
}

BaseBuffer* BaseSerializer::serializeObject(BaseObject* object)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  BaseSerializer serializer(buffer, nullptr);
  serializer.appendSerializableObject(object);
  return buffer;
}

BaseObject* BaseSerializer::unserializeObject(BaseBuffer* buffer)
{
  BaseSerializer serializer(buffer, nullptr);
  return serializer.unserializeObjectFromIO();
}

BaseSerializer* BaseSerializer::toBaseBufferSerializer()
{
  BaseBuffer* buffer = new BaseBuffer();
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(buffer, nullptr);
  buffer->release();
  return serializer;
}

// ---------------------------------------------------------------------------------------
// Packed integers

long long BaseSerializer::swap64(long long value)
{
  return (long long)__builtin_bswap64((uint64_t)value);
}

void BaseSerializer::writeInteger(int value)
{
  if (value == INT_MIN) {
    BASE_LOG(this, eMsgError, "%lli has no encoding in the object stream", (long long)value);
    throw new IOException();
  }
  if (m_writeNesting == 0) m_stageLength = 0;
  _stagePacked(value < 0, value < 0 ? (uint64_t)(-(long long)value) : (uint64_t)value);
  if (m_writeNesting == 0) _flushStage();
}

void BaseSerializer::writeInteger64(long long value)
{
  if (value == LLONG_MIN) {
    BASE_LOG(this, eMsgError, "%lli has no encoding in the object stream", value);
    throw new IOException();
  }
  if (m_writeNesting == 0) m_stageLength = 0;
  _stagePacked(value < 0, value < 0 ? (uint64_t)(-value) : (uint64_t)value);
  if (m_writeNesting == 0) _flushStage();
}

int BaseSerializer::readInteger()
{
  ReadScope scope(this);
  return _readInteger();
}

long long BaseSerializer::readInteger64()
{
  ReadScope scope(this);
  return _readInteger64();
}

int BaseSerializer::_readInteger()
{
  uint8_t first;
  _readBytes(&first, 1);
  return _packed32(first);
}

long long BaseSerializer::_readInteger64()
{
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Every double is one of these: decoded in the window when the longest form fits there.
  if (m_windowLength - m_windowUsed >= PackedInteger::MAX_LENGTH) {
    const unsigned char* form = m_window + m_windowUsed;
    const unsigned extension = PackedInteger::extensionLength(form[0]);
    uint64_t high = 0;
    memcpy(&high, form + 1, 8);
    if (extension < 8) high &= (1ull << (8 * extension)) - 1;
    // Out of range: the byte-wise path below logs and rejects it.
    if (high <= (PackedInteger::MAX_MAGNITUDE_64 >> 3)) {
      const uint64_t magnitude = extension ? (high << 3) | (form[0] & 7) : (uint64_t)(form[0] & 0x3F);
      m_windowUsed += 1 + extension;
      return PackedInteger::isNegative(form[0]) ? -(long long)magnitude : (long long)magnitude;
    }
  }
#endif
  uint8_t first;
  _readBytes(&first, 1);
  return _packed64(first);
}

int BaseSerializer::_packed32(uint8_t first, uint8_t firstExtension, bool haveExtension)
{
  int magnitude =
      (first & 0x40) ? (int)_packedMagnitude(first, firstExtension, haveExtension,
                                             PackedInteger::MAX_EXTENSION_32, PackedInteger::MAX_MAGNITUDE_32)
                     : (first & 0x3F);
  return (first & 0x80) ? -magnitude : magnitude;
}

long long BaseSerializer::_packed64(uint8_t first)
{
  long long magnitude = (first & 0x40)
                            ? (long long)_packedMagnitude(first, 0, false, PackedInteger::MAX_EXTENSION_64,
                                                          PackedInteger::MAX_MAGNITUDE_64)
                            : (first & 0x3F);
  return (first & 0x80) ? -magnitude : magnitude;
}

uint64_t BaseSerializer::_packedMagnitude(uint8_t first, uint8_t firstExtension, bool haveExtension,
                                          unsigned maxExtension, uint64_t maxMagnitude)
{
  unsigned count = PackedInteger::extensionLength(first);
  if (count > maxExtension) {
    BASE_LOG(this, eMsgError, "packed integer with %i extension bytes in data", (int)count);
    _rejectData();
  }
  uint8_t extension[8];
  unsigned have = 0;
  if (haveExtension) extension[have++] = firstExtension;
  if (count > have) _readBytes(extension + have, count - have);
  uint64_t magnitude = 0;
  if (!PackedInteger::decodeMagnitude(first, extension, maxMagnitude, magnitude)) {
    BASE_LOG(this, eMsgError, "packed integer out of range in data");
    _rejectData();
  }
  return magnitude;
}

void BaseSerializer::_stagePacked(bool negative, uint64_t magnitude)
{
  if (m_stageLength + PackedInteger::MAX_LENGTH > WRITE_STAGE_SIZE) _flushStage();
  m_stageLength += PackedInteger::encode(negative, magnitude, m_stageBytes + m_stageLength);
}

// ---------------------------------------------------------------------------------------
// Byte movement

void BaseSerializer::_readBytesSlow(void* buffer, uint32_t count)
{
  _closeReadWindow();
  // Most objects arrive whole: parse them where the stream keeps them.
  uint32_t available = 0;
  const unsigned char* bytes = m_io->bufferedIO(available);
  if (bytes && available >= count) {
    m_window = bytes;
    m_windowLength = available;
    memcpy(buffer, bytes, count);
    m_windowUsed = count;
    return;
  }
  _readBytesFromStream(buffer, count);
}

void BaseSerializer::_closeReadWindow()
{
  if (!m_window) return;
  const uint32_t used = m_windowUsed;
  m_window = nullptr;
  m_windowLength = 0;
  m_windowUsed = 0;
  m_io->takeBufferedIO(used);
}

void BaseSerializer::_readBytesFromStream(void* buffer, uint32_t count)
{
  // Straight to the stream given at construction, one virtual call per read in the usual
  // case, failing exactly as the exception filter would.
  unsigned char* cursor = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    uint32_t length = count;
    if (!m_io->readIO(cursor, length)) throw new IOException();
    if (length == 0 || length > count) {
      // A stream that breaks the read contract; stop rather than loop or overrun.
      BASE_LOG(this, eMsgError, "stream delivered %u bytes for %u asked", length, count);
      throw new IOException();
    }
    cursor += length;
    count -= length;
  }
}

void BaseSerializer::_rejectData()
{
  m_dataRejected = true;
  throw new IOException();
}

template <typename Reserve>
void BaseSerializer::_readClaimedBytes(uint32_t length, uint32_t perRead, Reserve reserve)
{
  if (length <= READ_CHUNK) {
    unsigned char* destination = reserve(length);
    if (!destination) _rejectData();
    for (uint32_t done = 0; done < length;) {
      uint32_t step = length - done < perRead ? length - done : perRead;
      _readBytes(destination + done, step);
      done += step;
    }
    return;
  }
  // More than a block: the bytes must arrive before the room for all of them is made.
  std::vector<std::unique_ptr<unsigned char[]>> blocks;
  for (uint32_t done = 0; done < length;) {
    uint32_t blockLength = length - done < READ_CHUNK ? length - done : (uint32_t)READ_CHUNK;
    blocks.emplace_back(new unsigned char[blockLength]);
    for (uint32_t filled = 0; filled < blockLength;) {
      uint32_t step = blockLength - filled < perRead ? blockLength - filled : perRead;
      _readBytes(blocks.back().get() + filled, step);
      filled += step;
    }
    done += blockLength;
  }
  unsigned char* destination = reserve(length);
  if (!destination) _rejectData();
  for (size_t i = 0; i < blocks.size(); i++) {
    uint32_t offset = (uint32_t)i * READ_CHUNK;
    uint32_t blockLength = length - offset < READ_CHUNK ? length - offset : (uint32_t)READ_CHUNK;
    memcpy(destination + offset, blocks[i].get(), blockLength);
    blocks[i].reset();
  }
}

void BaseSerializer::_stage(const void* bytes, uint32_t count)
{
  if (m_stageLength + count > WRITE_STAGE_SIZE || count > WRITE_STAGE_SIZE / 2) _flushStage();
  if (count > WRITE_STAGE_SIZE / 2) {
    m_stream->test(m_io->writeIO(bytes, count));
    return;
  }
  memcpy(m_stageBytes + m_stageLength, bytes, count);
  m_stageLength += count;
}

void BaseSerializer::_flushStage()
{
  if (m_stageLength == 0) return;
  uint32_t count = m_stageLength;
  // Emptied first: after a failed write the stage must not send the bytes again.
  m_stageLength = 0;
  m_stream->test(m_io->writeIO(m_stageBytes, count));
}

void BaseSerializer::_stageHeader(const ObjectDescription& row)
{
  // Kinds and versions are below 64: one byte each.
  if (m_stageLength + 2 > WRITE_STAGE_SIZE) _flushStage();
  m_stageBytes[m_stageLength++] = (unsigned char)row.kind;
  m_stageBytes[m_stageLength++] = row.version;
}

void BaseSerializer::_stageNullObject()
{
  _stagePacked(false, eBSNull);
  _stagePacked(false, 0);
}

// ---------------------------------------------------------------------------------------
// Writing

const BaseSerializer::ClassRows& BaseSerializer::_rowsForClass(BaseObject* object)
{
  // A class reports one name, so the rows that carry it depend on the dynamic type alone.
  const std::type_info* type = &typeid(*object);
  if (m_classRows[m_classRowsLast].type == type) return m_classRows[m_classRowsLast];
  for (unsigned i = 0; i < CLASS_ROWS_CACHE; i++) {
    if (m_classRows[i].type == type) {
      m_classRowsLast = i;
      return m_classRows[i];
    }
  }
  const char* className = object->getClass();
  ClassRows& entry = m_classRows[m_classRowsNext];
  entry = {type, 0, nullptr};
  for (unsigned i = 0; i < OBJECT_KINDS; i++)
    if (strcmp(objectDesc[i].className, className) == 0) entry.rows |= 1u << i;
  // One row without a validity test decides alone.
  if (entry.rows && (entry.rows & (entry.rows - 1)) == 0 && !objectDesc[__builtin_ctz(entry.rows)].isValid)
    entry.only = &objectDesc[__builtin_ctz(entry.rows)];
  m_classRowsLast = m_classRowsNext;
  m_classRowsNext = (m_classRowsNext + 1) % CLASS_ROWS_CACHE;
  return entry;
}

bool BaseSerializer::_rowAccepts(const ObjectDescription& row, BaseObject* object)
{
  // The table's own tests, called by name where possible so that they are inlined.
  if (!row.isValid) return true;
  if (row.isValid == &BaseSerializer::isValidInteger) return isValidInteger(object, row.kind);
  if (row.isValid == &BaseSerializer::isValidDouble) return isValidDouble(object, row.kind);
  if (row.isValid == &BaseSerializer::isValidBoolean) return isValidBoolean(object, row.kind);
  return (this->*row.isValid)(object, row.kind);
}

const BaseSerializer::ObjectDescription* BaseSerializer::_rowForObject(BaseObject* object)
{
  const ClassRows& rows = _rowsForClass(object);
  const ObjectDescription* row = rows.only;
  if (rows.rows == NUMBER_ROWS) {
    // The number rows' own tests, in their order, answered by the type at once.
    BaseNumber* number = static_cast<BaseNumber*>(object);
    switch (number->getNumberType()) {
      case BaseNumber::eNumberDouble:
        return &objectDesc[ROW_OF_KIND[eBSDouble]];
      case BaseNumber::eNumberInteger:
        return &objectDesc[ROW_OF_KIND[number->getInteger64() == LLONG_MIN ? eBSDouble : eBSInteger]];
      case BaseNumber::eNumberBoolean:
        return &objectDesc[ROW_OF_KIND[eBSBoolean]];
      default:
        break;
    }
  }
  for (uint32_t candidates = row ? 0 : rows.rows; candidates; candidates &= candidates - 1) {
    const ObjectDescription& candidate = objectDesc[__builtin_ctz(candidates)];
    if (_rowAccepts(candidate, object)) {
      row = &candidate;
      break;
    }
  }
  if (!row) return nullptr;
  // Lengths and counts travel as 32-bit packed integers.
  uint64_t size = 0;
  switch (row->kind) {
    case eBSString:
      size = static_cast<BaseString*>(object)->length();
      break;
    case eBSBuffer:
      size = static_cast<BaseBuffer*>(object)->length();
      break;
    case eBSArray:
      size = static_cast<BaseArray*>(object)->count();
      break;
    case eBSList:
      size = static_cast<BaseList*>(object)->count();
      break;
    case eBSDictionary:
      size = static_cast<BaseDictionary*>(object)->count();
      break;
    default:
      break;
  }
  if (size > PackedInteger::MAX_MAGNITUDE_32) {
    BASE_LOG(this, eMsgError, "%s of %lli bytes or entries is too large for the object stream",
             object->getClass(), (long long)size);
    return nullptr;
  }
  return row;
}

void BaseSerializer::_appendSerializableObject(BaseObject* object)
{
  if (!object) return;
  if (m_writeNesting > 0) {
    _writeObject(object);
    return;
  }
  // The outermost write owns the stage: it starts empty and reaches the stream at the end,
  // and a failed write leaves nothing behind in it.
  m_stageLength = 0;
  try {
    LevelGuard nesting(m_writeNesting);
    _writeObject(object);
    _flushStage();
  } catch (...) {
    m_stageLength = 0;
    throw;
  }
}

void BaseSerializer::_writeObject(BaseObject* object)
{
  const ObjectDescription* row = _rowForObject(object);
  if (!row) {
    BASE_LOG(this, eMsgError, "non serial compliant object in collection");
    // Inside a collection the count is already written: the null object keeps it true.
    if (m_writeDepth > 0) _stageNullObject();
  } else if (isCollectionKind(row->kind) && m_writeDepth >= MAX_NESTING_DEPTH) {
    BASE_LOG(this, eMsgError, "nesting deeper than %i levels, written as null", (int)MAX_NESTING_DEPTH);
    _stageNullObject();
  } else {
    _stageHeader(*row);
    (this->*row->serialize)(object);
  }
}

void BaseSerializer::serializeString(BaseObject* object)
{
  // Called inside an object write only, so the stage is pushed by the outermost write.
  BaseString* text = static_cast<BaseString*>(object);
  const uint32_t length = text->length();
  _stagePacked(false, length);
  if (length <= 64 && m_stageLength + length <= WRITE_STAGE_SIZE) {
    memcpy(m_stageBytes + m_stageLength, text->cString(), length);
    m_stageLength += length;
  } else {
    _stage(text->cString(), length);
  }
}

void BaseSerializer::serializeBuffer(BaseObject* object)
{
  BaseBuffer* buffer = static_cast<BaseBuffer*>(object);
  writeInteger((int)buffer->length());
  _stage(buffer->bytes(), buffer->length());
}

void BaseSerializer::serializeArray(BaseObject* object)
{
  BaseArray* array = static_cast<BaseArray*>(object);
  LevelGuard depth(m_writeDepth);
  const unsigned int count = array->count();
  writeInteger((int)count);
  for (unsigned int i = 0; i < count; i++) _writeElement(array->objectAtIndex(i));
}

void BaseSerializer::serializeList(BaseObject* object)
{
  BaseList* list = static_cast<BaseList*>(object);
  LevelGuard depth(m_writeDepth);
  writeInteger((int)list->count());
  BaseListNode* cursor = nullptr;
  while (list->getNext(cursor)) _writeObject(cursor->object);
}

void BaseSerializer::_writeElement(BaseObject* object)
{
  // Doubles and strings are most of what records hold: their rows, as _writeObject would
  // find them, by the address of their type record (no string comparison).
  const std::type_info* type = &typeid(*object);
  if (type == &typeid(BaseNumber) &&
      static_cast<BaseNumber*>(object)->getNumberType() == BaseNumber::eNumberDouble) {
    _stageHeader(objectDesc[ROW_OF_KIND[eBSDouble]]);
    _writeDouble(static_cast<BaseNumber*>(object)->getDouble());
  } else if (type == &typeid(BaseString) &&
             static_cast<BaseString*>(object)->length() <= PackedInteger::MAX_MAGNITUDE_32) {
    _stageHeader(objectDesc[ROW_OF_KIND[eBSString]]);
    serializeString(object);
  } else {
    _writeObject(object);
  }
}

void BaseSerializer::serializeDictionary(BaseObject* object)
{
  BaseDictionary* dictionary = static_cast<BaseDictionary*>(object);
  LevelGuard depth(m_writeDepth);
  const unsigned int count = dictionary->count();
  writeInteger((int)count);
  for (unsigned int i = 0; i < count; i++) {
    const BaseDictionaryEntry* entry = dictionary->entryAtIndex(i);
    BaseString* key = entry->key;
    BaseObject* value = entry->value;
    // A dictionary stores only keys that report the class BaseString: the string row.
    if (key->length() <= PackedInteger::MAX_MAGNITUDE_32) {
      _stageHeader(objectDesc[ROW_OF_KIND[eBSString]]);
      serializeString(key);
    } else {
      _writeObject(key);
    }
    _writeElement(value);
    BASE_LOG(this, eMsgVerbose, "Serialized %S = %@", key, value);
  }
}

void BaseSerializer::serializeInteger(BaseObject* object)
{
  writeInteger64(static_cast<BaseNumber*>(object)->getInteger64());
}

void BaseSerializer::serializeDouble(BaseObject* object)
{
  BaseNumber* number = static_cast<BaseNumber*>(object);
  if (number->getNumberType() == BaseNumber::eNumberInteger)
    BASE_LOG(this, eMsgWarning, "integer %lli written as a double", (long long)number->getInteger64());
  _writeDouble(number->getDouble());
}

void BaseSerializer::serializeNull(BaseObject*) {}

void BaseSerializer::serializeDate(BaseObject* object)
{
  _writeDouble(static_cast<BaseDate*>(object)->getSeconds());
}

void BaseSerializer::serializeBoolean(BaseObject* object)
{
  writeInteger(static_cast<BaseNumber*>(object)->getBoolean() ? 1 : 0);
}

void BaseSerializer::_writeDouble(double value)
{
  uint64_t bits = bitsOfDouble(value);
  if (bits == UNENCODABLE_DOUBLE_BITS) {
    double neighbour = doubleOfBits(bits - 1);
    BASE_LOG(this, eMsgWarning, "double %g has no encoding, written as %g", value, neighbour);
    bits -= 1;
  }
  // Never the most negative integer now, so always encodable.
  const long long reversed = swap64((long long)bits);
  _stagePacked(reversed < 0, reversed < 0 ? (uint64_t)(-reversed) : (uint64_t)reversed);
}

bool BaseSerializer::isValidInteger(BaseObject* object, eBSObject)
{
  BaseNumber* number = static_cast<BaseNumber*>(object);
  return number->getNumberType() == BaseNumber::eNumberInteger && number->getInteger64() != LLONG_MIN;
}

bool BaseSerializer::isValidDouble(BaseObject* object, eBSObject)
{
  // The one integer without a packed form travels as the double of the same value.
  BaseNumber* number = static_cast<BaseNumber*>(object);
  return number->getNumberType() == BaseNumber::eNumberDouble ||
         (number->getNumberType() == BaseNumber::eNumberInteger && number->getInteger64() == LLONG_MIN);
}

bool BaseSerializer::isValidBoolean(BaseObject* object, eBSObject)
{
  return static_cast<BaseNumber*>(object)->getNumberType() == BaseNumber::eNumberBoolean;
}

// ---------------------------------------------------------------------------------------
// Reading

BaseObject* BaseSerializer::_readObjectInternal(int* kindRead)
{
  try {
    // Every object has at least these two bytes, so they never reach into the next one.
    uint8_t header[2];
    _readBytes(header, 2);
    int kind, version;
    if (header[0] & 0x40) {
      kind = _packed32(header[0], header[1], true);
      version = _readInteger();
    } else {
      kind = (header[0] & 0x80) ? -(header[0] & 0x3F) : (header[0] & 0x3F);
      version = _packed32(header[1]);
    }
    const int rowIndex = kind >= 0 && kind < (int)sizeof ROW_OF_KIND ? ROW_OF_KIND[kind] : -1;
    if (rowIndex < 0) {
      BASE_LOG(this, eMsgError, "unknown object kind in data : %i", kind);
      return nullptr;
    }
    const ObjectDescription& row = objectDesc[rowIndex];
    if (kindRead) *kindRead = kind;
    const unsigned char readVersion = (unsigned char)(version & 0xFF);
    if (readVersion > row.version) {
      BASE_LOG(this, eMsgError, "Version %d for object of type %s not yet supported", (int)readVersion,
               row.className);
      return nullptr;
    }
    return (this->*row.unserialize)(readVersion);
  } catch (IOException* exception) {
    exception->release();
    if (!m_dataRejected) BASE_LOG(this, eMsgInfo, "Premature end of data stream");
    m_dataRejected = false;
    return nullptr;
  }
}

BaseObject* BaseSerializer::unserializeString(unsigned char)
{
  const int length = _readInteger();
  if (length < 0) {
    BASE_LOG(this, eMsgError, "negative length %i in data", length);
    return nullptr;
  }
  Owned<BaseString> text(new BaseString(length <= READ_CHUNK ? (unsigned int)length : 0u));
  _readClaimedBytes((uint32_t)length, (uint32_t)length,
                    [&text](uint32_t count) { return (unsigned char*)text->getBuffer(count); });
  return text.take();
}

BaseObject* BaseSerializer::unserializeBuffer(unsigned char)
{
  const int length = _readInteger();
  if (length < 0) {
    BASE_LOG(this, eMsgError, "negative length %i in data", length);
    return nullptr;
  }
  Owned<BaseBuffer> buffer(nullptr);
  // Made to measure once the size is known; one that cannot make room logs why, and the
  // read is then refused.
  _readClaimedBytes((uint32_t)length, BUFFER_READ_BLOCK, [&buffer](uint32_t count) {
    buffer.reset(count ? new BaseBuffer((size_t)count + 1) : new BaseBuffer());
    return count == 0 || buffer->setLength(count) ? buffer->bytes() : nullptr;
  });
  return buffer.take();
}

bool BaseSerializer::_readCollectionCount(int& count)
{
  if (m_readDepth >= MAX_NESTING_DEPTH) {
    BASE_LOG(this, eMsgError, "nesting deeper than %i levels in data", (int)MAX_NESTING_DEPTH);
    return false;
  }
  count = _readInteger();
  if (count < 0) {
    BASE_LOG(this, eMsgError, "negative count %i in data", count);
    return false;
  }
  return true;
}

template <typename Add>
bool BaseSerializer::_readElements(int count, Add add)
{
  LevelGuard depth(m_readDepth);
  for (int i = 0; i < count; i++) {
    BaseObject* element = _readObjectInternal();
    if (!element) {
      BASE_LOG(this, eMsgError, "unexpected subObject");
      return false;
    }
    add(element);
    element->release();
  }
  return true;
}

BaseObject* BaseSerializer::unserializeArray(unsigned char)
{
  int count;
  if (!_readCollectionCount(count)) return nullptr;
  // Room grows with the elements that arrive, never with the count a peer claims.
  Owned<BaseArray> array(new BaseArray(count < 16 ? (unsigned int)count : 16u));
  if (!_readElements(count, [&array](BaseObject* element) { array->addObject(element); })) return nullptr;
  return array.take();
}

BaseObject* BaseSerializer::unserializeList(unsigned char)
{
  int count;
  if (!_readCollectionCount(count)) return nullptr;
  Owned<BaseList> list(new BaseList());
  if (!_readElements(count, [&list](BaseObject* element) { list->addTrailingObject(element); }))
    return nullptr;
  return list.take();
}

BaseObject* BaseSerializer::unserializeDictionary(unsigned char)
{
  int count;
  if (!_readCollectionCount(count)) return nullptr;
  LevelGuard depth(m_readDepth);
  Owned<BaseDictionary> dictionary(new BaseDictionary());
  for (int i = 0; i < count; i++) {
    int keyKind = 0;
    Owned<BaseObject> key(_readKey(&keyKind));
    // Read even without a key, as far as the data allows.
    Owned<BaseObject> value(_readObjectInternal());
    if (!key.get() || !value.get()) {
      BASE_LOG(this, eMsgError, "unexpected subObject");
      return nullptr;
    }
    if (keyKind != eBSString) {
      BASE_LOG(this, eMsgError, "dictionary key of class %s in data", key->getClass());
      return nullptr;
    }
    dictionary->adoptObjectForKey(value.take(), static_cast<BaseString*>(key.take()));
  }
  return dictionary.take();
}

BaseObject* BaseSerializer::_readKey(int* kindRead)
{
  // Kind, version 0 and a one-byte length, then the bytes, all in the window.
  const uint32_t left = m_windowLength - m_windowUsed;
  const unsigned char* bytes = m_window + m_windowUsed;
  if (left >= 3 && bytes[0] == eBSString && bytes[1] == 0 && bytes[2] <= RECENT_KEY_LENGTH &&
      left - 3 >= bytes[2]) {
    const uint32_t length = bytes[2];
    m_windowUsed += 3 + length;
    *kindRead = eBSString;
    return _recentKey(reinterpret_cast<const char*>(bytes + 3), length);
  }
  return _readObjectInternal(kindRead);
}

BaseString* BaseSerializer::_recentKey(const char* bytes, uint32_t length)
{
  for (unsigned int n = 0; n < RECENT_KEYS; n++) {
    const unsigned int slot = (m_recentKeysHint + n) % RECENT_KEYS;
    BaseString* key = m_recentKeys[slot];
    if (key && key->length() == length && memcmp(key->cString(), bytes, length) == 0) {
      m_recentKeysHint = (slot + 1) % RECENT_KEYS;
      return retain(key);
    }
  }
  BaseString* key = new BaseString(bytes, (int)length);
  // Computed before the key is shared, so that other threads only ever read it.
  key->hash();
  const unsigned int slot = m_recentKeysNext;
  release(m_recentKeys[slot]);
  m_recentKeys[slot] = retain(key);
  m_recentKeysNext = (slot + 1) % RECENT_KEYS;
  m_recentKeysHint = m_recentKeysNext;
  return key;
}

BaseObject* BaseSerializer::unserializeInteger(unsigned char)
{
  return new BaseNumber(_readInteger64());
}

BaseObject* BaseSerializer::unserializeDouble(unsigned char)
{
  return new BaseNumber(_readDouble());
}

BaseObject* BaseSerializer::unserializeNull(unsigned char)
{
  return BaseNull::instance.retain();
}

BaseObject* BaseSerializer::unserializeDate(unsigned char)
{
  return new BaseDate(_readDouble());
}

BaseObject* BaseSerializer::unserializeBoolean(unsigned char)
{
  return new BaseNumber(_readInteger() != 0);
}

double BaseSerializer::_readDouble()
{
  return doubleOfBits((uint64_t)swap64(_readInteger64()));
}
