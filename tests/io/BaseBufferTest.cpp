// The byte buffer: construction, growth, lengths and assignment, searches, files, text
// forms, the default stream mode and the FIFO mode, alone and between two threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"

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

class BaseBufferTest : public ::testing::Test
{
protected:
  BaseBuffer* make() { return new (eRetainAutorelease) BaseBuffer(); }
  BaseBuffer* make(const std::string& bytes)
  {
    return new (eRetainAutorelease) BaseBuffer(bytes.data(), (uint32_t)bytes.size());
  }

  BaseAutorelease pool;
};

class BaseBufferConstructionTest : public BaseBufferTest
{
};

TEST_F(BaseBufferConstructionTest, EachConstructorSizesTheStorageAndEndsWithAZeroByte)
{
  BaseBuffer* empty = make();
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

  BaseBuffer* text = new (eRetainAutorelease) BaseBuffer("hello");
  EXPECT_EQ(text->capacity(), 6u);
  EXPECT_STREQ(reinterpret_cast<const char*>(text->bytes()), "hello");
}

TEST_F(BaseBufferConstructionTest, ZeroCapacityStillHoldsTheTerminator)
{
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(0ul);
  EXPECT_EQ(buffer->capacity(), 1u);
  EXPECT_EQ(buffer->bytes()[0], 0);
  buffer->appendString("xyz");
  EXPECT_EQ(data(buffer), "xyz");
}

TEST_F(BaseBufferConstructionTest, CapacityBeyondThirtyTwoBitsIsRefusedWithoutAllocating)
{
  LogCapture log;
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(0x100000000ul);
  EXPECT_EQ(log.text(), "Error: unable to allocate memory\n");
  EXPECT_EQ(buffer->capacity(), 0u);
  EXPECT_EQ(buffer->length(), 0u);
  // Still usable: the next append allocates.
  EXPECT_TRUE(buffer->appendBytes("ab", 2));
  EXPECT_EQ(data(buffer), "ab");
  EXPECT_EQ(buffer->capacity(), 256u);
}

TEST_F(BaseBufferConstructionTest, CopyTakesTheDataButNeitherPositionNorFIFOMode)
{
  BaseBuffer* source = make("abcdef");
  source->appendBytes("gh", 2);
  char first[2];
  uint32_t length = 2;
  ASSERT_TRUE(source->readIO(first, length));

  BaseBuffer* copy = new (eRetainAutorelease) BaseBuffer(*source);
  EXPECT_EQ(copy->capacity(), source->capacity());
  EXPECT_EQ(data(copy), "abcdefgh");
  char all[8];
  length = 8;
  EXPECT_TRUE(copy->readIO(all, length));
  EXPECT_EQ(std::string(all, length), "abcdefgh");

  BaseBuffer* fifo = make("xyz");
  fifo->setFIFO(16, false);
  BaseBuffer* plain = new (eRetainAutorelease) BaseBuffer(*fifo);
  length = 2;
  EXPECT_TRUE(plain->readIO(all, length));
  EXPECT_EQ(data(plain), "xyz");  // a default-mode read leaves the data
}

class BaseBufferGrowthTest : public BaseBufferTest
{
};

TEST_F(BaseBufferGrowthTest, DoublesOrGrowsToWhatIsNeeded)
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
}

TEST_F(BaseBufferGrowthTest, AppendingItsOwnDataSurvivesTheStorageMoving)
{
  BaseBuffer* buffer = make(pattern(200));
  *buffer += *buffer;
  EXPECT_EQ(data(buffer), pattern(200) + pattern(200));
  buffer->appendBytes(buffer->bytes() + 100, 300);
  EXPECT_EQ(data(buffer), pattern(200) + pattern(200) + pattern(100, 100) + pattern(200));
}

TEST_F(BaseBufferGrowthTest, LengthPastThirtyTwoBitsIsRefusedAndTheDataKept)
{
  BaseBuffer* buffer = make("keep");
  LogCapture log;
  // The count alone makes the length overflow: nothing is read from the pointer.
  static const char one = 'x';
  EXPECT_FALSE(buffer->appendBytes(&one, 0xFFFFFFFFu));
  EXPECT_FALSE(buffer->writeIO(&one, 0xFFFFFFFCu));
  EXPECT_EQ(log.text(), "Error: unable to reallocate memory\nError: unable to reallocate memory\n");
  EXPECT_EQ(data(buffer), "keep");
  EXPECT_EQ(buffer->capacity(), 5u);
}

class BaseBufferLengthTest : public BaseBufferTest
{
};

TEST_F(BaseBufferLengthTest, GrowingToExactSizeLogsAndFillsWithZeros)
{
  BaseBuffer* buffer = make();
  LogCapture log;
  EXPECT_TRUE(buffer->setLength(300));
  EXPECT_EQ(log.text(), "Debug: len 0 thr 301, clen 256\n");
  EXPECT_EQ(buffer->capacity(), 301u);
  EXPECT_EQ(data(buffer), std::string(300, '\0'));
  EXPECT_EQ(buffer->bytes()[300], 0);
}

TEST_F(BaseBufferLengthTest, GrowingAfterShrinkingYieldsZerosNotOldBytes)
{
  BaseBuffer* buffer = make("abcdef");
  EXPECT_TRUE(buffer->setLength(2));
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer->bytes()), "ab");
  EXPECT_TRUE(buffer->setLength(5));
  EXPECT_EQ(data(buffer), std::string("ab\0\0\0", 5));
}

TEST_F(BaseBufferLengthTest, ClearGivesTheStorageBackToTheDefault)
{
  BaseBuffer* buffer = make();
  buffer->setLength(4095);
  EXPECT_EQ(buffer->capacity(), 4096u);
  buffer->clear();
  EXPECT_EQ(buffer->capacity(), 256u);
  EXPECT_EQ(buffer->length(), 0u);
  EXPECT_EQ(buffer->bytes()[0], 0);
}

TEST_F(BaseBufferLengthTest, LengthThatCannotHaveATerminatorIsRefused)
{
  BaseBuffer* buffer = make("abc");
  LogCapture log;
  EXPECT_FALSE(buffer->setLength(0xFFFFFFFFu));
  EXPECT_EQ(log.text(), "Error: unable to reallocate memory\n");
  EXPECT_EQ(data(buffer), "abc");
}

TEST_F(BaseBufferLengthTest, ReadPositionStaysWithinTheData)
{
  BaseBuffer* buffer = make("abcdef");
  char out[8];
  uint32_t length = 6;
  ASSERT_TRUE(buffer->readIO(out, length));
  buffer->setLength(2);
  length = 8;
  EXPECT_FALSE(buffer->readIO(out, length));
  EXPECT_EQ(length, 0u);
  buffer->appendString("XY");
  length = 8;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(std::string(out, length), "XY");

  buffer->clear();
  buffer->appendString("new");
  length = 8;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(std::string(out, length), "new");
}

class BaseBufferAssignTest : public BaseBufferTest
{
};

TEST_F(BaseBufferAssignTest, AssigningABufferCopiesItsData)
{
  BaseBuffer* target = make("0123456789");
  BaseBuffer* small = make("ab");
  *target = *small;
  EXPECT_EQ(data(target), "ab");
  EXPECT_EQ(target->bytes()[2], 0);
  EXPECT_EQ(target->capacity(), 11u);  // reused

  BaseBuffer* large = make(pattern(40));
  *target = *large;
  EXPECT_EQ(data(target), pattern(40));
  EXPECT_EQ(target->capacity(), 41u);

  BaseBuffer& same = *target;
  *target = same;
  EXPECT_EQ(data(target), pattern(40));
}

TEST_F(BaseBufferAssignTest, AssigningAShorterTextLeavesNoOldBytesAfterIt)
{
  BaseBuffer* buffer = make("abcdef");
  *buffer = "xy";
  EXPECT_EQ(data(buffer), "xy");
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer->bytes()), "xy");
  *buffer = "a longer text than before";
  EXPECT_EQ(data(buffer), "a longer text than before");
}

class BaseBufferSearchTest : public BaseBufferTest
{
};

TEST_F(BaseBufferSearchTest, ContainsReportsTheLastOccurrence)
{
  BaseBuffer* buffer = make("abcabc");
  uint32_t offset = 99;
  EXPECT_TRUE(buffer->contains("bc", 2, &offset));
  EXPECT_EQ(offset, 4u);
  EXPECT_TRUE(buffer->contains("abcabc", 6, &offset));
  EXPECT_EQ(offset, 0u);
  offset = 99;
  EXPECT_FALSE(buffer->contains("cb", 2, &offset));
  EXPECT_FALSE(buffer->contains("abcabca", 7, &offset));
  EXPECT_EQ(offset, 99u);
  EXPECT_TRUE(buffer->containsString("ca"));
  EXPECT_FALSE(buffer->containsString("abcabcabc"));
  EXPECT_TRUE(make(std::string("a\0b", 3))->contains("\0b", 2));
}

TEST_F(BaseBufferSearchTest, PrefixAndSuffix)
{
  BaseBuffer* buffer = make("prefix-body-suffix");
  EXPECT_TRUE(buffer->hasPrefix("prefix"));
  EXPECT_FALSE(buffer->hasPrefix("body"));
  EXPECT_TRUE(buffer->hasSuffix("-suffix"));
  EXPECT_FALSE(buffer->hasSuffix("prefix"));
  EXPECT_FALSE(make("ab")->hasPrefix("abc"));
  EXPECT_FALSE(make("ab")->hasSuffix("zab"));
  for (BaseBuffer* any : {buffer, make()}) {
    EXPECT_TRUE(any->hasPrefix(""));
    EXPECT_TRUE(any->hasSuffix(""));
  }
}

TEST_F(BaseBufferSearchTest, TextBetweenTheFirstTwoDelimiters)
{
  char output[32];
  uint32_t size = sizeof output;
  make("x|hello|y")->copySubstringBetween("|", output, size, 0);
  EXPECT_STREQ(output, "hello");
  EXPECT_EQ(size, 5u);

  size = 3;
  make("x|hello|y")->copySubstringBetween("|", output, size, 0);
  EXPECT_STREQ(output, "he");
  EXPECT_EQ(size, 2u);

  size = sizeof output;
  make("##abc##")->copySubstringBetween("##", output, size, 0);
  EXPECT_STREQ(output, "abc");
  EXPECT_EQ(size, 3u);

  size = sizeof output;
  make("a|b|c|d")->copySubstringBetween("|", output, size, 2);
  EXPECT_STREQ(output, "c");
}

TEST_F(BaseBufferSearchTest, NothingBetweenGivesTheEmptyText)
{
  char output[8];
  for (const char* text : {"x|hello", "no delimiter", "||"}) {
    uint32_t size = sizeof output;
    strcpy(output, "junk");
    make(text)->copySubstringBetween("|", output, size, 0);
    EXPECT_STREQ(output, "") << text;
    EXPECT_EQ(size, 0u) << text;
  }
  uint32_t size = sizeof output;
  make("a|b|c")->copySubstringBetween("|", output, size, 5);
  EXPECT_EQ(size, 0u);
  // The search ends at the first zero byte.
  size = sizeof output;
  make(std::string("|ab\0|", 5))->copySubstringBetween("|", output, size, 0);
  EXPECT_EQ(size, 0u);
  // No room at all: nothing is written.
  size = 0;
  output[0] = 'k';
  make("|a|")->copySubstringBetween("|", output, size, 0);
  EXPECT_EQ(output[0], 'k');
  EXPECT_EQ(size, 0u);
}

class BaseBufferFileTest : public BaseBufferTest
{
protected:
  void SetUp() override
  {
    char pathTemplate[] = "/tmp/basebuffer-XXXXXX";
    ASSERT_NE(mkdtemp(pathTemplate), nullptr);
    directory = pathTemplate;
  }
  void TearDown() override
  {
    for (const std::string& path : created) unlink(path.c_str());
    rmdir(directory.c_str());
  }
  std::string path(const char* name)
  {
    created.push_back(directory + "/" + name);
    return created.back();
  }

  std::string directory;
  std::vector<std::string> created;
};

TEST_F(BaseBufferFileTest, WrittenFileReadsBackAcrossReadChunks)
{
  std::string file = path("data.bin");
  EXPECT_TRUE(make(pattern(3000))->writeToFile(file.c_str()));
  BaseBuffer* back = make("head:");
  EXPECT_TRUE(back->readFromFile(file.c_str()));
  EXPECT_EQ(data(back), "head:" + pattern(3000));

  EXPECT_TRUE(make("short")->writeToFile(file.c_str()));  // truncates
  BaseBuffer* again = make();
  EXPECT_TRUE(again->readFromFile(file.c_str()));
  EXPECT_EQ(data(again), "short");
}

TEST_F(BaseBufferFileTest, MissingFileOrDirectoryFails)
{
  BaseBuffer* buffer = make("x");
  EXPECT_FALSE(buffer->readFromFile(path("missing").c_str()));
  EXPECT_FALSE(buffer->writeToFile((directory + "/no/such/dir").c_str()));
  // A directory opens for reading but cannot be read: that must end, not spin.
  EXPECT_FALSE(buffer->readFromFile(directory.c_str()));
  EXPECT_EQ(data(buffer), "x");
}

TEST_F(BaseBufferFileTest, ReadsUpToTheTerminatorOrTheMaximum)
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
}

TEST_F(BaseBufferFileTest, BytesTakenFromTheFrontGoToTheFile)
{
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  BaseBuffer* buffer = make();
  buffer->setLength(2000);
  memcpy(buffer->bytes(), pattern(2000).data(), 2000);
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
}

TEST_F(BaseBufferFileTest, BytesTheFileRefusesStayInTheBuffer)
{
  std::string file = path("readonly.bin");
  EXPECT_TRUE(make("")->writeToFile(file.c_str()));
  FILE* readOnly = fopen(file.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  BaseBuffer* buffer = make("precious");
  EXPECT_FALSE(buffer->getBytesToFile(readOnly, 4));
  EXPECT_EQ(data(buffer), "precious");
  fclose(readOnly);
}

TEST_F(BaseBufferFileTest, UnreadBytesStayUnreadWhenTheFrontIsRemoved)
{
  BaseBuffer* buffer = make("abcdefgh");
  char out[8];
  uint32_t length = 5;
  ASSERT_TRUE(buffer->readIO(out, length));
  buffer->getBytesToFile(nullptr, 3);
  length = 8;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(std::string(out, length), "fgh");
}

class BaseBufferTextTest : public BaseBufferTest
{
protected:
  std::string text(BaseBuffer* buffer, int flags) { return buffer->toString(flags)->cString(); }
};

TEST_F(BaseBufferTextTest, HexDumpBreaksEverySixteenBytes)
{
  std::string bytes;
  for (int i = 0; i < 17; i++) bytes += (char)i;
  EXPECT_STREQ(make(bytes)->hexDump(17)->cString(),
               "BUFFER (\n  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n  10 )\n");
  EXPECT_STREQ(make(bytes)->hexDump(0)->cString(), "BUFFER ()\n");
  EXPECT_STREQ(make("\xFF\xA0")->hexDump(1)->cString(), "BUFFER (\n  ff )\n");
  // Never past the data.
  EXPECT_STREQ(make("\xFF\xA0")->hexDump(1000)->cString(), "BUFFER (\n  ff a0 )\n");
}

TEST_F(BaseBufferTextTest, EachFormatHasItsOwnForm)
{
  BaseBuffer* buffer = make("a\"b");
  EXPECT_EQ(text(buffer, BaseObject::eToStringPlain), "BUFFER (\n  61 22 62 )\n");
  EXPECT_EQ(text(buffer, BaseObject::eToStringJSON), "\"a\\\"b\"");
  EXPECT_EQ(text(buffer, BaseObject::eToStringLua), "\"a\\\"b\"");
  EXPECT_EQ(text(buffer, BaseObject::eToStringXML), "<data>BUFFER (\n  61 22 62 )\n</data>");
}

TEST_F(BaseBufferTextTest, DecorationsCountTheDataBytes)
{
  EXPECT_EQ(text(make("abc"), BaseObject::eToStringJSON | BaseObject::eToStringClassName |
                                  BaseObject::eToStringEntryCount),
            "// BaseBuffer 3 entries \n\"abc\"");
  EXPECT_STREQ(make("x")->getClass(), "BaseBuffer");
}

class BaseBufferStreamTest : public BaseBufferTest
{
};

TEST_F(BaseBufferStreamTest, ReadsConsumeFromThePositionAndLeaveTheData)
{
  BaseBuffer* buffer = make("abcd");
  char out[6];
  uint32_t length = 6;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(std::string(out, 4), "abcd");
  length = 6;
  EXPECT_FALSE(buffer->readIO(out, length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(data(buffer), "abcd");

  EXPECT_TRUE(buffer->writeIO("ef", 2));
  length = 6;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(std::string(out, length), "ef");
}

TEST_F(BaseBufferStreamTest, ReadOfNothingIsNotASuccess)
{
  BaseBuffer* buffer = make("abcd");
  uint32_t length = 0;
  EXPECT_FALSE(buffer->readIO(nullptr, length));
}

TEST_F(BaseBufferStreamTest, SkipMovesThePosition)
{
  BaseBuffer* buffer = make(pattern(40000));
  EXPECT_TRUE(buffer->skipBytesInIO(20000));
  unsigned char next = 0;
  EXPECT_TRUE(buffer->readIOExact(&next, 1));
  EXPECT_EQ(next, (unsigned char)pattern(1, 20000)[0]);
  EXPECT_FALSE(buffer->skipBytesInIO(20000));
}

class BaseBufferFIFOTest : public BaseBufferTest
{
protected:
  BaseBuffer* fifo(uint32_t size, bool blocking)
  {
    BaseBuffer* buffer = make();
    buffer->setFIFO(size, blocking);
    return buffer;
  }
};

TEST_F(BaseBufferFIFOTest, NonBlockingWriteNeedsRoomForAllOfIt)
{
  BaseBuffer* buffer = fifo(10, false);
  EXPECT_TRUE(buffer->writeIO("01234567", 8));
  EXPECT_FALSE(buffer->writeIO("abc", 3));
  EXPECT_EQ(data(buffer), "01234567");
  EXPECT_TRUE(buffer->writeIO("ab", 2));
  EXPECT_EQ(data(buffer), "01234567ab");
  EXPECT_FALSE(buffer->writeIO("c", 1));
}

TEST_F(BaseBufferFIFOTest, NonBlockingReadIsAllOrNothing)
{
  BaseBuffer* buffer = fifo(10, false);
  buffer->writeIO("abcd", 4);
  char out[8];
  uint32_t length = 5;
  EXPECT_FALSE(buffer->readIO(out, length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(data(buffer), "abcd");
  length = 3;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(std::string(out, length), "abc");
  EXPECT_EQ(data(buffer), "d");
  EXPECT_EQ(buffer->bytes()[1], 0);
  length = 0;
  EXPECT_FALSE(buffer->readIO(out, length));
}

TEST_F(BaseBufferFIFOTest, ClosedFIFOHandsOutWhatIsLeftThenEnds)
{
  BaseBuffer* buffer = fifo(10, false);
  buffer->writeIO("abcde", 5);
  EXPECT_TRUE(buffer->closeIO());
  EXPECT_FALSE(buffer->writeIO("f", 1));
  char out[8];
  uint32_t length = 8;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(std::string(out, length), "abcde");
  length = 8;
  EXPECT_FALSE(buffer->readIO(out, length));

  buffer->setFIFO(10, false);  // reopens
  EXPECT_TRUE(buffer->writeIO("g", 1));
}

TEST_F(BaseBufferFIFOTest, SwitchingBackRestoresTheCursorMode)
{
  BaseBuffer* buffer = fifo(10, false);
  buffer->writeIO("abc", 3);
  buffer->setFIFO(0, false);
  char out[3];
  uint32_t length = 3;
  EXPECT_TRUE(buffer->readIO(out, length));
  EXPECT_EQ(data(buffer), "abc");
  EXPECT_TRUE(buffer->writeIO(pattern(50).data(), 50));  // no bound any more
}

TEST(BaseBufferFIFODeathTest, SwitchingAfterReadingStops)
{
  EXPECT_DEATH(
      {
        BaseAutorelease pool;
        BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer("abc");
        char out;
        uint32_t length = 1;
        buffer->readIO(&out, length);
        buffer->setFIFO(10, true);
      },
      "m_streamPosition==0");
}

class BaseBufferFIFOThreadsTest : public BaseBufferFIFOTest
{
};

TEST_F(BaseBufferFIFOThreadsTest, BlockingReaderGetsTheExactSequenceThenTheEnd)
{
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
  char chunk[80];
  for (uint32_t asked = 1;; asked = asked % 80 + 1) {
    uint32_t length = asked;
    if (!buffer->readIO(chunk, length)) break;
    received.append(chunk, length);
  }
  writer.join();
  EXPECT_EQ(received, sent);
}

TEST_F(BaseBufferFIFOThreadsTest, ReaderWaitingForMoreThanIsStoredDoesNotStallTheWriter)
{
  // Eight bytes stored and a reader waiting for nine: the writer's five must go in as room
  // allows, or neither side would ever move.
  BaseBuffer* buffer = fifo(10, true);
  ASSERT_TRUE(buffer->writeIO("ABCDEFGH", 8));
  std::string first, second;
  std::thread reader([&] {
    char out[9];
    uint32_t length = 9;
    if (buffer->readIO(out, length)) first.assign(out, length);
    length = 4;
    if (buffer->readIO(out, length)) second.assign(out, length);
  });
  EXPECT_TRUE(buffer->writeIO("IJKLM", 5));
  reader.join();
  EXPECT_EQ(first, "ABCDEFGHI");
  EXPECT_EQ(second, "JKLM");
}

TEST_F(BaseBufferFIFOThreadsTest, ExactReadLargerThanTheFIFOCompletes)
{
  BaseBuffer* buffer = fifo(16, true);
  const std::string sent = pattern(1000);
  std::thread writer([&] { buffer->writeIO(sent.data(), (uint32_t)sent.size()); });
  char received[1000];
  EXPECT_TRUE(buffer->readIOExact(received, 1000));
  writer.join();
  EXPECT_EQ(std::string(received, 1000), sent);
}

TEST_F(BaseBufferFIFOThreadsTest, CloseWakesAWaitingReader)
{
  BaseBuffer* buffer = fifo(16, true);
  bool result = true;
  uint32_t delivered = 99;
  std::thread reader([&] {
    char out[4];
    uint32_t length = 4;
    result = buffer->readIO(out, length);
    delivered = length;
  });
  buffer->closeIO();
  reader.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(delivered, 0u);
}

TEST_F(BaseBufferFIFOThreadsTest, CloseWakesAWaitingWriter)
{
  BaseBuffer* buffer = fifo(4, true);
  ASSERT_TRUE(buffer->writeIO("full", 4));
  bool result = true;
  std::thread writer([&] { result = buffer->writeIO("more", 4); });
  buffer->closeIO();
  writer.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(data(buffer), "full");
}

}  // namespace
