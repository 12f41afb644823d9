// BaseString: hashing and ordering, growth, UTF-8 and wide characters, searching,
// new-string operations, URL escaping, paths, splitting and joining (the text forms:
// TextFormsTest).
#include <cstdint>
#include <tuple>

#include "support/ValueTest.h"

namespace {

class BaseStringTest : public ValueTest
{
protected:
  typedef BaseString* (BaseString::*Operation)();
  // Each row: an input, and the text of the new string `operation` makes of it; the input stays.
  static void expectResults(Operation operation,
                            std::initializer_list<std::pair<const char*, const char*>> rows)
  {
    for (auto [input, expected] : rows) {
      BaseString* source = str(input);
      BaseString* result = (source->*operation)();
      EXPECT_EQ(text(result), expected) << input;
      EXPECT_NE(result, source) << input;
      EXPECT_EQ(text(source), input);
    }
  }
};

TEST_F(BaseStringTest, HashEqualityAndOrder)
{
  const std::pair<const char*, uint32_t> hashes[] = {
      {"", 1u}, {"a", 0x80u}, {"abc", 0x308E7u}, {"BaseString", 0xC800CCB0u}};
  for (auto [value, hash] : hashes) EXPECT_EQ(str(value)->hash(), hash) << value;
  // The cached hash follows every change.
  BaseString* value = str("ab");
  uint32_t before = value->hash();
  value->append("c");
  EXPECT_EQ(value->hash(), 0x308E7u);
  value->setCString("ab");
  EXPECT_EQ(value->hash(), before);
  value->getBuffer(1)[0] = 'a';
  EXPECT_EQ(value->hash(), 0x80u);

  EXPECT_TRUE(str("abc")->isEqual(str("abc")));
  EXPECT_TRUE(str("")->isEqual(str("")));
  EXPECT_FALSE(str("abc")->isEqual(str("abd")));
  EXPECT_FALSE(str("abc")->isEqual(str("abcd")));
  EXPECT_FALSE(bytes(std::string("a\0b", 3))->isEqual(bytes(std::string("a\0c", 3))));
  EXPECT_FALSE(str("abc")->isEqual(nullptr));
  EXPECT_FALSE(str("")->isEqual(arrayOf({})));

  // Positive when the receiver goes first; the case-insensitive comparison covers the
  // receiver's length only.
  const std::tuple<const char*, const char*, int> orders[] = {
      {"a", "b", 1}, {"b", "a", -1}, {"same", "same", 0}, {"ab", "abc", 1}};
  for (auto [a, b, order] : orders)
    EXPECT_EQ((str(a)->compare(str(b)) > 0) - (str(a)->compare(str(b)) < 0), order) << a << " " << b;
  const std::tuple<const char*, const char*, int> caseless[] = {{"abc", "ABCdef", 0}, {"ABC", "abc", 0},
                                                                {"", "anything", 0},  {"abc", "ABD", 1},
                                                                {"abd", "ABC", -1},   {"abcdef", "ABC", -1}};
  for (auto [a, b, order] : caseless)
    EXPECT_EQ(str(a)->compareCaseInsensitive(str(b)), order) << a << " " << b;
}

TEST_F(BaseStringTest, LongStringHashSamplesEveryFourthByteFromTheEnd)
{
  std::string data;
  for (int i = 0; i < 100; i++) data += (char)('a' + i % 26);
  // The reference: 100 bytes give a step of 4, so bytes 99, 95, ..., 3 enter the hash.
  uint32_t expected = 100;
  for (int index = 99; index >= 0; index -= 4)
    expected ^= (expected << 5) + (expected >> 2) + (unsigned char)data[index];
  ASSERT_EQ(expected, 0xC620CF7Cu);
  EXPECT_EQ(bytes(data)->hash(), 0xC620CF7Cu);
  for (int index : {0, 1, 2, 96, 97, 98, 3, 51, 99}) {
    std::string changed = data;
    changed[index] = '#';
    EXPECT_EQ(bytes(changed)->hash() == 0xC620CF7Cu, index % 4 != 3) << "byte " << index;
  }
}

TEST_F(BaseStringTest, GrowthDoublesForSmallAppendsAndIsExactForLargeOnes)
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

  BaseString* large = new (eRetainAutorelease) BaseString();
  large->append(std::string(1000, 'y').c_str());
  EXPECT_EQ(large->capacity(), 1001u);
  EXPECT_EQ(text(large), std::string(1000, 'y'));
  EXPECT_EQ((new (eRetainAutorelease) BaseString(3u))->capacity(), 16u);
  BaseString* reserved = new (eRetainAutorelease) BaseString(100u);
  EXPECT_EQ(reserved->capacity(), 101u);
  EXPECT_EQ(reserved->length(), 0u);
  reserved->append(std::string(100, 'z').c_str());
  EXPECT_EQ(reserved->capacity(), 101u);

  // getBuffer sets the length for the caller to fill.
  BaseString* buffer = str("ab");
  char* filled = buffer->getBuffer(40);
  EXPECT_EQ(buffer->length(), 40u);
  EXPECT_EQ(filled[40], '\0');
  EXPECT_GE(buffer->capacity(), 41u);
  for (int i = 0; i < 40; i++) filled[i] = 'q';
  EXPECT_EQ(text(buffer), std::string(40, 'q'));
  buffer->getBuffer(1);
  EXPECT_EQ(text(buffer), "q");

  // Copies are independent; a length cuts the source.
  BaseString* original = bytes(std::string("a\0b", 3));
  BaseString* copy = new (eRetainAutorelease) BaseString(original);
  original->append("c");
  EXPECT_EQ(text(copy), std::string("a\0b", 3));
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString("abcdef", 3)), "abc");
}

TEST_F(BaseStringTest, AppendingAndSettingFromItselfWhileGrowing)
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

TEST_F(BaseStringTest, UTF8EncodingOfEachLength)
{
  auto expectEncodings = [](std::initializer_list<std::pair<wchar_t, const char*>> rows) {
    for (auto [character, expected] : rows) {
      BaseString* value = new (eRetainAutorelease) BaseString();
      value->appendUTF8(character);
      EXPECT_EQ(text(value), expected) << std::hex << character;
    }
  };
  expectEncodings({{0x41, "A"}, {0x7F, "\x7F"}, {0x80, "\xC2\x80"}, {0xE9, "\xC3\xA9"}, {0x7FF, "\xDF\xBF"}});
  expectEncodings({{0x800, "\xE0\xA0\x80"}, {0x20AC, "\xE2\x82\xAC"}, {0xFFFF, "\xEF\xBF\xBF"}});
  expectEncodings(
      {{0x10000, "\xF0\x90\x80\x80"}, {0x1F600, "\xF0\x9F\x98\x80"}, {0x1FFFFF, "\xF7\xBF\xBF\xBF"}});
  expectEncodings({{0x200000, "\xF8\x88\x80\x80\x80"}, {0x3FFFFFF, "\xFB\xBF\xBF\xBF\xBF"}});
  // Unencodable values become the replacement character.
  expectEncodings({{0x4000000, "\xEF\xBF\xBD"}, {(wchar_t)-1, "\xEF\xBF\xBD"}});
}

TEST_F(BaseStringTest, WideTextToUTF8)
{
  auto wide = [](std::initializer_list<wchar_t> characters, int length = -1) {
    std::wstring all(characters);
    return text(new (eRetainAutorelease) BaseString(all.c_str(), length));
  };
  // Surrogate pairs combine; an unpaired high surrogate ends the text, also when the length
  // cuts a pair in half; a lone low surrogate is encoded as it is.
  EXPECT_EQ(wide({L'a', 0xD83D, 0xDE00, L'b'}),
            "a\xF0\x9F\x98\x80"
            "b");
  EXPECT_EQ(wide({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF");
  EXPECT_EQ(wide({L'a', 0xD800, L'b'}), "a");
  EXPECT_EQ(wide({L'a', 0xD83D, 0xDE00}, 2), "a");
  EXPECT_EQ(wide({0xDC00, L'z'}), "\xED\xB0\x80z");
  EXPECT_EQ(wide({L'a', L'b', L'c', L'd'}, 3), "abc");
  EXPECT_EQ(wide({}), "");
  EXPECT_EQ(wide({L'a', 0, L'b'}, 3), std::string("a\0b", 3));
  BaseString* value = str("previous content");
  const wchar_t atTheEnd[] = {L'x', L'y', 0xDBFF, 0};
  value->setWString(atTheEnd);
  EXPECT_EQ(text(value), "xy");
}

TEST_F(BaseStringTest, UTF8ToWideText)
{
  // U+1D800 and U+1DC00 share their low 16 bits with surrogates; they are characters.
  for (std::wstring wide :
       {std::wstring{0x1D800, 0x1DC00, L'x'}, std::wstring{L'h', 0xE9, 0x20AC, 0x1F600, 0x200000, 0x3FFFFFF},
        std::wstring{0x80, 0x800, 0x10000, 0x200000}, std::wstring()}) {
    BaseString* value = new (eRetainAutorelease) BaseString(wide.c_str(), -1);
    ASSERT_NE(value->wString(), nullptr);
    EXPECT_EQ(std::wstring(value->wString()), wide);
  }
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(L"\U0001D800\U0001DC00x", -1)),
            "\xF0\x9D\xA0\x80\xF0\x9D\xB0\x80x");
  // Decoding stops at the first NUL.
  EXPECT_EQ(std::wstring(bytes(std::string("a\0\xC3", 3))->wString()), L"a");
  BaseString* value = str("d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80");
  value->setWString(value->wString());
  EXPECT_EQ(text(value), "d\xC3\xA9j\xC3\xA0 \xF0\x9F\x98\x80");

  // Overlong forms, a lead byte followed by ASCII, stray continuation bytes, sequences cut
  // short by the end of the text, lead bytes with too many ones: no wide text, bytes kept.
  for (const char* invalid :
       {"\xC0\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
        "\xF0\x8F\xBF\xBF", "\xF8\x87\xBF\xBF\xBF", "\xC3\x28", "a\x80", "\xBF", "\xE2\x82", "\xF0\x9F\x98",
        "x\xC3", "\xE2\x28\xA1", "\xFE\x80\x80\x80\x80\x80\x80", "\xFF"}) {
    BaseString* rejected = str(invalid);
    EXPECT_EQ(rejected->wString(), nullptr) << ::testing::PrintToString(invalid);
    EXPECT_EQ(text(rejected), invalid);
  }
}

TEST_F(BaseStringTest, Searching)
{
  BaseString* value = str("config.json");
  for (const char* prefix : {"conf", "", "config.json"})
    EXPECT_TRUE(value->hasPrefix(prefix) && value->hasPrefix(str(prefix)));
  for (const char* other : {"config.json5", "json"})
    EXPECT_FALSE(value->hasPrefix(other) || value->hasPrefix(str(other)));
  for (const char* suffix : {".json", "", "config.json"})
    EXPECT_TRUE(value->hasSuffix(suffix) && value->hasSuffix(str(suffix)));
  for (const char* other : {"my config.json", "conf"})
    EXPECT_FALSE(value->hasSuffix(other) || value->hasSuffix(str(other)));
  EXPECT_TRUE(str("")->hasSuffix(""));
  EXPECT_FALSE(str("")->hasPrefix("a"));

  value = str("one two two");
  EXPECT_TRUE(value->containsString("two"));
  EXPECT_TRUE(value->containsString(""));
  EXPECT_FALSE(value->containsString("three"));
  EXPECT_EQ(value->indexOfString(str("two")), 4u);
  EXPECT_EQ(value->indexOfString(str("one")), 0u);
  EXPECT_EQ(value->indexOfString(str("owt")), BaseString::NOT_FOUND);
  EXPECT_EQ(str("ab")->indexOfString(str("abc")), 0xFFFFFFFFu);
  // Bytes after an embedded NUL are searched and checked too.
  EXPECT_EQ(bytes(std::string("a\0key", 5))->indexOfString(str("key")), 2u);
  EXPECT_TRUE(bytes(std::string("ok\0\xC3\xA9", 5))->isPlainASCII());
  for (const char* ascii : {"", "Hello, world!\x7F"}) EXPECT_TRUE(str(ascii)->isPlainASCII());
  EXPECT_FALSE(str("caf\xC3\xA9")->isPlainASCII());

  for (const char* identifier : {"_a1", "latitude", "_"}) EXPECT_TRUE(str(identifier)->isValidIdentifier());
  for (const char* other : {"1a", "", "a-b", "a b", "caf\xC3\xA9", "\xC3\xA9t\xC3\xA9"})
    EXPECT_FALSE(str(other)->isValidIdentifier()) << other;

  // The leading decimal integer, saturated, as the C library reads it.
  for (const char* digits : {"42", "  -17 apples", "+8", "007", "0x1F", "9223372036854775807",
                             "-9223372036854775808", "99999999999999999999", "none", ""})
    EXPECT_EQ(str(digits)->toS64(), strtoll(digits, nullptr, 10)) << digits;
}

TEST_F(BaseStringTest, NewStringOperations)
{
  // Escaping keeps ASCII letters, digits and dots; the URL path form keeps slashes too.
  expectResults(&BaseString::escapeString,
                {{"a b/c.d", "a%20b%2fc.d"}, {"A-Z_9~", "A%2dZ%5f9%7e"}, {"\xC3\xA9", "%c3%a9"}, {"", ""}});
  expectResults(&BaseString::urlCompliantPath,
                {{"a b/c.d", "a%20b/c.d"}, {"/x y//z/", "/x%20y//z/"}, {"", ""}});
  // Short and bad escapes.
  expectResults(&BaseString::unescapedString,
                {{"a%20b%2", "a b\x02"}, {"100%", "100"}, {"%", ""}, {"%%41", "A"}, {"", ""}});
  expectResults(&BaseString::unescapedString,
                {{"x%2Fy%2fz", "x/y/z"}, {"nul%00dropped", "nuldropped"}, {"%zzkept", "kept"}});
  expectResults(&BaseString::unescapedString, {{"no escapes", "no escapes"}});
  expectResults(&BaseString::pathExtension,
                {{"/dir/file.tar.gz", "gz"}, {"/dir.d/file", "d/file"}, {"/dir/file", ""}, {"name.", ""}});
  expectResults(&BaseString::pathWithoutExtension,
                {{"/dir/file.tar.gz", "/dir/file.tar"}, {"/dir/file", "/dir/file"}});
  expectResults(&BaseString::substringByDeletingLastPathComponent,
                {{"/a", ""}, {"/a/b", "/a"}, {"/a/b/", "/a"}, {"a", ""}});
  expectResults(&BaseString::substringByDeletingLastPathComponent, {{"C:/x", "C:"}, {"", ""}});
  expectResults(&BaseString::substringByDeletingTrailingSlash,
                {{"/dir/", "/dir"}, {"a//", "a/"}, {"ab/", "ab"}});
  // Bytes, not characters, are lowered.
  expectResults(&BaseString::toLower, {{"MiXeD 123 \xC3\x89Z", "mixed 123 \xC3\x89z"}});
  // A trailing slash that is all of a root stays: the same string comes back.
  for (const char* unchanged : {"/", "C:/", "", "a", "/dir"}) {
    BaseString* value = str(unchanged);
    EXPECT_EQ(value->substringByDeletingTrailingSlash(), value) << unchanged;
  }
  EXPECT_EQ(text(bytes(std::string("\0%", 2))->escapeString()), "%00%25");
  std::string all;
  for (int c = 1; c < 256; c++) all += (char)c;
  BaseString* escaped = bytes(all)->escapeString();
  EXPECT_TRUE(escaped->isPlainASCII());
  EXPECT_EQ(text(escaped->unescapedString()), all);
  EXPECT_EQ(text(str("a b/c d")->urlCompliantPath()->unescapedString()), "a b/c d");

  auto last = [](const char* path, bool keepExtension) {
    return text(str(path)->lastPathComponent(keepExtension));
  };
  EXPECT_EQ(last("/dir.d/file", false), "file");
  EXPECT_EQ(last("/dir/file.tar.gz", false), "file.tar");
  EXPECT_EQ(last("/dir/file.tar.gz", true), "file.tar.gz");
  EXPECT_EQ(last("file.txt", false), "file");
  EXPECT_EQ(last("plain", false), "plain");
  EXPECT_EQ(last("/dir/", true), "");
  EXPECT_EQ(last("", false), "");
  EXPECT_EQ(text(str("file.txt")->lastPathComponent()), "file.txt");

  const std::tuple<unsigned, unsigned, const char*> pieces[] = {
      {5, 2, ""}, {2, 100, "cdef"}, {0, 6, "abcdef"},          {1, 2, "b"},
      {3, 3, ""}, {7, 9, ""},       {0, 0xFFFFFFFFu, "abcdef"}};
  for (auto [start, end, expected] : pieces) EXPECT_EQ(text(str("abcdef")->substring(start, end)), expected);

  // Replacement scans left to right without overlap.
  const std::tuple<const char*, const char*, const char*, const char*> replacements[] = {
      {"aaa", "aa", "b", "ba"}, {"a.b.c", ".", "::", "a::b::c"}, {"xyz", "q", "r", "xyz"},
      {"ab-ab", "ab", "", "-"}, {"ab", "ab", "abab", "abab"},    {"keep", "", "x", "keep"}};
  for (auto [input, search, replacement, expected] : replacements) {
    BaseString* source = str(input);
    EXPECT_EQ(text(source->replaceString(search, replacement)), expected) << input;
    EXPECT_NE(source->replaceString(search, replacement), source);
  }
  EXPECT_EQ(text(str("a/b/c")->replaceChar('/', '\\')), "a\\b\\c");
  EXPECT_EQ(text(bytes(std::string("a\0b", 3))->replaceChar('\0', '.')), "a.b");

  // The new string belongs to the caller's innermost pool.
  BaseString* kept;
  {
    BaseAutorelease inner;
    kept = str("/dir/file.txt")->lastPathComponent(false);
    EXPECT_EQ(kept->getRetainCount(), 1);
    kept->retain();
  }
  EXPECT_EQ(kept->getRetainCount(), 1);
  EXPECT_EQ(text(kept), "file");
  kept->release();
}

TEST_F(BaseStringTest, JoiningPathsPutsOneSlashBetween)
{
  const std::tuple<const char*, const char*, const char*> joins[] = {
      {"", "a", "/a"},      {"/x", "a", "/x/a"}, {"/x/", "/a", "/x/a"}, {"/x/", "a", "/x/a"},
      {"/x", "/a", "/x/a"}, {"", "/a", "/a"},    {"x", "", "x/"}};
  for (auto [base, component, expected] : joins) {
    BaseString* value = str(base);
    value->appendPathComponent(str(component));
    EXPECT_EQ(text(value), expected) << base << " + " << component;
  }
  BaseString* value = str("dir");
  value->appendPathComponent(value);
  EXPECT_EQ(text(value), "dir/dir");
  BaseString* rooted = str("/r/");
  rooted->appendPathComponent(rooted);
  EXPECT_EQ(text(rooted), "/r/r/");
}

TEST_F(BaseStringTest, SplittingKeepsEmptyPiecesAndFuseJoins)
{
  auto split = [](const char* input, const char* separator, unsigned parts = 0xFFFFFFFFu) {
    return texts(str(input)->split(separator, parts));
  };
  EXPECT_EQ(split("a,,b,", ","), (Texts{"a", "", "b", ""}));
  EXPECT_EQ(split(",", ","), (Texts{"", ""}));
  EXPECT_EQ(split("a,b,c", ",", 2), (Texts{"a", "b,c"}));
  EXPECT_EQ(split("a,b,c", ",", 3), (Texts{"a", "b", "c"}));
  for (unsigned parts : {0u, 1u}) EXPECT_EQ(split("a,b,c", ",", parts), (Texts{"a,b,c"}));
  EXPECT_EQ(split("", ","), (Texts{}));
  for (const char* separator : {";", ""}) EXPECT_EQ(split("abc", separator), (Texts{"abc"}));
  EXPECT_EQ(split("a:b::c", "::"), (Texts{"a:b", "c"}));
  EXPECT_EQ(split("x=>y=>", "=>"), (Texts{"x", "y", ""}));
  EXPECT_EQ(str("a,b")->split(nullptr)->count(), 0u);
  EXPECT_EQ(texts(bytes(std::string("a\0b\0c", 5))->split("b")),
            (Texts{std::string("a\0", 2), std::string("\0c", 2)}));
  // The pieces are new strings, owned by the array the caller's pool owns.
  BaseString* solo = str("solo");
  BaseTypedArray<BaseString>* parts = solo->split(",");
  ASSERT_EQ(parts->count(), 1u);
  EXPECT_NE(parts->objectAtIndex(0), solo);
  EXPECT_EQ(parts->objectAtIndex(0)->getRetainCount(), 1);
  EXPECT_EQ(parts->getRetainCount(), 1);

  BaseString* value = str(">");
  value->fuse(str("a,,b")->split(","), ", ");
  EXPECT_EQ(text(value), ">a, , b");
  BaseString* plain = new (eRetainAutorelease) BaseString();
  plain->fuse(str("x,y")->split(","), nullptr);
  plain->fuse(str("")->split(","), "-");
  EXPECT_EQ(text(plain), "xy");
  BaseString* rebuilt = new (eRetainAutorelease) BaseString();
  rebuilt->fuse(str("/usr//local/bin/")->split("/"), "/");
  EXPECT_EQ(text(rebuilt), "/usr//local/bin/");
  // Fusing a string with itself uses the text from before the call.
  BaseString* self = str("0123456789");
  BaseTypedArray<BaseString>* list = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  list->addObject(self);
  list->addObject(self);
  list->addObject(str("!"));
  self->fuse(list, self->cString() + 9);
  EXPECT_EQ(text(self),
            "0123456789"
            "0123456789"
            "9"
            "0123456789"
            "9"
            "!");
}

TEST_F(BaseStringTest, NullTextStopsNamingTheCondition)
{
  EXPECT_DEATH(str("x")->setCString(nullptr), "Assertion failed: aCString!=NULL, file src/object/BaseString");
  EXPECT_DEATH(new BaseString(static_cast<const char*>(nullptr)), "aCString!=NULL");
  EXPECT_DEATH(str("x")->setString(nullptr), "Assertion failed: aString!=NULL,");
  EXPECT_DEATH(str("x")->append(static_cast<BaseString*>(nullptr)), "Assertion failed: aString,");
  EXPECT_DEATH(str("x")->appendPathComponent(nullptr), "component!=NULL");
}

}  // namespace
