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
      {date(1330837567.25), "Sun, 04 Mar 2012 05:06:07 GMT", "1330837567.25", "1330837567.25",
       "<date>2012-03-04T05:06:07Z</date>"},
      // Strings are escaped in JSON and Lua only.
      {str("say \"hi\"\n"), "\"say \"hi\"\n\"", "\"say \\\"hi\\\"\\n\"", "\"say \\\"hi\\\"\\n\"",
       "<string>say \"hi\"\n</string>"},
      {bytes(std::string("\x00\x08\x09\x0B\x0D\x1F", 6)), "", "\"\\u0000\\b\\t\\u000B\\r\\u001F\"",
       "\"\\000\\b\\t\\011\\r\\031\"", ""},
      // Dictionaries: keys that are no identifiers are quoted in Lua.
      {dict({{"lat", num(1)}}), "DICTIONARY ( lat -> 1 )", "{ \"lat\" : 1 }", "{ lat = 1 }",
       "<dict> lat  <number>1</number> </dict>"},
      {dict({{"q\"\n", num(1)}}), "", "{ \"q\\\"\\n\" : 1 }", "{ [\"q\\\"\\n\"] = 1 }", ""},
      {arrayOf({null, num(2)}), "ARRAY ( NULL, 2 )", "[ null, 2 ]", "{ nil, 2 }",
       "<array> <BaseNull/> <number>2</number> </array>"},
      // Any other object names its class and address.
      {root, "\"" + unknown + "\"", "\"" + unknown + "\"", "\"" + unknown + "\"",
       "<string>" + unknown + "</string>"},
  };
  const int formats[] = {P, J, L, X};
  for (const auto& [object, plain, json, lua, xml] : forms) {
    const std::string* expected[] = {&plain, &json, &lua, &xml};
    for (int i = 0; i < 4; i++) {
      if (!expected[i]->empty())
        EXPECT_EQ(text(object, formats[i]), *expected[i]) << object->getClass() << " format " << i;
    }
  }

  // Numbers print the same in plain, JSON and Lua: doubles as "%.16g", and XML elements.
  for (auto [number, value] : {std::pair<BaseNumber*, const char*>{num(-1), "-1"}, {num(4000000000u), "4000000000"},
                               {num(LLONG_MIN), "-9223372036854775808"}, {num(1.0 / 3), "0.3333333333333333"},
                               {new (eRetainAutorelease) BaseNumber(), "nan"}}) {
    EXPECT_EQ(text(number, J), value);
    EXPECT_EQ(text(number, X), std::string("<number>") + value + "</number>");
  }
  EXPECT_EQ(text(num(true), X) + text(num(false), L), "<true />false");

  // Decorations come first; the values of a container carry theirs too.
  BaseNumber* flag = num(true);
  EXPECT_EQ(text(flag, C | A | N), addressed("BaseNumber @%p  :\ntrue", flag));
  EXPECT_EQ(text(flag, J | N), "true");  // no count to give: no comment
  EXPECT_EQ(text(arrayOf({str("a")}), J | C | N), "// BaseArray 1 entries \n[\n  // BaseString \n  \"a\"\n]");
}

TEST_F(TextFormsTest, ListLayout)
{
  EXPECT_EQ(text(BaseObject::indentateString(str("a\nb\n"))), "a\n  b\n  ");
  // Each one-character element counts its separator, a blank and itself: 20 of them make 60.
  std::string oneLine = "[ 7", lines = "[\n  7";
  for (int i = 1; i < 20; i++) oneLine += ", 7";
  for (int i = 1; i < 21; i++) lines += ",\n  7";
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"7"}, 20), "[", "]", ",")), oneLine + " ]");
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"7"}, 21), "[", "]", ",")), lines + "\n]");
  // Multi-line elements force the long layout and indent one level more.
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"a", "{\n  b\n}"}), "{", "}", ",")),
            "{\n  a,\n  {\n    b\n  }\n}");
  EXPECT_EQ(text(BaseObject::commentString(L, str("x "))), "-- x \n");
}

}  // namespace
