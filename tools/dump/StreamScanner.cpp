#include "StreamScanner.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "serialization/BaseSerializer.h"
#include "serialization/PackedInteger.h"

namespace {

bool isKey(const unsigned char* bytes, size_t length, const char* key)
{
  return length == strlen(key) && memcmp(bytes, key, length) == 0;
}

}  // namespace

const char* StreamScanner::kindName(int kind)
{
  switch (kind) {
    case eBSBuffer:
      return "buffer";
    case eBSFile:
      return "file";
    case eBSString:
      return "string";
    case eBSNull:
      return "null";
    case eBSInteger:
      return "integer";
    case eBSDouble:
      return "double";
    case eBSDate:
      return "date";
    case eBSBoolean:
      return "boolean";
    case eBSArray:
      return "array";
    case eBSDictionary:
      return "dictionary";
    case eBSList:
      return "list";
    default:
      return nullptr;
  }
}

bool StreamScanner::scanObject(size_t offset, size_t& end)
{
  m_files.clear();
  m_problem.clear();
  Value value;
  size_t pos = offset;
  if (!_object(pos, 0, value)) return false;
  end = pos;
  return true;
}

bool StreamScanner::_fail(size_t offset, const char* format, ...)
{
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  m_errorOffset = offset;
  m_problem = text;
  return false;
}

bool StreamScanner::_packed(size_t& pos, bool wide, long long& value, const char* field, const char* object,
                            size_t objectOffset)
{
  const size_t start = pos;
  if (start >= m_length)
    return _fail(m_length, "stream ends inside the %s of the %s at byte %zu", field, object, objectOffset);
  const unsigned char first = m_bytes[start];
  const unsigned int count = PackedInteger::extensionLength(first);
  if (!wide && count > PackedInteger::MAX_EXTENSION_32)
    return _fail(start, "packed integer with %u extension bytes (at most 4 in the %s of this %s)", count,
                 field, object);
  if (m_length - start - 1 < count)
    return _fail(m_length, "stream ends inside the %s of the %s at byte %zu", field, object, objectOffset);
  uint64_t magnitude = 0;
  if (!PackedInteger::decodeMagnitude(
          first, m_bytes + start + 1,
          wide ? PackedInteger::MAX_MAGNITUDE_64 : PackedInteger::MAX_MAGNITUDE_32, magnitude))
    return _fail(start, "packed integer out of range in the %s of the %s at byte %zu", field, object,
                 objectOffset);
  pos = start + 1 + count;
  value = PackedInteger::isNegative(first) ? -(long long)magnitude : (long long)magnitude;
  return true;
}

bool StreamScanner::_object(size_t& pos, unsigned int depth, Value& value, FileSizes* sizes)
{
  const size_t offset = pos;
  long long kind, version;
  if (!_packed(pos, false, kind, "header", "object", offset)) return false;
  const char* name = kindName((int)kind);
  if (!name) return _fail(offset, "unknown object kind %lld", kind);
  const size_t versionOffset = pos;
  if (!_packed(pos, false, version, "header", name, offset)) return false;
  // The reader keeps the low 8 bits, and knows version 0 of every kind.
  if ((version & 0xFF) != 0)
    return _fail(versionOffset, "version %d of %s objects is not supported", (int)(version & 0xFF), name);

  value = Value{(int)kind, 0, 0, 0};
  long long number;
  switch (kind) {
    case eBSString:
    case eBSBuffer: {
      const size_t lengthOffset = pos;
      if (!_packed(pos, false, number, "length", name, offset)) return false;
      if (number < 0)
        return _fail(lengthOffset, "negative length %lld of the %s at byte %zu", number, name, offset);
      if ((unsigned long long)number > m_length - pos)
        return _fail(lengthOffset, "%s at byte %zu claims %lld bytes, only %zu follow", name, offset, number,
                     m_length - pos);
      value.payload = pos;
      value.payloadLength = (size_t)number;
      pos += (size_t)number;
      return true;
    }
    case eBSInteger:
      return _packed(pos, true, value.integer, "value", name, offset);
    case eBSDouble:
    case eBSDate:
      return _packed(pos, true, number, "value", name, offset);
    case eBSBoolean:
      return _packed(pos, false, number, "value", name, offset);
    case eBSNull:
      return true;
    case eBSFile:
      return _file(pos, offset, depth);
    default:
      return _collection(pos, offset, (int)kind, depth, sizes);
  }
}

bool StreamScanner::_collection(size_t& pos, size_t objectOffset, int kind, unsigned int depth,
                                FileSizes* sizes)
{
  const char* name = kindName(kind);
  if (depth >= BaseSerializer::MAX_NESTING_DEPTH)
    return _fail(objectOffset, "%s nests deeper than %d levels", name,
                 (int)BaseSerializer::MAX_NESTING_DEPTH);
  const size_t countOffset = pos;
  long long count;
  if (!_packed(pos, false, count, "count", name, objectOffset)) return false;
  if (count < 0)
    return _fail(countOffset, "negative count %lld of the %s at byte %zu", count, name, objectOffset);
  const bool dictionary = kind == eBSDictionary;
  const char* unit = dictionary ? "entries" : "elements";
  // Each element is read before the next is looked at: a claimed count costs nothing.
  for (long long i = 0; i < count; i++) {
    if (pos >= m_length)
      return _fail(m_length, "stream ends inside the %s at byte %zu after %lld of %lld %s", name,
                   objectOffset, i, count, unit);
    const size_t elementOffset = pos;
    Value element;
    if (!_object(pos, depth + 1, element)) return false;
    if (!dictionary) continue;
    if (element.kind != eBSString)
      return _fail(elementOffset, "dictionary key is a %s, not a string", kindName(element.kind));
    if (pos >= m_length)
      return _fail(m_length,
                   "stream ends inside the dictionary at byte %zu after the key of entry %lld of %lld",
                   objectOffset, i + 1, count);
    Value entry;
    if (!_object(pos, depth + 1, entry)) return false;
    if (!sizes) continue;
    // The attributes of a file: a later entry of the same key replaces an earlier one.
    const unsigned char* key = m_bytes + element.payload;
    const bool isSize = isKey(key, element.payloadLength, "fa_size");
    if (!isSize && !isKey(key, element.payloadLength, "fa_to")) continue;
    const bool valid = entry.kind == eBSInteger && entry.integer >= 0;
    if (isSize) {
      sizes->hasSize = true;
      sizes->size = valid ? entry.integer : -1;
    } else {
      sizes->transferOffset = valid ? entry.integer : -1;
    }
  }
  if (sizes) sizes->valid = sizes->size >= 0 && sizes->transferOffset >= 0;
  return true;
}

bool StreamScanner::_file(size_t& pos, size_t objectOffset, unsigned int depth)
{
  const size_t attributesOffset = pos;
  if (pos >= m_length)
    return _fail(m_length, "stream ends inside the file at byte %zu before its attributes", objectOffset);
  // The kind is looked at first: a file whose attributes are a file again, and so on, would
  // otherwise nest without limit at one level.
  size_t kindEnd = pos;
  long long kind;
  if (!_packed(kindEnd, false, kind, "header", "object", attributesOffset)) return false;
  if (kind != eBSDictionary) {
    const char* name = kindName((int)kind);
    if (!name) return _fail(attributesOffset, "unknown object kind %lld", kind);
    return _fail(attributesOffset, "file attributes are a %s, not a dictionary", name);
  }
  FileSizes sizes;
  Value attributes;
  if (!_object(pos, depth, attributes, &sizes)) return false;
  // Without a size the reader takes no content and makes an empty file object.
  long long length = 0;
  if (sizes.hasSize) {
    if (!sizes.valid)
      return _fail(attributesOffset, "fa_size or fa_to of the file at byte %zu is not a non-negative integer",
                   objectOffset);
    if (sizes.transferOffset > sizes.size)
      return _fail(attributesOffset, "transfer offset %lld of the file at byte %zu is beyond its size %lld",
                   sizes.transferOffset, objectOffset, sizes.size);
    length = sizes.size - sizes.transferOffset;
  }
  if ((unsigned long long)length > m_length - pos)
    return _fail(pos, "file at byte %zu announces %lld content bytes, only %zu follow", objectOffset, length,
                 m_length - pos);
  m_files.push_back(FileObject{objectOffset, attributesOffset, pos, (size_t)length});
  pos += (size_t)length;
  return true;
}
