// The formatting engine: the standard conversions as tables against the platform's
// snprintf, arguments read with their real widths, the texts "%s", "%S" and "%@", "%t" and
// "%P", the entry points, and malformed formats.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <thread>

#include "support/CountedObject.h"
#include "support/ValueTest.h"

namespace {

// What the platform's own formatter makes of one value; the reference for the tables.
template <typename T>
std::string platform(const char* format, T value)
{
  char buffer[1024];
  int written = snprintf(buffer, sizeof buffer, format, value);
  return written < 0 ? std::string("<error>") : std::string(buffer, static_cast<size_t>(written));
}

class BaseStringFormatTest : public ValueTest
{
protected:
  // Goes through stringWithFormatv, so every row also exercises the va_list entry point.
  static std::string format(const char* directive, ...)
  {
    va_list arguments;
    va_start(arguments, directive);
    BaseString* result = BaseString::stringWithFormatv(directive, arguments);
    va_end(arguments);
    return text(result);
  }
  // Every format of `formats` against every value, compared with snprintf.
  template <typename T>
  static void checkTable(const std::vector<const char*>& formats, const std::vector<T>& values)
  {
    for (const char* directive : formats)
      for (T value : values)
        EXPECT_EQ(format(directive, value), platform(directive, value)) << "format " << directive;
  }
};

TEST_F(BaseStringFormatTest, StandardConversionsAgreeWithThePlatform)
{
  checkTable<int>({"%d", "%-07d|", "%07d", "%+d", "% 08.4d", "%.0d", "%hd", "%hhd"}, {0, -42, INT_MIN, INT_MAX});
  checkTable<unsigned int>({"%+u", "% u", "%#.0o", "%#010x", "%X", "%08x", "%hhx"}, {0u, 255u, UINT_MAX});
  checkTable<long long>({"%lld", "%.20lld"}, {LLONG_MIN, LLONG_MAX});
  checkTable<unsigned long long>({"%llx"}, {ULLONG_MAX});
  checkTable<double>({"%f", "%e", "%G", "%.0f", "%#.0f", "%10.3f", "%-9.2f|", "%+.2e", "% .3g"},
                     {0.0, -0.0, -1.5, 0.125, 2.675, 1e-10, 123456789.987654321, 1e300, HUGE_VAL, NAN});
  // The widest pieces stay within the buffer: a two-digit precision allows 410 bytes.
  EXPECT_EQ(format("%.99f", -DBL_MAX).size(), 410u);
  checkTable<int>({"%-5c|"}, {'a', 0});
  int local = 0;
  checkTable<void*>({"%20p"}, {nullptr, &local});
  // Short texts; "%S" follows the same rule with a BaseString.
  const std::vector<const char*> formats{"%s", "%-10s|", "%.2s", "%10.3s"};
  checkTable<const char*>(formats, {"", "hello world"});
  for (const char* directive : formats) {
    std::string asObject(directive);
    asObject.replace(asObject.find('s'), 1, "S");
    EXPECT_EQ(format(asObject.c_str(), str("hello world")), platform(directive, "hello world")) << asObject;
  }
}

TEST_F(BaseStringFormatTest, LiteralTextAndAppending)
{
  EXPECT_EQ(format("%%%d%%", 5), "%5%");
  // Output longer than one piece accumulates.
  EXPECT_EQ(format("%99d%99d%99d", 0, 1, 2), platform("%99d", 0) + platform("%99d", 1) + platform("%99d", 2));
}

TEST_F(BaseStringFormatTest, EveryArgumentIsReadWithItsRealWidth)
{
  int marker = 0;
  EXPECT_EQ(format("%lld|%d|%ld|%s|%.2f|%p|%c|%t|%S|%c|%llx", LLONG_MIN, -7, LONG_MAX, "text", 2.5,
                   (void*)&marker, 'Q', -1, str("ab"), 'x', ULLONG_MAX),
            "-9223372036854775808|-7|" + platform("%ld", LONG_MAX) + "|text|2.50|" +
                platform("%p", (void*)&marker) + "|Q|-1|ab|x|" + platform("%llx", ULLONG_MAX));
  // "L" is 64 bits; "hl" weighs 0 (an int, not narrowed), "hll" 1 (a long).
  EXPECT_EQ(format("%Ld|%Lx|%hld|%hlld|%lu", LLONG_MIN, ULLONG_MAX, 70000, LONG_MIN, ULONG_MAX),
            "-9223372036854775808|ffffffffffffffff|70000|" + platform("%ld", LONG_MIN) + "|" +
                platform("%lu", ULONG_MAX));
  // Floating conversions read a double whatever the modifier; flags C leaves undefined are dropped.
  EXPECT_EQ(format("%Lf|%lc|%ls|%hS|%d", 1.5, 'a', "b", str("c"), 5), "1.500000|a|b|c|5");
  EXPECT_EQ(format("%#d|%05s|%.3c|", 5, "ab", 'x'), "5|   ab|x|");
}

TEST_F(BaseStringFormatTest, TextsShareTheStringRule)
{
  EXPECT_EQ(format("%5S|%-5@|", str("ab"), str("")), "   ab|\"\"   |");
  // A long text is appended whole unless a precision cuts.
  const std::string z(150, 'z');
  EXPECT_EQ(format("%-99s|%99S|%.3s", z.c_str(), str(z.c_str()), z.c_str()), z + "|" + z + "|zzz");
  // Null texts and objects print "(null)".
  EXPECT_EQ(format("%s|%S|%@", (const char*)nullptr, (BaseString*)nullptr, (BaseObject*)nullptr),
            "(null)|(null)|(null)");
  // An object prints its Lua form, leaving nothing in the caller's pool.
  EXPECT_EQ(format("%@", str("tab\there\x01")), "\"tab\\there\\001\"");
  BaseString* value = str("value");
  BaseString* receiver = str("");
  unsigned int before = pool.count();
  receiver->appendFormat("%@", value);
  EXPECT_EQ(pool.count(), before);
  EXPECT_EQ(text(receiver), "\"value\"");
  // The receiver may be its own argument.
  BaseString* self = str("ab");
  self->appendFormat("%S-", self);
  EXPECT_EQ(text(self), "abab-");
}

TEST_F(BaseStringFormatTest, ObjectTextWorksOnAThreadWithoutAPool)
{
  // No pool is open on the worker: the engine's own pool takes the text form, so nothing
  // leaks (the leak checker of the sanitizer build would report it).
  CountedObject* object = new (eRetainAutorelease) CountedObject();
  std::string result;
  std::thread worker([&] {
    EXPECT_EQ(BaseAutorelease::currentArForThread(), nullptr);
    BaseString* receiver = new BaseString();
    receiver->appendFormat("<%@>", object);
    result = text(receiver);
    receiver->release();
  });
  worker.join();
  EXPECT_EQ(result, "<" + text(object, BaseObject::eToStringLua) + ">");
}

TEST_F(BaseStringFormatTest, TimePathComponentAndEntryPoints)
{
  // "%t" reads an int and ignores flags, width and precision.
  EXPECT_EQ(format("%t|% #20.10t|%d", INT_MIN, -1, 5), "-2147483648|-1|5");
  // "%P" joins a path component to what was formatted so far.
  EXPECT_EQ(format("/dir%P.%s", str("name"), "txt"), "/dir/name.txt");
  BaseString* replaced = str("abc");
  replaced->setFormat("%S/%S", replaced, replaced);
  EXPECT_EQ(text(replaced), "abc/abc");
  BaseString* kept;
  {
    BaseAutorelease inner;
    kept = BaseString::stringWithFormat("%d-%s", 12, "x");
    EXPECT_EQ(text(kept), "12-x");
    EXPECT_NE(inner.indexOfObjectIdenticalTo(kept), BaseArray::NOT_FOUND);
  }
}

TEST_F(BaseStringFormatTest, MalformedFormatsStop)
{
  EXPECT_DEATH(BaseString::stringWithFormat("%-+ #0-5d", 1), "\\(size_t\\)\\(p - strfrmt\\) < sizeof\\(FLAGS\\)");
  // Three digits of width or precision.
  EXPECT_DEATH(BaseString::stringWithFormat("%5.100f", 1.0), "!isdigit\\(U8\\(\\*p\\)\\)");
  for (const char* directive : {"%F", "%n", "abc%", "%ll"})
    EXPECT_DEATH(BaseString::stringWithFormat(directive, 1.0), "Assertion failed: 0, ") << "format " << directive;
}

}  // namespace
