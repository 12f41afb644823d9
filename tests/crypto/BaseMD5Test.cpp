// MD5 digests: the RFC 1321 test suite, messages around the block and padding boundaries,
// feeding in pieces, strings and byte buffers, the raw and hexadecimal forms, and digesting again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/BaseMD5.h"
#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"

namespace {

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
  static BaseString* text(const char* value, int length = -1)
  {
    return new (eRetainAutorelease) BaseString(value, length);
  }

  BaseAutorelease pool;
};

TEST_F(BaseMD5Test, KnownDigests)
{
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", ABC},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {"Z\xc3\xbcrich \xe2\x9c\x88", "1fb20f90c3df861d42737b996f3a0408"}};  // bytes above 0x7f
  for (auto [message, digest] : suite) EXPECT_STREQ(BaseMD5::md5FromString(text(message))->cString(), digest);
  // A zero byte inside the string is data, not its end.
  EXPECT_STREQ(BaseMD5::md5FromString(text("a\0b", 3))->cString(), "70350f6027bce3713f6b76473084309b");

  // 55 bytes leave room for the 0x80 byte and the length in one block; 56 to 63 need a
  // second block of padding; 64 and 65 start the second block with message bytes.
  const std::pair<size_t, const char*> lengths[] = {{55, "d872aa0473a24da995ce4ac518ade767"},
                                                    {56, "e23567645846677c205de80f9779081b"},
                                                    {63, "4775b66278a8fc132ff80923378216cd"},
                                                    {64, "71e123b70c7aa64826fcfe472694cd1c"},
                                                    {65, "5949948f26e35203661075214faa3966"}};
  for (auto [length, digest] : lengths) {
    BaseMD5* oneCall = md5();
    oneCall->appendBytes(patternBytes(length).data(), length);
    EXPECT_EQ(hexOf(oneCall), digest) << length << " bytes";
  }
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
  digest->appendString(text("mess"));
  digest->appendData(new (eRetainAutorelease) BaseBuffer("age "));
  digest->appendBytes("dig", 3);
  digest->appendString(text("est"));
  EXPECT_EQ(hexOf(digest), "f96b697d7cb7938d525a2f31aaf161d0");
  // A buffer contributes its whole data, wherever its read position is.
  BaseBuffer* data = new (eRetainAutorelease) BaseBuffer(message.data(), uint32_t(message.size()));
  uint8_t head[10];
  uint32_t count = sizeof head;
  ASSERT_TRUE(data->readIO(head, count));
  EXPECT_STREQ(BaseMD5::md5FromData(data)->cString(), PATTERN_300);

  EXPECT_DEATH(digest->appendBytes(nullptr, 5), "Assertion failed: bytes!=nullptr \\|\\| length==0");
  EXPECT_DEATH(digest->appendString(nullptr), "Assertion failed: aString!=nullptr");
  EXPECT_DEATH(digest->appendData(nullptr), "Assertion failed: data!=nullptr");
}

TEST_F(BaseMD5Test, DigestFormsAndDigestingAgain)
{
  const uint8_t abc[BaseMD5::DIGEST_LENGTH] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                               0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  BaseMD5* raw = md5();
  raw->appendBytes("abc", 3);
  BaseBuffer* buffer = raw->getRawDigest();
  EXPECT_EQ(std::vector<uint8_t>(buffer->bytes(), buffer->bytes() + buffer->length()),
            std::vector<uint8_t>(abc, abc + BaseMD5::DIGEST_LENGTH));
  // Asking again gives the same digest; feeding after a digest digests everything fed.
  EXPECT_EQ(hexOf(raw), ABC);
  raw->appendBytes("def", 3);
  EXPECT_EQ(hexOf(raw), "e80b5017098950fc58aad83c8c14978e");
}

}  // namespace
