// BaseString: hashing and ordering, growth, UTF-8 and wide characters, searching,
// new-string operations, URL escaping, paths, splitting and joining, and text forms.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"

namespace {

class BaseStringTest : public ::testing::Test
{
protected:
  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  static BaseString* bytes(const std::string& data)
  {
    return new (eRetainAutorelease) BaseString(data.data(), (int)data.size());
  }
  // The whole content, embedded NULs included.
  static std::string text(BaseString* value) { return std::string(value->cString(), value->length()); }
  static std::vector<std::string> texts(BaseArray* array)
  {
    std::vector<std::string> out;
    for (unsigned i = 0; i < array->count(); i++)
      out.push_back(text(static_cast<BaseString*>(array->objectAtIndex(i))));
    return out;
  }
  static BaseTypedArray<BaseString>* list(std::initializer_list<BaseString*> items)
  {
    BaseTypedArray<BaseString>* array = new (eRetainAutorelease) BaseTypedArray<BaseString>();
    for (BaseString* item : items) array->addObject(item);
    return array;
  }

  BaseAutorelease pool;
};

// ---------------------------------------------------------------------------------------------

class BaseStringHashTest : public BaseStringTest
{
};

TEST_F(BaseStringHashTest, KnownValues)
{
  EXPECT_EQ(str("")->hash(), 1u);
  EXPECT_EQ(str("a")->hash(), 0x80u);
  EXPECT_EQ(str("abc")->hash(), 0x308E7u);
  EXPECT_EQ(str("BaseString")->hash(), 0xC800CCB0u);
}

TEST_F(BaseStringHashTest, LongStringSamplesEveryFourthByteFromTheEnd)
{
  std::string data;
  for (int i = 0; i < 100; i++) data += (char)('a' + i % 26);

  // The reference: 100 bytes give a step of 4, so bytes 99, 95, ..., 3 enter the hash.
  uint32_t expected = 100;
  for (int index = 99; index >= 0; index -= 4)
    expected ^= (expected << 5) + (expected >> 2) + (unsigned char)data[index];
  ASSERT_EQ(expected, 0xC620CF7Cu);
  EXPECT_EQ(bytes(data)->hash(), 0xC620CF7Cu);

  for (int index : {0, 1, 2, 96, 97, 98}) {
    std::string changed = data;
    changed[index] = '#';
    EXPECT_EQ(bytes(changed)->hash(), 0xC620CF7Cu) << "byte " << index << " is not sampled";
  }
  for (int index : {3, 51, 99}) {
    std::string changed = data;
    changed[index] = '#';
    EXPECT_NE(bytes(changed)->hash(), 0xC620CF7Cu) << "byte " << index << " is sampled";
  }
}

TEST_F(BaseStringHashTest, CachedHashFollowsChanges)
{
  BaseString* value = str("ab");
  uint32_t before = value->hash();
  value->append("c");
  EXPECT_EQ(value->hash(), 0x308E7u);
  value->setCString("ab");
  EXPECT_EQ(value->hash(), before);
  value->getBuffer(1)[0] = 'a';
  EXPECT_EQ(value->hash(), 0x80u);
}

TEST_F(BaseStringHashTest, EqualityNeedsSameClassAndBytes)
{
  EXPECT_TRUE(str("abc")->isEqual(str("abc")));
  EXPECT_TRUE(str("")->isEqual(str("")));
  EXPECT_FALSE(str("abc")->isEqual(str("abd")));
  EXPECT_FALSE(str("abc")->isEqual(str("abcd")));
  EXPECT_FALSE(bytes(std::string("a\0b", 3))->isEqual(bytes(std::string("a\0c", 3))));
  EXPECT_FALSE(str("abc")->isEqual(nullptr));
  EXPECT_FALSE(str("")->isEqual(new (eRetainAutorelease) BaseArray()));
}

TEST_F(BaseStringHashTest, ReceiverOrderingFirstIsPositive)
{
  EXPECT_GT(str("a")->compare(str("b")), 0);
  EXPECT_LT(str("b")->compare(str("a")), 0);
  EXPECT_EQ(str("same")->compare(str("same")), 0);
  EXPECT_GT(str("ab")->compare(str("abc")), 0);
}

TEST_F(BaseStringHashTest, CaseInsensitiveComparisonCoversTheReceiverOnly)
{
  EXPECT_EQ(str("abc")->compareCaseInsensitive(str("ABCdef")), 0);
  EXPECT_EQ(str("ABC")->compareCaseInsensitive(str("abc")), 0);
  EXPECT_EQ(str("")->compareCaseInsensitive(str("anything")), 0);
  EXPECT_EQ(str("abc")->compareCaseInsensitive(str("ABD")), 1);
  EXPECT_EQ(str("abd")->compareCaseInsensitive(str("ABC")), -1);
  EXPECT_EQ(str("abcdef")->compareCaseInsensitive(str("ABC")), -1);
}

// ---------------------------------------------------------------------------------------------

class BaseStringGrowthTest : public BaseStringTest
{
};

TEST_F(BaseStringGrowthTest, ByteByByteAppendsDouble)
{
  BaseString* value = new (eRetainAutorelease) BaseString();
  std::vector<unsigned> sizes{value->capacity()};
  for (int i = 0; i < 100; i++) {
    value->append("x", 1);
    if (value->capacity() != sizes.back()) sizes.push_back(value->capacity());
  }
  EXPECT_EQ(sizes, (std::vector<unsigned>{16, 32, 64, 128}));
  EXPECT_EQ(value->length(), 100u);
  EXPECT_EQ(value->cString()[100], '\0');
}

TEST_F(BaseStringGrowthTest, LargeAppendAllocatesExactly)
{
  BaseString* value = new (eRetainAutorelease) BaseString();
  ASSERT_EQ(value->capacity(), 16u);
  value->append(std::string(1000, 'y').c_str());
  EXPECT_EQ(value->capacity(), 1001u);
  EXPECT_EQ(text(value), std::string(1000, 'y'));
}

TEST_F(BaseStringGrowthTest, ReservedCapacity)
{
  EXPECT_EQ((new (eRetainAutorelease) BaseString(3u))->capacity(), 16u);
  BaseString* reserved = new (eRetainAutorelease) BaseString(100u);
  EXPECT_EQ(reserved->capacity(), 101u);
  EXPECT_EQ(reserved->length(), 0u);
  reserved->append(std::string(100, 'z').c_str());
  EXPECT_EQ(reserved->capacity(), 101u);
}

TEST_F(BaseStringGrowthTest, AppendingItselfWhileGrowing)
{
  BaseString* value = str("0123456789abcde");  // 15 bytes in a 16-byte buffer
  value->append(value);
  EXPECT_EQ(text(value), "0123456789abcde0123456789abcde");
  value->append(value->cString());
  EXPECT_EQ(text(value), std::string("0123456789abcde0123456789abcde") + "0123456789abcde0123456789abcde");
  value->append(value->cString() + 55, 5);
  EXPECT_EQ(text(value).substr(60), "abcde");
  value->setCString(value->cString() + 10);
  EXPECT_EQ(text(value).substr(0, 5), "abcde");
  value->setString(value);
  EXPECT_EQ(value->length(), 55u);
}

TEST_F(BaseStringGrowthTest, GetBufferSetsLengthForTheCallerToFill)
{
  BaseString* value = str("ab");
  char* buffer = value->getBuffer(40);
  EXPECT_EQ(value->length(), 40u);
  EXPECT_EQ(buffer[40], '\0');
  EXPECT_GE(value->capacity(), 41u);
  for (int i = 0; i < 40; i++) buffer[i] = 'q';
  EXPECT_EQ(text(value), std::string(40, 'q'));
  value->getBuffer(1);
  EXPECT_EQ(text(value), "q");
}

TEST_F(BaseStringGrowthTest, CopiesAreIndependent)
{
  BaseString* original = bytes(std::string("a\0b", 3));
  BaseString* copy = new (eRetainAutorelease) BaseString(original);
  original->append("c");
  EXPECT_EQ(text(copy), std::string("a\0b", 3));
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString("abcdef", 3)), "abc");
}

// ---------------------------------------------------------------------------------------------

class BaseStringUTF8Test : public BaseStringTest
{
protected:
  static std::string utf8(wchar_t character)
  {
    BaseString* value = new (eRetainAutorelease) BaseString();
    value->appendUTF8(character);
    return text(value);
  }
};

TEST_F(BaseStringUTF8Test, EncodingLengthsAtEachBoundary)
{
  EXPECT_EQ(utf8(0x41), "A");
  EXPECT_EQ(utf8(0x7F), "\x7F");
  EXPECT_EQ(utf8(0x80), "\xC2\x80");
  EXPECT_EQ(utf8(0xE9), "\xC3\xA9");
  EXPECT_EQ(utf8(0x7FF), "\xDF\xBF");
  EXPECT_EQ(utf8(0x800), "\xE0\xA0\x80");
  EXPECT_EQ(utf8(0x20AC), "\xE2\x82\xAC");
  EXPECT_EQ(utf8(0xFFFF), "\xEF\xBF\xBF");
  EXPECT_EQ(utf8(0x10000), "\xF0\x90\x80\x80");
  EXPECT_EQ(utf8(0x1F600), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8(0x1FFFFF), "\xF7\xBF\xBF\xBF");
  EXPECT_EQ(utf8(0x200000), "\xF8\x88\x80\x80\x80");
  EXPECT_EQ(utf8(0x3FFFFFF), "\xFB\xBF\xBF\xBF\xBF");
}

TEST_F(BaseStringUTF8Test, UnencodableValuesBecomeTheReplacementCharacter)
{
  EXPECT_EQ(utf8(0x4000000), "\xEF\xBF\xBD");
  EXPECT_EQ(utf8((wchar_t)-1), "\xEF\xBF\xBD");
}

TEST_F(BaseStringUTF8Test, SurrogatePairsCombine)
{
  const wchar_t pair[] = {L'a', 0xD83D, 0xDE00, L'b', 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(pair, -1)),
            "a\xF0\x9F\x98\x80"
            "b");
  const wchar_t highest[] = {0xDBFF, 0xDFFF, 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(highest, -1)), "\xF4\x8F\xBF\xBF");
}

TEST_F(BaseStringUTF8Test, UnpairedHighSurrogateTruncates)
{
  const wchar_t followedByLetter[] = {L'a', 0xD800, L'b', 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(followedByLetter, -1)), "a");
  const wchar_t atTheEnd[] = {L'x', L'y', 0xDBFF, 0};
  BaseString* value = str("previous content");
  value->setWString(atTheEnd);
  EXPECT_EQ(text(value), "xy");
  // The length limit cuts a pair in half: the high surrogate is then the last character.
  const wchar_t pair[] = {L'a', 0xD83D, 0xDE00, 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(pair, 2)), "a");
}

TEST_F(BaseStringUTF8Test, LoneLowSurrogateIsEncodedAsIs)
{
  const wchar_t low[] = {0xDC00, L'z', 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(low, -1)), "\xED\xB0\x80z");
}

TEST_F(BaseStringUTF8Test, CharactersBeyondTheSurrogateRangeAreNotSurrogates)
{
  // U+1D800 and U+1DC00 share their low 16 bits with surrogates; they are characters.
  const wchar_t wide[] = {0x1D800, 0x1DC00, L'x', 0};
  BaseString* value = new (eRetainAutorelease) BaseString(wide, -1);
  EXPECT_EQ(text(value), "\xF0\x9D\xA0\x80\xF0\x9D\xB0\x80x");
  const wchar_t* back = value->wString();
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::wstring(back), std::wstring(wide));
}

TEST_F(BaseStringUTF8Test, ExplicitLengthAndEmbeddedZero)
{
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(L"abcdef", 3)), "abc");
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(L"", -1)), "");
  const wchar_t withZero[] = {L'a', 0, L'b'};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(withZero, 3)), std::string("a\0b", 3));
}

TEST_F(BaseStringUTF8Test, DecodesEveryEncodedLength)
{
  const wchar_t wide[] = {L'h', 0xE9, 0x20AC, 0x1F600, 0x200000, 0x3FFFFFF, 0};
  BaseString* value = new (eRetainAutorelease) BaseString(wide, -1);
  const wchar_t* back = value->wString();
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(std::wstring(back), std::wstring(wide));
  EXPECT_EQ(std::wstring(str("")->wString()), L"");
}

TEST_F(BaseStringUTF8Test, DecodingStopsAtTheFirstNul)
{
  const wchar_t* decoded = bytes(std::string("a\0\xC3", 3))->wString();
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(std::wstring(decoded), L"a");
}

TEST_F(BaseStringUTF8Test, SettingFromItsOwnWideCopy)
{
  BaseString* value = str("d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80");
  value->setWString(value->wString());
  EXPECT_EQ(text(value), "d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80");
}

TEST_F(BaseStringUTF8Test, OverlongFormsAreRejected)
{
  for (const char* overlong : {"\xC0\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF",
                               "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF8\x87\xBF\xBF\xBF"}) {
    BaseString* value = str(overlong);
    EXPECT_EQ(value->wString(), nullptr) << "bytes " << ::testing::PrintToString(overlong);
    EXPECT_EQ(text(value), overlong);
  }
}

TEST_F(BaseStringUTF8Test, MalformedSequencesAreRejected)
{
  // C3 28: a lead byte followed by an ASCII byte; then a stray continuation byte,
  // sequences cut short by the end of the text, and lead bytes with too many ones.
  for (const char* invalid : {"\xC3\x28", "a\x80", "\xBF", "\xE2\x82", "\xF0\x9F\x98", "x\xC3",
                              "\xE2\x28\xA1", "\xFE\x80\x80\x80\x80\x80\x80", "\xFF"}) {
    EXPECT_EQ(str(invalid)->wString(), nullptr) << "bytes " << ::testing::PrintToString(invalid);
  }
}

TEST_F(BaseStringUTF8Test, SmallestValueOfEachLengthIsAccepted)
{
  const wchar_t* decoded = str("\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF8\x88\x80\x80\x80")->wString();
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(std::wstring(decoded), (std::wstring{0x80, 0x800, 0x10000, 0x200000}));
}

// ---------------------------------------------------------------------------------------------

class BaseStringSearchTest : public BaseStringTest
{
};

TEST_F(BaseStringSearchTest, PrefixAndSuffix)
{
  BaseString* value = str("config.json");
  EXPECT_TRUE(value->hasPrefix("conf"));
  EXPECT_TRUE(value->hasPrefix(""));
  EXPECT_TRUE(value->hasPrefix(str("config.json")));
  EXPECT_FALSE(value->hasPrefix("config.json5"));
  EXPECT_FALSE(value->hasPrefix(str("json")));
  EXPECT_TRUE(value->hasSuffix(".json"));
  EXPECT_TRUE(value->hasSuffix(str("")));
  EXPECT_FALSE(value->hasSuffix("my config.json"));
  EXPECT_FALSE(value->hasSuffix(str("conf")));
  EXPECT_TRUE(str("")->hasSuffix(""));
  EXPECT_FALSE(str("")->hasPrefix("a"));
}

TEST_F(BaseStringSearchTest, ContainsAndIndex)
{
  BaseString* value = str("one two two");
  EXPECT_TRUE(value->containsString("two"));
  EXPECT_TRUE(value->containsString(""));
  EXPECT_FALSE(value->containsString("three"));
  EXPECT_EQ(value->indexOfString(str("two")), 4u);
  EXPECT_EQ(value->indexOfString(str("one")), 0u);
  EXPECT_EQ(value->indexOfString(str("owt")), BaseString::NOT_FOUND);
  EXPECT_EQ(str("ab")->indexOfString(str("abc")), 0xFFFFFFFFu);
  // Bytes after an embedded NUL are searched too.
  EXPECT_EQ(bytes(std::string("a\0key", 5))->indexOfString(str("key")), 2u);
}

TEST_F(BaseStringSearchTest, PlainASCII)
{
  EXPECT_TRUE(str("")->isPlainASCII());
  EXPECT_TRUE(str("Hello, world!\x7F")->isPlainASCII());
  EXPECT_FALSE(str("caf\xC3\xA9")->isPlainASCII());
  EXPECT_TRUE(bytes(std::string("ok\0\xC3\xA9", 5))->isPlainASCII());
}

TEST_F(BaseStringSearchTest, Identifiers)
{
  EXPECT_TRUE(str("_a1")->isValidIdentifier());
  EXPECT_TRUE(str("latitude")->isValidIdentifier());
  EXPECT_TRUE(str("_")->isValidIdentifier());
  EXPECT_FALSE(str("1a")->isValidIdentifier());
  EXPECT_FALSE(str("")->isValidIdentifier());
  EXPECT_FALSE(str("a-b")->isValidIdentifier());
  EXPECT_FALSE(str("a b")->isValidIdentifier());
  EXPECT_FALSE(str("caf\xC3\xA9")->isValidIdentifier());
  EXPECT_FALSE(str("\xC3\xA9t\xC3\xA9")->isValidIdentifier());
}

TEST_F(BaseStringSearchTest, LeadingInteger)
{
  EXPECT_EQ(str("42")->toS64(), 42);
  EXPECT_EQ(str("  -17 apples")->toS64(), -17);
  EXPECT_EQ(str("+8")->toS64(), 8);
  EXPECT_EQ(str("007")->toS64(), 7);
  EXPECT_EQ(str("0x1F")->toS64(), 0);
  EXPECT_EQ(str("9223372036854775807")->toS64(), INT64_MAX);
  EXPECT_EQ(str("-9223372036854775808")->toS64(), INT64_MIN);
  EXPECT_EQ(str("99999999999999999999")->toS64(), INT64_MAX);
  EXPECT_EQ(str("none")->toS64(), 0);
  EXPECT_EQ(str("")->toS64(), 0);
}

// ---------------------------------------------------------------------------------------------

class BaseStringDerivedTest : public BaseStringTest
{
};

TEST_F(BaseStringDerivedTest, SubstringLimitsBothIndices)
{
  BaseString* value = str("abcdef");
  EXPECT_EQ(text(value->substring(5, 2)), "");
  EXPECT_EQ(text(value->substring(2, 100)), "cdef");
  EXPECT_EQ(text(value->substring(0, 6)), "abcdef");
  EXPECT_EQ(text(value->substring(1, 2)), "b");
  EXPECT_EQ(text(value->substring(3, 3)), "");
  EXPECT_EQ(text(value->substring(7, 9)), "");
  EXPECT_EQ(text(value->substring(0, 0xFFFFFFFFu)), "abcdef");
  EXPECT_EQ(text(value), "abcdef");
}

TEST_F(BaseStringDerivedTest, ReplaceStringScansLeftToRightWithoutOverlap)
{
  EXPECT_EQ(text(str("aaa")->replaceString("aa", "b")), "ba");
  EXPECT_EQ(text(str("a.b.c")->replaceString(".", "::")), "a::b::c");
  EXPECT_EQ(text(str("xyz")->replaceString("q", "r")), "xyz");
  EXPECT_EQ(text(str("ab-ab")->replaceString("ab", "")), "-");
  EXPECT_EQ(text(str("ab")->replaceString("ab", "abab")), "abab");
  BaseString* value = str("keep");
  BaseString* same = value->replaceString("", "x");
  EXPECT_EQ(text(same), "keep");
  EXPECT_NE(same, value);
}

TEST_F(BaseStringDerivedTest, ByteWiseReplacementsAndLowering)
{
  EXPECT_EQ(text(str("a/b/c")->replaceChar('/', '\\')), "a\\b\\c");
  EXPECT_EQ(text(bytes(std::string("a\0b", 3))->replaceChar('\0', '.')), "a.b");
  EXPECT_EQ(text(str("MiXeD 123 \xC3\x89Z")->toLower()), "mixed 123 \xC3\x89z");
  BaseString* value = str("ABC");
  value->toLower();
  EXPECT_EQ(text(value), "ABC");
}

TEST_F(BaseStringDerivedTest, NewStringsBelongToTheCallersPool)
{
  BaseString* source = str("/dir/file.txt");
  BaseString* kept;
  {
    BaseAutorelease inner;
    kept = source->lastPathComponent(false);
    EXPECT_EQ(kept->getRetainCount(), 1);
    kept->retain();
  }
  EXPECT_EQ(kept->getRetainCount(), 1);
  EXPECT_EQ(text(kept), "file");
  kept->release();
}

// ---------------------------------------------------------------------------------------------

class BaseStringEscapingTest : public BaseStringTest
{
};

TEST_F(BaseStringEscapingTest, EscapeKeepsLettersDigitsAndDots)
{
  EXPECT_EQ(text(str("a b/c.d")->escapeString()), "a%20b%2fc.d");
  EXPECT_EQ(text(str("A-Z_9~")->escapeString()), "A%2dZ%5f9%7e");
  EXPECT_EQ(text(str("\xC3\xA9")->escapeString()), "%c3%a9");
  EXPECT_EQ(text(bytes(std::string("\0%", 2))->escapeString()), "%00%25");
  EXPECT_EQ(text(str("")->escapeString()), "");
}

TEST_F(BaseStringEscapingTest, UrlPathEscapesBetweenSlashes)
{
  EXPECT_EQ(text(str("a b/c.d")->urlCompliantPath()), "a%20b/c.d");
  EXPECT_EQ(text(str("/x y//z/")->urlCompliantPath()), "/x%20y//z/");
  EXPECT_EQ(text(str("")->urlCompliantPath()), "");
}

TEST_F(BaseStringEscapingTest, UnescapeHandlesShortAndBadEscapes)
{
  EXPECT_EQ(text(str("a%20b%2")->unescapedString()), "a b\x02");
  EXPECT_EQ(text(str("100%")->unescapedString()), "100");
  EXPECT_EQ(text(str("%")->unescapedString()), "");
  EXPECT_EQ(text(str("%%41")->unescapedString()), "A");
  EXPECT_EQ(text(str("x%2Fy%2fz")->unescapedString()), "x/y/z");
  EXPECT_EQ(text(str("nul%00dropped")->unescapedString()), "nuldropped");
  EXPECT_EQ(text(str("%zzkept")->unescapedString()), "kept");
  EXPECT_EQ(text(str("no escapes")->unescapedString()), "no escapes");
  EXPECT_EQ(text(str("")->unescapedString()), "");
}

TEST_F(BaseStringEscapingTest, EveryByteRoundTrips)
{
  std::string all;
  for (int c = 1; c < 256; c++) all += (char)c;
  BaseString* escaped = bytes(all)->escapeString();
  EXPECT_TRUE(escaped->isPlainASCII());
  EXPECT_EQ(text(escaped->unescapedString()), all);
  EXPECT_EQ(text(str("a b/c d")->urlCompliantPath()->unescapedString()), "a b/c d");
}

// ---------------------------------------------------------------------------------------------

class BaseStringPathTest : public BaseStringTest
{
protected:
  static std::string joined(const char* base, const char* component)
  {
    BaseString* value = str(base);
    value->appendPathComponent(str(component));
    return text(value);
  }
};

TEST_F(BaseStringPathTest, JoiningPutsOneSlashBetween)
{
  EXPECT_EQ(joined("", "a"), "/a");
  EXPECT_EQ(joined("/x", "a"), "/x/a");
  EXPECT_EQ(joined("/x/", "/a"), "/x/a");
  EXPECT_EQ(joined("/x/", "a"), "/x/a");
  EXPECT_EQ(joined("/x", "/a"), "/x/a");
  EXPECT_EQ(joined("", "/a"), "/a");
  EXPECT_EQ(joined("x", ""), "x/");
}

TEST_F(BaseStringPathTest, JoiningAPathToItself)
{
  BaseString* value = str("dir");
  value->appendPathComponent(value);
  EXPECT_EQ(text(value), "dir/dir");
  BaseString* rooted = str("/r/");
  rooted->appendPathComponent(rooted);
  EXPECT_EQ(text(rooted), "/r/r/");
}

TEST_F(BaseStringPathTest, Extensions)
{
  EXPECT_EQ(text(str("/dir/file.tar.gz")->pathExtension()), "gz");
  EXPECT_EQ(text(str("/dir.d/file")->pathExtension()), "d/file");
  EXPECT_EQ(text(str("/dir/file")->pathExtension()), "");
  EXPECT_EQ(text(str("name.")->pathExtension()), "");
  EXPECT_EQ(text(str("/dir/file.tar.gz")->pathWithoutExtension()), "/dir/file.tar");
  EXPECT_EQ(text(str("/dir/file")->pathWithoutExtension()), "/dir/file");
}

TEST_F(BaseStringPathTest, LastComponent)
{
  EXPECT_EQ(text(str("/dir.d/file")->lastPathComponent(false)), "file");
  EXPECT_EQ(text(str("/dir/file.tar.gz")->lastPathComponent(false)), "file.tar");
  EXPECT_EQ(text(str("/dir/file.tar.gz")->lastPathComponent(true)), "file.tar.gz");
  EXPECT_EQ(text(str("file.txt")->lastPathComponent(false)), "file");
  EXPECT_EQ(text(str("file.txt")->lastPathComponent()), "file.txt");
  EXPECT_EQ(text(str("plain")->lastPathComponent(false)), "plain");
  EXPECT_EQ(text(str("/dir/")->lastPathComponent()), "");
  EXPECT_EQ(text(str("")->lastPathComponent(false)), "");
}

TEST_F(BaseStringPathTest, TrailingSlashKeepsRoots)
{
  for (const char* unchanged : {"/", "C:/", "", "a", "/dir"}) {
    BaseString* value = str(unchanged);
    EXPECT_EQ(value->substringByDeletingTrailingSlash(), value) << unchanged;
  }
  EXPECT_EQ(text(str("/dir/")->substringByDeletingTrailingSlash()), "/dir");
  EXPECT_EQ(text(str("a//")->substringByDeletingTrailingSlash()), "a/");
  EXPECT_EQ(text(str("ab/")->substringByDeletingTrailingSlash()), "ab");
}

TEST_F(BaseStringPathTest, ParentPath)
{
  EXPECT_EQ(text(str("/a")->substringByDeletingLastPathComponent()), "");
  EXPECT_EQ(text(str("/a/b")->substringByDeletingLastPathComponent()), "/a");
  EXPECT_EQ(text(str("/a/b/")->substringByDeletingLastPathComponent()), "/a");
  EXPECT_EQ(text(str("a")->substringByDeletingLastPathComponent()), "");
  EXPECT_EQ(text(str("C:/x")->substringByDeletingLastPathComponent()), "C:");
  EXPECT_EQ(text(str("")->substringByDeletingLastPathComponent()), "");
}

// ---------------------------------------------------------------------------------------------

class BaseStringSplitTest : public BaseStringTest
{
};

TEST_F(BaseStringSplitTest, EmptyPiecesRemain)
{
  EXPECT_EQ(texts(str("a,,b,")->split(",")), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(texts(str(",")->split(",")), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(texts(str("a,b")->split(",", 0xFFFFFFFFu)), (std::vector<std::string>{"a", "b"}));
}

TEST_F(BaseStringSplitTest, PartLimit)
{
  EXPECT_EQ(texts(str("a,b,c")->split(",", 2)), (std::vector<std::string>{"a", "b,c"}));
  EXPECT_EQ(texts(str("a,b,c")->split(",", 3)), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(texts(str("a,b,c")->split(",", 1)), (std::vector<std::string>{"a,b,c"}));
  EXPECT_EQ(texts(str("a,b,c")->split(",", 0)), (std::vector<std::string>{"a,b,c"}));
}

TEST_F(BaseStringSplitTest, DegenerateInputs)
{
  EXPECT_EQ(str("a,b")->split(nullptr)->count(), 0u);
  EXPECT_EQ(str("")->split(",")->count(), 0u);
  EXPECT_EQ(texts(str("abc")->split(";")), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(texts(str("abc")->split("")), (std::vector<std::string>{"abc"}));
}

TEST_F(BaseStringSplitTest, SeparatorIsAByteString)
{
  EXPECT_EQ(texts(str("a:b::c")->split("::")), (std::vector<std::string>{"a:b", "c"}));
  EXPECT_EQ(texts(str("x=>y=>")->split("=>")), (std::vector<std::string>{"x", "y", ""}));
  EXPECT_EQ(texts(bytes(std::string("a\0b\0c", 5))->split("b")),
            (std::vector<std::string>{std::string("a\0", 2), std::string("\0c", 2)}));
}

TEST_F(BaseStringSplitTest, PiecesAreNewStringsOwnedByTheArray)
{
  BaseString* value = str("solo");
  BaseTypedArray<BaseString>* parts = value->split(",");
  ASSERT_EQ(parts->count(), 1u);
  EXPECT_NE(parts->objectAtIndex(0), value);
  EXPECT_EQ(parts->objectAtIndex(0)->getRetainCount(), 1);
  EXPECT_EQ(parts->getRetainCount(), 1);
}

TEST_F(BaseStringSplitTest, FuseJoinsWithSeparator)
{
  BaseString* value = str(">");
  value->fuse(list({str("a"), str(""), str("b")}), ", ");
  EXPECT_EQ(text(value), ">a, , b");
  BaseString* plain = new (eRetainAutorelease) BaseString();
  plain->fuse(list({str("x"), str("y")}), nullptr);
  EXPECT_EQ(text(plain), "xy");
  plain->fuse(list({}), "-");
  EXPECT_EQ(text(plain), "xy");
}

TEST_F(BaseStringSplitTest, FuseWithItselfUsesTheTextBeforeTheCall)
{
  BaseString* value = str("0123456789");
  value->fuse(list({value, value, str("!")}), value->cString() + 9);
  EXPECT_EQ(text(value),
            "0123456789"
            "0123456789"
            "9"
            "0123456789"
            "9"
            "!");
}

TEST_F(BaseStringSplitTest, SplitThenFuseRestoresTheText)
{
  BaseString* original = str("/usr//local/bin/");
  BaseString* rebuilt = new (eRetainAutorelease) BaseString();
  rebuilt->fuse(original->split("/"), "/");
  EXPECT_EQ(text(rebuilt), "/usr//local/bin/");
}

// ---------------------------------------------------------------------------------------------

class BaseStringTextFormTest : public BaseStringTest
{
protected:
  static std::string form(const std::string& data, int flags) { return text(bytes(data)->toString(flags)); }
};

TEST_F(BaseStringTextFormTest, PlainAndXMLAreNotEscaped)
{
  EXPECT_EQ(form("say \"hi\"\n", BaseObject::eToStringPlain), "\"say \"hi\"\n\"");
  EXPECT_EQ(form("a<b & \x01", BaseObject::eToStringXML), "<string>a<b & \x01</string>");
  EXPECT_EQ(form("", BaseObject::eToStringPlain), "\"\"");
}

TEST_F(BaseStringTextFormTest, JSONEscapes)
{
  EXPECT_EQ(form("a\\b\"c", BaseObject::eToStringJSON), "\"a\\\\b\\\"c\"");
  EXPECT_EQ(form("\x08\x09\x0A\x0D", BaseObject::eToStringJSON), "\"\\b\\t\\n\\r\"");
  EXPECT_EQ(form(std::string("\x00\x01\x0B\x0C\x1F", 5), BaseObject::eToStringJSON),
            "\"\\u0000\\u0001\\u000B\\u000C\\u001F\"");
  EXPECT_EQ(form("caf\xC3\xA9 \x7F", BaseObject::eToStringJSON), "\"caf\xC3\xA9 \x7F\"");
}

TEST_F(BaseStringTextFormTest, LuaEscapes)
{
  EXPECT_EQ(form("a\\b\"c\n", BaseObject::eToStringLua), "\"a\\\\b\\\"c\\n\"");
  EXPECT_EQ(form("\x01\x0B\x1F", BaseObject::eToStringLua), "\"\\001\\011\\031\"");
  EXPECT_EQ(form("\xFF", BaseObject::eToStringLua), "\"\xFF\"");
}

TEST_F(BaseStringTextFormTest, DecorationComesFirst)
{
  EXPECT_EQ(form("x", BaseObject::eToStringLua | BaseObject::eToStringClassName), "-- BaseString \n\"x\"");
  EXPECT_EQ(form("x", BaseObject::eToStringXML | BaseObject::eToStringClassName),
            "<!-- BaseString -->\n<string>x</string>");
  EXPECT_EQ(form("x", BaseObject::eToStringPlain | BaseObject::eToStringEntryCount), "\"x\"");
}

// ---------------------------------------------------------------------------------------------

class BaseStringDeathTest : public BaseStringTest
{
};

TEST_F(BaseStringDeathTest, NullTextStopsNamingTheCondition)
{
  EXPECT_DEATH(str("x")->setCString(nullptr), "Assertion failed: aCString!=NULL, file src/object/BaseString");
  EXPECT_DEATH(new BaseString(static_cast<const char*>(nullptr)), "aCString!=NULL");
  EXPECT_DEATH(str("x")->setString(nullptr), "Assertion failed: aString!=NULL,");
  EXPECT_DEATH(str("x")->append(static_cast<BaseString*>(nullptr)), "Assertion failed: aString,");
  EXPECT_DEATH(str("x")->appendPathComponent(nullptr), "component!=NULL");
}

}  // namespace
