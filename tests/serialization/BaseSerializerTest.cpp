#include "serialization/BaseSerializer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "io/BaseBuffer.h"
#include "io/IOExceptionFilter.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseBits.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseList.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"
#include "support/ScriptedStream.h"
#include "support/WireBytes.h"

namespace {

using Bytes = std::string;
using Make = std::function<BaseObject*()>;

const auto bytesOf = [](BaseBuffer* buffer) { return Bytes((const char*)buffer->bytes(), buffer->length()); };
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
const auto number = [](double value) { return new (eRetainAutorelease) BaseNumber(value); };
const auto integer = [](long long value) { return new (eRetainAutorelease) BaseNumber(value); };
const auto str = [](const char* value) { return new (eRetainAutorelease) BaseString(value); };
const auto serializerOn = [](IOAbstract* io) { return new (eRetainAutorelease) BaseSerializer(io); };
ScriptedStream* stream(const Bytes& content = "", uint32_t perRead = UINT32_MAX)
{
  return new (eRetainAutorelease) ScriptedStream(content, perRead);
}

// Same class, and for numbers and dates the same kind and bits: the same bytes when written.
void expectSame(BaseObject* actual, BaseObject* expected)
{
  ASSERT_NE(actual, nullptr);
  ASSERT_STREQ(actual->getClass(), expected->getClass());
  EXPECT_EQ(encode(actual), encode(expected));
}

// ---- Packed integers ----

// Value, bytes, and whether the 32-bit form has it too.
const std::tuple<long long, const char*, bool> PACKED[] = {
    {0, "00", true},
    {-1, "81", true},
    {63, "3F", true},
    {-63, "BF", true},
    {64, "40 08", true},
    {-1000, "C0 7D", true},
    {100000, "48 D4 30", true},
    {2147483647, "5F FF FF FF 0F", true},
    {-2147483647, "DF FF FF FF 0F", true},
    {2147483648ll, "58 00 00 00 10", false},
    {LLONG_MAX, "7F FF FF FF FF FF FF FF 0F", false},
    {-LLONG_MAX, "FF FF FF FF FF FF FF FF 0F", false},
};

// Runs `operation` on a serializer over `content`; false when it threw.
bool attempt(const Bytes& content, const std::function<void(BaseSerializer*)>& operation,
             ScriptedStream** used = nullptr)
{
  ScriptedStream* io = stream(content);
  if (used) *used = io;
  try {
    operation(serializerOn(io));
  } catch (IOException* exception) {
    exception->release();
    return false;
  }
  return true;
}

TEST(PackedIntegerTest, WorkedValuesBothWaysInBothWidths)
{
  BaseAutorelease pool;
  for (const auto& [value, text, hasNarrow] : PACKED) {
    SCOPED_TRACE(value);
    const Bytes bytes = wire(text);
    for (bool narrow : {false, hasNarrow}) {
      ScriptedStream* io = stream();
      narrow ? serializerOn(io)->writeInteger((int)value) : serializerOn(io)->writeInteger64(value);
      EXPECT_EQ(io->written(), bytes);
      long long back = 0;
      auto read = [&, narrow = narrow](BaseSerializer* s) {
        back = narrow ? s->readInteger() : s->readInteger64();
      };
      EXPECT_TRUE(attempt(bytes + "*", read, &io));
      EXPECT_EQ(back, value);
      EXPECT_EQ(io->position, bytes.size());  // and not a byte more
    }
  }
}

TEST(PackedIntegerTest, UnusualFormsAndRefusals)
{
  BaseAutorelease pool;
  LogCapture log("%S: %m\n", "info");
  auto readNarrow = [](BaseSerializer* s) { s->readInteger(); };
  EXPECT_FALSE(attempt(wire("58 00 00 00 10"), readNarrow));  // 2^31
  EXPECT_FALSE(attempt(wire("78 00 00 00 00 00 00 00 10"), [](BaseSerializer* s) { s->readInteger64(); }));
  EXPECT_FALSE(attempt("", [](BaseSerializer* s) { s->writeInteger(INT_MIN); }));
  EXPECT_FALSE(attempt("", [](BaseSerializer* s) { s->writeInteger64(LLONG_MIN); }));
  EXPECT_EQ(log.text(),
            "Error: packed integer out of range in data\n"
            "Error: packed integer out of range in data\n"
            "Error: -2147483648 has no encoding in the object stream\n"
            "Error: -9223372036854775808 has no encoding in the object stream\n");
}

// ---- Whole objects, both ways ----

BaseObject* listOf(std::initializer_list<BaseObject*> objects)
{
  BaseList* list = new (eRetainAutorelease) BaseList();
  for (BaseObject* object : objects) list->addTrailingObject(object);
  return list;
}
BaseDictionary* dictionaryOf(const char* key, BaseObject* value)
{
  BaseDictionary* dictionary = new (eRetainAutorelease) BaseDictionary();
  dictionary->setObjectForKey(value, key);
  return dictionary;
}
BaseObject* unwritableElements()
{
  BaseArray* array =
      new (eRetainAutorelease) BaseArray(new (eRetainAutorelease) CountedObject(7), str("a"), nullptr);
  BaseDictionary* dictionary = dictionaryOf("k", new (eRetainAutorelease) CountedObject(8));
  return new (eRetainAutorelease) BaseArray(array, dictionary, nullptr);
}
BaseObject* nullElements()
{
  BaseArray* array = new (eRetainAutorelease) BaseArray(&BaseNull::instance, str("a"), nullptr);
  return new (eRetainAutorelease) BaseArray(array, dictionaryOf("k", &BaseNull::instance), nullptr);
}

const struct
{
  const char* name;
  Make make;
  const char* bytes;
  const char* log = "";  // what writing it logs
  Make back = nullptr;   // what reads back, when it differs from `make`
} EXAMPLES[] = {
    {"string", [] { return str("abc"); }, "0A 00 03 'abc'"},
    {"null", [] { return &BaseNull::instance; }, "0B 00"},
    {"true", [] { return new (eRetainAutorelease) BaseNumber(true); }, "0F 00 01"},
    {"false", [] { return new (eRetainAutorelease) BaseNumber(false); }, "0F 00 00"},
    {"request", [] { return dictionaryOf("cmd_id", integer(1)); }, "15 00 01 0A 00 06 'cmd_id' 0C 00 01"},
    {"array", [] { return new (eRetainAutorelease) BaseArray(number(1.0), &BaseNull::instance, nullptr); },
     "14 00 02 0D 00 4F 07 1E 0B 00"},
    {"unsigned", [] { return new (eRetainAutorelease) BaseNumber(4000000000u); }, "0C 00 58 00 65 CD 1D", "",
     [] { return integer(4000000000ll); }},
    {"date", [] { return new (eRetainAutorelease) BaseDate(46.5); }, "0E 00 50 E8 08 08"},
    {"buffer", [] { return new (eRetainAutorelease) BaseBuffer("\x00\xFF\x10", 3); }, "01 00 03 00 FF 10"},
    {"list", [] { return listOf({str("a"), integer(1)}); }, "16 00 02 0A 00 01 'a' 0C 00 01"},
    {"typed array",
     [] {
       auto* array = new (eRetainAutorelease) BaseTypedArray<BaseString>();
       array->addObject(str("x"));
       return array;
     },
     "14 00 01 0A 00 01 'x'", "", [] { return new (eRetainAutorelease) BaseArray(str("x"), nullptr); }},
    {"1.0", [] { return number(1.0); }, "0D 00 4F 07 1E"},
    {"-0.0", [] { return number(-0.0); }, "0D 00 40 10"},
    // Its reversed-byte form would be the most negative 64-bit integer.
    {"double without a form", [] { return number(doubleOfBits(0x80)); }, "0D 00 78 00 00 00 00 00 00 E0 0F",
     "Warning: double 6.32404e-322 has no encoding, written as 6.27463e-322\n",
     [] { return number(doubleOfBits(0x7F)); }},
    {"most negative integer", [] { return integer(LLONG_MIN); }, "0D 00 4B 18 1C",
     "Warning: integer -9223372036854775808 written as a double\n",
     [] { return number(-9223372036854775808.0); }},
    {"unwritable elements", unwritableElements,
     "14 00 02 14 00 02 0B 00 0A 00 01 'a' 15 00 01 0A 00 01 'k' 0B 00",
     "Error: non serial compliant object in collection\nError: non serial compliant object in collection\n",
     nullElements},
};

TEST(WholeObjectTest, ExamplesWriteTheirBytesAndReadBackTheSame)
{
  for (const auto& example : EXAMPLES) {
    SCOPED_TRACE(example.name);
    BaseAutorelease pool;
    LogCapture log("%S: %m\n", "info");
    EXPECT_EQ(encode(example.make()), wire(example.bytes));
    EXPECT_EQ(log.text(), example.log);
    expectSame(decode(wire(example.bytes)), (example.back ? example.back : example.make)());
  }
  BaseAutorelease pool;
  expectSame(decode(wire("0A 40 20 03 'abc'")), str("abc"));  // version 256 is version 0
  expectSame(decode(wire("42 01 00 03 'abc'")), str("abc"));  // the kind in its long form
}

Bytes nestedArrays(int depth)
{
  Bytes bytes;
  for (int i = 0; i < depth; i++) bytes += wire("14 00 01");
  return bytes + wire("0B 00");
}

TEST(WholeObjectTest, CyclesEndAtTheNestingLimit)
{
  BaseAutorelease pool;
  LogCapture log;
  // Nesting beyond the limit is written as null, so that a cycle ends.
  BaseArray* cycle = new (eRetainAutorelease) BaseArray();
  cycle->addObject(cycle);
  Bytes written = encode(cycle);
  cycle->removeAllObjects();
  EXPECT_EQ(written, nestedArrays(BaseSerializer::MAX_NESTING_DEPTH));
  EXPECT_EQ(log.text(), "Error: nesting deeper than 256 levels, written as null\n");
  EXPECT_NE(decode(written), nullptr);
}

// ---- Malformed data ----

TEST(ReaderFailureTest, EachFaultReadsAsNullWithItsLogLines)
{
  const std::string U = "Error: unexpected subObject\n";
  const std::string END = "Info: Premature end of data stream\n";
  const std::string KIND3 = "Error: unknown object kind in data : 3\n";
  const std::pair<const char*, std::string> cases[] = {
      {"", END},
      {"03 00", KIND3},
      // [ {"a": 1, "b": 2, "c": <a string cut short>} ]
      {"14 00 01 15 00 03 0A 00 01 'a' 0C 00 01 0A 00 01 'b' 0C 00 02 0A 00 01 'c' 0A 00 05 'xy'",
       END + U + U},
      {"16 00 02 0B 00 03 00", KIND3 + U},
      {"15 00 01 03 00 0B 00", KIND3 + U},
      {"14 00 81", "Error: negative count -1 in data\n"},
      {"16 00 81", "Error: negative count -1 in data\n"},
      {"0C 00", END},
      {"0A 00 81 'a'", "Error: negative length -1 in data\n"},
      {"01 00 82 'ab'", "Error: negative length -2 in data\n"},
      {"14 00 01 15 00 01 0C 00 01 0B 00", "Error: dictionary key of class BaseNumber in data\n" + U},
      {"14 00 01 0A 00 60 00 00 00 00 20", "Error: packed integer with 5 extension bytes in data\n" + U},
  };
  for (const auto& [bytes, expected] : cases) {
    BaseAutorelease pool;
    LogCapture log;
    EXPECT_EQ(decode(wire(bytes)), nullptr);
    EXPECT_EQ(log.text(), expected) << bytes;
  }
  const std::pair<char, const char*> versions[] = {
      {0x0A, "BaseString"},     {0x01, "BaseBuffer"}, {0x14, "BaseArray"}, {0x16, "BaseList"},
      {0x15, "BaseDictionary"}, {0x0C, "BaseNumber"}, {0x02, "BaseFile"},  {0x0B, "BaseNull"},
      {0x0E, "BaseDate"},       {0x0D, "BaseNumber"}, {0x0F, "BaseNumber"}};
  for (auto [kind, className] : versions) {
    BaseAutorelease pool;
    LogCapture log;
    EXPECT_EQ(decode(Bytes{kind, 0x01, 0x00}), nullptr);
    EXPECT_EQ(log.text(),
              std::string("Error: Version 1 for object of type ") + className + " not yet supported\n");
  }
  for (bool stall : {true, false}) {  // a stream that breaks the read contract
    BaseAutorelease pool;
    LogCapture log;
    ScriptedStream* io = stream(wire("0B 00"));
    (stall ? io->stallReads : io->overreport) = true;
    EXPECT_EQ(serializerOn(io)->unserializeObjectFromIO(), nullptr);
    EXPECT_TRUE(
        log.contains(std::string("Error: stream delivered ") + (stall ? "0" : "3") + " bytes for 2 asked\n"));
  }
}

TEST(ReaderFailureTest, NestingIsReadUpToTheLimitAndRefusedBeyondWithoutRecursing)
{
  BaseAutorelease pool;
  LogCapture log;
  const Bytes deepest = nestedArrays(BaseSerializer::MAX_NESTING_DEPTH);
  EXPECT_EQ(encode(decode(deepest)), deepest);

  // A dictionary at the edge is refused as an array is.
  Bytes dictionaryEdge = nestedArrays(BaseSerializer::MAX_NESTING_DEPTH);
  dictionaryEdge.resize(dictionaryEdge.size() - 2);
  dictionaryEdge += wire("15 00 00");
  std::string expected = "Error: nesting deeper than 256 levels in data\n";
  for (int i = 0; i < BaseSerializer::MAX_NESTING_DEPTH; i++) expected += "Error: unexpected subObject\n";
  for (const Bytes& hostile : {nestedArrays(100000), dictionaryEdge}) {
    log.clear();
    EXPECT_EQ(decode(hostile), nullptr);
    EXPECT_EQ(log.text(), expected);
  }
}

TEST(HostileClaimTest, HugeClaimsAllocateAChunkAtMostAndFailAsAPrematureEnd)
{
  for (const char* claim : {"0A 00 5F FF FF FF 0F '0123456789'", "01 00 5F FF FF FF 0F '0123456789'",
                            "14 00 5F FF FF FF 0F 0B 00 0B 00", "16 00 5F FF FF FF 0F 0B 00",
                            "15 00 5F FF FF FF 0F 0A 00 01 'a' 0B 00"}) {
    SCOPED_TRACE(claim);
    BaseAutorelease pool;
    LogCapture log;
    ScriptedStream* io = stream(wire(claim));
    EXPECT_EQ(serializerOn(io)->unserializeObjectFromIO(), nullptr);
    EXPECT_LE(*std::max_element(io->reads.begin(), io->reads.end()), (uint32_t)BaseSerializer::READ_CHUNK);
    EXPECT_EQ(io->position, io->content.size());
    EXPECT_TRUE(log.contains("Info: Premature end of data stream\n"));
  }
}

TEST(HostileClaimTest, LongPayloadsThatDoArriveReadBackWholeInBlocks)
{
  BaseAutorelease pool;
  const uint32_t length = 3 * BaseSerializer::READ_CHUNK + 17;
  Bytes content(length, '\0');
  for (uint32_t i = 0; i < length; i++) content[i] = (char)('a' + i % 26);
  BaseString* text = new (eRetainAutorelease) BaseString(content.data(), (int)length);
  ScriptedStream* io = stream(encode(text), 5000);  // delivered a few kilobytes at a time
  expectSame(serializerOn(io)->unserializeObjectFromIO(), text);
  EXPECT_EQ(io->position, io->content.size());
}

// ---- The serializer object ----

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
  // Waits, with a bound that only a broken reader reaches, for one object.
  bool waitForOne()
  {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, std::chrono::seconds(30), [&] { return !received.empty(); });
  }

  std::vector<BaseObject*> received;
  std::vector<std::vector<uint32_t>> progression;
  std::function<void()> onObject;

private:
  std::mutex m_lock;
  std::condition_variable m_changed;
};

TEST(SerializerEngineTest, EntryPointsWritesFlushesAndFailedWrites)
{
  BaseAutorelease pool;
  const Bytes two = wire("0A 00 01 'a' 0C 00 05");
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(two.data(), (uint32_t)two.size());
  EXPECT_TRUE(BaseSerializer::unserializeObject(buffer)->isEqual(str("a")));  // from the read position
  EXPECT_TRUE(BaseSerializer::unserializeObject(buffer)->isEqual(integer(5)));
  BaseSerializer* serializer = BaseSerializer::toBaseBufferSerializer();
  EXPECT_EQ(serializer->getRetainCount(), 1);
  EXPECT_TRUE(serializer->appendSerializableObject(&BaseNull::instance) &&
              serializer->appendSerializableObject(nullptr));
  EXPECT_EQ(bytesOf(static_cast<BaseBuffer*>(serializer->getIO())), wire("0B 00"));

  LogCapture log("%S: %m\n", "info");
  ScriptedStream* io = stream();
  serializer = serializerOn(io);
  io->writeLimit = 0;
  EXPECT_FALSE(serializer->appendSerializableObject(str("abc")));
  io->writeLimit = SIZE_MAX;
  EXPECT_TRUE(serializer->appendSerializableObject(str("abc")));  // still usable
  EXPECT_EQ(io->writes, std::vector<Bytes>{wire("0A 00 03 'abc'")});
  EXPECT_EQ(io->flushes, 1);
  EXPECT_EQ(log.text(), "Error: Write error on output stream while serializing\n");
}

TEST(SerializerEngineTest, DelegateContextAndProgression)
{
  BaseAutorelease pool;
  RecordingDelegate delegate;
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(new (eRetainAutorelease) BaseBuffer());
  serializer->setSerializerDelegate(&delegate);
  serializer->setSerializerDelegate(nullptr);  // keeps the current one
  EXPECT_EQ(serializer->getSerializerDelegate(), &delegate);
  serializer->notifyProgression(1, 1, 100);
  EXPECT_EQ(serializer->getProgression(2), 100u);
  BaseString* context = str("sent");
  serializer->setContextObject(context);  // held, and resets the counters
  EXPECT_EQ(serializer->getProgression(2), 0u);
  EXPECT_EQ(context->getRetainCount(), 2);
  serializer->setContextObject(nullptr);
  EXPECT_EQ(context->getRetainCount(), 1);
  EXPECT_EQ(delegate.progression, (std::vector<std::vector<uint32_t>>{{1, 1, 100, 0}}));

  struct Minimal : BaseSerializerDelegate
  {
    void handleProgression(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  } minimal;
  LogCapture log;
  minimal.handleIncommingObject(str("ignored"));
  minimal.handleDeserializationError(str("boom"));
  EXPECT_EQ(log.text(), "Error: in deserialization: boom\n");
  EXPECT_EQ(minimal.getPathForIncommingFile(nullptr)->length(), 0u);
}

// ---- Background reading ----

TEST(BackgroundReadingTest, ObjectsReachTheDelegateThenTheLoopEndsWithTheData)
{
  BaseAutorelease pool;
  LogCapture log;
  RecordingDelegate delegate;
  const Bytes two = wire("0A 00 03 'abc' 0A 00 01 'x'");
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(two.data(), (uint32_t)two.size());
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(buffer, &delegate);
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  EXPECT_TRUE(serializer->joinThread());
  ASSERT_EQ(delegate.received.size(), 2u);
  // The delegate's references are the only ones left: the worker's pools are closed.
  EXPECT_EQ(delegate.received[0]->getRetainCount(), 1);
  EXPECT_TRUE(log.contains("Info: Premature end of data stream\n"));
}

TEST(BackgroundReadingTest, DestroyingEndsAReaderThatWaitsForData)
{
  BaseAutorelease pool;
  RecordingDelegate delegate;
  BaseBuffer* pipe = new (eRetainAutorelease) BaseBuffer();
  pipe->setFIFO(4096, true);
  BaseSerializer* serializer = new BaseSerializer(pipe, &delegate);
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  ASSERT_TRUE(pipe->writeIO("\x0B\x00", 2));
  ASSERT_TRUE(delegate.waitForOne());  // the worker now waits inside a read for the next object
  serializer->release();
  EXPECT_EQ(pipe->getRetainCount(), 1);
}

TEST(BackgroundReadingTest, StoppingFromTheDelegateEndsTheLoopAfterTheObject)
{
  BaseAutorelease pool;
  RecordingDelegate delegate;
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("\x0B\x00\x0B\x00\x0B\x00", 6);
  BaseSerializer* serializer = new (eRetainAutorelease) BaseSerializer(buffer, &delegate);
  delegate.onObject = [serializer] { serializer->stopReadingInBackground(); };
  ASSERT_TRUE(serializer->unserializeObjectFromIOInBackground());
  EXPECT_TRUE(serializer->joinThread());
  EXPECT_EQ(delegate.received.size(), 1u);
}

}  // namespace
