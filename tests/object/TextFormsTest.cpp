// The text forms of every value class in the four formats with their decorations, and the
// shared helpers under them: comments, the list layout and its switch from one line to
// indented lines, and the ownership of the text.
#include <climits>
#include <cstdio>
#include <limits>
#include <tuple>

#include "object/BaseBits.h"
#include "object/BaseDate.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "support/ValueTest.h"

namespace {

const int P = BaseObject::eToStringPlain, J = BaseObject::eToStringJSON, L = BaseObject::eToStringLua,
          X = BaseObject::eToStringXML, C = BaseObject::eToStringClassName, A = BaseObject::eToStringAddress,
          N = BaseObject::eToStringEntryCount;

class TextFormsTest : public ValueTest
{
protected:
  static BaseDictionary* dict(std::initializer_list<std::pair<const char*, BaseObject*>> entries)
  {
    BaseDictionary* result = new (eRetainAutorelease) BaseDictionary();
    for (const auto& entry : entries) result->setObjectForKey(entry.second, entry.first);
    return result;
  }
  static BaseDate* date(double seconds) { return new (eRetainAutorelease) BaseDate(seconds); }
  static BaseTypedArray<BaseString>* texts(std::initializer_list<const char*> items, int times = 1)
  {
    BaseTypedArray<BaseString>* list = new (eRetainAutorelease) BaseTypedArray<BaseString>();
    for (int i = 0; i < times; i++)
      for (const char* item : items) list->addObject(str(item));
    return list;
  }
  static std::string addressed(const char* format, void* object)
  {
    char expected[128];
    snprintf(expected, sizeof expected, format, object);
    return expected;
  }
};

TEST_F(TextFormsTest, EveryValueClassInEachFormat)
{
  BaseObject* null = &BaseNull::instance;
  BaseObject* root = new (eRetainAutorelease) BaseObject();
  std::string unknown = addressed("Unknown object of class BaseObject at %p", root);
  // Each object's text in plain, JSON, Lua and XML.
  const std::tuple<BaseObject*, std::string, std::string, std::string, std::string> forms[] = {
      {null, "NULL", "null", "nil", "<BaseNull/>"},
      {date(1330837567.0), "Sun, 04 Mar 2012 05:06:07 GMT", "1330837567", "1330837567",
       "<date>2012-03-04T05:06:07Z</date>"},
      {date(-0.5), "Thu, 01 Jan 1970 00:00:00 GMT", "-0.5", "-0.5", "<date>1970-01-01T00:00:00Z</date>"},
      {date(1330837567.25), "Sun, 04 Mar 2012 05:06:07 GMT", "1330837567.25", "1330837567.25",
       "<date>2012-03-04T05:06:07Z</date>"},
      // Strings are escaped in JSON and Lua only.
      {str(""), "\"\"", "\"\"", "\"\"", "<string></string>"},
      {str("say \"hi\"\n"), "\"say \"hi\"\n\"", "\"say \\\"hi\\\"\\n\"", "\"say \\\"hi\\\"\\n\"",
       "<string>say \"hi\"\n</string>"},
      {str("a<b\\ & \x01"), "\"a<b\\ & \x01\"", "\"a<b\\\\ & \\u0001\"", "\"a<b\\\\ & \\001\"",
       "<string>a<b\\ & \x01</string>"},
      {bytes(std::string("\x00\x08\x09\x0A\x0B\x0C\x0D\x1F", 8)),
       std::string("\"\x00\x08\x09\x0A\x0B\x0C\x0D\x1F\"", 10),
       "\"\\u0000\\b\\t\\n\\u000B\\u000C\\r\\u001F\"", "\"\\000\\b\\t\\n\\011\\012\\r\\031\"", ""},
      {str("caf\xC3\xA9 \x7F\xFF"), "\"caf\xC3\xA9 \x7F\xFF\"", "\"caf\xC3\xA9 \x7F\xFF\"",
       "\"caf\xC3\xA9 \x7F\xFF\"", "<string>caf\xC3\xA9 \x7F\xFF</string>"},
      // Dictionaries: keys that are no identifiers are quoted in Lua.
      {dict({{"lat", num(1)}}), "DICTIONARY ( lat -> 1 )", "{ \"lat\" : 1 }", "{ lat = 1 }",
       "<dict> lat  <number>1</number> </dict>"},
      {dict({}), "DICTIONARY (  )", "{  }", "{  }", "<dict>  </dict>"},
      {dict({{"a", str("a")}, {"i", str("i")}}), "DICTIONARY ( i -> \"i\", a -> \"a\" )",
       "{ \"i\" : \"i\", \"a\" : \"a\" }", "{ i = \"i\", a = \"a\" }", ""},
      {dict({{"q\"\n", num(1)}}), "", "{ \"q\\\"\\n\" : 1 }", "{ [\"q\\\"\\n\"] = 1 }", ""},
      {dict({{"latitude", str("0.5")},
             {"longitude", str("0.5")},
             {"altitude", str("0.5")},
             {"speed", str("0.5")}}),
       "", "",
       "{\n  altitude = \"0.5\",\n  speed = \"0.5\",\n  longitude = \"0.5\",\n  latitude = \"0.5\"\n}", ""},
      // Arrays.
      {arrayOf({}), "ARRAY (  )", "[  ]", "{  }", "<array>  </array>"},
      {arrayOf({str("a"), str("b")}), "ARRAY ( \"a\", \"b\" )", "[ \"a\", \"b\" ]", "{ \"a\", \"b\" }",
       "<array> <string>a</string> <string>b</string> </array>"},
      {arrayOf({null, num(2)}), "ARRAY ( NULL, 2 )", "[ null, 2 ]", "{ nil, 2 }",
       "<array> <BaseNull/> <number>2</number> </array>"},
      // Any other object names its class and address.
      {root, "\"" + unknown + "\"", "\"" + unknown + "\"", "\"" + unknown + "\"",
       "<string>" + unknown + "</string>"},
  };
  const int formats[] = {P, J, L, X};
  for (const auto& [object, plain, json, lua, xml] : forms) {
    const std::string* expected[] = {&plain, &json, &lua, &xml};
    for (int i = 0; i < 4; i++)
      if (!expected[i]->empty())
        EXPECT_EQ(text(object, formats[i]), *expected[i]) << object->getClass() << " format " << i;
  }
  // For keys in Lua: one row for each kind of key.
  for (const char* key : {"my key", "1a", ""})
    EXPECT_EQ(text(dict({{key, num(1)}}), L), std::string("{ [\"") + key + "\"] = 1 }");
  EXPECT_EQ(text(dict({{"_a1", num(1)}}), L), "{ _a1 = 1 }");

  // Numbers print the same in plain, JSON and Lua: doubles as "%.16g", and XML elements.
  const double inf = std::numeric_limits<double>::infinity();
  auto expectNumbers = [](std::initializer_list<std::pair<BaseNumber*, const char*>> rows) {
    for (auto [number, value] : rows) {
      for (int format : {P, J, L}) EXPECT_EQ(text(number, format), value) << format;
      EXPECT_EQ(text(number, X), std::string("<number>") + value + "</number>");
    }
  };
  expectNumbers({{num(42), "42"},
                 {num(-1), "-1"},
                 {num(4000000000u), "4000000000"},
                 {num(2.5), "2.5"},
                 {num(-0.5), "-0.5"}});
  expectNumbers(
      {{num(0x123456789ABCDEF0ll), "1311768467463790320"}, {num(LLONG_MIN), "-9223372036854775808"}});
  expectNumbers(
      {{num(1.0 / 3), "0.3333333333333333"}, {num(1e20), "1e+20"}, {num(-0.0), "-0"}, {num(inf), "inf"}});
  expectNumbers(
      {{new (eRetainAutorelease) BaseNumber(), "nan"}, {num(doubleOfBits(0xFFF8000000000000ull)), "-nan"}});
  for (int format : {P, J, L}) EXPECT_EQ(text(num(true), format) + text(num(false), format), "truefalse");
  EXPECT_EQ(text(num(true), X) + text(num(false), X), "<true /><false />");

  // Decorations come first; the values of a container carry theirs too, and their line feed
  // forces one entry per line. Null and numbers have no entries to count.
  BaseNumber* flag = num(true);
  BaseDate* epoch = date(0.0);
  BaseTypedDictionary<BaseString>* typed = new (eRetainAutorelease) BaseTypedDictionary<BaseString>();
  typed->setCStringForKey("x", "lat");
  auto expectDecorated = [](BaseObject* object, std::initializer_list<std::pair<int, std::string>> rows) {
    for (const auto& [flags, expected] : rows)
      EXPECT_EQ(text(object, flags), expected) << object->getClass() << " " << flags;
  };
  expectDecorated(null, {{J | C | A | N, "null"}, {X | C | A | N, "<BaseNull/>"}});
  expectDecorated(
      num(42),
      {{L | C, "-- BaseNumber \n42"}, {X | C, "<!-- BaseNumber -->\n<number>42</number>"}, {J | N, "42"}});
  expectDecorated(flag, {{C | A | N, addressed("BaseNumber @%p  :\ntrue", flag)}});
  expectDecorated(epoch, {{J | C, "// BaseDate \n0"}, {P | N, "Thu, 01 Jan 1970 00:00:00 GMT"}});
  expectDecorated(epoch, {{X | C | N, "<!-- BaseDate -->\n<date>1970-01-01T00:00:00Z</date>"}});
  expectDecorated(str("x"), {{L | C, "-- BaseString \n\"x\""},
                             {X | C, "<!-- BaseString -->\n<string>x</string>"},
                             {P | N, "\"x\""}});
  expectDecorated(typed, {{L | N, "-- 1 entries \n{ lat = \"x\" }"}});
  expectDecorated(typed, {{J | C, "// BaseDictionary \n{\n  \"lat\" : // BaseString \n  \"x\"\n}"}});
  expectDecorated(arrayOf({str("a")}),
                  {{J | C | N, "// BaseArray 1 entries \n[\n  // BaseString \n  \"a\"\n]"}});
  // "%@" prints the Lua form.
  EXPECT_EQ(text(BaseString::stringWithFormat("%@ %@ %@ %@", null, num(7), flag, epoch)), "nil 7 true 0");
}

TEST_F(TextFormsTest, NestedArraysIndentEachLevel)
{
  BaseArray* inner = texts({"abcdefgh"}, 8);
  std::string expected = "[\n  \"x\",\n  [\n    \"abcdefgh\"";
  for (int i = 1; i < 8; i++) expected += ",\n    \"abcdefgh\"";
  EXPECT_EQ(text(arrayOf({str("x"), inner}), J), expected + "\n  ]\n]");
}

TEST_F(TextFormsTest, CommentsAndDecorationHeaders)
{
  EXPECT_EQ(text(BaseObject::commentString(P, str("x "))), "x  :\n");
  EXPECT_EQ(text(BaseObject::commentString(J, str("x "))), "// x \n");
  EXPECT_EQ(text(BaseObject::commentString(L, str("x "))), "-- x \n");
  EXPECT_EQ(text(BaseObject::commentString(X | C, str("x "))), "<!-- x -->\n");

  BaseArray* array = new (eRetainAutorelease) BaseArray();
  BaseString* body = str("body");
  EXPECT_EQ(array->toStringCommon(J, body, 3), body);
  // Only the count bit, and no count to show: nothing to say.
  EXPECT_EQ(array->toStringCommon(N, body, -1), body);
  EXPECT_EQ(text(array->toStringCommon(N, body, 0)), "0 entries  :\nbody");
  EXPECT_EQ(text(array->toStringCommon(L | C, body, 3)), "-- BaseArray \nbody");
  EXPECT_EQ(text(array->toStringCommon(X | C, body, 3)), "<!-- BaseArray -->\nbody");
  EXPECT_EQ(text(array->toStringCommon(P | C, body, 3)), "BaseArray  :\nbody");
  EXPECT_EQ(text(array->toStringCommon(J | C | A | N, body, 2)),
            addressed("// BaseArray @%p 2 entries \nbody", array));
}

TEST_F(TextFormsTest, ListLayout)
{
  EXPECT_EQ(text(BaseObject::indentateString(str("a\nb\n"))), "a\n  b\n  ");
  EXPECT_EQ(text(BaseObject::indentateString(str("plain"))), "plain");
  EXPECT_EQ(text(BaseObject::indentateString(str(""))), "");

  // Each one-character element counts its separator, a blank and itself: 20 of them make 60.
  std::string oneLine = "[ 7", lines = "[\n  7";
  for (int i = 1; i < 20; i++) oneLine += ", 7";
  for (int i = 1; i < 21; i++) lines += ",\n  7";
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"7"}, 20), "[", "]", ",")), oneLine + " ]");
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"7"}, 21), "[", "]", ",")), lines + "\n]");
  // Multi-line elements force the long layout and indent one level more.
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"a", "{\n  b\n}"}), "{", "}", ",")),
            "{\n  a,\n  {\n    b\n  }\n}");
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"x\ny"}), "<array>", "</array>", "")),
            "<array>\n  x\n  y\n</array>");
  EXPECT_EQ(text(BaseObject::arrayToString(texts({}), "[", "]", ",")), "[  ]");
}

TEST_F(TextFormsTest, TextOutlivesTheBuildersPoolAndBelongsToTheCaller)
{
  BaseArray* list = arrayOf({str("a")});
  unsigned int before = pool.count();
  BaseString* printed = list->toString(J);
  EXPECT_EQ(pool.count(), before + 1);
  EXPECT_EQ(printed->getRetainCount(), 1);
  EXPECT_EQ((new (eRetainAutorelease) BaseObject())->toString(J)->getRetainCount(), 1);
}

}  // namespace
