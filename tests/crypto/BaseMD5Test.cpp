// MD5 digests: the RFC 1321 test suite, messages around the block and padding boundaries,
// feeding in pieces, strings and byte buffers, the raw and hexadecimal forms, repeated
// digests, and use from several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "crypto/BaseMD5.h"
#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"

namespace {

// Bytes that differ from their neighbours and run through every value (0x00, 0x80 and 0xff
// among them) every 256 bytes, so that a misplaced, lost or sign-extended byte shows.
std::vector<uint8_t> patternBytes(size_t count)
{
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; i++) bytes[i] = uint8_t(i * 37 + 11);
  return bytes;
}

class BaseMD5Test : public ::testing::Test
{
protected:
  static std::string hexOf(BaseMD5* md5) { return md5->getHexDigest()->cString(); }

  static std::string digestInOneCall(const std::vector<uint8_t>& bytes)
  {
    BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
    md5->appendBytes(bytes.data(), bytes.size());
    return hexOf(md5);
  }

  static std::string md5FromString(const char* text, int length = -1)
  {
    return BaseMD5::md5FromString(new (eRetainAutorelease) BaseString(text, length))->cString();
  }

  BaseAutorelease pool;
};

class BaseMD5KnownDigestTest : public BaseMD5Test
{
};

TEST_F(BaseMD5KnownDigestTest, Rfc1321TestSuite)
{
  struct
  {
    const char* message;
    const char* digest;
  } const suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& entry : suite) {
    SCOPED_TRACE(entry.message);
    EXPECT_EQ(md5FromString(entry.message), entry.digest);
  }
}

TEST_F(BaseMD5KnownDigestTest, MessagesAroundBlockAndPaddingBoundaries)
{
  // 55 bytes leave room for the 0x80 byte and the length in one block; 56 to 63 need a
  // second block of padding; 64 and 65 start the second block with message bytes; 119,
  // 120 and 128 repeat the same boundaries one block further on.
  struct
  {
    size_t length;
    const char* digest;
  } const messages[] = {
      {55, "d872aa0473a24da995ce4ac518ade767"},  {56, "e23567645846677c205de80f9779081b"},
      {63, "4775b66278a8fc132ff80923378216cd"},  {64, "71e123b70c7aa64826fcfe472694cd1c"},
      {65, "5949948f26e35203661075214faa3966"},  {119, "87f72c7241c5fe218bb4df8c0aba3232"},
      {120, "bf240b8b7407fba3805adeec63a03b77"}, {128, "3e93b378458b77da96b2357c3bda8cc2"},
  };
  for (const auto& entry : messages) {
    SCOPED_TRACE(entry.length);
    EXPECT_EQ(digestInOneCall(patternBytes(entry.length)), entry.digest);
  }
}

TEST_F(BaseMD5KnownDigestTest, StringsContributeTheirBytesUpToTheirLength)
{
  // A zero byte inside the string is data, not its end.
  EXPECT_EQ(md5FromString("a\0b", 3), "70350f6027bce3713f6b76473084309b");
  // UTF-8 text, bytes above 0x7f included.
  EXPECT_EQ(md5FromString("Z\xc3\xbcrich \xe2\x9c\x88"), "1fb20f90c3df861d42737b996f3a0408");
}

TEST_F(BaseMD5KnownDigestTest, BitCountCarriesIntoItsHighWord)
{
  // 2^29 bytes are exactly 2^32 bits: the low word of the count wraps to 0 and the high
  // word becomes 1, both of which the length field must show.
  std::vector<uint8_t> chunk = patternBytes(65536);
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  for (int i = 0; i < 8192; i++) md5->appendBytes(chunk.data(), chunk.size());
  EXPECT_EQ(hexOf(md5), "76a5d0dc385257815f74dca897a08dee");
  md5->appendBytes("x", 1);
  EXPECT_EQ(hexOf(md5), "ead73c8cd662c388b052d387587076c9");
}

TEST_F(BaseMD5KnownDigestTest, BuffersContributeTheirWholeData)
{
  BaseBuffer* empty = new (eRetainAutorelease) BaseBuffer();
  EXPECT_STREQ(BaseMD5::md5FromData(empty)->cString(), "d41d8cd98f00b204e9800998ecf8427e");

  const std::vector<uint8_t> message = patternBytes(300);
  BaseBuffer* data = new (eRetainAutorelease) BaseBuffer(message.data(), uint32_t(message.size()));
  EXPECT_STREQ(BaseMD5::md5FromData(data)->cString(), "1cacd39d2680cccfccf8c3265c8d037e");

  // Reading from the buffer moves its read position, not the data it holds.
  uint8_t head[10];
  uint32_t count = sizeof head;
  ASSERT_TRUE(data->readIO(head, count));
  EXPECT_STREQ(BaseMD5::md5FromData(data)->cString(), "1cacd39d2680cccfccf8c3265c8d037e");
}

class BaseMD5IncrementalTest : public BaseMD5Test
{
};

TEST_F(BaseMD5IncrementalTest, PiecesOfEverySizeGiveTheSameDigest)
{
  const std::vector<uint8_t> message = patternBytes(300);
  for (size_t piece = 1; piece <= 130; piece++) {
    SCOPED_TRACE(piece);
    BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
    for (size_t offset = 0; offset < message.size(); offset += piece)
      md5->appendBytes(message.data() + offset, std::min(piece, message.size() - offset));
    EXPECT_EQ(hexOf(md5), "1cacd39d2680cccfccf8c3265c8d037e");
  }
}

TEST_F(BaseMD5IncrementalTest, UnevenPiecesAcrossBlocks)
{
  const std::vector<uint8_t> message = patternBytes(200);
  EXPECT_EQ(digestInOneCall(message), "f9914cd8b67085ceb02d1eba3ff2dc0c");

  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  md5->appendBytes(message.data(), 1);
  md5->appendBytes(message.data() + 1, 63);
  md5->appendBytes(message.data() + 64, 136);
  EXPECT_EQ(hexOf(md5), "f9914cd8b67085ceb02d1eba3ff2dc0c");
}

TEST_F(BaseMD5IncrementalTest, EmptyPiecesChangeNothing)
{
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  md5->appendBytes(nullptr, 0);
  md5->appendBytes("ab", 2);
  md5->appendBytes("zzz", 0);
  md5->appendString(new (eRetainAutorelease) BaseString(""));
  md5->appendBytes("c", 1);
  md5->appendBytes(nullptr, 0);
  EXPECT_EQ(hexOf(md5), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(BaseMD5IncrementalTest, StringsBuffersAndBytesMix)
{
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  md5->appendString(new (eRetainAutorelease) BaseString("mess"));
  md5->appendData(new (eRetainAutorelease) BaseBuffer("age "));
  md5->appendBytes("dig", 3);
  md5->appendString(new (eRetainAutorelease) BaseString("est"));
  EXPECT_EQ(hexOf(md5), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST_F(BaseMD5IncrementalTest, NullBytesWithALengthStop)
{
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  EXPECT_DEATH(md5->appendBytes(nullptr, 5),
               "Assertion failed: bytes!=nullptr \\|\\| length==0, file src/crypto/BaseMD5");
}

TEST_F(BaseMD5IncrementalTest, NullStringOrBufferStops)
{
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  EXPECT_DEATH(md5->appendString(nullptr), "Assertion failed: aString!=nullptr, file src/crypto/BaseMD5");
  EXPECT_DEATH(md5->appendData(nullptr), "Assertion failed: data!=nullptr, file src/crypto/BaseMD5");
}

class BaseMD5DigestFormsTest : public BaseMD5Test
{
};

TEST_F(BaseMD5DigestFormsTest, RawDigestIsTheSixteenBytesTheHexFormSpells)
{
  const uint8_t expected[BaseMD5::DIGEST_LENGTH] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                                    0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  md5->appendBytes("abc", 3);
  BaseBuffer* buffer = md5->getRawDigest();
  ASSERT_NE(buffer, nullptr);
  ASSERT_EQ(buffer->length(), uint32_t(BaseMD5::DIGEST_LENGTH));
  EXPECT_EQ(std::vector<uint8_t>(buffer->bytes(), buffer->bytes() + buffer->length()),
            std::vector<uint8_t>(expected, expected + BaseMD5::DIGEST_LENGTH));

  BaseMD5* hex = new (eRetainAutorelease) BaseMD5();
  hex->appendBytes("abc", 3);
  BaseString* text = hex->getHexDigest();
  EXPECT_EQ(text->length(), 32u);
  EXPECT_STREQ(text->cString(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(BaseMD5DigestFormsTest, DigestsBelongToTheInnermostPool)
{
  BaseString* hex;
  BaseBuffer* raw;
  {
    BaseAutorelease inner;
    hex = BaseMD5::md5FromString(new (eRetainAutorelease) BaseString("abc"));
    BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
    raw = md5->getRawDigest();
    hex->retain();
    raw->retain();
    EXPECT_EQ(hex->getRetainCount(), 2);
    EXPECT_EQ(raw->getRetainCount(), 2);
  }
  EXPECT_EQ(hex->getRetainCount(), 1);
  EXPECT_EQ(raw->getRetainCount(), 1);
  EXPECT_STREQ(hex->cString(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(raw->length(), uint32_t(BaseMD5::DIGEST_LENGTH));
  EXPECT_EQ(raw->bytes()[0], 0xd4);  // d41d8cd9..., the digest of nothing
  hex->release();
  raw->release();
}

class BaseMD5RepeatedDigestTest : public BaseMD5Test
{
};

TEST_F(BaseMD5RepeatedDigestTest, AskingAgainGivesTheSameDigest)
{
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  md5->appendBytes("abc", 3);
  EXPECT_EQ(hexOf(md5), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hexOf(md5), "900150983cd24fb0d6963f7d28e17f72");
  BaseBuffer* raw = md5->getRawDigest();
  ASSERT_EQ(raw->length(), uint32_t(BaseMD5::DIGEST_LENGTH));
  EXPECT_EQ(raw->bytes()[0], 0x90);
  EXPECT_EQ(raw->bytes()[15], 0x72);
}

TEST_F(BaseMD5RepeatedDigestTest, FeedingAfterADigestDigestsEverythingFed)
{
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  md5->appendBytes("abc", 3);
  EXPECT_EQ(hexOf(md5), "900150983cd24fb0d6963f7d28e17f72");
  md5->appendBytes("def", 3);
  EXPECT_EQ(hexOf(md5), "e80b5017098950fc58aad83c8c14978e");

  // The same across a block boundary: 55 bytes, a digest, then the other 245.
  const std::vector<uint8_t> message = patternBytes(300);
  BaseMD5* split = new (eRetainAutorelease) BaseMD5();
  split->appendBytes(message.data(), 55);
  EXPECT_EQ(hexOf(split), "d872aa0473a24da995ce4ac518ade767");
  split->appendBytes(message.data() + 55, 245);
  EXPECT_EQ(hexOf(split), "1cacd39d2680cccfccf8c3265c8d037e");
}

class BaseMD5ThreadsTest : public BaseMD5Test
{
};

TEST_F(BaseMD5ThreadsTest, ClassOperationRunsOnSeveralThreadsAtOnce)
{
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; t++)
    threads.emplace_back([t, &wrong] {
      BaseAutorelease threadPool;
      const char* message = t % 2 ? "message digest" : "abcdefghijklmnopqrstuvwxyz";
      const char* digest = t % 2 ? "f96b697d7cb7938d525a2f31aaf161d0" : "c3fcd3d76192e4007dfb496cca67e13b";
      for (int i = 0; i < 500; i++) {
        BaseAutorelease iteration;
        BaseString* text = BaseMD5::md5FromString(new (eRetainAutorelease) BaseString(message));
        if (text->length() != 32 || std::string(text->cString()) != digest) wrong[t]++;
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
