#include "serialization/BaseSerializer.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cfloat>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "io/BaseBuffer.h"
#include "io/IOExceptionFilter.h"
#include "object/BaseArray.h"
#include "object/BaseBits.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseList.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// A byte source and sink in memory that records how it is used: the largest read asked
// for, the bytes consumed, and the heap in use at each read (glibc's count; 0 where a
// sanitizer replaces the allocator). Writes can be made to fail after a number of bytes.
class MemoryStream : public IOAbstract
{
public:
  explicit MemoryStream(Bytes data = Bytes(), uint32_t perRead = 0xFFFFFFFFu)
      : m_data(std::move(data)), m_perRead(perRead)
  {
  }
  bool readIO(void* buffer, uint32_t& length) override
  {
    if (length > largestRead) largestRead = length;
    size_t heap = heapInUse();
    if (heap > peakHeap) peakHeap = heap;
    uint32_t n = length < m_perRead ? length : m_perRead;
    if (n > m_data.size() - position) n = (uint32_t)(m_data.size() - position);
    if (n) memcpy(buffer, m_data.data() + position, n);
    position += n;
    length = n;
    return n > 0;
  }
  bool writeIO(const void* bytes, uint32_t length) override
  {
    writes++;
    if (written.size() + length > writeLimit) return false;
    written.insert(written.end(), (const uint8_t*)bytes, (const uint8_t*)bytes + length);
    return true;
  }
  bool flushIO() override
  {
    flushes++;
    return true;
  }
  static size_t heapInUse()
  {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  }

  size_t position = 0;
  uint32_t largestRead = 0;
  size_t peakHeap = 0;
  Bytes written;
  size_t writeLimit = SIZE_MAX;
  int writes = 0;
  int flushes = 0;

private:
  Bytes m_data;
  uint32_t m_perRead;
};

// The bytes of a string literal, without its terminator.
Bytes text(const char* literal)
{
  return Bytes(literal, literal + strlen(literal));
}

Bytes concat(std::initializer_list<Bytes> parts)
{
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes bytesOf(BaseBuffer* buffer)
{
  return Bytes(buffer->bytes(), buffer->bytes() + buffer->length());
}

// The encoding of `object` through the static entry point.
Bytes encode(BaseObject* object)
{
  BaseAutorelease pool;
  return bytesOf(BaseSerializer::serializeObject(object));
}

// One object read from `bytes`, in the caller's pool.
BaseObject* decode(const Bytes& bytes)
{
  BaseBuffer* buffer = new BaseBuffer(bytes.data(), (uint32_t)bytes.size());
  BaseObject* object = BaseSerializer::unserializeObject(buffer);
  buffer->release();
  return object;
}

BaseNumber* number(double value)
{
  return new (eRetainAutorelease) BaseNumber(value);
}
BaseNumber* integer(long long value)
{
  return new (eRetainAutorelease) BaseNumber(value);
}
BaseString* str(const char* value)
{
  return new (eRetainAutorelease) BaseString(value);
}

class SerializerFixture : public ::testing::Test
{
protected:
  BaseAutorelease m_pool;
};

// ---------------------------------------------------------------------------------------
// Packed integers

struct PackedCase
{
  long long value;
  Bytes bytes;
};

const PackedCase WORKED_VALUES[] = {
    {0, {0x00}},
    {1, {0x01}},
    {-1, {0x81}},
    {63, {0x3F}},
    {-63, {0xBF}},
    {64, {0x40, 0x08}},
    {100, {0x44, 0x0C}},
    {1000, {0x40, 0x7D}},
    {-1000, {0xC0, 0x7D}},
    {100000, {0x48, 0xD4, 0x30}},
    {2147483647, {0x5F, 0xFF, 0xFF, 0xFF, 0x0F}},
    {-2147483647, {0xDF, 0xFF, 0xFF, 0xFF, 0x0F}},
};

const PackedCase WIDE_VALUES[] = {
    {1ll << 40, {0x60, 0x00, 0x00, 0x00, 0x00, 0x20}},
    {2147483648ll, {0x58, 0x00, 0x00, 0x00, 0x10}},
    {LLONG_MAX, {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
    {-LLONG_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
};

class PackedIntegerFixture : public SerializerFixture
{
protected:
  // Reads with `read` from `bytes`; the value, or the IOException turned into false.
  template <typename Read>
  static bool readFrom(const Bytes& bytes, Read read, MemoryStream** used = nullptr)
  {
    MemoryStream* stream = new (eRetainAutorelease) MemoryStream(bytes);
    BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
    if (used) *used = stream;
    try {
      read(serializer);
    } catch (IOException* exception) {
      exception->release();
      return false;
    }
    return true;
  }
};

TEST_F(PackedIntegerFixture, WorkedValuesWriteByteForByteInBothWidths)
{
  for (const PackedCase& c : WORKED_VALUES) {
    MemoryStream* narrow = new (eRetainAutorelease) MemoryStream();
    MemoryStream* wide = new (eRetainAutorelease) MemoryStream();
    BaseSerializer* narrowWriter = new (eRetainAutorelease) BaseSerializer(narrow);
    BaseSerializer* wideWriter = new (eRetainAutorelease) BaseSerializer(wide);
    narrowWriter->writeInteger((int)c.value);
    wideWriter->writeInteger64(c.value);
    EXPECT_EQ(narrow->written, c.bytes) << c.value;
    EXPECT_EQ(wide->written, c.bytes) << c.value;
  }
  for (const PackedCase& c : WIDE_VALUES) {
    MemoryStream* wide = new (eRetainAutorelease) MemoryStream();
    (new (eRetainAutorelease) BaseSerializer(wide))->writeInteger64(c.value);
    EXPECT_EQ(wide->written, c.bytes) << c.value;
  }
}

TEST_F(PackedIntegerFixture, WorkedValuesReadBackInBothWidthsAndConsumeOnlyTheirBytes)
{
  for (const PackedCase& c : WORKED_VALUES) {
    int narrow = 0;
    long long wide = 0;
    MemoryStream* stream = nullptr;
    Bytes followed = concat({c.bytes, {0x2A}});
    EXPECT_TRUE(readFrom(
        followed, [&](BaseSerializer* s) { narrow = s->readInteger(); }, &stream));
    EXPECT_EQ(stream->position, c.bytes.size());
    EXPECT_TRUE(readFrom(followed, [&](BaseSerializer* s) { wide = s->readInteger64(); }));
    EXPECT_EQ(narrow, c.value);
    EXPECT_EQ(wide, c.value);
  }
  for (const PackedCase& c : WIDE_VALUES) {
    long long wide = 0;
    EXPECT_TRUE(readFrom(c.bytes, [&](BaseSerializer* s) { wide = s->readInteger64(); }));
    EXPECT_EQ(wide, c.value);
  }
}

TEST_F(PackedIntegerFixture, NegativeZeroReadsAsZero)
{
  int narrow = -1;
  long long wide = -1;
  EXPECT_TRUE(readFrom({0x80}, [&](BaseSerializer* s) { narrow = s->readInteger(); }));
  EXPECT_TRUE(readFrom({0xC0, 0x00}, [&](BaseSerializer* s) { wide = s->readInteger64(); }));
  EXPECT_EQ(narrow, 0);
  EXPECT_EQ(wide, 0);
}

TEST_F(PackedIntegerFixture, LongerFormsThanNeededAreStillRead)
{
  int value = 0;
  EXPECT_TRUE(readFrom({0x41, 0x00, 0x00}, [&](BaseSerializer* s) { value = s->readInteger(); }));
  EXPECT_EQ(value, 1);
}

TEST_F(PackedIntegerFixture, ThirtyTwoBitFormRefusesMoreThanFourExtensionBytes)
{
  LogCapture log;
  EXPECT_FALSE(readFrom({0x60, 0x00, 0x00, 0x00, 0x00, 0x20}, [](BaseSerializer* s) { s->readInteger(); }));
  EXPECT_EQ(log.text(), "Error: packed integer with 5 extension bytes in data\n");
}

TEST_F(PackedIntegerFixture, MagnitudesBeyondEachFormAreRefused)
{
  LogCapture log;
  // 2^31 in the 32-bit form, and -2^31, whose magnitude is just as far out.
  EXPECT_FALSE(readFrom({0x58, 0x00, 0x00, 0x00, 0x10}, [](BaseSerializer* s) { s->readInteger(); }));
  EXPECT_FALSE(readFrom({0xD8, 0x00, 0x00, 0x00, 0x10}, [](BaseSerializer* s) { s->readInteger(); }));
  // 2^63 and -2^63 in the 64-bit form.
  EXPECT_FALSE(readFrom({0x78, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10},
                        [](BaseSerializer* s) { s->readInteger64(); }));
  EXPECT_FALSE(readFrom({0xF8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10},
                        [](BaseSerializer* s) { s->readInteger64(); }));
  EXPECT_EQ(log.text(),
            "Error: packed integer out of range in data\n"
            "Error: packed integer out of range in data\n"
            "Error: packed integer out of range in data\n"
            "Error: packed integer out of range in data\n");
}

TEST_F(PackedIntegerFixture, TheMostNegativeValuesAreRefusedByTheWriter)
{
  LogCapture log;
  MemoryStream* stream = new (eRetainAutorelease) MemoryStream();
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
  int refused = 0;
  try {
    serializer->writeInteger(INT_MIN);
  } catch (IOException* exception) {
    exception->release();
    refused++;
  }
  try {
    serializer->writeInteger64(LLONG_MIN);
  } catch (IOException* exception) {
    exception->release();
    refused++;
  }
  EXPECT_EQ(refused, 2);
  EXPECT_TRUE(stream->written.empty());
  EXPECT_EQ(log.text(),
            "Error: -2147483648 has no encoding in the object stream\n"
            "Error: -9223372036854775808 has no encoding in the object stream\n");
}

// ---------------------------------------------------------------------------------------
// Whole objects

class WholeObjectFixture : public SerializerFixture
{
};

TEST_F(WholeObjectFixture, WorkedExamplesWriteByteForByte)
{
  EXPECT_EQ(encode(str("abc")), (Bytes{0x0A, 0x00, 0x03, 0x61, 0x62, 0x63}));
  EXPECT_EQ(encode(&BaseNull::instance), (Bytes{0x0B, 0x00}));
  EXPECT_EQ(encode(new (eRetainAutorelease) BaseNumber(true)), (Bytes{0x0F, 0x00, 0x01}));
  EXPECT_EQ(encode(new (eRetainAutorelease) BaseNumber(false)), (Bytes{0x0F, 0x00, 0x00}));

  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(integer(1), "cmd_id");
  EXPECT_EQ(encode(request),
            concat({{0x15, 0x00, 0x01, 0x0A, 0x00, 0x06}, text("cmd_id"), {0x0C, 0x00, 0x01}}));

  BaseArray* array = new (eRetainAutorelease) BaseArray(number(1.0), &BaseNull::instance, nullptr);
  EXPECT_EQ(encode(array), (Bytes{0x14, 0x00, 0x02, 0x0D, 0x00, 0x4F, 0x07, 0x1E, 0x0B, 0x00}));

  EXPECT_EQ(encode(str("")), (Bytes{0x0A, 0x00, 0x00}));
  EXPECT_EQ(encode(new (eRetainAutorelease) BaseArray()), (Bytes{0x14, 0x00, 0x00}));
  EXPECT_EQ(encode(new (eRetainAutorelease) BaseDictionary()), (Bytes{0x15, 0x00, 0x00}));
}

TEST_F(WholeObjectFixture, WorkedExamplesReadBackAsEqualObjects)
{
  BaseObject* abc = decode({0x0A, 0x00, 0x03, 0x61, 0x62, 0x63});
  ASSERT_TRUE(BaseObject::isOfClass(abc, "BaseString"));
  EXPECT_STREQ(static_cast<BaseString*>(abc)->cString(), "abc");

  EXPECT_EQ(decode({0x0B, 0x00}), &BaseNull::instance);

  BaseObject* yes = decode({0x0F, 0x00, 0x01});
  ASSERT_TRUE(BaseObject::isOfClass(yes, "BaseNumber"));
  EXPECT_EQ(static_cast<BaseNumber*>(yes)->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_TRUE(static_cast<BaseNumber*>(yes)->getBoolean());

  BaseObject* request =
      decode(concat({{0x15, 0x00, 0x01, 0x0A, 0x00, 0x06}, text("cmd_id"), {0x0C, 0x00, 0x01}}));
  ASSERT_TRUE(BaseObject::isOfClass(request, "BaseDictionary"));
  BaseNumber* command =
      static_cast<BaseNumber*>(static_cast<BaseDictionary*>(request)->objectForKey("cmd_id"));
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(command->getInteger64(), 1);

  BaseObject* array = decode({0x14, 0x00, 0x02, 0x0D, 0x00, 0x4F, 0x07, 0x1E, 0x0B, 0x00});
  ASSERT_TRUE(BaseObject::isOfClass(array, "BaseArray"));
  ASSERT_EQ(static_cast<BaseArray*>(array)->count(), 2u);
  EXPECT_EQ(bitsOfDouble(static_cast<BaseNumber*>(static_cast<BaseArray*>(array)->objectAtIndex(0))->getDouble()),
            bitsOfDouble(1.0));
  EXPECT_EQ(static_cast<BaseArray*>(array)->objectAtIndex(1), &BaseNull::instance);
}

TEST_F(WholeObjectFixture, EveryIntegerConstructorIsWrittenAsA64BitInteger)
{
  BaseNumber* fromUnsigned = new (eRetainAutorelease) BaseNumber(4000000000u);
  BaseNumber* fromInt = new (eRetainAutorelease) BaseNumber(-5);
  EXPECT_EQ(encode(fromUnsigned), (Bytes{0x0C, 0x00, 0x58, 0x00, 0x65, 0xCD, 0x1D}));
  EXPECT_EQ(encode(fromInt), (Bytes{0x0C, 0x00, 0x85}));
  BaseNumber* back = static_cast<BaseNumber*>(decode(encode(fromUnsigned)));
  EXPECT_EQ(back->getNumberType(), BaseNumber::eNumberInteger);
  EXPECT_EQ(back->getInteger64(), 4000000000ll);
}

TEST_F(WholeObjectFixture, DatesBuffersAndListsHaveTheirKinds)
{
  EXPECT_EQ(encode(new (eRetainAutorelease) BaseDate(46.5)), (Bytes{0x0E, 0x00, 0x50, 0xE8, 0x08, 0x08}));
  const uint8_t raw[] = {0x00, 0xFF, 0x10};
  EXPECT_EQ(encode(new (eRetainAutorelease) BaseBuffer(raw, 3)), (Bytes{0x01, 0x00, 0x03, 0x00, 0xFF, 0x10}));
  BaseList* list = new (eRetainAutorelease) BaseList();
  list->addTrailingObject(str("a"));
  list->addTrailingObject(integer(1));
  EXPECT_EQ(encode(list), (Bytes{0x16, 0x00, 0x02, 0x0A, 0x00, 0x01, 0x61, 0x0C, 0x00, 0x01}));

  BaseObject* date = decode({0x0E, 0x00, 0x50, 0xE8, 0x08, 0x08});
  ASSERT_TRUE(BaseObject::isOfClass(date, "BaseDate"));
  EXPECT_EQ(static_cast<BaseDate*>(date)->getSeconds(), 46.5);
  BaseObject* buffer = decode({0x01, 0x00, 0x03, 0x00, 0xFF, 0x10});
  ASSERT_TRUE(BaseObject::isOfClass(buffer, "BaseBuffer"));
  EXPECT_EQ(bytesOf(static_cast<BaseBuffer*>(buffer)), (Bytes{0x00, 0xFF, 0x10}));
  BaseObject* readList = decode({0x16, 0x00, 0x02, 0x0A, 0x00, 0x01, 0x61, 0x0C, 0x00, 0x01});
  ASSERT_TRUE(BaseObject::isOfClass(readList, "BaseList"));
  ASSERT_EQ(static_cast<BaseList*>(readList)->count(), 2u);
  BaseListNode* cursor = nullptr;
  ASSERT_TRUE(static_cast<BaseList*>(readList)->getNext(cursor));
  EXPECT_TRUE(cursor->object->isEqual(str("a")));
  ASSERT_TRUE(static_cast<BaseList*>(readList)->getNext(cursor));
  EXPECT_TRUE(cursor->object->isEqual(integer(1)));
}

TEST_F(WholeObjectFixture, TypedViewsAreWrittenAsTheirBaseKinds)
{
  BaseTypedArray<BaseString>* array = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  array->addObject(str("x"));
  BaseTypedDictionary<BaseString>* dictionary = new (eRetainAutorelease) BaseTypedDictionary<BaseString>();
  EXPECT_EQ(encode(array), (Bytes{0x14, 0x00, 0x01, 0x0A, 0x00, 0x01, 0x78}));
  EXPECT_EQ(encode(dictionary), (Bytes{0x15, 0x00, 0x00}));
}

TEST_F(WholeObjectFixture, ARepeatedKeyKeepsTheLaterValue)
{
  Bytes twice = {0x15, 0x00, 0x02, 0x0A, 0x00, 0x01, 0x6B, 0x0C, 0x00,
                 0x01, 0x0A, 0x00, 0x01, 0x6B, 0x0C, 0x00, 0x02};
  BaseDictionary* dictionary = static_cast<BaseDictionary*>(decode(twice));
  ASSERT_NE(dictionary, nullptr);
  EXPECT_EQ(dictionary->count(), 1u);
  EXPECT_EQ(static_cast<BaseNumber*>(dictionary->objectForKey("k"))->getInteger64(), 2);
}

TEST_F(WholeObjectFixture, DictionaryPairsAreLoggedAtVerbose)
{
  LogCapture log;
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(str("1"), "cmd_id");
  encode(request);
  EXPECT_EQ(log.text(), "Verbose: Serialized cmd_id = \"1\"\n");
}

TEST_F(WholeObjectFixture, ReadObjectsBelongToTheCallersPool)
{
  BaseObject* kept;
  {
    BaseAutorelease pool;
    kept = decode({0x0A, 0x00, 0x03, 0x61, 0x62, 0x63});
    EXPECT_EQ(kept->getRetainCount(), 1);
    kept->retain();
  }
  EXPECT_EQ(kept->getRetainCount(), 1);
  kept->release();
}

// ---------------------------------------------------------------------------------------
// The position record

const char* const POSITION_KEYS[] = {"latitude", "longitude", "altitude", "speed", "course",
                                     "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};
const double POSITION_VALUES[] = {46.5, 6.25, 1200.0, 61.75, 270.0, 2.5, -1.0, 271.5, 0.0, -9.8};

// The record with the values above, entries in the dictionary's bucket order.
const Bytes POSITION_RECORD = {
    0x15,
    0x00,
    0x0A,
    // "pitch" = 2.5
    0x0A,
    0x00,
    0x05,
    0x70,
    0x69,
    0x74,
    0x63,
    0x68,
    0x0D,
    0x00,
    0x40,
    0x88,
    // "course" = 270.0
    0x0A,
    0x00,
    0x06,
    0x63,
    0x6F,
    0x75,
    0x72,
    0x73,
    0x65,
    0x0D,
    0x00,
    0x50,
    0x08,
    0x0E,
    0x1C,
    // "altitude" = 1200.0
    0x0A,
    0x00,
    0x08,
    0x61,
    0x6C,
    0x74,
    0x69,
    0x74,
    0x75,
    0x64,
    0x65,
    0x0D,
    0x00,
    0x50,
    0x48,
    0x12,
    0x18,
    // "roll" = -1.0
    0x0A,
    0x00,
    0x04,
    0x72,
    0x6F,
    0x6C,
    0x6C,
    0x0D,
    0x00,
    0x4F,
    0x17,
    0x1E,
    // "yaw" = 271.5
    0x0A,
    0x00,
    0x03,
    0x79,
    0x61,
    0x77,
    0x0D,
    0x00,
    0x50,
    0x08,
    0x0E,
    0x1F,
    // "accelerationZ" = -9.8
    0x0A,
    0x00,
    0x0D,
    0x61,
    0x63,
    0x63,
    0x65,
    0x6C,
    0x65,
    0x72,
    0x61,
    0x74,
    0x69,
    0x6F,
    0x6E,
    0x5A,
    0x0D,
    0x00,
    0xF8,
    0x88,
    0xDB,
    0xCC,
    0xCC,
    0xCC,
    0xCC,
    0xAC,
    0x0C,
    // "longitude" = 6.25
    0x0A,
    0x00,
    0x09,
    0x6C,
    0x6F,
    0x6E,
    0x67,
    0x69,
    0x74,
    0x75,
    0x64,
    0x65,
    0x0D,
    0x00,
    0x48,
    0x28,
    0x03,
    // "speed" = 61.75
    0x0A,
    0x00,
    0x05,
    0x73,
    0x70,
    0x65,
    0x65,
    0x64,
    0x0D,
    0x00,
    0x50,
    0xC8,
    0x09,
    0x1C,
    // "latitude" = 46.5
    0x0A,
    0x00,
    0x08,
    0x6C,
    0x61,
    0x74,
    0x69,
    0x74,
    0x75,
    0x64,
    0x65,
    0x0D,
    0x00,
    0x50,
    0xE8,
    0x08,
    0x08,
    // "slip" = 0.0
    0x0A,
    0x00,
    0x04,
    0x73,
    0x6C,
    0x69,
    0x70,
    0x0D,
    0x00,
    0x00,
};

BaseDictionary* positionRecord()
{
  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  for (int i = 0; i < 10; i++) record->setObjectForKey(number(POSITION_VALUES[i]), POSITION_KEYS[i]);
  return record;
}

class PositionRecordFixture : public SerializerFixture
{
};

TEST_F(PositionRecordFixture, EncodesInBucketOrderByteForByte)
{
  EXPECT_EQ(encode(positionRecord()), POSITION_RECORD);
}

TEST_F(PositionRecordFixture, ReadsBackWithEveryValueBitForBit)
{
  BaseDictionary* record = static_cast<BaseDictionary*>(decode(POSITION_RECORD));
  ASSERT_TRUE(BaseObject::isOfClass(record, "BaseDictionary"));
  EXPECT_EQ(record->count(), 10u);
  for (int i = 0; i < 10; i++) {
    BaseNumber* value = static_cast<BaseNumber*>(record->objectForKey(POSITION_KEYS[i]));
    ASSERT_NE(value, nullptr) << POSITION_KEYS[i];
    EXPECT_EQ(value->getNumberType(), BaseNumber::eNumberDouble);
    EXPECT_EQ(bitsOfDouble(value->getDouble()), bitsOfDouble(POSITION_VALUES[i])) << POSITION_KEYS[i];
  }
  EXPECT_TRUE(record->isEqual(positionRecord()));
}

// ---------------------------------------------------------------------------------------
// Doubles

class DoubleFormFixture : public SerializerFixture
{
};

TEST_F(DoubleFormFixture, WorkedValuesWriteByteForByte)
{
  struct Case
  {
    double value;
    Bytes payload;
  };
  const Case cases[] = {
      {0.0, {0x00}},
      {1.0, {0x4F, 0x07, 0x1E}},
      {-1.0, {0x4F, 0x17, 0x1E}},
      {0.5, {0x4F, 0x07, 0x1C}},
      {46.5, {0x50, 0xE8, 0x08, 0x08}},
      {3.14159, {0x78, 0x28, 0x21, 0x24, 0x1F, 0x7E, 0xC3, 0xD0, 0x0D}},
      {-0.0, {0x40, 0x10}},
  };
  for (const Case& c : cases) {
    Bytes whole = concat({{0x0D, 0x00}, c.payload});
    EXPECT_EQ(encode(number(c.value)), whole) << c.value;
    BaseNumber* back = static_cast<BaseNumber*>(decode(whole));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(bitsOfDouble(back->getDouble()), bitsOfDouble(c.value)) << c.value;
  }
}

TEST_F(DoubleFormFixture, SpecialValuesRoundTripBitForBit)
{
  const uint64_t patterns[] = {
      0x8000000000000000ull,  // -0.0
      0x7FF0000000000000ull,  // infinity
      0xFFF0000000000000ull,  // -infinity
      0x7FF8000000000000ull,  // quiet NaN
      0x7FF0000080000001ull,  // the NaN of a default number
      0x0000000000000001ull,  // smallest subnormal
      0x8000000000000080ull,  // -6.3e-322, whose form is negative
      0x7FEFFFFFFFFFFFFFull,  // largest finite
      0x0010000000000000ull,  // smallest normal
  };
  for (uint64_t bits : patterns) {
    BaseNumber* back = static_cast<BaseNumber*>(decode(encode(number(doubleOfBits(bits)))));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(bitsOfDouble(back->getDouble()), bits) << std::hex << bits;
    BaseDate* date =
        static_cast<BaseDate*>(decode(encode(new (eRetainAutorelease) BaseDate(doubleOfBits(bits)))));
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(bitsOfDouble(date->getSeconds()), bits) << std::hex << bits;
  }
}

TEST_F(DoubleFormFixture, TheOneDoubleWithoutAFormIsWrittenAsItsNeighbourWithAWarning)
{
  LogCapture log;
  // Bits 0x80: its reversed-byte form would be the most negative 64-bit integer.
  Bytes written = encode(number(doubleOfBits(0x80)));
  EXPECT_EQ(written, (Bytes{0x0D, 0x00, 0x78, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x0F}));
  EXPECT_EQ(bitsOfDouble(static_cast<BaseNumber*>(decode(written))->getDouble()), 0x7Full);
  EXPECT_EQ(log.text(), "Warning: double 6.32404e-322 has no encoding, written as 6.27463e-322\n");
}

TEST_F(DoubleFormFixture, TheMostNegativeIntegerTravelsAsTheDoubleOfTheSameValue)
{
  LogCapture log;
  Bytes written = encode(integer(LLONG_MIN));
  EXPECT_EQ(written, (Bytes{0x0D, 0x00, 0x4B, 0x18, 0x1C}));
  BaseNumber* back = static_cast<BaseNumber*>(decode(written));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->getNumberType(), BaseNumber::eNumberDouble);
  EXPECT_EQ(back->getDouble(), -9223372036854775808.0);
  EXPECT_TRUE(back->isEqual(integer(LLONG_MIN)));
  EXPECT_EQ(log.text(), "Warning: integer -9223372036854775808 written as a double\n");
}

// ---------------------------------------------------------------------------------------
// Writing what no row takes

class UnwritableObjectFixture : public SerializerFixture
{
};

TEST_F(UnwritableObjectFixture, AtTopLevelNothingIsWrittenAndTheWriteSucceeds)
{
  LogCapture log;
  MemoryStream* stream = new (eRetainAutorelease) MemoryStream();
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
  CountedObject* odd = new (eRetainAutorelease) CountedObject(7);
  EXPECT_TRUE(serializer->appendSerializableObject(odd));
  EXPECT_TRUE(serializer->appendSerializableObject(nullptr));
  EXPECT_TRUE(stream->written.empty());
  EXPECT_EQ(log.text(), "Error: non serial compliant object in collection\n");
}

TEST_F(UnwritableObjectFixture, InsideACollectionTheNullObjectStandsInAndTheRestStaysReadable)
{
  LogCapture log("%S: %m\n", "info");
  BaseArray* array =
      new (eRetainAutorelease) BaseArray(new (eRetainAutorelease) CountedObject(7), str("a"), nullptr);
  BaseDictionary* dictionary = new (eRetainAutorelease) BaseDictionary();
  dictionary->setObjectForKey(new (eRetainAutorelease) CountedObject(8), "k");
  BaseArray* outer = new (eRetainAutorelease) BaseArray(array, dictionary, nullptr);
  Bytes written = encode(outer);
  EXPECT_EQ(written, (Bytes{0x14, 0x00, 0x02, 0x14, 0x00, 0x02, 0x0B, 0x00, 0x0A, 0x00, 0x01,
                            0x61, 0x15, 0x00, 0x01, 0x0A, 0x00, 0x01, 0x6B, 0x0B, 0x00}));
  EXPECT_EQ(log.text(),
            "Error: non serial compliant object in collection\n"
            "Error: non serial compliant object in collection\n");
  BaseArray* back = static_cast<BaseArray*>(decode(written));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(static_cast<BaseArray*>(back->objectAtIndex(0))->objectAtIndex(0), &BaseNull::instance);
  EXPECT_EQ(static_cast<BaseDictionary*>(back->objectAtIndex(1))->objectForKey("k"), &BaseNull::instance);
}

TEST_F(UnwritableObjectFixture, NestingBeyondTheLimitIsWrittenAsNullSoCyclesEnd)
{
  LogCapture log;
  BaseArray* cycle = new (eRetainAutorelease) BaseArray();
  cycle->addObject(cycle);
  Bytes written = encode(cycle);
  cycle->removeAllObjects();
  Bytes expected;
  for (int i = 0; i < BaseSerializer::MAX_NESTING_DEPTH; i++)
    expected.insert(expected.end(), {0x14, 0x00, 0x01});
  expected.insert(expected.end(), {0x0B, 0x00});
  EXPECT_EQ(written, expected);
  EXPECT_EQ(log.text(), "Error: nesting deeper than 256 levels, written as null\n");
  EXPECT_NE(decode(written), nullptr);
}

// ---------------------------------------------------------------------------------------
// Reader failures

class ReaderFailureFixture : public SerializerFixture
{
};

TEST_F(ReaderFailureFixture, EmptyDataIsAPrematureEnd)
{
  LogCapture log;
  BaseBuffer* empty = new (eRetainAutorelease) BaseBuffer();
  EXPECT_EQ(BaseSerializer::unserializeObject(empty), nullptr);
  EXPECT_EQ(log.text(), "Info: Premature end of data stream\n");
}

TEST_F(ReaderFailureFixture, UnknownKindsAreRefused)
{
  LogCapture log;
  EXPECT_EQ(decode({0x03, 0x00}), nullptr);
  EXPECT_EQ(decode({0x17, 0x00}), nullptr);
  EXPECT_EQ(decode({0x8A, 0x00}), nullptr);
  EXPECT_EQ(log.text(),
            "Error: unknown object kind in data : 3\n"
            "Error: unknown object kind in data : 23\n"
            "Error: unknown object kind in data : -10\n");
}

TEST_F(ReaderFailureFixture, NewerVersionsAreRefusedNamingTheKindsClass)
{
  struct Case
  {
    uint8_t kind;
    const char* className;
  };
  const Case cases[] = {{0x0A, "BaseString"}, {0x01, "BaseBuffer"},     {0x14, "BaseArray"},
                        {0x16, "BaseList"},   {0x15, "BaseDictionary"}, {0x0C, "BaseNumber"},
                        {0x0D, "BaseNumber"}, {0x02, "BaseFile"},       {0x0B, "BaseNull"},
                        {0x0E, "BaseDate"},   {0x0F, "BaseNumber"}};
  for (const Case& c : cases) {
    LogCapture log;
    EXPECT_EQ(decode({c.kind, 0x01, 0x00}), nullptr);
    EXPECT_EQ(log.text(),
              std::string("Error: Version 1 for object of type ") + c.className + " not yet supported\n");
  }
}

TEST_F(ReaderFailureFixture, OnlyTheLowEightBitsOfTheVersionCount)
{
  // Version 256 is version 0.
  BaseObject* abc = decode({0x0A, 0x40, 0x20, 0x03, 0x61, 0x62, 0x63});
  ASSERT_NE(abc, nullptr);
  EXPECT_TRUE(abc->isEqual(str("abc")));
}

TEST_F(ReaderFailureFixture, AnEndInsideTheThirdValueIsReportedOncePerEnclosingCollection)
{
  LogCapture log;
  // [ {"a": 1, "b": 2, "c": <a string cut short>} ]
  Bytes cut = {0x14, 0x00, 0x01, 0x15, 0x00, 0x03, 0x0A, 0x00, 0x01, 0x61, 0x0C, 0x00, 0x01, 0x0A, 0x00,
               0x01, 0x62, 0x0C, 0x00, 0x02, 0x0A, 0x00, 0x01, 0x63, 0x0A, 0x00, 0x05, 0x78, 0x79};
  EXPECT_EQ(decode(cut), nullptr);
  EXPECT_EQ(log.text(),
            "Info: Premature end of data stream\n"
            "Error: unexpected subObject\n"
            "Error: unexpected subObject\n");
}

TEST_F(ReaderFailureFixture, FailedElementsOfListsAndKeysOfDictionariesAreUnexpected)
{
  LogCapture log;
  EXPECT_EQ(decode({0x16, 0x00, 0x02, 0x0B, 0x00, 0x03, 0x00}), nullptr);
  EXPECT_EQ(decode({0x15, 0x00, 0x01, 0x03, 0x00, 0x0B, 0x00}), nullptr);
  EXPECT_EQ(log.text(),
            "Error: unknown object kind in data : 3\n"
            "Error: unexpected subObject\n"
            "Error: unknown object kind in data : 3\n"
            "Error: unexpected subObject\n");
}

TEST_F(ReaderFailureFixture, NegativeCountsAndLengthsAreRefused)
{
  LogCapture log;
  EXPECT_EQ(decode({0x14, 0x00, 0x81}), nullptr);
  EXPECT_EQ(decode({0x16, 0x00, 0x81}), nullptr);
  EXPECT_EQ(decode({0x15, 0x00, 0xC0, 0x7D}), nullptr);
  EXPECT_EQ(decode({0x0A, 0x00, 0x81, 0x61}), nullptr);
  EXPECT_EQ(decode({0x01, 0x00, 0x82, 0x61, 0x62}), nullptr);
  EXPECT_EQ(log.text(),
            "Error: negative count -1 in data\n"
            "Error: negative count -1 in data\n"
            "Error: negative count -1000 in data\n"
            "Error: negative length -1 in data\n"
            "Error: negative length -2 in data\n");
}

TEST_F(ReaderFailureFixture, DictionaryKeysMustBeStrings)
{
  LogCapture log;
  EXPECT_EQ(decode({0x14, 0x00, 0x01, 0x15, 0x00, 0x01, 0x0C, 0x00, 0x01, 0x0B, 0x00}), nullptr);
  EXPECT_EQ(log.text(),
            "Error: dictionary key of class BaseNumber in data\n"
            "Error: unexpected subObject\n");
}

TEST_F(ReaderFailureFixture, InvalidPackedIntegersInsideObjectsEndTheRead)
{
  LogCapture log;
  // A string length with five extension bytes, inside an array.
  EXPECT_EQ(decode({0x14, 0x00, 0x01, 0x0A, 0x00, 0x60, 0x00, 0x00, 0x00, 0x00, 0x20}), nullptr);
  // An integer beyond 2^63 - 1.
  EXPECT_EQ(decode({0x0C, 0x00, 0x78, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), nullptr);
  EXPECT_EQ(log.text(),
            "Error: packed integer with 5 extension bytes in data\n"
            "Error: unexpected subObject\n"
            "Error: packed integer out of range in data\n");
}

Bytes nestedArrays(int depth)
{
  Bytes bytes;
  for (int i = 0; i < depth; i++) bytes.insert(bytes.end(), {0x14, 0x00, 0x01});
  bytes.insert(bytes.end(), {0x0B, 0x00});
  return bytes;
}

TEST_F(ReaderFailureFixture, NestingIsReadUpToTheLimit)
{
  LogCapture log;
  BaseObject* object = decode(nestedArrays(BaseSerializer::MAX_NESTING_DEPTH));
  ASSERT_NE(object, nullptr);
  int depth = 0;
  while (BaseObject::isOfClass(object, "BaseArray")) {
    object = static_cast<BaseArray*>(object)->objectAtIndex(0);
    depth++;
  }
  EXPECT_EQ(depth, BaseSerializer::MAX_NESTING_DEPTH);
  EXPECT_EQ(log.text(), "");
}

TEST_F(ReaderFailureFixture, DeeperNestingIsRefusedWithoutRecursingFurther)
{
  LogCapture log;
  // Far deeper than any stack allows: the reader stops at the limit.
  Bytes hostile = nestedArrays(100000);
  // A dictionary and a list at the edge are refused the same way.
  Bytes dictionaryEdge = nestedArrays(BaseSerializer::MAX_NESTING_DEPTH);
  dictionaryEdge.resize(dictionaryEdge.size() - 2);
  dictionaryEdge.insert(dictionaryEdge.end(), {0x15, 0x00, 0x00});
  Bytes listEdge = dictionaryEdge;
  listEdge[listEdge.size() - 3] = 0x16;
  EXPECT_EQ(decode(hostile), nullptr);
  std::string expected = "Error: nesting deeper than 256 levels in data\n";
  for (int i = 0; i < BaseSerializer::MAX_NESTING_DEPTH; i++) expected += "Error: unexpected subObject\n";
  EXPECT_EQ(log.text(), expected);
  log.clear();
  EXPECT_EQ(decode(dictionaryEdge), nullptr);
  EXPECT_EQ(log.text(), expected);
  log.clear();
  EXPECT_EQ(decode(listEdge), nullptr);
  EXPECT_EQ(log.text(), expected);
}

// ---------------------------------------------------------------------------------------
// Claims that the data does not back

class HostileClaimFixture : public SerializerFixture
{
protected:
  // Reads one object from `bytes` and checks it fails as a premature end, without asking
  // the stream for, or taking from the heap, more than a chunk.
  void expectBoundedFailure(const Bytes& bytes)
  {
    LogCapture log;
    MemoryStream* stream = new (eRetainAutorelease) MemoryStream(bytes);
    BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
    size_t before = MemoryStream::heapInUse();
    EXPECT_EQ(serializer->unserializeObjectFromIO(), nullptr);
    EXPECT_LE(stream->largestRead, (uint32_t)BaseSerializer::READ_CHUNK);
    if (before > 0) {
      EXPECT_LT(stream->peakHeap - before, 1u << 20);
    }
    EXPECT_EQ(stream->position, bytes.size());
    EXPECT_TRUE(log.contains("Info: Premature end of data stream\n"));
  }
};

TEST_F(HostileClaimFixture, AStringClaimingTwoGigabytesAllocatesAChunkAndFails)
{
  expectBoundedFailure(concat({{0x0A, 0x00, 0x5F, 0xFF, 0xFF, 0xFF, 0x0F}, text("0123456789")}));
}

TEST_F(HostileClaimFixture, ABufferClaimingTwoGigabytesAllocatesAChunkAndFails)
{
  expectBoundedFailure(concat({{0x01, 0x00, 0x5F, 0xFF, 0xFF, 0xFF, 0x0F}, text("0123456789")}));
}

TEST_F(HostileClaimFixture, CollectionsClaimingHugeCountsGrowOnlyWithTheirElements)
{
  expectBoundedFailure({0x14, 0x00, 0x5F, 0xFF, 0xFF, 0xFF, 0x0F, 0x0B, 0x00, 0x0B, 0x00});
  expectBoundedFailure({0x16, 0x00, 0x5F, 0xFF, 0xFF, 0xFF, 0x0F, 0x0B, 0x00});
  expectBoundedFailure({0x15, 0x00, 0x5F, 0xFF, 0xFF, 0xFF, 0x0F, 0x0A, 0x00, 0x01, 0x61, 0x0B, 0x00});
}

TEST_F(HostileClaimFixture, LongPayloadsThatDoArriveReadBackWhole)
{
  // More than a chunk, delivered a few kilobytes at a time.
  const uint32_t length = 3 * BaseSerializer::READ_CHUNK + 17;
  Bytes content(length);
  for (uint32_t i = 0; i < length; i++) content[i] = (uint8_t)('a' + i % 26);
  BaseString* longText = new (eRetainAutorelease) BaseString((const char*)content.data(), (int)length);
  BaseBuffer* longBuffer = new (eRetainAutorelease) BaseBuffer(content.data(), length);
  for (BaseObject* original : {(BaseObject*)longText, (BaseObject*)longBuffer}) {
    Bytes written = encode(original);
    MemoryStream* stream = new (eRetainAutorelease) MemoryStream(written, 5000);
    BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
    BaseObject* back = serializer->unserializeObjectFromIO();
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->getClass(), original->getClass());
    const uint8_t* bytes = BaseObject::isOfClass(back, "BaseString")
                               ? (const uint8_t*)static_cast<BaseString*>(back)->cString()
                               : static_cast<BaseBuffer*>(back)->bytes();
    uint32_t backLength = BaseObject::isOfClass(back, "BaseString")
                              ? static_cast<BaseString*>(back)->length()
                              : static_cast<BaseBuffer*>(back)->length();
    ASSERT_EQ(backLength, length);
    EXPECT_EQ(memcmp(bytes, content.data(), length), 0);
    EXPECT_EQ(stream->position, written.size());
  }
}

TEST_F(HostileClaimFixture, BufferPayloadsAreReadInBlocksOf8192Bytes)
{
  Bytes content(20000, 0x5A);
  Bytes written = encode(new (eRetainAutorelease) BaseBuffer(content.data(), (uint32_t)content.size()));
  MemoryStream* stream = new (eRetainAutorelease) MemoryStream(written);
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
  ASSERT_NE(serializer->unserializeObjectFromIO(), nullptr);
  EXPECT_EQ(stream->largestRead, 8192u);
}

// ---------------------------------------------------------------------------------------
// The serializer object

class RecordingDelegate : public BaseSerializerDelegate
{
public:
  void handleIncommingObject(BaseObject* object) override
  {
    std::lock_guard<std::mutex> guard(m_lock);
    received.push_back(BaseObject::retain(object));
    if (onObject) onObject();
    m_changed.notify_all();
  }
  void handleProgression(uint32_t first, uint32_t second, uint32_t bytes, uint32_t reserved) override
  {
    progression.push_back({first, second, bytes, reserved});
  }
  ~RecordingDelegate() override
  {
    for (BaseObject* object : received) object->release();
  }
  // Waits, with a bound that only a broken reader reaches, for `count` objects.
  bool waitFor(size_t count)
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::seconds(30), [&] { return received.size() >= count; });
  }
  size_t receivedCount()
  {
    std::lock_guard<std::mutex> guard(m_lock);
    return received.size();
  }

  std::vector<BaseObject*> received;
  std::vector<std::vector<uint32_t>> progression;
  std::function<void()> onObject;

private:
  std::mutex m_lock;
  std::condition_variable m_changed;
};

// Exposes the reader thread's flag.
class InspectableSerializer : public BaseSerializer
{
public:
  using BaseSerializer::BaseSerializer;
  bool keepsRunning() const { return m_keepRunning.load(); }
};

class SerializerEngineFixture : public SerializerFixture
{
};

TEST_F(SerializerEngineFixture, StaticEntryPointsRoundTripAString)
{
  BaseBuffer* buffer = BaseSerializer::serializeObject(str("abc"));
  EXPECT_EQ(bytesOf(buffer), (Bytes{0x0A, 0x00, 0x03, 0x61, 0x62, 0x63}));
  BaseObject* back = BaseSerializer::unserializeObject(buffer);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->isEqual(str("abc")));
}

TEST_F(SerializerEngineFixture, UnserializeObjectReadsFromTheBuffersReadPosition)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  const uint8_t two[] = {0x0A, 0x00, 0x01, 0x61, 0x0C, 0x00, 0x05};
  buffer->appendBytes(two, sizeof two);
  EXPECT_TRUE(BaseSerializer::unserializeObject(buffer)->isEqual(str("a")));
  EXPECT_TRUE(BaseSerializer::unserializeObject(buffer)->isEqual(integer(5)));
}

TEST_F(SerializerEngineFixture, ToBaseBufferSerializerWritesIntoItsOwnBuffer)
{
  BaseSerializer* serializer = BaseSerializer::toBaseBufferSerializer();
  EXPECT_EQ(serializer->getRetainCount(), 1);
  EXPECT_TRUE(serializer->appendSerializableObject(&BaseNull::instance));
  ASSERT_TRUE(BaseObject::isOfClass(serializer->getIO(), "BaseBuffer"));
  EXPECT_EQ(bytesOf(static_cast<BaseBuffer*>(serializer->getIO())), (Bytes{0x0B, 0x00}));
  EXPECT_EQ(serializer->getSerializerDelegate(), nullptr);
}

TEST_F(SerializerEngineFixture, AnObjectReachesTheStreamInOneWriteAndIsFlushed)
{
  MemoryStream* stream = new (eRetainAutorelease) MemoryStream();
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
  EXPECT_TRUE(serializer->appendSerializableObject(positionRecord()));
  EXPECT_EQ(stream->written, POSITION_RECORD);
  EXPECT_EQ(stream->writes, 1);
  EXPECT_EQ(stream->flushes, 1);
}

TEST_F(SerializerEngineFixture, AFailedWriteIsReportedAndTheSerializerStaysUsable)
{
  LogCapture log("%S: %m\n", "info");
  MemoryStream* stream = new (eRetainAutorelease) MemoryStream();
  stream->writeLimit = 0;
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
  EXPECT_FALSE(serializer->appendSerializableObject(positionRecord()));
  EXPECT_EQ(log.text(), "Error: Write error on output stream while serializing\n");
  stream->writeLimit = SIZE_MAX;
  EXPECT_TRUE(serializer->appendSerializableObject(str("abc")));
  EXPECT_EQ(stream->written, (Bytes{0x0A, 0x00, 0x03, 0x61, 0x62, 0x63}));
}

TEST_F(SerializerEngineFixture, AWriteFailingHalfwayKeepsWhatWasWritten)
{
  LogCapture log;
  MemoryStream* stream = new (eRetainAutorelease) MemoryStream();
  stream->writeLimit = 5;
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(stream);
  // The header and length go out, then the 5000 bytes of text are refused.
  Bytes big(5000, 0x41);
  BaseString* longText = new (eRetainAutorelease) BaseString((const char*)big.data(), (int)big.size());
  EXPECT_FALSE(serializer->appendSerializableObject(longText));
  EXPECT_EQ(stream->written, (Bytes{0x0A, 0x00, 0x48, 0x71, 0x02}));
  EXPECT_EQ(log.text(), "Error: Write error on output stream while serializing\n");
}

TEST_F(SerializerEngineFixture, ANullDelegateKeepsTheCurrentOne)
{
  RecordingDelegate delegate;
  BaseSerializer* serializer =
      new (eRetainAutorelease) BaseSerializer(new (eRetainAutorelease) BaseBuffer(), &delegate);
  serializer->setSerializerDelegate(nullptr);
  EXPECT_EQ(serializer->getSerializerDelegate(), &delegate);
  RecordingDelegate other;
  serializer->setSerializerDelegate(&other);
  EXPECT_EQ(serializer->getSerializerDelegate(), &other);
}

TEST_F(SerializerEngineFixture, ContextObjectIsHeldAndResetsTheCounters)
{
  RecordingDelegate delegate;
  BaseSerializer* serializer =
      new (eRetainAutorelease) BaseSerializer(new (eRetainAutorelease) BaseBuffer(), &delegate);
  serializer->notifyProgression(1, 1, 100);
  serializer->notifyProgression(0, 0, 50);
  BaseString* context = str("sent");
  serializer->setContextObject(context);
  EXPECT_EQ(context->getRetainCount(), 2);
  EXPECT_EQ(serializer->getProgression(2), 0u);
  serializer->notifyProgression(0, 0, 5);
  serializer->setContextObject(context);
  EXPECT_EQ(context->getRetainCount(), 2);
  serializer->setContextObject(nullptr);
  EXPECT_EQ(context->getRetainCount(), 1);
  serializer->notifyProgression(1, 1, 0);
  serializer->initProgression();
  EXPECT_EQ(serializer->getProgression(0), 0u);
  EXPECT_EQ(delegate.progression,
            (std::vector<std::vector<uint32_t>>{{1, 1, 100, 0}, {1, 1, 150, 0}, {0, 0, 5, 0}, {1, 1, 0, 0}}));
}

TEST_F(SerializerEngineFixture, DelegateDefaults)
{
  struct Minimal : BaseSerializerDelegate
  {
    void handleProgression(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  } minimal;
  LogCapture log;
  minimal.handleIncommingObject(str("ignored"));
  minimal.handleDeserializationError(str("boom"));
  EXPECT_EQ(log.text(), "Error: in deserialization: boom\n");
  BaseString* path = minimal.getPathForIncommingFile(nullptr);
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(path->length(), 0u);
  EXPECT_EQ(path->getRetainCount(), 1);  // the pool's
}

// ---------------------------------------------------------------------------------------
// Background reading

class BackgroundReadingFixture : public SerializerFixture
{
};

TEST_F(BackgroundReadingFixture, TwoObjectsReachTheDelegateThenTheLoopEnds)
{
  LogCapture log;
  RecordingDelegate delegate;
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  Bytes two = concat({{0x0A, 0x00, 0x03, 0x61, 0x62, 0x63}, POSITION_RECORD});
  buffer->appendBytes(two.data(), (uint32_t)two.size());
  InspectableSerializer* serializer = new (eRetainAutorelease) InspectableSerializer(buffer, &delegate);
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  // The data ends, so the worker ends by itself.
  EXPECT_TRUE(serializer->joinThread());
  EXPECT_FALSE(serializer->keepsRunning());
  ASSERT_EQ(delegate.received.size(), 2u);
  EXPECT_TRUE(delegate.received[0]->isEqual(str("abc")));
  EXPECT_TRUE(delegate.received[1]->isEqual(positionRecord()));
  // The delegate's references are the only ones left: the worker's pools are closed.
  EXPECT_EQ(delegate.received[0]->getRetainCount(), 1);
  EXPECT_TRUE(log.contains("Info: Premature end of data stream\n"));
  serializer->stopReadingInBackground();
  EXPECT_FALSE(serializer->isThreadRunning());
}

TEST_F(BackgroundReadingFixture, StoppingEndsAReaderThatWaitsForData)
{
  RecordingDelegate delegate;
  BaseBuffer* pipe = new (eRetainAutorelease) BaseBuffer();
  pipe->setFIFO(4096, true);
  InspectableSerializer* serializer = new (eRetainAutorelease) InspectableSerializer(pipe, &delegate);
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  const uint8_t abc[] = {0x0A, 0x00, 0x03, 0x61, 0x62, 0x63};
  ASSERT_TRUE(pipe->writeIO(abc, sizeof abc));
  ASSERT_TRUE(delegate.waitFor(1));
  // The worker now waits inside a read for the next object.
  serializer->stopReadingInBackground();
  EXPECT_FALSE(serializer->isThreadRunning());
  EXPECT_EQ(delegate.receivedCount(), 1u);
}

TEST_F(BackgroundReadingFixture, ClosingTheStreamEndsTheReader)
{
  RecordingDelegate delegate;
  BaseBuffer* pipe = new (eRetainAutorelease) BaseBuffer();
  pipe->setFIFO(4096, true);
  InspectableSerializer* serializer = new (eRetainAutorelease) InspectableSerializer(pipe, &delegate);
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  const uint8_t null[] = {0x0B, 0x00};
  ASSERT_TRUE(pipe->writeIO(null, sizeof null));
  ASSERT_TRUE(delegate.waitFor(1));
  pipe->closeIO();
  EXPECT_TRUE(serializer->joinThread());
  EXPECT_FALSE(serializer->keepsRunning());
  serializer->stopReadingInBackground();
}

TEST_F(BackgroundReadingFixture, DestroyingTheSerializerStopsItsReader)
{
  RecordingDelegate delegate;
  BaseBuffer* pipe = new (eRetainAutorelease) BaseBuffer();
  pipe->setFIFO(4096, true);
  BaseSerializer* serializer = new BaseSerializer(pipe, &delegate);
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  const uint8_t null[] = {0x0B, 0x00};
  ASSERT_TRUE(pipe->writeIO(null, sizeof null));
  ASSERT_TRUE(delegate.waitFor(1));
  serializer->release();
  EXPECT_EQ(pipe->getRetainCount(), 1);
}

TEST_F(BackgroundReadingFixture, StoppingFromTheDelegateEndsTheLoopAfterTheObject)
{
  RecordingDelegate delegate;
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  const uint8_t three[] = {0x0B, 0x00, 0x0B, 0x00, 0x0B, 0x00};
  buffer->appendBytes(three, sizeof three);
  InspectableSerializer* serializer = new (eRetainAutorelease) InspectableSerializer(buffer, &delegate);
  delegate.onObject = [serializer] { serializer->stopReadingInBackground(); };
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  EXPECT_TRUE(serializer->joinThread());
  EXPECT_EQ(delegate.received.size(), 1u);
  delegate.onObject = nullptr;
  serializer->stopReadingInBackground();
  EXPECT_FALSE(serializer->isThreadRunning());
}

}  // namespace
