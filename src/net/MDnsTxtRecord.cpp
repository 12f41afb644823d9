#include "net/MDnsTxtRecord.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Lives inside the caller's TXTRecordRef.
struct TxtRecord
{
  uint8_t* bytes;
  uint16_t length;
  uint16_t capacity;
  bool owned;  // allocated here rather than handed to txtCreate
};
static_assert(sizeof(TxtRecord) <= sizeof(TXTRecordRef) && alignof(TxtRecord) <= alignof(TXTRecordRef),
              "the TXT record state must fit in dns_sd.h's TXTRecordRef");

TxtRecord& recordOf(TXTRecordRef* txt)
{
  return *std::launder(reinterpret_cast<TxtRecord*>(txt));
}

const TxtRecord& recordOf(const TXTRecordRef* txt)
{
  return *std::launder(reinterpret_cast<const TxtRecord*>(txt));
}

uint8_t lowerCase(uint8_t c)
{
  return c >= 'A' && c <= 'Z' ? uint8_t(c - 'A' + 'a') : c;
}

// Keys compare without regard to letter case (they are printable ASCII).
void removeKey(TxtRecord& record, const char* key, size_t keyLength)
{
  for (size_t at = 0; at < record.length;) {
    const size_t itemLength = record.bytes[at];
    const uint8_t* item = record.bytes + at + 1;
    bool same = itemLength >= keyLength && (itemLength == keyLength || item[keyLength] == '=');
    for (size_t i = 0; same && i < keyLength; ++i) same = lowerCase(item[i]) == lowerCase(uint8_t(key[i]));
    if (!same) {
      at += 1 + itemLength;
      continue;
    }
    memmove(record.bytes + at, item + itemLength, record.length - at - 1 - itemLength);
    record.length = uint16_t(record.length - 1 - itemLength);
  }
}

}  // namespace

void MDnsTxtRecord::txtCreate(TXTRecordRef* txt, uint16_t bufferLength, void* buffer)
{
  new (txt) TxtRecord{static_cast<uint8_t*>(buffer), 0, uint16_t(buffer ? bufferLength : 0), false};
}

DNSServiceErrorType MDnsTxtRecord::txtSetValue(TXTRecordRef* txt, const char* key, uint8_t valueLength,
                                               const void* value)
{
  TxtRecord& record = recordOf(txt);
  if (!key) return kDNSServiceErr_Invalid;
  size_t keyLength = 0;
  for (; key[keyLength]; ++keyLength)
    if (key[keyLength] < 0x20 || key[keyLength] > 0x7e || key[keyLength] == '=')
      return kDNSServiceErr_Invalid;
  const size_t itemLength = keyLength + (value ? 1 + valueLength : 0);
  if (keyLength == 0 || itemLength > 255) return kDNSServiceErr_Invalid;
  removeKey(record, key, keyLength);
  const size_t needed = record.length + 1 + itemLength;
  if (needed > UINT16_MAX) return kDNSServiceErr_NoMemory;
  if (needed > record.capacity) {
    uint8_t* grown = static_cast<uint8_t*>(malloc(needed));
    if (!grown) return kDNSServiceErr_NoMemory;
    if (record.length) memcpy(grown, record.bytes, record.length);
    if (record.owned) free(record.bytes);
    record = TxtRecord{grown, record.length, uint16_t(needed), true};
  }
  uint8_t* item = record.bytes + record.length;
  item[0] = uint8_t(itemLength);
  memcpy(item + 1, key, keyLength);
  if (value) {
    item[1 + keyLength] = '=';
    memcpy(item + 2 + keyLength, value, valueLength);
  }
  record.length = uint16_t(needed);
  return kDNSServiceErr_NoError;
}

uint16_t MDnsTxtRecord::txtGetLength(const TXTRecordRef* txt)
{
  return recordOf(txt).length;
}

const void* MDnsTxtRecord::txtGetBytesPtr(const TXTRecordRef* txt)
{
  return recordOf(txt).bytes;
}

void MDnsTxtRecord::txtDeallocate(TXTRecordRef* txt)
{
  TxtRecord& record = recordOf(txt);
  if (record.owned) free(record.bytes);
  record = TxtRecord{nullptr, 0, 0, false};
}
