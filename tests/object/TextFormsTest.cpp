// The shared text-form helpers: decoration comments, the list layout and its switch from
// one line to indented lines, and arrays printed in the four formats.
#include <gtest/gtest.h>

#include <string>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"

namespace {

class TextFormsTest : public ::testing::Test
{
protected:
  BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  BaseTypedArray<BaseString>* texts(std::initializer_list<const char*> items)
  {
    BaseTypedArray<BaseString>* list = new (eRetainAutorelease) BaseTypedArray<BaseString>();
    for (const char* item : items) list->addObject(str(item));
    return list;
  }
  BaseTypedArray<BaseString>* repeated(const char* item, int times)
  {
    BaseTypedArray<BaseString>* list = new (eRetainAutorelease) BaseTypedArray<BaseString>();
    for (int i = 0; i < times; i++) list->addObject(str(item));
    return list;
  }
  static std::string text(BaseString* value) { return value->cString(); }

  BaseAutorelease pool;
};

TEST_F(TextFormsTest, CommentSyntaxPerFormat)
{
  EXPECT_EQ(text(BaseObject::commentString(BaseObject::eToStringPlain, str("x "))), "x  :\n");
  EXPECT_EQ(text(BaseObject::commentString(BaseObject::eToStringJSON, str("x "))), "// x \n");
  EXPECT_EQ(text(BaseObject::commentString(BaseObject::eToStringLua, str("x "))), "-- x \n");
  EXPECT_EQ(text(BaseObject::commentString(BaseObject::eToStringXML | 8, str("x "))), "<!-- x -->\n");
}

TEST_F(TextFormsTest, DecorationNeedsAHeader)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  BaseString* body = str("body");
  EXPECT_EQ(array->toStringCommon(BaseObject::eToStringJSON, body, 3), body);
  // Only the count bit, and no count to show: nothing to say.
  EXPECT_EQ(array->toStringCommon(BaseObject::eToStringEntryCount, body, -1), body);
  EXPECT_EQ(text(array->toStringCommon(BaseObject::eToStringEntryCount, body, 0)), "0 entries  :\nbody");
  EXPECT_EQ(text(array->toStringCommon(BaseObject::eToStringLua | 8, body, 3)), "-- BaseArray \nbody");
  EXPECT_EQ(text(array->toStringCommon(BaseObject::eToStringXML | 8, body, 3)), "<!-- BaseArray -->\nbody");
  EXPECT_EQ(text(array->toStringCommon(BaseObject::eToStringPlain | 8, body, 3)), "BaseArray  :\nbody");

  char expected[64];
  snprintf(expected, sizeof expected, "// BaseArray @%p 2 entries \nbody", (void*)array);
  EXPECT_EQ(text(array->toStringCommon(BaseObject::eToStringJSON | 8 | 16 | 32, body, 2)), expected);
}

TEST_F(TextFormsTest, IndentationFollowsEveryLineFeed)
{
  EXPECT_EQ(text(BaseObject::indentateString(str("a\nb\n"))), "a\n  b\n  ");
  EXPECT_EQ(text(BaseObject::indentateString(str("plain"))), "plain");
  EXPECT_EQ(text(BaseObject::indentateString(str(""))), "");
}

TEST_F(TextFormsTest, ListStaysOnOneLineUpToSixtyCharacters)
{
  // Each one-character element counts its separator, a blank and itself: 20 of them make 60.
  std::string oneLine = "[ 7";
  for (int i = 1; i < 20; i++) oneLine += ", 7";
  oneLine += " ]";
  EXPECT_EQ(text(BaseObject::arrayToString(repeated("7", 20), "[", "]", ",")), oneLine);

  std::string lines = "[\n  7";
  for (int i = 1; i < 21; i++) lines += ",\n  7";
  lines += "\n]";
  EXPECT_EQ(text(BaseObject::arrayToString(repeated("7", 21), "[", "]", ",")), lines);
}

TEST_F(TextFormsTest, MultiLineElementsForceTheLongLayoutAndIndentOneLevelMore)
{
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"a", "{\n  b\n}"}), "{", "}", ",")),
            "{\n  a,\n  {\n    b\n  }\n}");
  EXPECT_EQ(text(BaseObject::arrayToString(texts({"x\ny"}), "<array>", "</array>", "")),
            "<array>\n  x\n  y\n</array>");
  EXPECT_EQ(text(BaseObject::arrayToString(texts({}), "[", "]", ",")), "[  ]");
}

TEST_F(TextFormsTest, ArrayInEachFormat)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  EXPECT_EQ(text(array->toString(BaseObject::eToStringJSON)), "[  ]");
  array->addObject(str("a"));
  array->addObject(str("b"));
  EXPECT_EQ(text(array->toString(BaseObject::eToStringPlain)), "ARRAY ( \"a\", \"b\" )");
  EXPECT_EQ(text(array->toString(BaseObject::eToStringJSON)), "[ \"a\", \"b\" ]");
  EXPECT_EQ(text(array->toString(BaseObject::eToStringLua)), "{ \"a\", \"b\" }");
  EXPECT_EQ(text(array->toString(BaseObject::eToStringXML)), "<array> <string>a</string> <string>b</string> </array>");
}

TEST_F(TextFormsTest, NestedArraysIndentEachLevel)
{
  BaseArray* inner = new (eRetainAutorelease) BaseArray();
  for (int i = 0; i < 8; i++) inner->addObject(str("abcdefgh"));
  BaseArray* outer = new (eRetainAutorelease) BaseArray();
  outer->addObject(str("x"));
  outer->addObject(inner);
  std::string expected = "[\n  \"x\",\n  [\n    \"abcdefgh\"";
  for (int i = 1; i < 8; i++) expected += ",\n    \"abcdefgh\"";
  expected += "\n  ]\n]";
  EXPECT_EQ(text(outer->toString(BaseObject::eToStringJSON)), expected);
}

TEST_F(TextFormsTest, DecoratedArrayBeginsWithItsHeader)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  for (const char* item : {"a", "b", "c"}) array->addObject(str(item));
  std::string printed = text(array->toString(BaseObject::eToStringJSON + 8 + 32));
  EXPECT_EQ(printed.substr(0, printed.find('\n') + 1), "// BaseArray 3 entries \n");
}

TEST_F(TextFormsTest, TextOutlivesTheBuildersPoolAndBelongsToTheCaller)
{
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  array->addObject(str("a"));
  unsigned int before = pool.count();
  BaseString* printed = array->toString(BaseObject::eToStringJSON);
  EXPECT_EQ(pool.count(), before + 1);
  EXPECT_EQ(printed->getRetainCount(), 1);
}

}  // namespace
