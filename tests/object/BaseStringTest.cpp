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
  // Each row: an input, and the text of the new string `operation` makes of it.
  static void expectResults(Operation operation,
                            std::initializer_list<std::pair<const char*, const char*>> rows)
  {
    for (auto [input, expected] : rows) EXPECT_EQ(text((str(input)->*operation)()), expected) << input;
  }
};

TEST_F(BaseStringTest, HashEqualityAndOrder)
{
  EXPECT_EQ(str("abc")->hash(), 0x308E7u);
  BaseString* value = str("ab");
  value->append("c");
  EXPECT_EQ(value->hash(), 0x308E7u);
  std::string data;
  for (int i = 0; i < 100; i++) data += (char)('a' + i % 26);
  EXPECT_EQ(bytes(data)->hash(), 0xC620CF7Cu);  // long texts sample every fourth byte

  EXPECT_TRUE(str("abc")->isEqual(str("abc")));
  EXPECT_FALSE(str("abc")->isEqual(str("abd")) || str("")->isEqual(arrayOf({})));
  EXPECT_GT(str("a")->compare(str("b")), 0);
  EXPECT_LT(str("a")->compare(arrayOf({})), 0);  // by class name
  EXPECT_EQ(str("abc")->compareCaseInsensitive(str("ABCdef")), 0);
  EXPECT_EQ(str("abc")->compareCaseInsensitive(str("ABD")), 1);
  EXPECT_EQ(str("abd")->compareCaseInsensitive(str("ABC")), -1);
}

TEST_F(BaseStringTest, GrowthAndCopies)
{
  BaseString* value = new (eRetainAutorelease) BaseString();
  for (int i = 0; i < 20; i++) value->append("x", 1);
  EXPECT_EQ(value->capacity(), 32u);
  EXPECT_EQ((new (eRetainAutorelease) BaseString(100u))->capacity(), 101u);
  BaseString* buffer = str("ab");
  char* filled = buffer->getBuffer(3);
  for (int i = 0; i < 3; i++) filled[i] = 'q';
  EXPECT_EQ(text(buffer), "qqq");
  BaseString* copy = new (eRetainAutorelease) BaseString(buffer);
  EXPECT_EQ(text(copy), "qqq");
  BaseString* self = str("0123456789abcde");
  self->append(self);
  EXPECT_EQ(text(self), "0123456789abcde0123456789abcde");
}

TEST_F(BaseStringTest, UTF8AndWideText)
{
  const std::pair<uint32_t, const char*> encodings[] = {
      {0x41, "A"}, {0xE9, "\xC3\xA9"}, {0x20AC, "\xE2\x82\xAC"}, {0x1F600, "\xF0\x9F\x98\x80"},
      {0x200000, "\xF8\x88\x80\x80\x80"}, {0x4000000, "\xEF\xBF\xBD"}};
  for (auto [character, expected] : encodings) {
    BaseString* value = new (eRetainAutorelease) BaseString();
    value->appendUTF8(character);
    EXPECT_EQ(text(value), expected) << std::hex << character;
  }
  // Surrogate pairs combine; an unpaired high surrogate ends the text.
  const wchar_t pair[] = {L'a', 0xD83D, 0xDE00, L'b', 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(pair, -1)), "a\xF0\x9F\x98\x80" "b");
  const wchar_t unpaired[] = {L'a', 0xD800, L'b', 0}, beyond[] = {L'a', 0xD800, 0xE000, 0};
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(unpaired, -1)), "a");
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(beyond, -1)), "a");
  EXPECT_EQ(text(new (eRetainAutorelease) BaseString(pair, 2)), "a");  // the pair cut in half

  // Wide text is UTF-32 where wchar_t holds 32 bits and UTF-16 where it holds 16, as the
  // literals are; beyond U+10FFFF only UTF-32 has room.
  const std::pair<const char*, std::wstring> wideForms[] = {
      {"h\xC3\xA9\xE2\x82\xAC", L"h\u00E9\u20AC"}, {"\xF0\x9F\x98\x80!\xF4\x8F\xBF\xBF", L"\U0001F600!\U0010FFFF"},
      {"\xF8\x88\x80\x80\x80", sizeof(wchar_t) == 4 ? std::wstring(1, wchar_t(0x200000)) : L"\uFFFD"}};
  for (const auto& [utf8, wide] : wideForms) {
    const wchar_t* converted = str(utf8)->wString();
    EXPECT_EQ(converted ? std::wstring(converted) : L"(null)", wide) << utf8;
    if (wide != L"\uFFFD") {
      EXPECT_EQ(text(new (eRetainAutorelease) BaseString(wide.c_str(), -1)), utf8);
    }
  }
  // Overlong forms, bad continuations, stray or too-many-ones lead bytes: no wide text.
  for (const char* invalid : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xC3\x28", "\xE2\x28\xA1", "\xBF",
                              "\xFE\x80\x80\x80\x80\x80\x80", "\xFF"})
    EXPECT_EQ(str(invalid)->wString(), nullptr) << ::testing::PrintToString(invalid);
}

TEST_F(BaseStringTest, Searching)
{
  BaseString* value = str("config.json");
  EXPECT_TRUE(value->hasPrefix("conf") && value->hasPrefix(str("conf")));
  EXPECT_TRUE(value->hasSuffix(".json") && value->hasSuffix(str(".json")));
  EXPECT_FALSE(str("a")->hasPrefix("ab") || str("a")->hasPrefix(str("ab")) || str("b")->hasSuffix("ab"));
  EXPECT_FALSE(value->hasPrefix((const char*)nullptr) || value->hasPrefix((BaseString*)nullptr) ||
               value->hasSuffix((const char*)nullptr) || value->hasSuffix((BaseString*)nullptr) ||
               value->containsString(nullptr) || value->indexOfString(nullptr) != BaseString::NOT_FOUND);
  EXPECT_TRUE(value->containsString("fig"));
  EXPECT_EQ(value->indexOfString(str("json")), 7u);
  EXPECT_EQ(value->indexOfString(str("owt")), BaseString::NOT_FOUND);
  EXPECT_TRUE(value->isPlainASCII());
  EXPECT_FALSE(str("caf\xC3\xA9")->isPlainASCII());
  EXPECT_TRUE(str("_a1")->isValidIdentifier());
  EXPECT_FALSE(str("1a")->isValidIdentifier() || str("")->isValidIdentifier());
  EXPECT_EQ(str("  -17 apples")->toS64(), -17);
}

TEST_F(BaseStringTest, NewStringOperations)
{
  expectResults(&BaseString::escapeString, {{"a b/c.d", "a%20b%2fc.d"}, {"Z9~[", "Z9%7e%5b"}});
  expectResults(&BaseString::urlCompliantPath, {{"a b/c.d", "a%20b/c.d"}, {"", ""}});
  expectResults(
      &BaseString::unescapedString,
      {{"a%20b%2", "a b\x02"}, {"x%2Fy%2fz", "x/y/z"}, {"%zzkept", "kept"}, {"a", "a"}, {"a%:1b%!", "ab"}});
  expectResults(&BaseString::pathExtension, {{"/dir/file.tar.gz", "gz"}, {"/dir/file", ""}, {"file.", ""}});
  expectResults(&BaseString::pathWithoutExtension, {{"/dir/file.tar.gz", "/dir/file.tar"}, {"file", "file"}});
  expectResults(&BaseString::substringByDeletingLastPathComponent, {{"/a/b/", "/a"}, {"a", ""}});
  expectResults(&BaseString::substringByDeletingTrailingSlash,
                {{"/dir/", "/dir"}, {"/", "/"}, {"C:/", "C:/"}, {"ab/", "ab"}, {"x", "x"}});
  expectResults(&BaseString::toLower, {{"MiXeD 1", "mixed 1"}});
  for (auto [path, expected] :
       {std::pair{"/dir/file.tar.gz", "file.tar"}, {"a.d/file", "file"}, {"file.c", "file"}, {"d/f", "f"}})
    EXPECT_EQ(text(str(path)->lastPathComponent(false)), expected);
  EXPECT_EQ(text(str("abcdef")->substring(2, 100)) + text(str("ab")->substring(5, 9)) +
                text(str("ab")->substring(1, 0)),
            "cdef");
  // Replacement scans left to right without overlap.
  EXPECT_EQ(text(str("aaa")->replaceString("aa", "b")), "ba");
  EXPECT_EQ(text(str("a.b.c")->replaceString(".", "::")), "a::b::c");
  EXPECT_EQ(text(str("keep")->replaceString("", "x")), "keep");
  EXPECT_EQ(text(str("a/b/c")->replaceChar('/', '\\')), "a\\b\\c");
}

TEST_F(BaseStringTest, PathsSplittingAndFusing)
{
  for (auto [base, component, expected] : {std::tuple{"/x/", "/a", "/x/a"},
                                           {"/x", "/a", "/x/a"},
                                           {"/x/", "a", "/x/a"},
                                           {"", "a", "/a"},
                                           {"x", "", "x/"},
                                           {"a/", nullptr, "a/a/"}}) {
    BaseString* joined = str(base);
    joined->appendPathComponent(component ? str(component) : joined);
    EXPECT_EQ(text(joined), expected);
  }
  EXPECT_EQ(texts(str("a,,b,")->split(",")), (Texts{"a", "", "b", ""}));
  EXPECT_EQ(texts(str("a,b,c")->split(",", 2)), (Texts{"a", "b,c"}));
  EXPECT_EQ(texts(str("a,b")->split("")), (Texts{"a,b"}));
  EXPECT_EQ(str("")->split(",")->count() + str("a")->split(nullptr)->count(), 0u);
  BaseString* value = str(">");
  value->fuse(str("a,,b")->split(","), ", ");
  EXPECT_EQ(text(value), ">a, , b");
  value->fuse(str("c,d")->split(","), nullptr);
  value->fuse(nullptr, ",");
  EXPECT_EQ(text(value), ">a, , bcd");
  // Fusing a string with itself uses the text from before the call.
  BaseString* self = str("0123456789");
  BaseTypedArray<BaseString>* list = new (eRetainAutorelease) BaseTypedArray<BaseString>();
  list->addObject(self);
  list->addObject(self);
  self->fuse(list, self->cString() + 9);
  EXPECT_EQ(text(self), "01234567890123456789" "9" "0123456789");
  EXPECT_DEATH(str("x")->setCString(nullptr), "Assertion failed: aCString!=NULL, file src/object/BaseString");
}

}  // namespace
