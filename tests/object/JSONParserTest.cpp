// The JSON reader: the classes and values it builds, strict refusal of everything that is
// not RFC 8259 JSON in valid UTF-8 (null and a Warning naming the error and the offset),
// the nesting limit, and that a refused text leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "io/BaseBuffer.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "object/JSONParser.h"
#include "support/CaptureStream.h"

namespace {

class JSONParserTest : public ::testing::Test
{
protected:
  BaseObject* parse(const std::string& text)
  {
    BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(text.data(), (uint32_t)text.size());
    return JSONParser::parseJSON(buffer->bytes(), buffer->length());
  }
  BaseNumber* number(const std::string& text)
  {
    BaseObject* object = parse(text);
    EXPECT_TRUE(BaseObject::isOfClass(object, "BaseNumber")) << text;
    return static_cast<BaseNumber*>(object);
  }
  std::string string(const std::string& text)
  {
    BaseObject* object = parse(text);
    EXPECT_TRUE(BaseObject::isOfClass(object, "BaseString")) << text;
    if (!object) return "(null)";
    BaseString* value = static_cast<BaseString*>(object);
    return std::string(value->cString(), value->length());
  }
  static uint64_t bits(double value)
  {
    uint64_t result;
    memcpy(&result, &value, sizeof result);
    return result;
  }

  BaseAutorelease pool;
};

// ---------------------------------------------------------------------------------------
// What is built

using JSONParserValuesTest = JSONParserTest;

TEST_F(JSONParserValuesTest, IntegersWithoutFractionOrExponentStayIntegers)
{
  struct
  {
    const char* text;
    long long value;
  } rows[] = {{"0", 0},
              {"42", 42},
              {"-7", -7},
              {"-0", 0},
              {"4294967295", 4294967295LL},
              {"-2147483649", -2147483649LL},
              {"9223372036854775807", INT64_MAX},
              {"-9223372036854775808", INT64_MIN}};
  for (const auto& row : rows) {
    BaseNumber* value = number(row.text);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->getNumberType(), BaseNumber::eNumberInteger) << row.text;
    EXPECT_EQ(value->getInteger64(), row.value) << row.text;
  }
}

TEST_F(JSONParserValuesTest, EveryOtherNumberIsADouble)
{
  struct
  {
    const char* text;
    double value;
  } rows[] = {{"1.5", 1.5},
              {"1.0", 1.0},
              {"1e2", 100.0},
              {"1E+2", 100.0},
              {"-2.5e-3", -0.0025},
              {"0.1", 0.1},
              {"9223372036854775808", 9223372036854775808.0},
              {"18446744073709551615", 18446744073709551615.0},
              {"123456789012345678901234567890", 1.2345678901234568e29},
              {"1.7976931348623157e308", DBL_MAX},
              {"2.2250738585072014e-308", DBL_MIN},
              {"0.30000000000000004", 0.30000000000000004},
              {"0e-30", 0.0},
              {"0.000e-400", 0.0},
              {"1e-400", 0.0},
              {"4.9406564584124654e-324", 4.9406564584124654e-324}};
  for (const auto& row : rows) {
    BaseNumber* value = number(row.text);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->getNumberType(), BaseNumber::eNumberDouble) << row.text;
    EXPECT_EQ(bits(value->getDouble()), bits(row.value)) << row.text;
  }
  BaseNumber* negativeZero = number("-0.0");
  ASSERT_NE(negativeZero, nullptr);
  EXPECT_EQ(bits(negativeZero->getDouble()), bits(-0.0));
}

TEST_F(JSONParserValuesTest, LiteralsAreBooleansAndTheNullObject)
{
  BaseNumber* yes = number("true");
  BaseNumber* no = number("false");
  ASSERT_NE(yes, nullptr);
  ASSERT_NE(no, nullptr);
  EXPECT_EQ(yes->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_TRUE(yes->getBoolean());
  EXPECT_EQ(no->getNumberType(), BaseNumber::eNumberBoolean);
  EXPECT_FALSE(no->getBoolean());
  EXPECT_EQ(parse("null"), &BaseNull::instance);
}

TEST_F(JSONParserValuesTest, StringsKeepTheirExactBytes)
{
  EXPECT_EQ(string(R"("plain")"), "plain");
  EXPECT_EQ(string(R"("")"), "");
  EXPECT_EQ(string(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(string(R"("\u0041\u00e9\u20AC")"), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(string(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string("\"caf\xC3\xA9 \xF0\x9F\x98\x80\""), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(string(R"("a\u0000b")"), std::string("a\0b", 3));
}

TEST_F(JSONParserValuesTest, ContainersNestAsWritten)
{
  BaseObject* object = parse(R"( {"a": [1, {"b": null}, "x"], "c": {}, "d": []} )");
  ASSERT_TRUE(BaseObject::isOfClass(object, "BaseDictionary"));
  BaseDictionary* root = static_cast<BaseDictionary*>(object);
  EXPECT_EQ(root->count(), 3u);
  BaseArray* a = static_cast<BaseArray*>(root->objectForKey("a"));
  ASSERT_TRUE(BaseObject::isOfClass(a, "BaseArray"));
  ASSERT_EQ(a->count(), 3u);
  EXPECT_EQ(static_cast<BaseNumber*>(a->objectAtIndex(0))->getInteger64(), 1);
  BaseDictionary* inner = static_cast<BaseDictionary*>(a->objectAtIndex(1));
  ASSERT_TRUE(BaseObject::isOfClass(inner, "BaseDictionary"));
  EXPECT_EQ(inner->count(), 1u);
  EXPECT_EQ(inner->objectForKey("b"), &BaseNull::instance);
  EXPECT_STREQ(static_cast<BaseString*>(a->objectAtIndex(2))->cString(), "x");
  BaseObject* c = root->objectForKey("c");
  ASSERT_TRUE(BaseObject::isOfClass(c, "BaseDictionary"));
  EXPECT_EQ(static_cast<BaseDictionary*>(c)->count(), 0u);
  BaseObject* d = root->objectForKey("d");
  ASSERT_TRUE(BaseObject::isOfClass(d, "BaseArray"));
  EXPECT_EQ(static_cast<BaseArray*>(d)->count(), 0u);
}

TEST_F(JSONParserValuesTest, ARepeatedKeyKeepsTheLastValue)
{
  BaseObject* object = parse(R"({"k": 1, "other": true, "k": [2]})");
  ASSERT_TRUE(BaseObject::isOfClass(object, "BaseDictionary"));
  BaseDictionary* root = static_cast<BaseDictionary*>(object);
  EXPECT_EQ(root->count(), 2u);
  BaseObject* k = root->objectForKey("k");
  ASSERT_TRUE(BaseObject::isOfClass(k, "BaseArray"));
  EXPECT_EQ(static_cast<BaseNumber*>(static_cast<BaseArray*>(k)->objectAtIndex(0))->getInteger64(), 2);
}

TEST_F(JSONParserValuesTest, TheResultBelongsToTheCallersPool)
{
  BaseObject* kept;
  {
    BaseAutorelease inner;
    kept = parse(R"({"a": [1, 2]})");
    ASSERT_NE(kept, nullptr);
    kept->retain();
  }
  EXPECT_EQ(kept->getRetainCount(), 1);
  kept->release();
}

TEST_F(JSONParserValuesTest, TheWholeDataIsReadAndTheReadPositionStays)
{
  const char text[] = " \t\r\n[1] \n";
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(text, (uint32_t)strlen(text));
  uint32_t length = 2;
  char first[2];
  ASSERT_TRUE(buffer->readIO(first, length));
  BaseObject* object = JSONParser::parseJSON(buffer->bytes(), buffer->length());
  ASSERT_TRUE(BaseObject::isOfClass(object, "BaseArray"));
  EXPECT_EQ(static_cast<BaseArray*>(object)->count(), 1u);
  length = 1;
  ASSERT_TRUE(buffer->readIO(first, length));
  EXPECT_EQ(first[0], '\r');
}

// ---------------------------------------------------------------------------------------
// What is refused

class JSONParserRejectsTest : public JSONParserTest
{
protected:
  // Null, with exactly one Warning about the text.
  void expectRejected(const std::string& text)
  {
    LogCapture log("%S: %m\n", "I|src/object/");
    EXPECT_EQ(parse(text), nullptr) << text;
    std::string lines = log.text();
    EXPECT_EQ(lines.rfind("Warning: JSON text rejected at offset ", 0), 0u) << text << " logged " << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << text << " logged " << lines;
  }
};

TEST_F(JSONParserRejectsTest, ExtensionsToTheGrammar)
{
  for (const char* text :
       {"[1,2,]", R"({"a":1,})", "[1]//c", "/*c*/[1]",   "[1] # c", "[NaN]", "[Infinity]", "[-Infinity]",
        "['a']",  "{'a':1}",     "{a:1}",  "[01]",       "[1.]",    "[.5]",  "[+1]",       "[0x10]",
        "[1e]",   "[True]",      "[nul]",  R"({"a" 1})", "{1:2}",   "[1 2]"})
    expectRejected(text);
}

TEST_F(JSONParserRejectsTest, BadStringContent)
{
  for (const char* text :
       {R"(["\x41"])", R"(["\u12"])", R"(["\uZZZZ"])", R"(["\'"])", "[\"a\tb\"]", "[\"a\nb\"]", R"(["abc)"})
    expectRejected(text);
}

TEST_F(JSONParserRejectsTest, UnpairedSurrogateEscapes)
{
  for (const char* text : {R"(["\ud800"])", R"(["\ud800x"])", R"(["\ud800\u0041"])", R"(["\udc00"])",
                           R"(["\ude00\ud83d"])", R"({"\udfff": 1})"})
    expectRejected(text);
}

TEST_F(JSONParserRejectsTest, InvalidUTF8)
{
  for (const char* text : {"[\"\xC0\x80\"]", "[\"\xC1\xBF\"]", "[\"\xFF\"]", "[\"\xFE\"]", "[\"\x80\"]",
                           "[\"\xE2\x82\"]", "[\"\xF0\x9F\x98\"]", "[\"\xE2\x82", "[\"\xED\xA0\x80\"]",
                           "[\"\xF4\x90\x80\x80\"]", "[\"\xE0\x80\xAF\"]", "{\"\xFF\": 1}"})
    expectRejected(text);
}

TEST_F(JSONParserRejectsTest, AnythingButOneValueWithWhitespace)
{
  for (std::string text : {"", "   ", "[1] x", "[1][2]", "1 2", "[", "{\"a\":", "\xEF\xBB\xBF[1]", "\f[1]"})
    expectRejected(text);
  // A zero byte is no end of the input.
  expectRejected(std::string("[1]\0[2]", 7));
  expectRejected(std::string("[1] \0", 5));
  expectRejected(std::string("[\"a\0b\"]", 7));
}

TEST_F(JSONParserRejectsTest, NumbersBeyondADouble)
{
  expectRejected("[1e400]");
  expectRejected("[-1e400]");
  expectRejected("[1.8623157e308]");
  expectRejected("[-1.7976931348623159e308]");
}

TEST_F(JSONParserRejectsTest, TheWarningNamesTheErrorAndItsOffset)
{
  LogCapture log("%S: %m\n", "I|src/object/");
  EXPECT_EQ(parse("[1,]"), nullptr);
  EXPECT_EQ(parse(R"({"a": "\u00"})"), nullptr);
  EXPECT_EQ(parse("[1] x"), nullptr);
  EXPECT_EQ(parse(std::string("[1]\0", 4)), nullptr);
  EXPECT_EQ(parse(R"([1, "\udc00"])"), nullptr);
  EXPECT_EQ(
      log.text(),
      "Warning: JSON text rejected at offset 3: Invalid value.\n"
      "Warning: JSON text rejected at offset 7: Incorrect hex digit after \\u escape in string.\n"
      "Warning: JSON text rejected at offset 4: The document root must not be followed by other values.\n"
      "Warning: JSON text rejected at offset 3: data after the value\n"
      "Warning: JSON text rejected at offset 12: unpaired surrogate escape in string\n");
}

TEST_F(JSONParserRejectsTest, NestingUpToTheLimitOnly)
{
  const int limit = JSONParser::MAX_NESTING_DEPTH;
  ASSERT_EQ(limit, 256);
  BaseObject* deepest = parse(std::string(limit, '[') + std::string(limit, ']'));
  ASSERT_TRUE(BaseObject::isOfClass(deepest, "BaseArray"));
  int depth = 1;
  for (BaseArray* level = static_cast<BaseArray*>(deepest); level->count() == 1; depth++)
    level = static_cast<BaseArray*>(level->objectAtIndex(0));
  EXPECT_EQ(depth, limit);

  LogCapture log("%S: %m\n", "I|src/object/");
  EXPECT_EQ(parse(std::string(limit + 1, '[') + std::string(limit + 1, ']')), nullptr);
  std::string mixed;
  for (int i = 0; i <= limit / 2; i++) mixed += "{\"k\":[";
  EXPECT_EQ(parse(mixed), nullptr);
  EXPECT_EQ(parse(std::string(1000000, '[')), nullptr);
  EXPECT_EQ(log.text(),
            "Warning: JSON text rejected at offset 256: nesting deeper than 256 levels\n"
            "Warning: JSON text rejected at offset 768: nesting deeper than 256 levels\n"
            "Warning: JSON text rejected at offset 256: nesting deeper than 256 levels\n");
}

TEST_F(JSONParserRejectsTest, APartlyBuiltTreeIsReleased)
{
  // Every null reference the tree took is given back when the text fails late.
  int before = BaseNull::instance.getRetainCount();
  {
    BaseAutorelease inner;
    EXPECT_EQ(parse(R"([null, {"a": null, "b": [null, null, {"c": null, "d": 1,}]}])"), nullptr);
    EXPECT_EQ(parse(R"({"a": null, "b": null, "c": "\ud800"})"), nullptr);
    EXPECT_EQ(parse(R"([null, null] x)"), nullptr);
    EXPECT_EQ(parse(std::string(300, '[') + "null"), nullptr);
  }
  EXPECT_EQ(BaseNull::instance.getRetainCount(), before);
}

}  // namespace
