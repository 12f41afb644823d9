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

TEST_F(JSONParserTest, NumbersStringsAndLiterals)
{
  // Numbers without fraction or exponent stay integers; the C library's readings are the reference.
  for (const char* json : {"-7", "9223372036854775807"})
    EXPECT_EQ(number(json, BaseNumber::eNumberInteger)->getInteger64(), strtoll(json, nullptr, 10)) << json;
  for (const char* json : {"-2.5e-3", "9223372036854775808", "1e-400"})
    EXPECT_EQ(bitsOfDouble(number(json, BaseNumber::eNumberDouble)->getDouble()),
              bitsOfDouble(strtod(json, nullptr)))
        << json;
  EXPECT_TRUE(number("true", BaseNumber::eNumberBoolean)->getBoolean());
  EXPECT_EQ(parse("null"), &BaseNull::instance);
  EXPECT_EQ(string(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(string(R"("\u00e9\ud83d\ude00")"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(string(R"("a\u0000b")"), std::string("a\0b", 3));
}

TEST_F(JSONParserTest, ContainersNestAsWrittenAndARepeatedKeyKeepsTheLastValue)
{
  BaseObject* root = parse(R"( {"a": [1, {"b": null}, "x"], "c": {}, "k": 1, "k": [2]} )");
  ASSERT_TRUE(BaseObject::isOfClass(root, "BaseDictionary"));
  EXPECT_EQ(text(root, BaseObject::eToStringJSON),
            "{ \"a\" : [ 1, { \"b\" : null }, \"x\" ], \"k\" : [ 2 ], \"c\" : {  } }");
  // The result belongs to the caller's pool.
  EXPECT_EQ(root->getRetainCount(), 1);
}

TEST_F(JSONParserTest, EverythingButStrictJSONIsRefused)
{
  expectRejected({"[1,2,]", "[NaN]", "{a:1}", "[01]", R"({"a" 1})", "[1 2]"});
  expectRejected({R"(["\u12"])", "[\"a\tb\"]", R"(["abc)", R"(["\ud800x"])", R"({"\udfff": 1})"});
  expectRejected({"[\"\xC0\x80\"]", "[\"\xE2\x82\"]", "[\"\xED\xA0\x80\"]", "{\"\xFF\": 1}"});
  expectRejected({"", "[1][2]", "\xEF\xBB\xBF[1]", std::string("[1]\0[2]", 7), "[1e400]"});

  // The Warning names the error and its offset.
  LogCapture log("%S: %m\n", "I|src/object/");
  for (std::string json : {std::string("[1,]"), std::string("[1] x"), std::string("[1]\0", 4),
                           std::string(R"([1, "\udc00"])")})
    EXPECT_EQ(parse(json), nullptr);
  EXPECT_EQ(
      log.text(),
      "Warning: JSON text rejected at offset 3: Invalid value.\n"
      "Warning: JSON text rejected at offset 4: The document root must not be followed by other values.\n"
      "Warning: JSON text rejected at offset 3: data after the value\n"
      "Warning: JSON text rejected at offset 12: unpaired surrogate escape in string\n");
}

TEST_F(JSONParserTest, NestingUpToTheLimitOnly)
{
  const int limit = JSONParser::MAX_NESTING_DEPTH;
  ASSERT_EQ(limit, 256);
  BaseObject* deepest = parse(std::string(limit, '[') + std::string(limit, ']'));
  EXPECT_TRUE(BaseObject::isOfClass(deepest, "BaseArray"));

  LogCapture log("%S: %m\n", "I|src/object/");
  EXPECT_EQ(parse(std::string(limit + 1, '[') + std::string(limit + 1, ']')), nullptr);
  EXPECT_EQ(parse(std::string(1000000, '[')), nullptr);
  EXPECT_EQ(log.text(),
            "Warning: JSON text rejected at offset 256: nesting deeper than 256 levels\n"
            "Warning: JSON text rejected at offset 256: nesting deeper than 256 levels\n");
}

TEST_F(JSONParserTest, APartlyBuiltTreeIsReleased)
{
  // Every null reference the tree took is given back when the text fails late.
  int before = BaseNull::instance.getRetainCount();
  {
    BaseAutorelease inner;
    EXPECT_EQ(parse(R"([null, {"a": null, "b": [null, null, {"c": null, "d": 1,}]}])"), nullptr);
    EXPECT_EQ(parse(std::string(300, '[') + "null"), nullptr);
  }
  EXPECT_EQ(BaseNull::instance.getRetainCount(), before);
}

}  // namespace
