// The JSON reader: the classes and values it builds, strict refusal of everything that is
// not RFC 8259 JSON in valid UTF-8 (null and a Warning naming the error and the offset),
// the nesting limit, and that a refused text leaves nothing behind.
#include <algorithm>
#include <cfloat>
#include <cstring>

#include "io/BaseBuffer.h"
#include "object/BaseBits.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/JSONParser.h"
#include "support/CaptureStream.h"
#include "support/ValueTest.h"

namespace {

class JSONParserTest : public ValueTest
{
protected:
  static BaseObject* parse(const std::string& json)
  {
    return JSONParser::parseJSON(json.data(), json.size());
  }
  static BaseNumber* number(const std::string& json, BaseNumber::eNumberType type)
  {
    BaseObject* object = parse(json);
    EXPECT_TRUE(BaseObject::isOfClass(object, "BaseNumber")) << json;
    BaseNumber* value = BaseObject::isOfClass(object, "BaseNumber") ? (BaseNumber*)object : num(-12345);
    EXPECT_EQ(value->getNumberType(), type) << json;
    return value;
  }
  static std::string string(const std::string& json)
  {
    BaseObject* object = parse(json);
    EXPECT_TRUE(BaseObject::isOfClass(object, "BaseString")) << json;
    return BaseObject::isOfClass(object, "BaseString") ? text((BaseString*)object) : "(none)";
  }
  // Null, with exactly one Warning about the text.
  static void expectRejected(std::initializer_list<std::string> texts)
  {
    for (const std::string& json : texts) {
      LogCapture log("%S: %m\n", "I|src/object/");
      EXPECT_EQ(parse(json), nullptr) << json;
      std::string lines = log.text();
      EXPECT_EQ(lines.rfind("Warning: JSON text rejected at offset ", 0), 0u) << json << " logged " << lines;
      EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1) << json << " logged " << lines;
    }
  }
};

TEST_F(JSONParserTest, NumbersWithoutFractionOrExponentStayIntegersEveryOtherIsADouble)
{
  // The C library's readings are the reference.
  for (const char* json :
       {"0", "42", "-7", "-0", "4294967295", "-2147483649", "9223372036854775807", "-9223372036854775808"})
    EXPECT_EQ(number(json, BaseNumber::eNumberInteger)->getInteger64(), strtoll(json, nullptr, 10)) << json;
  for (const char* json :
       {"1.5", "1.0", "1e2", "1E+2", "-2.5e-3", "0.1", "-0.0", "9223372036854775808", "18446744073709551615",
        "123456789012345678901234567890", "1.7976931348623157e308", "2.2250738585072014e-308",
        "0.30000000000000004", "0e-30", "0.000e-400", "1e-400", "4.9406564584124654e-324"})
    EXPECT_EQ(bitsOfDouble(number(json, BaseNumber::eNumberDouble)->getDouble()),
              bitsOfDouble(strtod(json, nullptr)))
        << json;
  EXPECT_TRUE(number("true", BaseNumber::eNumberBoolean)->getBoolean());
  EXPECT_FALSE(number("false", BaseNumber::eNumberBoolean)->getBoolean());
  EXPECT_EQ(parse("null"), &BaseNull::instance);
}

TEST_F(JSONParserTest, StringsKeepTheirExactBytes)
{
  EXPECT_EQ(string(R"("plain")"), "plain");
  EXPECT_EQ(string(R"("")"), "");
  EXPECT_EQ(string(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(string(R"("\u0041\u00e9\u20AC")"), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(string(R"("\ud83d\ude00")"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string("\"caf\xC3\xA9 \xF0\x9F\x98\x80\""), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(string(R"("a\u0000b")"), std::string("a\0b", 3));
}

TEST_F(JSONParserTest, ContainersNestAsWrittenAndARepeatedKeyKeepsTheLastValue)
{
  BaseObject* root = parse(R"( {"a": [1, {"b": null}, "x"], "c": {}, "d": [], "k": 1, "k": [2]} )");
  ASSERT_TRUE(BaseObject::isOfClass(root, "BaseDictionary"));
  EXPECT_EQ(
      text(root, BaseObject::eToStringJSON),
      "{\n  \"a\" : [ 1, { \"b\" : null }, \"x\" ],\n  \"k\" : [ 2 ],\n  \"c\" : {  },\n  \"d\" : [  ]\n}");
  BaseArray* a = (BaseArray*)((BaseDictionary*)root)->objectForKey("a");
  EXPECT_EQ(((BaseDictionary*)a->objectAtIndex(1))->objectForKey("b"), &BaseNull::instance);
  EXPECT_EQ(((BaseNumber*)a->objectAtIndex(0))->getNumberType(), BaseNumber::eNumberInteger);

  // The result belongs to the caller's pool.
  BaseObject* kept;
  {
    BaseAutorelease inner;
    kept = parse(R"({"a": [1, 2]})");
    ASSERT_NE(kept, nullptr);
    kept->retain();
  }
  EXPECT_EQ(kept->getRetainCount(), 1);
  kept->release();

  // Whitespace around the value is part of the bytes given.
  const char json[] = " \t\r\n[1] \n";
  EXPECT_EQ(text(JSONParser::parseJSON(json, strlen(json)), BaseObject::eToStringJSON), "[ 1 ]");
}

TEST_F(JSONParserTest, EverythingButStrictJSONIsRefused)
{
  // Extensions to the grammar.
  expectRejected({"[1,2,]",     R"({"a":1,})", "[1]//c", "/*c*/[1]", "[1] # c", "[NaN]",
                  "[Infinity]", "[-Infinity]", "['a']",  "{'a':1}",  "{a:1}",   "[01]",
                  "[1.]",       "[.5]",        "[+1]",   "[0x10]",   "[1e]",    "[True]",
                  "[nul]",      R"({"a" 1})",  "{1:2}",  "[1 2]"});
  // Bad string content and unpaired surrogate escapes.
  expectRejected({R"(["\x41"])", R"(["\u12"])", R"(["\uZZZZ"])", R"(["\'"])", "[\"a\tb\"]", "[\"a\nb\"]",
                  R"(["abc)", R"(["\ud800"])", R"(["\ud800x"])", R"(["\ud800\u0041"])", R"(["\udc00"])",
                  R"(["\ude00\ud83d"])", R"({"\udfff": 1})"});
  // Invalid UTF-8.
  expectRejected({"[\"\xC0\x80\"]", "[\"\xC1\xBF\"]", "[\"\xFF\"]", "[\"\xFE\"]", "[\"\x80\"]",
                  "[\"\xE2\x82\"]", "[\"\xF0\x9F\x98\"]", "[\"\xE2\x82", "[\"\xED\xA0\x80\"]",
                  "[\"\xF4\x90\x80\x80\"]", "[\"\xE0\x80\xAF\"]", "{\"\xFF\": 1}"});
  // Anything but one value with whitespace; a zero byte is no end of the input.
  expectRejected({"", "   ", "[1] x", "[1][2]", "1 2", "[", "{\"a\":", "\xEF\xBB\xBF[1]", "\f[1]",
                  std::string("[1]\0[2]", 7), std::string("[1] \0", 5), std::string("[\"a\0b\"]", 7)});
  // Numbers beyond a double.
  expectRejected({"[1e400]", "[-1e400]", "[1.8623157e308]", "[-1.7976931348623159e308]"});

  // The Warning names the error and its offset.
  LogCapture log("%S: %m\n", "I|src/object/");
  for (std::string json : {std::string("[1,]"), std::string(R"({"a": "\u00"})"), std::string("[1] x"),
                           std::string("[1]\0", 4), std::string(R"([1, "\udc00"])")})
    EXPECT_EQ(parse(json), nullptr);
  EXPECT_EQ(
      log.text(),
      "Warning: JSON text rejected at offset 3: Invalid value.\n"
      "Warning: JSON text rejected at offset 7: Incorrect hex digit after \\u escape in string.\n"
      "Warning: JSON text rejected at offset 4: The document root must not be followed by other values.\n"
      "Warning: JSON text rejected at offset 3: data after the value\n"
      "Warning: JSON text rejected at offset 12: unpaired surrogate escape in string\n");
}

TEST_F(JSONParserTest, NestingUpToTheLimitOnly)
{
  const int limit = JSONParser::MAX_NESTING_DEPTH;
  ASSERT_EQ(limit, 256);
  BaseObject* deepest = parse(std::string(limit, '[') + std::string(limit, ']'));
  ASSERT_TRUE(BaseObject::isOfClass(deepest, "BaseArray"));
  int depth = 1;
  for (BaseArray* level = (BaseArray*)deepest; level->count() == 1; depth++)
    level = (BaseArray*)level->objectAtIndex(0);
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

TEST_F(JSONParserTest, APartlyBuiltTreeIsReleased)
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
