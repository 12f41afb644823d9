// The byte buffer: construction, growth, lengths and assignment, searches, files, text
// forms, the default stream mode and the FIFO mode, alone and between two threads.
#include "io/BaseBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/TemporaryDirectory.h"

namespace {

std::string data(BaseBuffer* buffer)
{
  return std::string(reinterpret_cast<const char*>(buffer->bytes()), buffer->length());
}
std::string pattern(uint32_t count, uint32_t from = 0)
{
  std::string bytes;
  for (uint32_t i = 0; i < count; i++) bytes += (char)(unsigned char)((from + i) * 7);
  return bytes;
}
BaseBuffer* make(const std::string& bytes = "")
{
  if (bytes.empty()) return new (eRetainAutorelease) BaseBuffer();
  return new (eRetainAutorelease) BaseBuffer(bytes.data(), (uint32_t)bytes.size());
}
BaseBuffer* fifo(uint32_t size, bool blocking)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer();
  buffer->setFIFO(size, blocking);
  return buffer;
}
// What one read of `asked` bytes delivers; "!" when it fails.
std::string read(BaseBuffer* buffer, uint32_t asked)
{
  std::string out(asked, '\0');
  uint32_t length = asked;
  if (!buffer->readIO(asked ? &out[0] : nullptr, length)) return length ? "!?" : "!";
  return out.substr(0, length);
}

class BaseBufferTest : public ::testing::Test
{
protected:
  BaseAutorelease pool;
};

TEST_F(BaseBufferTest, ConstructionCopyAndGrowth)
{
  BaseBuffer* bytes = make(std::string("a\0b", 3));
  EXPECT_TRUE(bytes->capacity() == 4u && bytes->bytes()[3] == 0);
  LogCapture log;
  BaseBuffer* huge = new (eRetainAutorelease) BaseBuffer((size_t)0x100000000ull);
  EXPECT_EQ(log.text(), "Error: unable to allocate memory\n");
  EXPECT_EQ(huge->capacity(), 0u);
  EXPECT_TRUE(huge->appendBytes("ab", 2) && huge->capacity() == 256u);  // the next append allocates

  EXPECT_EQ(read(bytes, 1), "a");
  EXPECT_EQ(read(new (eRetainAutorelease) BaseBuffer(*bytes), 8),
            std::string("a\0b", 3));  // not the position
  BaseBuffer* doubled = make();
  doubled->appendBytes(pattern(300).data(), 300);
  EXPECT_EQ(doubled->capacity(), 512u);
  doubled->appendBytes(pattern(1000).data(), 1000);  // more than double: what is needed
  EXPECT_EQ(doubled->capacity(), 1301u);
  *doubled += *doubled;  // its own bytes, read again after the storage moved
  *doubled += 'z';
  EXPECT_TRUE(doubled->appendBytes(nullptr, 0) &&
              data(doubled) == pattern(300) + pattern(1000) + pattern(300) + pattern(1000) + "z");
  EXPECT_EQ((new (eRetainAutorelease) BaseBuffer(size_t(0)))->capacity(), 1u);

  // The count alone makes the length overflow: nothing is read from the pointer.
  BaseBuffer* kept = make("keep");
  log.clear();
  static const char one = 'x';
  EXPECT_FALSE(kept->appendBytes(&one, 0xFFFFFFFFu));
  EXPECT_FALSE(kept->writeIO(&one, 0xFFFFFFFCu));
  EXPECT_FALSE(kept->setLength(0xFFFFFFFFu));  // no room for the terminator
  EXPECT_EQ(log.text().size(), 3 * strlen("Error: unable to reallocate memory\n"));
  EXPECT_EQ(data(kept), "keep");
}

TEST_F(BaseBufferTest, LengthsReadPositionAndAssignment)
{
  BaseBuffer* buffer = make("abcdef");
  EXPECT_EQ(read(buffer, 6), "abcdef");
  EXPECT_EQ(read(buffer, 6), "!");
  EXPECT_TRUE(buffer->setLength(2) && read(buffer, 8) == "!" && buffer->setLength(5));
  EXPECT_EQ(data(buffer), std::string("ab\0\0\0", 5));  // zeros, not the old bytes
  buffer->setLength(4095);
  buffer->clear();
  EXPECT_EQ(buffer->capacity(), 256u);
  buffer->appendString("new");
  EXPECT_EQ(read(buffer, 8), "new");
  EXPECT_EQ(read(buffer, 0), "!");
  BaseBuffer* big = make(pattern(40000));
  EXPECT_TRUE(big->skipBytesInIO(20000) && read(big, 1) == pattern(1, 20000));
  EXPECT_FALSE(big->skipBytesInIO(20000));

  BaseBuffer* target = make("0123456789");
  *target = *make("ab");
  EXPECT_TRUE(target->bytes()[2] == 0 && target->capacity() == 11u);  // reused
  *target = "xy";
  *target = *target;
  EXPECT_EQ(data(target), "xy");
  *target = *make(pattern(20));  // larger than the storage
  EXPECT_TRUE(data(target) == pattern(20) && target->capacity() == 21u);
}

TEST_F(BaseBufferTest, Searches)
{
  BaseBuffer* buffer = make("abcabc");
  uint32_t offset = 99;
  EXPECT_TRUE(buffer->contains("bc", 2, &offset) && offset == 4u);  // the last occurrence
  EXPECT_TRUE(buffer->contains("abcabc", 6, &offset) && offset == 0u && buffer->contains("ca", 2));
  EXPECT_TRUE(buffer->contains("", 0, &offset) && offset == 6u);  // at the end
  EXPECT_FALSE(buffer->contains("abcabca", 7, &offset));
  EXPECT_FALSE(buffer->containsString("cb") || buffer->containsString("abcabcabc"));
  EXPECT_TRUE(buffer->hasPrefix("") && buffer->hasSuffix(""));
  EXPECT_TRUE(buffer->hasPrefix("abca") && buffer->hasSuffix("cabc"));
  EXPECT_FALSE(buffer->hasPrefix("bc") || buffer->hasSuffix("ab"));
  EXPECT_FALSE(make("ab")->hasPrefix("abc") || make("ab")->hasSuffix("zab"));

  const std::tuple<std::string, const char*, uint32_t, uint32_t, const char*> cases[] = {
      {"x|hello|y", "|", 32, 0, "hello"}, {"x|hello|y", "|", 3, 0, "he"},
      {"##abc##", "##", 32, 0, "abc"},    {"a|b|c|d", "|", 32, 2, "c"},
      {"x|hello", "|", 8, 0, ""},         {"||", "|", 8, 0, ""},
      {"a|b|c", "|", 8, 5, ""},           {std::string("|ab\0|", 5), "|", 8, 0, ""},
      {"abc", "|", 8, 0, ""},             {"|a|", "|", 0, 0, "junk"},
      {"|a|", "", 8, 0, ""},
  };
  for (const auto& [text, delimiter, room, index, expected] : cases) {
    SCOPED_TRACE(text);
    char output[32] = "junk";
    uint32_t size = room;
    make(text)->copySubstringBetween(delimiter, output, size, index);
    EXPECT_STREQ(output, expected);
    EXPECT_EQ(size, room ? strlen(expected) : 0u);
  }
}

TEST_F(BaseBufferTest, Files)
{
  TemporaryDirectory directory("basebuffer");
  const std::string file = directory.path() + "/data.bin";
  EXPECT_TRUE(make(pattern(3000))->writeToFile(file.c_str()));
  BaseBuffer* back = make("head:");
  EXPECT_TRUE(back->readFromFile(file.c_str()));  // across read chunks, appended
  EXPECT_EQ(data(back), "head:" + pattern(3000));
  // A directory opens for reading but cannot be read: that must end, not spin.
  EXPECT_FALSE(back->readFromFile(directory.path().c_str()) || make()->writeToFile("/no/such/dir/f"));
  LogCapture log;
  EXPECT_FALSE(back->readFromFile("/no/such/file"));
  EXPECT_EQ(log.text(), "Error: unable to open /no/such/file\n");
  EXPECT_TRUE(make()->writeToFile(file.c_str()) && make()->readFromFile(file.c_str()));

  FILE* stream = tmpfile();
  fputs("GET /\r\nHost: x\r\ntail", stream);
  rewind(stream);
  BaseBuffer* line = make();
  EXPECT_TRUE(line->readFromFileUpTo(stream, "\r\n", 100));
  BaseBuffer* limited = make();
  EXPECT_FALSE(limited->readFromFileUpTo(stream, "\r\n", 4));
  EXPECT_TRUE(limited->readFromFileUpTo(stream, "\r\n", 100) && data(limited) == "Host: x\r\n");
  EXPECT_FALSE(line->readFromFileUpTo(stream, "\r\n", 100));
  EXPECT_EQ(data(line), "GET /\r\ntail");
  fclose(stream);

  stream = tmpfile();
  BaseBuffer* front = make(pattern(2000));
  EXPECT_EQ(read(front, 1600), pattern(1600));
  EXPECT_TRUE(front->getBytesToFile(stream, 1500));
  EXPECT_EQ(read(front, 2), pattern(2, 1600));  // unread bytes stay unread
  EXPECT_TRUE(front->getBytesToFile(nullptr, 100));
  EXPECT_TRUE(front->getBytesToFile(stream, 1000));
  EXPECT_EQ(front->capacity(), 256u);
  rewind(stream);
  char out[2000];
  EXPECT_EQ(fread(out, 1, sizeof out, stream), 1900u);
  EXPECT_EQ(std::string(out, 1900), pattern(1500) + pattern(400, 1600));
  fclose(stream);
  stream = fopen(file.c_str(), "r");  // takes no bytes: they all stay
  EXPECT_FALSE(back->getBytesToFile(stream, 10));
  EXPECT_EQ(data(back), "head:" + pattern(3000));
  fclose(stream);
}

TEST_F(BaseBufferTest, TextForms)
{
  std::string bytes;
  for (int i = 0; i < 17; i++) bytes += (char)i;
  EXPECT_STREQ(make(bytes)->hexDump(1000)->cString(),
               "BUFFER (\n  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n  10 )\n");
  const std::pair<int, const char*> forms[] = {
      {BaseObject::eToStringPlain, "BUFFER (\n  61 5c 62 )\n"},
      {BaseObject::eToStringLua, "\"a\\\\b\""},
      {BaseObject::eToStringXML, "<data>BUFFER (\n  61 5c 62 )\n</data>"},
      {BaseObject::eToStringJSON | BaseObject::eToStringClassName | BaseObject::eToStringEntryCount,
       "// BaseBuffer 3 entries \n\"a\\\\b\""}};
  for (auto [flags, expected] : forms) EXPECT_STREQ(make("a\\b")->toString(flags)->cString(), expected);
  EXPECT_STREQ(make()->toString(BaseObject::eToStringJSON)->cString(), "\"\"");
}

TEST_F(BaseBufferTest, NonBlockingFIFO)
{
  BaseBuffer* buffer = fifo(10, false);
  EXPECT_TRUE(buffer->writeIO("01234567", 8));
  EXPECT_FALSE(buffer->writeIO("abc", 3));  // needs room for all of it
  EXPECT_TRUE(buffer->writeIO("ab", 2));
  EXPECT_FALSE(buffer->writeIO("c", 1));  // full
  EXPECT_EQ(read(buffer, 0), "!");
  EXPECT_EQ(read(buffer, 7), "0123456");
  EXPECT_EQ(read(buffer, 5), "!");  // all or nothing
  EXPECT_TRUE(buffer->closeIO());   // hands out what is left, then ends
  EXPECT_FALSE(buffer->writeIO("f", 1));
  EXPECT_EQ(read(buffer, 8), "7ab");
  EXPECT_EQ(read(buffer, 8), "!");
  buffer->setFIFO(10, false);  // reopens
  EXPECT_TRUE(buffer->writeIO("abc", 3));
  buffer->setFIFO(0, false);  // back to the cursor mode
  EXPECT_EQ(read(buffer, 3), "abc");
  EXPECT_TRUE(data(buffer) == "abc" && buffer->closeIO());
  EXPECT_DEATH(
      {
        BaseBuffer* used = make("abc");
        read(used, 1);
        used->setFIFO(10, true);
      },
      "m_streamPosition==0");
}

TEST_F(BaseBufferTest, BlockingFIFOBetweenThreads)
{
  // A reader waiting for more than is stored must not stall the writer.
  BaseBuffer* buffer = fifo(10, true);
  ASSERT_TRUE(buffer->writeIO("ABCDEFGH", 8));
  std::string first, second;
  std::thread reader([&] {
    first = read(buffer, 9);
    second = read(buffer, 4);
  });
  EXPECT_TRUE(buffer->writeIO("IJKLM", 5));
  reader.join();
  EXPECT_EQ(first + "|" + second, "ABCDEFGHI|JKLM");

  // An exact read larger than the FIFO completes.
  buffer = fifo(16, true);
  const std::string sent = pattern(1000);
  std::thread large([&] { buffer->writeIO(sent.data(), 1000); });
  char out[1000];
  EXPECT_TRUE(buffer->readIOExact(out, 1000));
  large.join();
  EXPECT_EQ(std::string(out, 1000), sent);
}

TEST_F(BaseBufferTest, CloseWakesAWaitingReaderAndAWaitingWriter)
{
  BaseBuffer* empty = fifo(16, true);
  std::string result;
  std::thread reader([&] { result = read(empty, 4); });
  empty->closeIO();
  reader.join();
  EXPECT_EQ(result, "!");
}

}  // namespace
