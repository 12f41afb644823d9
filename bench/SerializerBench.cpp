// What the object stream costs: encoding and decoding the position record (ten doubles
// under string keys) and the request {"cmd_id": "1"} through BaseSerializer over a byte
// buffer, against the same records in MessagePack (msgpack-c) and as a binary property
// list (libplist). Each side encodes from its own in-memory form and decodes into its own
// generic tree, which it then frees.
#include <benchmark/benchmark.h>
#include <msgpack.h>
#include <plist/plist.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"

namespace {

const char* const POSITION_KEYS[] = {"latitude", "longitude", "altitude", "speed", "course",
                                     "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};
const double POSITION_VALUES[] = {46.5213, 6.6323, 1234.5678, 61.75, 271.25,
                                  2.5,     -1.125, 271.5,     0.015, -9.80665};

BaseDictionary* newPositionRecord()
{
  BaseDictionary* record = new BaseDictionary();
  for (int i = 0; i < 10; i++) {
    BaseNumber* value = new BaseNumber(POSITION_VALUES[i]);
    record->setObjectForKey(value, POSITION_KEYS[i]);
    value->release();
  }
  return record;
}

BaseDictionary* newRequest()
{
  BaseDictionary* request = new BaseDictionary();
  request->setCStringForKey("1", "cmd_id");
  return request;
}

std::vector<unsigned char> encoded(BaseObject* object)
{
  BaseAutorelease pool;
  BaseBuffer* buffer = BaseSerializer::serializeObject(object);
  return std::vector<unsigned char>(buffer->bytes(), buffer->bytes() + buffer->length());
}

// ---- BaseSerializer

void corvaneEncode(benchmark::State& state, BaseDictionary* (*make)())
{
  BaseAutorelease pool;
  BaseDictionary* record = make();
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(buffer);
  for (auto _ : state) {
    buffer->clear();
    serializer->appendSerializableObject(record);
    benchmark::DoNotOptimize(buffer->bytes());
  }
  state.counters["bytes"] = buffer->length();
  record->release();
}

void corvaneDecode(benchmark::State& state, BaseDictionary* (*make)())
{
  BaseAutorelease pool;
  BaseDictionary* record = make();
  std::vector<unsigned char> bytes = encoded(record);
  record->release();
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(buffer);
  for (auto _ : state) {
    buffer->clear();  // also rewinds the read position
    buffer->appendBytes(bytes.data(), (uint32_t)bytes.size());
    BaseAutorelease iteration;
    BaseObject* object = serializer->unserializeObjectFromIO();
    if (!object) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(object);
  }
}

void BM_Corvane_EncodePosition(benchmark::State& state)
{
  corvaneEncode(state, newPositionRecord);
}
BENCHMARK(BM_Corvane_EncodePosition);

void BM_Corvane_DecodePosition(benchmark::State& state)
{
  corvaneDecode(state, newPositionRecord);
}
BENCHMARK(BM_Corvane_DecodePosition);

void BM_Corvane_EncodeRequest(benchmark::State& state)
{
  corvaneEncode(state, newRequest);
}
BENCHMARK(BM_Corvane_EncodeRequest);

void BM_Corvane_DecodeRequest(benchmark::State& state)
{
  corvaneDecode(state, newRequest);
}
BENCHMARK(BM_Corvane_DecodeRequest);

// The static entry points, which build a serializer (and a buffer) per call.
void BM_Corvane_EncodePositionStatic(benchmark::State& state)
{
  BaseAutorelease pool;
  BaseDictionary* record = newPositionRecord();
  for (auto _ : state) {
    BaseAutorelease iteration;
    benchmark::DoNotOptimize(BaseSerializer::serializeObject(record));
  }
  record->release();
}
BENCHMARK(BM_Corvane_EncodePositionStatic);

// ---- msgpack-c

void packPosition(msgpack_packer* packer)
{
  msgpack_pack_map(packer, 10);
  for (int i = 0; i < 10; i++) {
    size_t length = strlen(POSITION_KEYS[i]);
    msgpack_pack_str(packer, length);
    msgpack_pack_str_body(packer, POSITION_KEYS[i], length);
    msgpack_pack_double(packer, POSITION_VALUES[i]);
  }
}

void packRequest(msgpack_packer* packer)
{
  msgpack_pack_map(packer, 1);
  msgpack_pack_str(packer, 6);
  msgpack_pack_str_body(packer, "cmd_id", 6);
  msgpack_pack_str(packer, 1);
  msgpack_pack_str_body(packer, "1", 1);
}

void msgpackEncode(benchmark::State& state, void (*pack)(msgpack_packer*))
{
  msgpack_sbuffer buffer;
  msgpack_sbuffer_init(&buffer);
  msgpack_packer packer;
  msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
  for (auto _ : state) {
    msgpack_sbuffer_clear(&buffer);
    pack(&packer);
    benchmark::DoNotOptimize(buffer.data);
  }
  state.counters["bytes"] = (double)buffer.size;
  msgpack_sbuffer_destroy(&buffer);
}

void msgpackDecode(benchmark::State& state, void (*pack)(msgpack_packer*))
{
  msgpack_sbuffer buffer;
  msgpack_sbuffer_init(&buffer);
  msgpack_packer packer;
  msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
  pack(&packer);
  for (auto _ : state) {
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t offset = 0;
    if (msgpack_unpack_next(&result, buffer.data, buffer.size, &offset) != MSGPACK_UNPACK_SUCCESS)
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(result.data.via.map.size);
    msgpack_unpacked_destroy(&result);
  }
  msgpack_sbuffer_destroy(&buffer);
}

// The same peer fed from, and decoding into, our object model: what the format itself costs
// once the objects are the same on both sides.
void BM_Msgpack_EncodePositionFromDictionary(benchmark::State& state)
{
  BaseAutorelease pool;
  BaseDictionary* record = newPositionRecord();
  msgpack_sbuffer buffer;
  msgpack_sbuffer_init(&buffer);
  msgpack_packer packer;
  msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
  for (auto _ : state) {
    msgpack_sbuffer_clear(&buffer);
    const unsigned int count = record->count();
    msgpack_pack_map(&packer, count);
    for (unsigned int i = 0; i < count; i++) {
      BaseString* key = record->keyAtIndex(i);
      msgpack_pack_str(&packer, key->length());
      msgpack_pack_str_body(&packer, key->cString(), key->length());
      msgpack_pack_double(&packer, static_cast<BaseNumber*>(record->objectForKeyIndex(i))->getDouble());
    }
    benchmark::DoNotOptimize(buffer.data);
  }
  msgpack_sbuffer_destroy(&buffer);
  record->release();
}
BENCHMARK(BM_Msgpack_EncodePositionFromDictionary);

void BM_Msgpack_DecodePositionIntoDictionary(benchmark::State& state)
{
  BaseAutorelease pool;
  msgpack_sbuffer buffer;
  msgpack_sbuffer_init(&buffer);
  msgpack_packer packer;
  msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
  packPosition(&packer);
  for (auto _ : state) {
    BaseAutorelease iteration;
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t offset = 0;
    msgpack_unpack_next(&result, buffer.data, buffer.size, &offset);
    BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
    const msgpack_object_map& map = result.data.via.map;
    for (uint32_t i = 0; i < map.size; i++) {
      BaseString* key = new BaseString(map.ptr[i].key.via.str.ptr, (int)map.ptr[i].key.via.str.size);
      BaseNumber* value = new BaseNumber(map.ptr[i].val.via.f64);
      record->setObjectForKey(value, key);
      key->release();
      value->release();
    }
    msgpack_unpacked_destroy(&result);
    benchmark::DoNotOptimize(record);
  }
  msgpack_sbuffer_destroy(&buffer);
}
BENCHMARK(BM_Msgpack_DecodePositionIntoDictionary);

void BM_Msgpack_EncodePosition(benchmark::State& state)
{
  msgpackEncode(state, packPosition);
}
BENCHMARK(BM_Msgpack_EncodePosition);

void BM_Msgpack_DecodePosition(benchmark::State& state)
{
  msgpackDecode(state, packPosition);
}
BENCHMARK(BM_Msgpack_DecodePosition);

void BM_Msgpack_EncodeRequest(benchmark::State& state)
{
  msgpackEncode(state, packRequest);
}
BENCHMARK(BM_Msgpack_EncodeRequest);

void BM_Msgpack_DecodeRequest(benchmark::State& state)
{
  msgpackDecode(state, packRequest);
}
BENCHMARK(BM_Msgpack_DecodeRequest);

// ---- binary property list

plist_t newPlistPosition()
{
  plist_t record = plist_new_dict();
  for (int i = 0; i < 10; i++)
    plist_dict_set_item(record, POSITION_KEYS[i], plist_new_real(POSITION_VALUES[i]));
  return record;
}

plist_t newPlistRequest()
{
  plist_t request = plist_new_dict();
  plist_dict_set_item(request, "cmd_id", plist_new_string("1"));
  return request;
}

void plistEncode(benchmark::State& state, plist_t record)
{
  uint32_t length = 0;
  for (auto _ : state) {
    char* bytes = nullptr;
    plist_to_bin(record, &bytes, &length);
    benchmark::DoNotOptimize(bytes);
    free(bytes);
  }
  state.counters["bytes"] = length;
  plist_free(record);
}

void plistDecode(benchmark::State& state, plist_t record)
{
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(record, &bytes, &length);
  plist_free(record);
  for (auto _ : state) {
    plist_t decoded = nullptr;
    plist_from_bin(bytes, length, &decoded);
    if (!decoded) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(decoded);
    plist_free(decoded);
  }
  free(bytes);
}

void BM_Plist_EncodePosition(benchmark::State& state)
{
  plistEncode(state, newPlistPosition());
}
BENCHMARK(BM_Plist_EncodePosition);

void BM_Plist_DecodePosition(benchmark::State& state)
{
  plistDecode(state, newPlistPosition());
}
BENCHMARK(BM_Plist_DecodePosition);

void BM_Plist_EncodeRequest(benchmark::State& state)
{
  plistEncode(state, newPlistRequest());
}
BENCHMARK(BM_Plist_EncodeRequest);

void BM_Plist_DecodeRequest(benchmark::State& state)
{
  plistDecode(state, newPlistRequest());
}
BENCHMARK(BM_Plist_DecodeRequest);

}  // namespace
