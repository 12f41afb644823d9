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

const char* const EMPTY = "d41d8cd98f00b204e9800998ecf8427e";
const char* const ABC = "900150983cd24fb0d6963f7d28e17f72";
const char* const PATTERN_300 = "1cacd39d2680cccfccf8c3265c8d037e";

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
  static BaseMD5* md5() { return new (eRetainAutorelease) BaseMD5(); }
  static std::string hexOf(BaseMD5* md5) { return md5->getHexDigest()->cString(); }
  static std::string md5FromString(const char* text, int length = -1)
  {
    return BaseMD5::md5FromString(new (eRetainAutorelease) BaseString(text, length))->cString();
  }

  BaseAutorelease pool;
};

TEST_F(BaseMD5Test, KnownDigests)
{
  const std::pair<const char*, const char*> suite[] = {
      {"", EMPTY},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", ABC},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // UTF-8 text, bytes above 0x7f included.
      {"Z\xc3\xbcrich \xe2\x9c\x88", "1fb20f90c3df861d42737b996f3a0408"}};
  for (auto [message, digest] : suite) EXPECT_EQ(md5FromString(message), digest) << message;
  // A zero byte inside the string is data, not its end.
  EXPECT_EQ(md5FromString("a\0b", 3), "70350f6027bce3713f6b76473084309b");

  // 55 bytes leave room for the 0x80 byte and the length in one block; 56 to 63 need a
  // second block of padding; 64 and 65 start the second block with message bytes; 119,
  // 120 and 128 repeat the same boundaries one block further on.
  const std::pair<size_t, const char*> lengths[] = {
      {55, "d872aa0473a24da995ce4ac518ade767"},  {56, "e23567645846677c205de80f9779081b"},
      {63, "4775b66278a8fc132ff80923378216cd"},  {64, "71e123b70c7aa64826fcfe472694cd1c"},
      {65, "5949948f26e35203661075214faa3966"},  {119, "87f72c7241c5fe218bb4df8c0aba3232"},
      {120, "bf240b8b7407fba3805adeec63a03b77"}, {128, "3e93b378458b77da96b2357c3bda8cc2"},
      {200, "f9914cd8b67085ceb02d1eba3ff2dc0c"}, {300, PATTERN_300}};
  for (auto [length, digest] : lengths) {
    BaseMD5* oneCall = md5();
    oneCall->appendBytes(patternBytes(length).data(), length);
    EXPECT_EQ(hexOf(oneCall), digest) << length << " bytes";
  }
}

TEST_F(BaseMD5Test, BitCountCarriesIntoItsHighWord)
{
  // 2^29 bytes are exactly 2^32 bits: the low word of the count wraps to 0 and the high
  // word becomes 1, both of which the length field must show.
  std::vector<uint8_t> chunk = patternBytes(65536);
  BaseMD5* digest = md5();
  for (int i = 0; i < 8192; i++) digest->appendBytes(chunk.data(), chunk.size());
  EXPECT_EQ(hexOf(digest), "76a5d0dc385257815f74dca897a08dee");
  digest->appendBytes("x", 1);
  EXPECT_EQ(hexOf(digest), "ead73c8cd662c388b052d387587076c9");
}

TEST_F(BaseMD5Test, PiecesOfEverySizeAndKindGiveTheSameDigest)
{
  const std::vector<uint8_t> message = patternBytes(300);
  for (size_t piece = 1; piece <= 130; piece++) {
    BaseMD5* digest = md5();
    for (size_t offset = 0; offset < message.size(); offset += piece)
      digest->appendBytes(message.data() + offset, std::min(piece, message.size() - offset));
    EXPECT_EQ(hexOf(digest), PATTERN_300) << piece << "-byte pieces";
  }
  // Empty pieces change nothing; strings, buffers and bytes mix.
  BaseMD5* digest = md5();
  digest->appendBytes(nullptr, 0);
  digest->appendString(new (eRetainAutorelease) BaseString("mess"));
  digest->appendBytes("zzz", 0);
  digest->appendString(new (eRetainAutorelease) BaseString(""));
  digest->appendData(new (eRetainAutorelease) BaseBuffer("age "));
  digest->appendBytes("dig", 3);
  digest->appendString(new (eRetainAutorelease) BaseString("est"));
  EXPECT_EQ(hexOf(digest), "f96b697d7cb7938d525a2f31aaf161d0");

  // A buffer contributes its whole data: reading from it moves its read position only.
  BaseBuffer* data = new (eRetainAutorelease) BaseBuffer(message.data(), uint32_t(message.size()));
  EXPECT_STREQ(BaseMD5::md5FromData(data)->cString(), PATTERN_300);
  uint8_t head[10];
  uint32_t count = sizeof head;
  ASSERT_TRUE(data->readIO(head, count));
  EXPECT_STREQ(BaseMD5::md5FromData(data)->cString(), PATTERN_300);
  EXPECT_STREQ(BaseMD5::md5FromData(new (eRetainAutorelease) BaseBuffer())->cString(), EMPTY);

  EXPECT_DEATH(digest->appendBytes(nullptr, 5),
               "Assertion failed: bytes!=nullptr \\|\\| length==0, file src/crypto/BaseMD5");
  EXPECT_DEATH(digest->appendString(nullptr), "Assertion failed: aString!=nullptr, file src/crypto/BaseMD5");
  EXPECT_DEATH(digest->appendData(nullptr), "Assertion failed: data!=nullptr, file src/crypto/BaseMD5");
}

TEST_F(BaseMD5Test, DigestFormsAndDigestingAgain)
{
  const uint8_t abc[BaseMD5::DIGEST_LENGTH] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                               0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  BaseMD5* raw = md5();
  raw->appendBytes("abc", 3);
  BaseBuffer* buffer = raw->getRawDigest();
  ASSERT_EQ(buffer->length(), uint32_t(BaseMD5::DIGEST_LENGTH));
  EXPECT_EQ(std::vector<uint8_t>(buffer->bytes(), buffer->bytes() + buffer->length()),
            std::vector<uint8_t>(abc, abc + BaseMD5::DIGEST_LENGTH));
  // Asking again gives the same digest; feeding after a digest digests everything fed.
  EXPECT_EQ(hexOf(raw), ABC);
  EXPECT_EQ(hexOf(raw), ABC);
  raw->appendBytes("def", 3);
  EXPECT_EQ(hexOf(raw), "e80b5017098950fc58aad83c8c14978e");
  // The same across a block boundary: 55 bytes, a digest, then the other 245.
  const std::vector<uint8_t> message = patternBytes(300);
  BaseMD5* split = md5();
  split->appendBytes(message.data(), 55);
  EXPECT_EQ(hexOf(split), "d872aa0473a24da995ce4ac518ade767");
  split->appendBytes(message.data() + 55, 245);
  EXPECT_EQ(hexOf(split), PATTERN_300);

  // Digests belong to the innermost pool.
  BaseString* hex;
  BaseBuffer* empty;
  {
    BaseAutorelease inner;
    hex = BaseMD5::md5FromString(new (eRetainAutorelease) BaseString("abc"));
    empty = md5()->getRawDigest();
    hex->retain();
    empty->retain();
    EXPECT_EQ(hex->getRetainCount() + empty->getRetainCount(), 4);
  }
  EXPECT_EQ(hex->getRetainCount() + empty->getRetainCount(), 2);
  EXPECT_STREQ(hex->cString(), ABC);
  EXPECT_EQ(empty->bytes()[0], 0xd4);  // d41d8cd9..., the digest of nothing
  hex->release();
  empty->release();
}

TEST_F(BaseMD5Test, ClassOperationRunsOnSeveralThreadsAtOnce)
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
