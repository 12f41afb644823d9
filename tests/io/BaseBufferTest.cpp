// The byte buffer: construction, growth, lengths and assignment, searches, files, text
// forms, the default stream mode and the FIFO mode, alone and between two threads.
#include "io/BaseBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

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

TEST_F(BaseBufferTest, ConstructorsSizeTheStorageAndEndWithAZeroByte)
{
  BaseBuffer* empty = new (eRetainAutorelease) BaseBuffer();
  EXPECT_EQ(empty->capacity(), 256u);
  EXPECT_EQ(empty->length(), 0u);
  EXPECT_EQ(empty->bytes()[0], 0);
  BaseBuffer* sized = new (eRetainAutorelease) BaseBuffer(1000ul);
  EXPECT_EQ(sized->capacity(), 1000u);
  EXPECT_EQ(sized->length(), 0u);
  BaseBuffer* bytes = make(std::string("a\0b", 3));
  EXPECT_EQ(bytes->capacity(), 4u);
  EXPECT_EQ(data(bytes), std::string("a\0b", 3));
  EXPECT_EQ(bytes->bytes()[3], 0);
  EXPECT_EQ((new (eRetainAutorelease) BaseBuffer("hello"))->capacity(), 6u);
  BaseBuffer* zero = new (eRetainAutorelease) BaseBuffer(0ul);
  EXPECT_EQ(zero->capacity(), 1u);
  EXPECT_EQ(zero->bytes()[0], 0);
  zero->appendString("xyz");
  EXPECT_EQ(data(zero), "xyz");

  LogCapture log;
  BaseBuffer* huge = new (eRetainAutorelease) BaseBuffer(0x100000000ul);
  EXPECT_EQ(log.text(), "Error: unable to allocate memory\n");
  EXPECT_EQ(huge->capacity(), 0u);
  EXPECT_EQ(huge->length(), 0u);
  EXPECT_TRUE(huge->appendBytes("ab", 2));  // still usable: the next append allocates
  EXPECT_EQ(data(huge), "ab");
  EXPECT_EQ(huge->capacity(), 256u);
}

TEST_F(BaseBufferTest, CopyTakesTheDataButNeitherPositionNorFIFOMode)
{
  BaseBuffer* source = make("abcdef");
  source->appendBytes("gh", 2);
  EXPECT_EQ(read(source, 2), "ab");
  BaseBuffer* copy = new (eRetainAutorelease) BaseBuffer(*source);
  EXPECT_EQ(copy->capacity(), source->capacity());
  EXPECT_EQ(read(copy, 8), "abcdefgh");
  BaseBuffer* queue = make("xyz");
  queue->setFIFO(16, false);
  BaseBuffer* plain = new (eRetainAutorelease) BaseBuffer(*queue);
  EXPECT_EQ(read(plain, 2), "xy");
  EXPECT_EQ(data(plain), "xyz");  // a default-mode read leaves the data
}

TEST_F(BaseBufferTest, GrowthDoublesOrGrowsToWhatIsNeededAndSurvivesAppendingItself)
{
  BaseBuffer* doubled = make();
  doubled->appendBytes(pattern(300).data(), 300);
  EXPECT_EQ(doubled->capacity(), 512u);
  EXPECT_EQ(data(doubled), pattern(300));
  EXPECT_EQ(doubled->bytes()[300], 0);
  BaseBuffer* exact = make();
  exact->appendBytes(pattern(10).data(), 10);
  exact->appendBytes(pattern(1000, 10).data(), 1000);
  EXPECT_EQ(exact->capacity(), 1011u);
  EXPECT_EQ(data(exact), pattern(1010));
  EXPECT_EQ(exact->bytes()[1010], 0);

  BaseBuffer* self = make(pattern(200));
  *self += *self;
  EXPECT_EQ(data(self), pattern(200) + pattern(200));
  self->appendBytes(self->bytes() + 100, 300);
  EXPECT_EQ(data(self), pattern(200) + pattern(200) + pattern(100, 100) + pattern(200));

  // The count alone makes the length overflow: nothing is read from the pointer.
  BaseBuffer* kept = make("keep");
  LogCapture log;
  static const char one = 'x';
  EXPECT_FALSE(kept->appendBytes(&one, 0xFFFFFFFFu));
  EXPECT_FALSE(kept->writeIO(&one, 0xFFFFFFFCu));
  EXPECT_FALSE(kept->setLength(0xFFFFFFFFu));  // no room for the terminator
  EXPECT_EQ(log.text(),
            "Error: unable to reallocate memory\nError: unable to reallocate memory\n"
            "Error: unable to reallocate memory\n");
  EXPECT_EQ(data(kept), "keep");
  EXPECT_EQ(kept->capacity(), 5u);
}

TEST_F(BaseBufferTest, SetLengthAndClear)
{
  BaseBuffer* buffer = make();
  LogCapture log;
  EXPECT_TRUE(buffer->setLength(300));
  EXPECT_EQ(log.text(), "Debug: len 0 thr 301, clen 256\n");
  EXPECT_EQ(buffer->capacity(), 301u);
  EXPECT_EQ(data(buffer), std::string(300, '\0'));
  EXPECT_EQ(buffer->bytes()[300], 0);

  BaseBuffer* shrunk = make("abcdef");
  EXPECT_TRUE(shrunk->setLength(2));
  EXPECT_STREQ(reinterpret_cast<const char*>(shrunk->bytes()), "ab");
  EXPECT_TRUE(shrunk->setLength(5));
  EXPECT_EQ(data(shrunk), std::string("ab\0\0\0", 5));  // zeros, not the old bytes

  buffer->setLength(4095);
  EXPECT_EQ(buffer->capacity(), 4096u);
  buffer->clear();
  EXPECT_EQ(buffer->capacity(), 256u);
  EXPECT_EQ(buffer->length(), 0u);
  EXPECT_EQ(buffer->bytes()[0], 0);
}

TEST_F(BaseBufferTest, ReadPositionStaysWithinTheData)
{
  BaseBuffer* buffer = make("abcdef");
  EXPECT_EQ(read(buffer, 6), "abcdef");
  EXPECT_EQ(read(buffer, 6), "!");
  EXPECT_EQ(data(buffer), "abcdef");
  buffer->setLength(2);
  EXPECT_EQ(read(buffer, 8), "!");
  buffer->appendString("XY");
  EXPECT_EQ(read(buffer, 8), "XY");
  buffer->clear();
  buffer->appendString("new");
  EXPECT_EQ(read(buffer, 8), "new");
  EXPECT_EQ(read(buffer, 0), "!");  // a read of nothing is not a success

  BaseBuffer* big = make(pattern(40000));
  EXPECT_TRUE(big->skipBytesInIO(20000));
  EXPECT_EQ(read(big, 1), pattern(1, 20000));
  EXPECT_FALSE(big->skipBytesInIO(20000));
}

TEST_F(BaseBufferTest, AssignmentCopiesTheDataAndLeavesNoOldBytes)
{
  BaseBuffer* target = make("0123456789");
  *target = *make("ab");
  EXPECT_EQ(data(target), "ab");
  EXPECT_EQ(target->bytes()[2], 0);
  EXPECT_EQ(target->capacity(), 11u);  // reused
  *target = *make(pattern(40));
  EXPECT_EQ(data(target), pattern(40));
  EXPECT_EQ(target->capacity(), 41u);
  BaseBuffer& same = *target;
  *target = same;
  EXPECT_EQ(data(target), pattern(40));
  *target = "xy";
  EXPECT_STREQ(reinterpret_cast<const char*>(target->bytes()), "xy");
  EXPECT_EQ(data(target), "xy");
  *target = "a longer text than before";
  EXPECT_EQ(data(target), "a longer text than before");
}

TEST_F(BaseBufferTest, Searches)
{
  BaseBuffer* buffer = make("abcabc");
  uint32_t offset = 99;
  EXPECT_TRUE(buffer->contains("bc", 2, &offset));
  EXPECT_EQ(offset, 4u);  // the last occurrence
  EXPECT_TRUE(buffer->contains("abcabc", 6, &offset));
  EXPECT_EQ(offset, 0u);
  offset = 99;
  EXPECT_FALSE(buffer->contains("cb", 2, &offset));
  EXPECT_FALSE(buffer->contains("abcabca", 7, &offset));
  EXPECT_EQ(offset, 99u);
  EXPECT_TRUE(buffer->containsString("ca"));
  EXPECT_FALSE(buffer->containsString("abcabcabc"));
  EXPECT_TRUE(make(std::string("a\0b", 3))->contains("\0b", 2));

  BaseBuffer* text = make("prefix-body-suffix");
  EXPECT_TRUE(text->hasPrefix("prefix"));
  EXPECT_FALSE(text->hasPrefix("body"));
  EXPECT_TRUE(text->hasSuffix("-suffix"));
  EXPECT_FALSE(text->hasSuffix("prefix"));
  EXPECT_FALSE(make("ab")->hasPrefix("abc"));
  EXPECT_FALSE(make("ab")->hasSuffix("zab"));
  for (BaseBuffer* any : {text, make()}) EXPECT_TRUE(any->hasPrefix("") && any->hasSuffix(""));
}

TEST_F(BaseBufferTest, TextBetweenDelimiters)
{
  const struct
  {
    std::string text;
    const char* delimiter;
    uint32_t room, index;
    const char* expected;
  } cases[] = {
      {"x|hello|y", "|", 32, 0, "hello"},
      {"x|hello|y", "|", 3, 0, "he"},
      {"##abc##", "##", 32, 0, "abc"},
      {"a|b|c|d", "|", 32, 2, "c"},
      {"x|hello", "|", 8, 0, ""},
      {"no delimiter", "|", 8, 0, ""},
      {"||", "|", 8, 0, ""},
      {"a|b|c", "|", 8, 5, ""},
      {std::string("|ab\0|", 5), "|", 8, 0, ""},  // the search ends at the first zero byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    char output[32] = "junk";
    uint32_t size = c.room;
    make(c.text)->copySubstringBetween(c.delimiter, output, size, c.index);
    EXPECT_STREQ(output, c.expected);
    EXPECT_EQ(size, strlen(c.expected));
  }
  char output = 'k';
  uint32_t size = 0;  // no room at all: nothing is written
  make("|a|")->copySubstringBetween("|", &output, size, 0);
  EXPECT_EQ(output, 'k');
  EXPECT_EQ(size, 0u);
}

TEST_F(BaseBufferTest, WholeFiles)
{
  TemporaryDirectory directory("basebuffer");
  const std::string file = directory.path() + "/data.bin";
  EXPECT_TRUE(make(pattern(3000))->writeToFile(file.c_str()));
  BaseBuffer* back = make("head:");
  EXPECT_TRUE(back->readFromFile(file.c_str()));  // across read chunks, appended
  EXPECT_EQ(data(back), "head:" + pattern(3000));
  EXPECT_TRUE(make("short")->writeToFile(file.c_str()));  // truncates
  EXPECT_EQ(readFile(file), "short");

  BaseBuffer* buffer = make("x");
  EXPECT_FALSE(buffer->readFromFile((directory.path() + "/missing").c_str()));
  EXPECT_FALSE(buffer->writeToFile((directory.path() + "/no/such/dir").c_str()));
  // A directory opens for reading but cannot be read: that must end, not spin.
  EXPECT_FALSE(buffer->readFromFile(directory.path().c_str()));
  EXPECT_EQ(data(buffer), "x");

  FILE* readOnly = fopen(file.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  BaseBuffer* precious = make("precious");
  EXPECT_FALSE(precious->getBytesToFile(readOnly, 4));  // refused bytes stay
  EXPECT_EQ(data(precious), "precious");
  fclose(readOnly);
}

TEST_F(BaseBufferTest, OpenFilesUpToATerminatorAndFromTheFront)
{
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  fputs("GET /\r\nHost: x\r\ntail", file);
  rewind(file);
  BaseBuffer* line = make();
  EXPECT_TRUE(line->readFromFileUpTo(file, "\r\n", 100));
  EXPECT_EQ(data(line), "GET /\r\n");
  BaseBuffer* limited = make();
  EXPECT_FALSE(limited->readFromFileUpTo(file, "\r\n", 4));
  EXPECT_EQ(data(limited), "Host");
  EXPECT_TRUE(limited->readFromFileUpTo(file, "\r\n", 100));
  EXPECT_EQ(data(limited), "Host: x\r\n");
  BaseBuffer* tail = make();
  EXPECT_FALSE(tail->readFromFileUpTo(file, "\r\n", 100));
  EXPECT_EQ(data(tail), "tail");
  fclose(file);

  file = tmpfile();
  BaseBuffer* buffer = make(pattern(2000));
  EXPECT_TRUE(buffer->getBytesToFile(file, 1500));
  EXPECT_EQ(data(buffer), pattern(500, 1500));
  EXPECT_TRUE(buffer->getBytesToFile(nullptr, 100));
  EXPECT_EQ(data(buffer), pattern(400, 1600));
  EXPECT_TRUE(buffer->getBytesToFile(file, 1000));
  EXPECT_EQ(buffer->length(), 0u);
  EXPECT_EQ(buffer->capacity(), 256u);
  rewind(file);
  char back[2000];
  EXPECT_EQ(fread(back, 1, sizeof back, file), 1900u);
  EXPECT_EQ(std::string(back, 1900), pattern(1500) + pattern(400, 1600));
  fclose(file);

  BaseBuffer* unread = make("abcdefgh");
  EXPECT_EQ(read(unread, 5), "abcde");
  unread->getBytesToFile(nullptr, 3);
  EXPECT_EQ(read(unread, 8), "fgh");  // unread bytes stay unread
}

TEST_F(BaseBufferTest, TextForms)
{
  std::string bytes;
  for (int i = 0; i < 17; i++) bytes += (char)i;
  EXPECT_STREQ(make(bytes)->hexDump(17)->cString(),
               "BUFFER (\n  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n  10 )\n");
  EXPECT_STREQ(make(bytes)->hexDump(0)->cString(), "BUFFER ()\n");
  EXPECT_STREQ(make("\xFF\xA0")->hexDump(1)->cString(), "BUFFER (\n  ff )\n");
  EXPECT_STREQ(make("\xFF\xA0")->hexDump(1000)->cString(), "BUFFER (\n  ff a0 )\n");  // never past the data
  BaseBuffer* buffer = make("a\"b");
  EXPECT_STREQ(buffer->toString(BaseObject::eToStringPlain)->cString(), "BUFFER (\n  61 22 62 )\n");
  EXPECT_STREQ(buffer->toString(BaseObject::eToStringJSON)->cString(), "\"a\\\"b\"");
  EXPECT_STREQ(buffer->toString(BaseObject::eToStringLua)->cString(), "\"a\\\"b\"");
  EXPECT_STREQ(buffer->toString(BaseObject::eToStringXML)->cString(),
               "<data>BUFFER (\n  61 22 62 )\n</data>");
  EXPECT_STREQ(make("abc")
                   ->toString(BaseObject::eToStringJSON | BaseObject::eToStringClassName |
                              BaseObject::eToStringEntryCount)
                   ->cString(),
               "// BaseBuffer 3 entries \n\"abc\"");
}

TEST_F(BaseBufferTest, NonBlockingFIFO)
{
  BaseBuffer* buffer = fifo(10, false);
  EXPECT_TRUE(buffer->writeIO("01234567", 8));
  EXPECT_FALSE(buffer->writeIO("abc", 3));  // needs room for all of it
  EXPECT_TRUE(buffer->writeIO("ab", 2));
  EXPECT_FALSE(buffer->writeIO("c", 1));
  EXPECT_EQ(data(buffer), "01234567ab");
  EXPECT_EQ(read(buffer, 7), "0123456");
  EXPECT_EQ(read(buffer, 5), "!");  // all or nothing
  EXPECT_EQ(data(buffer), "7ab");
  EXPECT_EQ(buffer->bytes()[3], 0);
  EXPECT_EQ(read(buffer, 0), "!");

  EXPECT_TRUE(buffer->closeIO());  // hands out what is left, then ends
  EXPECT_FALSE(buffer->writeIO("f", 1));
  EXPECT_EQ(read(buffer, 8), "7ab");
  EXPECT_EQ(read(buffer, 8), "!");
  buffer->setFIFO(10, false);  // reopens
  EXPECT_TRUE(buffer->writeIO("abc", 3));
  buffer->setFIFO(0, false);  // back to the cursor mode
  EXPECT_EQ(read(buffer, 3), "abc");
  EXPECT_EQ(data(buffer), "abc");
  EXPECT_TRUE(buffer->writeIO(pattern(50).data(), 50));  // no bound any more

  EXPECT_DEATH(
      {
        BaseBuffer* used = make("abc");
        read(used, 1);
        used->setFIFO(10, true);
      },
      "streamPosition==0");
}

TEST_F(BaseBufferTest, BlockingFIFOBetweenThreads)
{
  // The exact sequence, in writes and reads of changing sizes, then the end.
  BaseBuffer* buffer = fifo(64, true);
  const std::string sent = pattern(5000);
  std::thread writer([&] {
    uint32_t offset = 0;
    for (uint32_t chunk = 1; offset < sent.size(); chunk = chunk % 97 + 1) {
      uint32_t count = std::min<uint32_t>(chunk, (uint32_t)sent.size() - offset);
      if (!buffer->writeIO(sent.data() + offset, count)) break;
      offset += count;
    }
    buffer->closeIO();
  });
  std::string received;
  for (uint32_t asked = 1;; asked = asked % 80 + 1) {
    std::string got = read(buffer, asked);
    if (got == "!") break;
    received += got;
  }
  writer.join();
  EXPECT_EQ(received, sent);

  // A reader waiting for more than is stored must not stall the writer.
  buffer = fifo(10, true);
  ASSERT_TRUE(buffer->writeIO("ABCDEFGH", 8));
  std::string first, second;
  std::thread reader([&] {
    first = read(buffer, 9);
    second = read(buffer, 4);
  });
  EXPECT_TRUE(buffer->writeIO("IJKLM", 5));
  reader.join();
  EXPECT_EQ(first, "ABCDEFGHI");
  EXPECT_EQ(second, "JKLM");

  // An exact read larger than the FIFO completes.
  buffer = fifo(16, true);
  std::thread large([&] { buffer->writeIO(sent.data(), 1000); });
  char out[1000];
  EXPECT_TRUE(buffer->readIOExact(out, 1000));
  large.join();
  EXPECT_EQ(std::string(out, 1000), sent.substr(0, 1000));
}

TEST_F(BaseBufferTest, CloseWakesAWaitingReaderAndAWaitingWriter)
{
  BaseBuffer* empty = fifo(16, true);
  std::string result;
  std::thread reader([&] { result = read(empty, 4); });
  empty->closeIO();
  reader.join();
  EXPECT_EQ(result, "!");

  BaseBuffer* full = fifo(4, true);
  ASSERT_TRUE(full->writeIO("full", 4));
  bool written = true;
  std::thread writer([&] { written = full->writeIO("more", 4); });
  full->closeIO();
  writer.join();
  EXPECT_FALSE(written);
  EXPECT_EQ(data(full), "full");
}

}  // namespace
