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
  checkTable<int>(
      {"%d",    "%i",  "%7d",  "%-7d|", "%07d",      "%+d",     "% d", "%.4d", "%9.4d", "%-+9.4d|",
       "%+07d", "%.d", "%.0d", "%99d",  "%-99.98i|", "%+-+5d|", "%hd", "%hhd", "%hi",   "%-08d|"},
      {0, 1, -1, 42, -42, -129, 70000, INT_MIN, INT_MAX});
  checkTable<unsigned int>({"%u", "%o", "%#o", "%x", "%#x", "%X", "%#X", "%08x", "%-8X|", "%.3u", "%#10.6x",
                            "%#.0o", "%+u", "%hu", "%hhx", "%hX", "%99o"},
                           {0u, 1u, 255u, 70000u, 0x7fffffffu, 0x80000000u, UINT_MAX});
  checkTable<long>({"%ld", "%li", "%+ld", "%25ld", "%-25ld|", "%.20ld", "%021ld"},
                   {0L, -1L, 4294967296L, LONG_MIN, LONG_MAX});
  checkTable<unsigned long>({"%lu", "%lx", "%#lo", "%lX", "%#22lx"}, {0UL, 4294967296UL, ULONG_MAX});
  checkTable<long long>({"%lld", "%lli", "%+lld", "%25lld", "%-25lld|", "%.20lld"},
                        {0LL, -1LL, 1LL << 40, LLONG_MIN, LLONG_MAX});
  checkTable<unsigned long long>({"%llu", "%llx", "%#llo", "%llX"}, {0ULL, 1ULL << 40, ULLONG_MAX});
  checkTable<double>({"%f", "%e", "%E", "%g", "%G", "%.0f", "%.f", "%#.0f", "%10.3f", "%-10.3f|", "%+.2e",
                      "% .3g", "%#g", "%010.4f", "%05.2f", "%.15g", "%40.20e", "%-+12.4G|", "%#.0e"},
                     {0.0, -0.0, 1.0, -1.5, 3.14159, 1e-10, 123456789.125, 1e300, -DBL_MAX, DBL_MIN, HUGE_VAL,
                      -HUGE_VAL, NAN});
  // The widest pieces stay within the buffer: a two-digit precision allows 410 bytes.
  checkTable<double>({"%99.99f", "%-99.99f|", "%+.99f", "%99.99e"}, {-DBL_MAX, DBL_MAX, 1.0 / 3});
  EXPECT_EQ(format("%.99f", -DBL_MAX).size(), 410u);
  checkTable<int>({"%c", "%5c", "%-5c|", "x%cy"}, {'a', 'Z', ' ', '~', 0});
  int local = 0;
  checkTable<void*>({"%p", "%20p", "%-20p|", "%+p"}, {nullptr, &local, (void*)1, (void*)UINTPTR_MAX});
  // Short texts; "%S" follows the same rule with a BaseString.
  const std::string longest(99, 'x');
  const std::vector<const char*> formats{"%s",       "%10s", "%-10s|", "%.2s", "%10.3s",
                                         "%-10.3s|", "%.0s", "%.s",    "%99s", "%.99s"};
  checkTable<const char*>(formats, {"", "ab", "hello world", longest.c_str()});
  for (const char* directive : formats) {
    std::string asObject(directive);
    asObject.replace(asObject.find('s'), 1, "S");
    for (const char* value : {"", "ab", "hello world", longest.c_str()})
      EXPECT_EQ(format(asObject.c_str(), str(value)), platform(directive, value)) << "format " << asObject;
  }
}

TEST_F(BaseStringFormatTest, LiteralTextAndAppending)
{
  EXPECT_EQ(format("100%% sure"), "100% sure");
  EXPECT_EQ(format("%%%d%%", 5), "%5%");
  EXPECT_EQ(format("%%"), "%");
  EXPECT_EQ(format(""), "");
  BaseString* appended = str("head:");
  appended->appendFormat(" %d-%s ", 7, "x");
  appended->appendFormat("tail");
  EXPECT_EQ(text(appended), "head: 7-x tail");
  // Output longer than one piece accumulates.
  std::string expected;
  for (int i = 0; i < 10; i++) expected += platform("%99d", i);
  EXPECT_EQ(format("%99d%99d%99d%99d%99d%99d%99d%99d%99d%99d", 0, 1, 2, 3, 4, 5, 6, 7, 8, 9), expected);
}

TEST_F(BaseStringFormatTest, EveryArgumentIsReadWithItsRealWidth)
{
  int marker = 0;
  EXPECT_EQ(format("%lld|%d|%ld|%s|%.2f|%p|%c|%t|%S|%c|%llx", LLONG_MIN, -7, LONG_MAX, "text", 2.5,
                   (void*)&marker, 'Q', -1, str("ab"), 'x', ULLONG_MAX),
            "-9223372036854775808|-7|" + platform("%ld", LONG_MAX) + "|text|2.50|" +
                platform("%p", (void*)&marker) + "|Q|-1|ab|x|" + platform("%llx", ULLONG_MAX));
  // "L" is 64 bits; "hl" and "lh" weigh 0 (an int, not narrowed), "hll" 1 (a long); "%"
  // weighs 0 inside a conversion; "hh" still narrows as in C.
  EXPECT_EQ(format("%Ld|%d|%Lx|%d|%lld|%d", LLONG_MIN, 3, ULLONG_MAX, 3, LLONG_MAX, 4),
            "-9223372036854775808|3|ffffffffffffffff|3|9223372036854775807|4");
  EXPECT_EQ(format("%hld|%d|%lhd|%d", 70000, 1, -70000, 2), "70000|1|-70000|2");
  EXPECT_EQ(format("%hlld|%d", LONG_MIN, 3), platform("%ld", LONG_MIN) + "|3");
  EXPECT_EQ(format("%5%d|%d", 7, 4), "    7|4");
  EXPECT_EQ(format("%hhu|%hx", 257, 0x12345), "1|2345");
  // Floating conversions read a double whatever the modifier; characters and texts ignore theirs.
  EXPECT_EQ(format("%Lf|%d|%lf|%hg|%d", 1.5, 9, 0.25, 2.0, 8), "1.500000|9|0.250000|2|8");
  EXPECT_EQ(format("%lc|%ls|%hS|%d", 'a', "b", str("c"), 5), "a|b|c|5");
  // Flags and precisions the C library leaves undefined for a conversion are not passed on.
  EXPECT_EQ(format("%#d|%#u|%05s|", 5, 6u, "ab"), "5|6|   ab|");
  EXPECT_EQ(format("%.3c|%#c|%05c|", 'x', 'y', 'z'), "x|y|    z|");
  EXPECT_EQ(format("%#08.3p", (void*)&marker), platform("%8p", (void*)&marker));
}

TEST_F(BaseStringFormatTest, TextsShareTheStringRule)
{
  EXPECT_EQ(format("%5S|%-5s|%-5@|", str("ab"), "ab", str("")), "   ab|ab   |\"\"   |");
  // A long text is appended whole unless a precision cuts: 100 bytes is long, 99 still
  // goes through the width.
  const std::string z(150, 'z'), y(100, 'y');
  EXPECT_EQ(format("%-99s|%99S|%.3s", z.c_str(), str(z.c_str()), z.c_str()), z + "|" + z + "|zzz");
  EXPECT_EQ(format("%.99S", str(z.c_str())), z.substr(0, 99));
  EXPECT_EQ(format("%-99s|%2s|", y.c_str(), y.c_str() + 1), y + "|" + y.substr(1) + "|");
  // A text ends at its first NUL; null texts and objects print "(null)".
  EXPECT_EQ(format("[%S]", new (eRetainAutorelease) BaseString("ab\0cd", 5)), "[ab]");
  EXPECT_EQ(format("%s|%S|%@|%-10s|%.2S", (const char*)nullptr, (BaseString*)nullptr, (BaseObject*)nullptr,
                   (const char*)nullptr, (BaseString*)nullptr),
            "(null)|(null)|(null)|(null)|(null)");
  // An object prints its Lua form, leaving nothing in the caller's pool.
  EXPECT_EQ(format("%@|%@", str("a\"b"), str("tab\there\x01")), "\"a\\\"b\"|\"tab\\there\\001\"");
  CountedObject* object = new (eRetainAutorelease) CountedObject();
  EXPECT_EQ(format("%@", object), text(object, BaseObject::eToStringLua));
  BaseString* value = str("value");
  BaseString* receiver = str("");
  unsigned int before = pool.count();
  receiver->appendFormat("%@ %@", value, value);
  EXPECT_EQ(pool.count(), before);
  EXPECT_EQ(value->getRetainCount(), 1);
  EXPECT_EQ(text(receiver), "\"value\" \"value\"");
  // The receiver may be its own argument.
  const std::string q(120, 'q');
  for (const char* start : {"ab", q.c_str()}) {
    BaseString* self = str(start);
    self->appendFormat("%S-", self);
    EXPECT_EQ(text(self), std::string(start) + start + "-");
  }
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

TEST_F(BaseStringFormatTest, TimeAndPathComponent)
{
  // "%t" reads an int and ignores flags, width and precision.
  for (const char* directive : {"%t", "%+t", "%08t", "%-5t", "%.3t", "% #20.10t", "%lt", "%llt"})
    EXPECT_EQ(format(directive, -1), "-1") << "format " << directive;
  EXPECT_EQ(format("%t|%t|%t|%d", INT_MIN, INT_MAX, 1700000000, 5), "-2147483648|2147483647|1700000000|5");
  // "%P" joins a path component to what was formatted so far.
  BaseString* path = str("/a");
  path->appendFormat("%P", str("b"));
  EXPECT_EQ(text(path), "/a/b");
  EXPECT_EQ(format("/dir%P.%s", str("name"), "txt"), "/dir/name.txt");
  EXPECT_EQ(format("/x/%P", str("/a")), "/x/a");
  EXPECT_EQ(format("%P", str("a")), "/a");
  EXPECT_EQ(format("/a%-20.5P|", str("b")), "/a/b|");
}

TEST_F(BaseStringFormatTest, EntryPoints)
{
  BaseString* replaced = str("abc");
  replaced->setFormat("%S/%S", replaced, replaced);
  EXPECT_EQ(text(replaced), "abc/abc");
  replaced->setFormat("%P", str("d"));
  EXPECT_EQ(text(replaced), "/d");
  replaced->setFormat("");
  EXPECT_EQ(text(replaced), "");
  BaseString* kept;
  {
    BaseAutorelease inner;
    kept = BaseString::stringWithFormat("%d-%s", 12, "x");
    EXPECT_EQ(text(kept), "12-x");
    EXPECT_EQ(kept->getRetainCount(), 1);
    EXPECT_NE(inner.indexOfObjectIdenticalTo(kept), BaseArray::NOT_FOUND);
    EXPECT_EQ(pool.indexOfObjectIdenticalTo(kept), BaseArray::NOT_FOUND);
    kept->retain();
  }
  // Closing the inner pool gave back exactly its one reference.
  EXPECT_EQ(kept->getRetainCount(), 1);
  kept->release();

  std::vector<std::string> results(4);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; t++)
    workers.emplace_back([t, &results] {
      BaseAutorelease threadPool;
      BaseString* formatted = new (eRetainAutorelease) BaseString();
      for (int i = 0; i < 200; i++)
        formatted->setFormat("%d:%@:%5.1f:%s", t, BaseString::stringWithFormat("%d", i), 0.5, "z");
      results[t] = text(formatted);
    });
  for (std::thread& worker : workers) worker.join();
  for (int t = 0; t < 4; t++) EXPECT_EQ(results[t], std::to_string(t) + ":\"199\":  0.5:z");
}

TEST_F(BaseStringFormatTest, MalformedFormatsStop)
{
  EXPECT_EQ(format("%-+ #05d|", 1), platform("%-+ #05d|", 1));
  for (const char* directive : {"%-+ #0-5d", "%------s"})
    EXPECT_DEATH(BaseString::stringWithFormat(directive, 1),
                 "\\(size_t\\)\\(p - strfrmt\\) < sizeof\\(FLAGS\\)");
  // Three digits of width or precision, even where the string rule would ignore the width.
  EXPECT_DEATH(BaseString::stringWithFormat("%100d", 1), "!isdigit\\(U8\\(\\*p\\)\\)");
  EXPECT_DEATH(BaseString::stringWithFormat("%-120s", std::string(150, 'z').c_str()),
               "!isdigit\\(U8\\(\\*p\\)\\)");
  EXPECT_DEATH(BaseString::stringWithFormat("%5.100f", 1.0), "!isdigit\\(U8\\(\\*p\\)\\)");
  EXPECT_DEATH(BaseString::stringWithFormat("%.123s", "x"), "!isdigit\\(U8\\(\\*p\\)\\)");
  for (const char* directive : {"%F", "%a", "%A", "%n", "%q", "%5", "abc%", "%-", "%ll", "%.", "%1.2"})
    EXPECT_DEATH(BaseString::stringWithFormat(directive, 1.0), "Assertion failed: 0, ")
        << "format " << directive;
  EXPECT_DEATH(BaseString::stringWithFormat("/a%P", static_cast<BaseString*>(nullptr)), "component!=NULL");
}

}  // namespace
