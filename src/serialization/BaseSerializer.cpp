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

namespace {

const uint64_t MAX_MAGNITUDE_32 = 0x7FFFFFFFull;
const uint64_t MAX_MAGNITUDE_64 = 0x7FFFFFFFFFFFFFFFull;
// The reversed-byte form of this double is INT64_MIN, which has no packed form.
const uint64_t UNENCODABLE_DOUBLE_BITS = 0x80;

// Holds the one reference to an object under construction until it is handed out, so
// that an exception releases a partial object.
template <typename T>
class Owned
{
public:
  explicit Owned(T* object) : m_object(object) {}
  ~Owned() { BaseObject::release(m_object); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T* operator->() const { return m_object; }
  T* get() const { return m_object; }
  void reset(T* object)
  {
    BaseObject::release(m_object);
    m_object = object;
  }
  T* take()
  {
    T* object = m_object;
    m_object = nullptr;
    return object;
  }

private:
  T* m_object;
};

// Counts one level for the lifetime of a scope, exceptions included.
class LevelGuard
{
public:
  explicit LevelGuard(unsigned int& level) : m_level(level) { m_level++; }
  ~LevelGuard() { m_level--; }
  LevelGuard(const LevelGuard&) = delete;
  LevelGuard& operator=(const LevelGuard&) = delete;

private:
  unsigned int& m_level;
};

bool isCollectionKind(eBSObject kind)
{
  return kind == eBSArray || kind == eBSDictionary || kind == eBSList;
}

// The row of each kind, by kind; -1 where no kind is.
const signed char ROW_OF_KIND[23] = {-1, 1, 7, -1, -1, -1, -1, -1, -1, -1, 0, 8,
                                     5,  6, 9, 10, -1, -1, -1, -1, 2,  4,  3};

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
    m_stream->flushIO();
  } catch (IOException* exception) {
    exception->release();
    BASE_LOG(this, eMsgError, "Write error on output stream while serializing");
    return false;
  }
  return true;
}

BaseObject* BaseSerializer::unserializeObjectFromIO()
{
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
  uint8_t first;
  _readBytes(&first, 1);
  return _packed32(first);
}

long long BaseSerializer::readInteger64()
{
  uint8_t first;
  _readBytes(&first, 1);
  return _packed64(first);
}

int BaseSerializer::_packed32(uint8_t first, uint8_t firstExtension, bool haveExtension)
{
  int magnitude = (first & 0x40)
                      ? (int)_packedMagnitude(first, firstExtension, haveExtension, 4, MAX_MAGNITUDE_32)
                      : (first & 0x3F);
  return (first & 0x80) ? -magnitude : magnitude;
}

long long BaseSerializer::_packed64(uint8_t first)
{
  long long magnitude =
      (first & 0x40) ? (long long)_packedMagnitude(first, 0, false, 8, MAX_MAGNITUDE_64) : (first & 0x3F);
  return (first & 0x80) ? -magnitude : magnitude;
}

uint64_t BaseSerializer::_packedMagnitude(uint8_t first, uint8_t firstExtension, bool haveExtension,
                                          unsigned maxExtension, uint64_t maxMagnitude)
{
  unsigned count = ((first >> 3) & 7) + 1;
  if (count > maxExtension) {
    BASE_LOG(this, eMsgError, "packed integer with %i extension bytes in data", (int)count);
    _rejectData();
  }
  uint8_t extension[8];
  unsigned have = 0;
  if (haveExtension) extension[have++] = firstExtension;
  if (count > have) _readBytes(extension + have, count - have);
  uint64_t high = 0;
  for (unsigned i = count; i-- > 0;) high = (high << 8) | extension[i];
  if (high > (maxMagnitude >> 3)) {
    BASE_LOG(this, eMsgError, "packed integer out of range in data");
    _rejectData();
  }
  return (high << 3) | (first & 7);
}

void BaseSerializer::_stagePacked(bool negative, uint64_t magnitude)
{
  if (m_stageLength + 9 > WRITE_STAGE_SIZE) _flushStage();
  unsigned char* out = m_stageBytes + m_stageLength;
  const unsigned char sign = negative ? 0x80 : 0;
  if (magnitude <= 63) {
    out[0] = (unsigned char)(sign | magnitude);
    m_stageLength += 1;
    return;
  }
  // The fewest bytes that hold the magnitude shifted right by 3 (at least 8, so one).
  const uint64_t high = magnitude >> 3;
  const unsigned extension = (unsigned)(64 - __builtin_clzll(high) + 7) / 8;
  out[0] = (unsigned char)(sign | 0x40 | ((extension - 1) << 3) | (magnitude & 7));
  // Least significant byte first; the stage has room for all eight.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  memcpy(out + 1, &high, 8);
#else
  for (unsigned i = 0; i < 8; i++) out[1 + i] = (unsigned char)(high >> (8 * i));
#endif
  m_stageLength += 1 + extension;
}

// ---------------------------------------------------------------------------------------
// Byte movement

void BaseSerializer::_readBytes(void* buffer, uint32_t count)
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
    m_stream->writeIO(bytes, count);
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
  m_stream->writeIO(m_stageBytes, count);
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
  if (size > MAX_MAGNITUDE_32) {
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
    // Kinds and versions are below 64: one byte each.
    if (m_stageLength + 2 > WRITE_STAGE_SIZE) _flushStage();
    m_stageBytes[m_stageLength++] = (unsigned char)row->kind;
    m_stageBytes[m_stageLength++] = row->version;
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
  for (unsigned int i = 0; i < count; i++) _writeObject(array->objectAtIndex(i));
}

void BaseSerializer::serializeList(BaseObject* object)
{
  BaseList* list = static_cast<BaseList*>(object);
  LevelGuard depth(m_writeDepth);
  writeInteger((int)list->count());
  BaseListNode* cursor = nullptr;
  while (list->getNext(cursor)) _writeObject(cursor->object);
}

void BaseSerializer::serializeDictionary(BaseObject* object)
{
  BaseDictionary* dictionary = static_cast<BaseDictionary*>(object);
  LevelGuard depth(m_writeDepth);
  const unsigned int count = dictionary->count();
  writeInteger((int)count);
  for (unsigned int i = 0; i < count; i++) {
    // The value of the key at the same index: the dictionary's cursor is already there.
    BaseString* key = dictionary->keyAtIndex(i);
    BaseObject* value = dictionary->objectForKeyIndex(i);
    // A dictionary stores only keys that report the class BaseString: the string row.
    if (key->length() <= MAX_MAGNITUDE_32) {
      if (m_stageLength + 2 > WRITE_STAGE_SIZE) _flushStage();
      m_stageBytes[m_stageLength++] = eBSString;
      m_stageBytes[m_stageLength++] = objectDesc[ROW_OF_KIND[eBSString]].version;
      serializeString(key);
    } else {
      _writeObject(key);
    }
    _writeObject(value);
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
      version = readInteger();
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
  const int length = readInteger();
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
  const int length = readInteger();
  if (length < 0) {
    BASE_LOG(this, eMsgError, "negative length %i in data", length);
    return nullptr;
  }
  Owned<BaseBuffer> buffer(nullptr);
  // Made to measure once the size is known; one that cannot make room logs why, and the
  // read is then refused.
  _readClaimedBytes((uint32_t)length, BUFFER_READ_BLOCK, [&buffer](uint32_t count) {
    buffer.reset(count ? new BaseBuffer((unsigned long)count + 1) : new BaseBuffer());
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
  count = readInteger();
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
    Owned<BaseObject> key(_readObjectInternal(&keyKind));
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
    dictionary->setObjectForKey(value.get(), static_cast<BaseString*>(key.get()));
  }
  return dictionary.take();
}

BaseObject* BaseSerializer::unserializeInteger(unsigned char)
{
  return new BaseNumber(readInteger64());
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
  return new BaseNumber(readInteger() != 0);
}

double BaseSerializer::_readDouble()
{
  return doubleOfBits((uint64_t)swap64(readInteger64()));
}

// ---------------------------------------------------------------------------------------
// File objects

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
  return !memchr(text, '/', length) && !memchr(text, 0, length);
}

// A relative path that stays below the directory it is appended to.
bool isSafeContextPath(BaseObject* object)
{
  if (!BaseObject::isOfClass(object, "BaseString")) return false;
  BaseString* path = static_cast<BaseString*>(object);
  const char* text = path->cString();
  const unsigned int length = path->length();
  if (memchr(text, 0, length) || (length > 0 && text[0] == '/')) return false;
  for (const char* component = text; *component;) {
    const char* end = strchr(component, '/');
    size_t componentLength = end ? (size_t)(end - component) : strlen(component);
    if (componentLength == 2 && component[0] == '.' && component[1] == '.') return false;
    if (!end) break;
    component = end + 1;
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
