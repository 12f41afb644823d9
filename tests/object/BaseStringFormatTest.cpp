#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CountedObject.h"

namespace {

// What the platform's own formatter makes of one value; the reference for the tables.
template <typename T>
std::string platform(const char* format, T value)
{
  char buffer[1024];
  int written = snprintf(buffer, sizeof buffer, format, value);
  return written < 0 ? std::string("<error>") : std::string(buffer, static_cast<size_t>(written));
}

std::string bytes(BaseString* text)
{
  return std::string(text->cString(), text->length());
}

class BaseStringFormatTest : public ::testing::Test
{
protected:
  // Goes through stringWithFormatv, so every row also exercises the va_list entry point.
  static std::string format(const char* directive, ...)
  {
    va_list arguments;
    va_start(arguments, directive);
    BaseString* text = BaseString::stringWithFormatv(directive, arguments);
    va_end(arguments);
    return bytes(text);
  }
  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }

  // Every format of `formats` against every value, compared with snprintf.
  template <typename T>
  static void checkTable(const std::vector<const char*>& formats, const std::vector<T>& values)
  {
    for (const char* directive : formats)
      for (T value : values)
        EXPECT_EQ(format(directive, value), platform(directive, value)) << "format " << directive;
  }

  BaseAutorelease pool;
};

// ---------------------------------------------------------------------------------------
// The standard conversions agree with the platform's snprintf.

using BaseStringFormatPlatformTest = BaseStringFormatTest;

TEST_F(BaseStringFormatPlatformTest, SignedInt)
{
  checkTable<int>(
      {"%d",    "%i",  "%7d",  "%-7d|", "%07d",      "%+d",     "% d", "%.4d", "%9.4d", "%-+9.4d|",
       "%+07d", "%.d", "%.0d", "%99d",  "%-99.98i|", "%+-+5d|", "%hd", "%hhd", "%hi",   "%-08d|"},
      {0, 1, -1, 42, -42, -129, 70000, INT_MIN, INT_MAX});
}

TEST_F(BaseStringFormatPlatformTest, UnsignedInt)
{
  checkTable<unsigned int>({"%u", "%o", "%#o", "%x", "%#x", "%X", "%#X", "%08x", "%-8X|", "%.3u", "%#10.6x",
                            "%#.0o", "%+u", "%hu", "%hhx", "%hX", "%99o"},
                           {0u, 1u, 255u, 70000u, 0x7fffffffu, 0x80000000u, UINT_MAX});
}

TEST_F(BaseStringFormatPlatformTest, LongIsReadAsLong)
{
  checkTable<long>({"%ld", "%li", "%+ld", "%25ld", "%-25ld|", "%.20ld", "%021ld"},
                   {0L, -1L, 4294967296L, LONG_MIN, LONG_MAX});
  checkTable<unsigned long>({"%lu", "%lx", "%#lo", "%lX", "%#22lx"}, {0UL, 4294967296UL, ULONG_MAX});
}

TEST_F(BaseStringFormatPlatformTest, LongLong)
{
  checkTable<long long>({"%lld", "%lli", "%+lld", "%25lld", "%-25lld|", "%.20lld"},
                        {0LL, -1LL, 1LL << 40, LLONG_MIN, LLONG_MAX});
  checkTable<unsigned long long>({"%llu", "%llx", "%#llo", "%llX"}, {0ULL, 1ULL << 40, ULLONG_MAX});
}

TEST_F(BaseStringFormatPlatformTest, Double)
{
  checkTable<double>({"%f", "%e", "%E", "%g", "%G", "%.0f", "%.f", "%#.0f", "%10.3f", "%-10.3f|", "%+.2e",
                      "% .3g", "%#g", "%010.4f", "%.15g", "%40.20e", "%-+12.4G|", "%#.0e"},
                     {0.0, -0.0, 1.0, -1.5, 3.14159, 1e-10, 123456789.125, 1e300, -DBL_MAX, DBL_MIN, HUGE_VAL,
                      -HUGE_VAL, NAN});
}

TEST_F(BaseStringFormatPlatformTest, WidestPiecesStayWithinTheBuffer)
{
  // The longest fixed-point text a two-digit precision allows: 410 bytes.
  checkTable<double>({"%99.99f", "%-99.99f|", "%+.99f", "%99.99e"}, {-DBL_MAX, DBL_MAX, 1.0 / 3});
  EXPECT_EQ(format("%.99f", -DBL_MAX).size(), 410u);
}

TEST_F(BaseStringFormatPlatformTest, Character)
{
  checkTable<int>({"%c", "%5c", "%-5c|", "x%cy"}, {'a', 'Z', ' ', '~', 0});
}

TEST_F(BaseStringFormatPlatformTest, Pointer)
{
  int local = 0;
  checkTable<void*>({"%p", "%20p", "%-20p|", "%+p"},
                    {nullptr, &local, reinterpret_cast<void*>(1), reinterpret_cast<void*>(UINTPTR_MAX)});
}

TEST_F(BaseStringFormatPlatformTest, ShortTexts)
{
  const std::string longest(99, 'x');
  const std::vector<const char*> formats{"%s",       "%10s", "%-10s|", "%.2s", "%10.3s",
                                         "%-10.3s|", "%.0s", "%.s",    "%99s", "%.99s"};
  checkTable<const char*>(formats, {"", "ab", "hello world", longest.c_str()});
  // "%S" follows the same rule with a BaseString.
  for (const char* directive : formats) {
    std::string asObject(directive);
    asObject.replace(asObject.find('s'), 1, "S");
    for (const char* text : {"", "ab", "hello world", longest.c_str()})
      EXPECT_EQ(format(asObject.c_str(), str(text)), platform(directive, text)) << "format " << asObject;
  }
}

// ---------------------------------------------------------------------------------------
// Literal text and "%%".

using BaseStringFormatLiteralTest = BaseStringFormatTest;

TEST_F(BaseStringFormatLiteralTest, PercentPercentIsOnePercent)
{
  EXPECT_EQ(format("100%% sure"), "100% sure");
  EXPECT_EQ(format("%%%d%%", 5), "%5%");
  EXPECT_EQ(format("%%"), "%");
  EXPECT_EQ(format(""), "");
}

TEST_F(BaseStringFormatLiteralTest, AppendKeepsTheExistingContent)
{
  BaseString* text = str("head:");
  text->appendFormat(" %d-%s ", 7, "x");
  text->appendFormat("tail");
  EXPECT_EQ(bytes(text), "head: 7-x tail");
}

TEST_F(BaseStringFormatLiteralTest, OutputLongerThanOnePieceAccumulates)
{
  std::string expected;
  for (int i = 0; i < 10; i++) expected += platform("%99d", i);
  EXPECT_EQ(format("%99d%99d%99d%99d%99d%99d%99d%99d%99d%99d", 0, 1, 2, 3, 4, 5, 6, 7, 8, 9), expected);
}

TEST_F(BaseStringFormatLiteralTest, FloatingWithZeroPadding)
{
  EXPECT_EQ(format("%05.2f", 3.14159), "03.14");
}

// ---------------------------------------------------------------------------------------
// Every argument is read with its real width, so a mixed list stays in step.

using BaseStringFormatArgumentWidthTest = BaseStringFormatTest;

TEST_F(BaseStringFormatArgumentWidthTest, MixedListStaysInStep)
{
  int marker = 0;
  std::string expected = "-9223372036854775808|-7|" + platform("%ld", LONG_MAX) + "|text|2.50|" +
                         platform("%p", static_cast<void*>(&marker)) + "|Q|-1|ab|x|" +
                         platform("%llx", ULLONG_MAX);
  EXPECT_EQ(format("%lld|%d|%ld|%s|%.2f|%p|%c|%t|%S|%c|%llx", LLONG_MIN, -7, LONG_MAX, "text", 2.5,
                   static_cast<void*>(&marker), 'Q', -1, str("ab"), 'x', ULLONG_MAX),
            expected);
}

TEST_F(BaseStringFormatArgumentWidthTest, CapitalLIsSixtyFourBit)
{
  EXPECT_EQ(format("%Ld|%d", LLONG_MIN, 3), "-9223372036854775808|3");
  EXPECT_EQ(format("%Lx|%d", ULLONG_MAX, 3), "ffffffffffffffff|3");
  EXPECT_EQ(format("%lld|%d", LLONG_MAX, 4), "9223372036854775807|4");
}

TEST_F(BaseStringFormatArgumentWidthTest, ModifierWeightsAddUp)
{
  // "hl" and "lh" weigh 0: an int, formatted without narrowing.
  EXPECT_EQ(format("%hld|%d", 70000, 1), "70000|1");
  EXPECT_EQ(format("%lhd|%d", -70000, 2), "-70000|2");
  // "hll" weighs 1: a long.
  EXPECT_EQ(format("%hlld|%d", LONG_MIN, 3), platform("%ld", LONG_MIN) + "|3");
  // "%" weighs 0 inside a conversion.
  EXPECT_EQ(format("%5%d|%d", 7, 4), "    7|4");
  // "hh" still narrows as in C.
  EXPECT_EQ(format("%hhu|%hx", 257, 0x12345), "1|2345");
}

TEST_F(BaseStringFormatArgumentWidthTest, FloatingConversionsReadDoubleWhateverTheModifier)
{
  EXPECT_EQ(format("%Lf|%d", 1.5, 9), "1.500000|9");
  EXPECT_EQ(format("%lf|%hg|%d", 0.25, 2.0, 8), "0.250000|2|8");
}

TEST_F(BaseStringFormatArgumentWidthTest, CharacterAndTextIgnoreModifiers)
{
  EXPECT_EQ(format("%lc|%ls|%hS|%d", 'a', "b", str("c"), 5), "a|b|c|5");
}

// Flags and precisions the C library leaves undefined for a conversion are not passed on.
TEST_F(BaseStringFormatArgumentWidthTest, UndefinedFlagCombinationsAreDropped)
{
  int local = 0;
  void* pointer = &local;
  EXPECT_EQ(format("%#d|%#u", 5, 6u), "5|6");
  EXPECT_EQ(format("%05s|", "ab"), "   ab|");
  EXPECT_EQ(format("%.3c|%#c|%05c|", 'x', 'y', 'z'), "x|y|    z|");
  EXPECT_EQ(format("%#08.3p", pointer), platform("%8p", pointer));
}

// ---------------------------------------------------------------------------------------
// Texts: "%s", "%S" and "%@" share the string rule.

using BaseStringFormatTextTest = BaseStringFormatTest;

TEST_F(BaseStringFormatTextTest, WidthPadsShortTexts)
{
  EXPECT_EQ(format("%5S", str("ab")), "   ab");
  EXPECT_EQ(format("%-5s", "ab"), "ab   ");
  EXPECT_EQ(format("%-5@|", str("")), "\"\"   |");
}

TEST_F(BaseStringFormatTextTest, LongTextIsAppendedWholeUnlessAPrecisionCuts)
{
  const std::string text(150, 'z');
  EXPECT_EQ(format("%-99s|", text.c_str()), text + "|");
  EXPECT_EQ(format("%99S|", str(text.c_str())), text + "|");
  EXPECT_EQ(format("%.3s", text.c_str()), "zzz");
  EXPECT_EQ(format("%.99S", str(text.c_str())), text.substr(0, 99));
  // 100 bytes is already long; 99 still goes through the width.
  EXPECT_EQ(format("%-99s|", std::string(100, 'y').c_str()), std::string(100, 'y') + "|");
  EXPECT_EQ(format("%2s|", std::string(99, 'y').c_str()), std::string(99, 'y') + "|");
}

TEST_F(BaseStringFormatTextTest, TextEndsAtItsFirstNul)
{
  BaseString* withNul = new (eRetainAutorelease) BaseString("ab\0cd", 5);
  ASSERT_EQ(withNul->length(), 5u);
  EXPECT_EQ(format("[%S]", withNul), "[ab]");
}

TEST_F(BaseStringFormatTextTest, NullTextsAndObjectsPrintNull)
{
  EXPECT_EQ(format("%s|%S|%@", static_cast<const char*>(nullptr), static_cast<BaseString*>(nullptr),
                   static_cast<BaseObject*>(nullptr)),
            "(null)|(null)|(null)");
  EXPECT_EQ(format("%-10s|%.2S", static_cast<const char*>(nullptr), static_cast<BaseString*>(nullptr)),
            "(null)|(null)");
}

TEST_F(BaseStringFormatTextTest, ObjectPrintsItsLuaForm)
{
  EXPECT_EQ(format("%@", str("a\"b")), "\"a\\\"b\"");
  EXPECT_EQ(format("%@", str("tab\there\x01")), "\"tab\\there\\001\"");
  CountedObject* object = new (eRetainAutorelease) CountedObject();
  EXPECT_EQ(format("%@", object), bytes(object->toString(BaseObject::eToStringLua)));
}

TEST_F(BaseStringFormatTextTest, ObjectTextLeavesNothingInTheCallersPool)
{
  BaseString* text = str("value");
  BaseString* receiver = str("");
  unsigned int before = pool.count();
  receiver->appendFormat("%@ %@", text, text);
  EXPECT_EQ(pool.count(), before);
  EXPECT_EQ(text->getRetainCount(), 1);
  EXPECT_EQ(bytes(receiver), "\"value\" \"value\"");
}

TEST_F(BaseStringFormatTextTest, ObjectTextWorksOnAThreadWithoutAPool)
{
  // No pool is open on the worker: the engine's own pool takes the text form, so
  // nothing leaks (the leak checker of the sanitizer build would report it).
  CountedObject* object = new (eRetainAutorelease) CountedObject();
  std::string result;
  std::thread worker([&] {
    EXPECT_EQ(BaseAutorelease::currentArForThread(), nullptr);
    BaseString* receiver = new BaseString();
    receiver->appendFormat("<%@>", object);
    result = bytes(receiver);
    receiver->release();
  });
  worker.join();
  EXPECT_EQ(result, "<" + bytes(object->toString(BaseObject::eToStringLua)) + ">");
}

TEST_F(BaseStringFormatTextTest, ReceiverMayBeItsOwnArgument)
{
  BaseString* text = str("ab");
  text->appendFormat("%S-", text);
  EXPECT_EQ(bytes(text), "abab-");
  const std::string longText(120, 'q');
  BaseString* longer = str(longText.c_str());
  longer->appendFormat("%S", longer);
  EXPECT_EQ(bytes(longer), longText + longText);
}

// ---------------------------------------------------------------------------------------
// "%t" and "%P".

using BaseStringFormatSpecialTest = BaseStringFormatTest;

TEST_F(BaseStringFormatSpecialTest, TimeIgnoresFlagsWidthAndPrecision)
{
  for (const char* directive : {"%t", "%+t", "%08t", "%-5t", "%.3t", "% #20.10t", "%lt", "%llt"})
    EXPECT_EQ(format(directive, -1), "-1") << "format " << directive;
  EXPECT_EQ(format("%t|%t", INT_MIN, INT_MAX), "-2147483648|2147483647");
  // An int is read, not a 64-bit value.
  EXPECT_EQ(format("%t|%d", 1700000000, 5), "1700000000|5");
}

TEST_F(BaseStringFormatSpecialTest, PathComponentJoinsWhatWasFormattedSoFar)
{
  BaseString* path = str("/a");
  path->appendFormat("%P", str("b"));
  EXPECT_EQ(bytes(path), "/a/b");
  EXPECT_EQ(format("/dir%P.%s", str("name"), "txt"), "/dir/name.txt");
  EXPECT_EQ(format("/x/%P", str("/a")), "/x/a");
  EXPECT_EQ(format("%P", str("a")), "/a");
  EXPECT_EQ(format("/a%-20.5P|", str("b")), "/a/b|");
}

// ---------------------------------------------------------------------------------------
// setFormat and stringWithFormat.

using BaseStringFormatEntryPointTest = BaseStringFormatTest;

TEST_F(BaseStringFormatEntryPointTest, SetFormatReplacesTheContent)
{
  BaseString* text = str("old content");
  text->setFormat("new %d", 1);
  EXPECT_EQ(bytes(text), "new 1");
  text->setFormat("");
  EXPECT_EQ(bytes(text), "");
}

TEST_F(BaseStringFormatEntryPointTest, SetFormatMayUseTheReceiverItself)
{
  BaseString* text = str("abc");
  text->setFormat("%S/%S", text, text);
  EXPECT_EQ(bytes(text), "abc/abc");
  text->setFormat("%P", str("d"));
  EXPECT_EQ(bytes(text), "/d");
}

TEST_F(BaseStringFormatEntryPointTest, StringWithFormatBelongsToTheInnermostPool)
{
  BaseString* kept;
  {
    BaseAutorelease inner;
    kept = BaseString::stringWithFormat("%d-%s", 12, "x");
    EXPECT_EQ(bytes(kept), "12-x");
    EXPECT_EQ(kept->getRetainCount(), 1);
    EXPECT_NE(inner.indexOfObjectIdenticalTo(kept), BaseArray::NOT_FOUND);
    EXPECT_EQ(pool.indexOfObjectIdenticalTo(kept), BaseArray::NOT_FOUND);
    kept->retain();
  }
  // Closing the inner pool gave back exactly its one reference.
  EXPECT_EQ(kept->getRetainCount(), 1);
  kept->release();
}

TEST_F(BaseStringFormatEntryPointTest, ThreadsFormatIntoTheirOwnStrings)
{
  std::vector<std::string> results(4);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; t++)
    workers.emplace_back([t, &results] {
      BaseAutorelease threadPool;
      BaseString* text = new (eRetainAutorelease) BaseString();
      for (int i = 0; i < 200; i++)
        text->setFormat("%d:%@:%5.1f:%s", t, BaseString::stringWithFormat("%d", i), 0.5, "z");
      results[t] = bytes(text);
    });
  for (std::thread& worker : workers) worker.join();
  for (int t = 0; t < 4; t++) EXPECT_EQ(results[t], std::to_string(t) + ":\"199\":  0.5:z");
}

// ---------------------------------------------------------------------------------------
// Malformed formats are programming errors.

class BaseStringFormatDeathTest : public ::testing::Test
{
protected:
  BaseAutorelease pool;
};

TEST_F(BaseStringFormatDeathTest, TooManyFlagsStop)
{
  EXPECT_EQ(bytes(BaseString::stringWithFormat("%-+ #05d|", 1)), platform("%-+ #05d|", 1));
  EXPECT_DEATH(BaseString::stringWithFormat("%-+ #0-5d", 1),
               "\\(size_t\\)\\(p - strfrmt\\) < sizeof\\(FLAGS\\)");
  EXPECT_DEATH(BaseString::stringWithFormat("%------s", "x"),
               "\\(size_t\\)\\(p - strfrmt\\) < sizeof\\(FLAGS\\)");
}

TEST_F(BaseStringFormatDeathTest, ThreeDigitWidthOrPrecisionStops)
{
  EXPECT_DEATH(BaseString::stringWithFormat("%100d", 1), "!isdigit\\(U8\\(\\*p\\)\\)");
  // Even where the string rule would ignore the width, it has two digits at most.
  EXPECT_DEATH(BaseString::stringWithFormat("%-120s", std::string(150, 'z').c_str()),
               "!isdigit\\(U8\\(\\*p\\)\\)");
  EXPECT_DEATH(BaseString::stringWithFormat("%5.100f", 1.0), "!isdigit\\(U8\\(\\*p\\)\\)");
  EXPECT_DEATH(BaseString::stringWithFormat("%.123s", "x"), "!isdigit\\(U8\\(\\*p\\)\\)");
}

TEST_F(BaseStringFormatDeathTest, UnsupportedConversionStops)
{
  for (const char* directive : {"%F", "%a", "%A", "%n", "%q", "%5", "abc%", "%-", "%ll", "%.", "%1.2"})
    EXPECT_DEATH(BaseString::stringWithFormat(directive, 1.0), "Assertion failed: 0, ")
        << "format " << directive;
}

TEST_F(BaseStringFormatDeathTest, NullPathComponentStops)
{
  EXPECT_DEATH(BaseString::stringWithFormat("/a%P", static_cast<BaseString*>(nullptr)), "component!=NULL");
}

}  // namespace
