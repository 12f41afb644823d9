#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "io/IOAbstract.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"

namespace {

const char* const FILE_PATH = "shared/Communication/IOSocketTCP.cpp";
const char* const FUNCTION = "connect";

// An object with a class name and an instance name of its own.
class NamedProbe : public BaseObject
{
public:
  const char* getClass() const override { return "NamedProbe"; }
  BaseString* getInstanceName() override { return new (eRetainAutorelease) BaseString("probe-7"); }
};

// Counts how often its text form is asked for, i.e. how often a message holding it is formatted.
class FormatCounter : public BaseObject
{
public:
  BaseString* toString(int) override
  {
    formatted++;
    return new (eRetainAutorelease) BaseString("counted");
  }
  int formatted = 0;
};


std::string readFile(const std::string& path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::vector<std::string> linesOf(const std::string& text)
{
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

int logAt(int severity, const char* format = "message", int line = 42, const char* file = FILE_PATH,
          const char* function = FUNCTION)
{
  return DebugManager::Printf(file, line, function, nullptr, severity, format);
}

// Points standard output at a file until finish().
class StdoutCapture
{
public:
  explicit StdoutCapture(const std::string& path) : m_path(path)
  {
    fflush(stdout);
    m_saved = dup(STDOUT_FILENO);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
  ~StdoutCapture() { finish(); }
  std::string finish()
  {
    if (m_saved >= 0) {
      fflush(stdout);
      dup2(m_saved, STDOUT_FILENO);
      close(m_saved);
      m_saved = -1;
    }
    return readFile(m_path);
  }

private:
  std::string m_path;
  int m_saved;
};

// Every test starts and ends without a registered sink, and has a capture stream and a
// private temporary directory.
class DebugSinkTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_EQ(DebugManager::nbInstances, 0) << "a sink leaked from an earlier test";
    char pattern[] = "/tmp/corvane-debug-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_directory = pattern;
    m_stream = new CaptureStream();
  }
  void TearDown() override
  {
    for (DebugManager* sink : m_sinks) sink->release();
    m_sinks.clear();
    m_stream->release();
    std::filesystem::remove_all(m_directory);
    EXPECT_EQ(DebugManager::nbInstances, 0);
  }

  // A sink writing into m_stream (or `target`), released by TearDown.
  DebugManager* makeSink(const char* format, const char* filter, const char* target = nullptr)
  {
    std::string streamTarget = targetFor(m_stream);
    DebugManager* sink = new DebugManager(format, target ? target : streamTarget.c_str(), filter);
    m_sinks.push_back(sink);
    return sink;
  }
  void dropSink(DebugManager* sink)
  {
    for (size_t i = 0; i < m_sinks.size(); i++) {
      if (m_sinks[i] == sink) m_sinks.erase(m_sinks.begin() + (long)i);
    }
    sink->release();
  }
  std::string path(const char* name) const { return m_directory + "/" + name; }

  // The severities 0..5 that one sink with `filter` writes, as a string of digits.
  std::string passedSeverities(const char* filter)
  {
    DebugManager* sink = new DebugManager("%v", targetFor(m_stream).c_str(), filter);
    m_stream->clear();
    for (int severity = 0; severity <= 5; severity++) logAt(severity);
    sink->release();
    std::string passed = m_stream->text();
    m_stream->clear();
    return passed;
  }

  std::string m_directory;
  CaptureStream* m_stream = nullptr;
  std::vector<DebugManager*> m_sinks;
};

// ---------------------------------------------------------------------------------------

using DebugDispatch = DebugSinkTest;

int evaluations = 0;
int evaluated()
{
  return ++evaluations;
}

TEST_F(DebugDispatch, WithoutSinkNothingIsWrittenAndNoArgumentEvaluated)
{
  EXPECT_EQ(logAt(DebugManager::eMsgFatal), 0);
  evaluations = 0;
  BASE_LOG(nullptr, eMsgFatal, "%i", evaluated());
  EXPECT_EQ(evaluations, 0);

  makeSink("%m\n", nullptr);
  BASE_LOG(nullptr, eMsgFatal, "%i", evaluated());
  EXPECT_EQ(evaluations, 1);
  EXPECT_EQ(m_stream->text(), "1\n");
}

TEST_F(DebugDispatch, SinkWithThreeNullsWritesInfoAndMoreSevereToStandardOutput)
{
  DebugManager* sink = new DebugManager(nullptr, nullptr, nullptr);
  m_sinks.push_back(sink);
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetStdio);

  StdoutCapture capture(path("stdout.txt"));
  int written[6];
  for (int severity = 0; severity <= 5; severity++) written[severity] = logAt(severity, "hello");
  std::string out = capture.finish();

  EXPECT_EQ(out,
            "Communication/IOSocketTCP.cpp:42, in connect Fatal error: hello\n"
            "Communication/IOSocketTCP.cpp:42, in connect Error: hello\n"
            "Communication/IOSocketTCP.cpp:42, in connect Warning: hello\n"
            "Communication/IOSocketTCP.cpp:42, in connect Info: hello\n");
  EXPECT_EQ(written[3], 1);
  EXPECT_EQ(written[4], 0);
  EXPECT_EQ(written[5], 0);
}

TEST_F(DebugDispatch, ResultCountsTheSinksThatTookTheCall)
{
  makeSink("a:%m\n", "E");
  makeSink("b:%m\n", "V");
  EXPECT_EQ(logAt(DebugManager::eMsgError, "x"), 2);
  EXPECT_EQ(logAt(DebugManager::eMsgDebug, "y"), 1);
  EXPECT_EQ(m_stream->text(), "a:x\nb:x\nb:y\n");
}

TEST_F(DebugDispatch, MessageIsFormattedOnceAndOnlyWhenASinkTakesIt)
{
  makeSink("1 %m\n", "info");
  makeSink("2 %m\n", "info");
  FormatCounter* counter = new FormatCounter();
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, DebugManager::eMsgError, "%@", counter), 2);
  EXPECT_EQ(counter->formatted, 1);
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, DebugManager::eMsgVerbose, "%@", counter),
            0);
  EXPECT_EQ(counter->formatted, 1);
  counter->release();
}

// ---------------------------------------------------------------------------------------

using DebugFilters = DebugSinkTest;

TEST_F(DebugFilters, LetterNameAndDigitSelectTheSameSeverity)
{
  EXPECT_EQ(passedSeverities("W"), "012");
  EXPECT_EQ(passedSeverities("warn"), "012");
  EXPECT_EQ(passedSeverities("2"), "012");
  EXPECT_EQ(passedSeverities("w"), "012");
  EXPECT_EQ(passedSeverities("WARNING"), "012");
}

TEST_F(DebugFilters, SeverityNamesMatchByPrefixOnly)
{
  EXPECT_EQ(passedSeverities("err"), "01");
  EXPECT_EQ(passedSeverities("fatal"), "0");
  EXPECT_EQ(passedSeverities("verb"), "012345");
  EXPECT_EQ(passedSeverities("D"), "01234");
  // Longer than the name, or no name at all: the default, everything.
  EXPECT_EQ(passedSeverities("information"), "012345");
  EXPECT_EQ(passedSeverities("x"), "012345");
}

TEST_F(DebugFilters, NullMeansInfoAndEmptyTextWritesNothing)
{
  EXPECT_EQ(passedSeverities(nullptr), "0123");
  EXPECT_EQ(passedSeverities(""), "");
  EXPECT_EQ(passedSeverities("  \r"), "");
}

TEST_F(DebugFilters, LaterLinesExcludeAndIncludeAgain)
{
  makeSink("%v:%m\n", "info\n-|||timeout\n+E|||timeout");
  logAt(DebugManager::eMsgInfo, "connect timeout %i");
  logAt(DebugManager::eMsgInfo, "connected");
  logAt(DebugManager::eMsgWarning, "read timeout");
  logAt(DebugManager::eMsgError, "write timeout");
  logAt(DebugManager::eMsgFatal, "timeout everywhere");
  logAt(DebugManager::eMsgDebug, "debug timeout");
  EXPECT_EQ(m_stream->text(), "3:connected\n1:write timeout\n0:timeout everywhere\n");
}

TEST_F(DebugFilters, FileSubstringWithSeverity)
{
  makeSink("%v %P\n", "D|Socket||||");
  logAt(DebugManager::eMsgDebug, "m", 1, "src/net/IOSocketTCP.cpp");
  logAt(DebugManager::eMsgVerbose, "m", 1, "src/net/IOSocketTCP.cpp");
  logAt(DebugManager::eMsgError, "m", 1, "src/net/IODriver.cpp");
  logAt(DebugManager::eMsgError, "m", 1, "src/net/iosocket.cpp");  // case matters
  EXPECT_EQ(m_stream->text(), "4 src/net/IOSocketTCP.cpp\n");
}

TEST_F(DebugFilters, LineRangeIsInclusive)
{
  makeSink("%l\n", "V||||100|200");
  for (int line : {99, 100, 150, 200, 201}) logAt(DebugManager::eMsgVerbose, "m", line);
  EXPECT_EQ(m_stream->text(), "100\n150\n200\n");
}

TEST_F(DebugFilters, LineBoundsReadHexadecimalAndOctal)
{
  makeSink("%l\n", "V||||0x10|020");
  for (int line : {15, 16, 17}) logAt(DebugManager::eMsgVerbose, "m", line);
  EXPECT_EQ(m_stream->text(), "16\n");
}

TEST_F(DebugFilters, FunctionAndFormatSubstrings)
{
  makeSink("%F %m\n", "V||send|%i");
  DebugManager::Printf(FILE_PATH, 1, "sendObject", nullptr, 5, "n=%i", 3);
  DebugManager::Printf(FILE_PATH, 1, "sendObject", nullptr, 5, "plain");
  DebugManager::Printf(FILE_PATH, 1, "readObject", nullptr, 5, "n=%i", 4);
  EXPECT_EQ(m_stream->text(), "sendObject n=3\n");
}

TEST_F(DebugFilters, BlanksAreRemovedBeforeParsing)
{
  makeSink("%v", "info\n- W");
  for (int severity = 0; severity <= 5; severity++) logAt(severity);
  EXPECT_EQ(m_stream->text(), "3");
}

TEST_F(DebugFilters, BlankFirstLineLetsEverythingThroughAndLaterBlankLinesAreDropped)
{
  EXPECT_EQ(passedSeverities("\nE"), "012345");
  EXPECT_EQ(passedSeverities("E\n\n\n"), "01");
}

TEST_F(DebugFilters, FieldsAfterTheSixthBarAreIgnored)
{
  EXPECT_EQ(passedSeverities("E||||||-|V"), "01");
}

TEST_F(DebugFilters, MalformedLinesNeverBreakTheSink)
{
  const char* texts[] = {
      "|||||||||||||||||", "+",   "-", "\t", "%%%", "|\n|\n|", "V||||99999999999999999999|x", "V||||-5|zz",
      "E|\x01\x02|\xff",   "++E", "+-"};
  for (const char* text : texts) {
    std::string passed = passedSeverities(text);
    EXPECT_LE(passed.size(), 6u) << text;
  }
  EXPECT_EQ(passedSeverities("-"), "");
  EXPECT_EQ(passedSeverities("V||||99999999999999999999|x"), "");
}

// ---------------------------------------------------------------------------------------

using DebugTargets = DebugSinkTest;

TEST_F(DebugTargets, FileKeywordIsCaseInsensitiveAndTruncates)
{
  std::string file = path("X.log");
  writeFile(file, "old content\n");
  std::string target = "FILE:" + file;
  DebugManager* sink = makeSink("%m\n", nullptr, target.c_str());
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetStdio);
  logAt(DebugManager::eMsgInfo, "fresh");
  dropSink(sink);
  EXPECT_EQ(readFile(file), "fresh\n");
  EXPECT_FALSE(std::filesystem::exists(path("x.log")));  // the path keeps its case
}

TEST_F(DebugTargets, ModeInTheMiddleAppends)
{
  std::string file = path("append:ed.log");  // the path keeps any further colons
  writeFile(file, "kept\n");
  std::string target = "file:a:" + file;
  DebugManager* sink = makeSink("%m\n", nullptr, target.c_str());
  logAt(DebugManager::eMsgInfo, "added");
  dropSink(sink);
  EXPECT_EQ(readFile(file), "kept\nadded\n");
}

TEST_F(DebugTargets, FileWithoutPathOrUnopenableStaysSilent)
{
  EXPECT_EQ(makeSink("%m\n", nullptr, "file")->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(makeSink("%m\n", nullptr, "file:")->getTargetKind(), DebugManager::eTargetNone);
  std::string missing = "file:" + path("no/such/dir.log");
  EXPECT_EQ(makeSink("%m\n", nullptr, missing.c_str())->getTargetKind(), DebugManager::eTargetNone);
  // A mode the C library would read as something else (glibc's character-set suffix).
  std::string odd = "file:w,ccs=UTF-8:" + path("ccs.log");
  EXPECT_EQ(makeSink("%m\n", nullptr, odd.c_str())->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_FALSE(std::filesystem::exists(path("ccs.log")));
}

TEST_F(DebugTargets, LiveStreamIsRetainedWhileItIsTheTarget)
{
  int before = m_stream->getRetainCount();
  DebugManager* sink = makeSink("%m\n", nullptr);
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetIO);
  EXPECT_EQ(m_stream->getRetainCount(), before + 1);
  logAt(DebugManager::eMsgInfo, "to the stream");
  EXPECT_EQ(m_stream->text(), "to the stream\n");
  sink->setTarget("windows");
  EXPECT_EQ(m_stream->getRetainCount(), before);
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetWindows);
  logAt(DebugManager::eMsgInfo, "nowhere");
  EXPECT_EQ(m_stream->text(), "to the stream\n");
}

TEST_F(DebugTargets, AddressThatIsNoLiveStreamStaysSilent)
{
  EXPECT_EQ(makeSink("%m", nullptr, "io:0x1234")->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(makeSink("%m", nullptr, "io:garbage")->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(makeSink("%m", nullptr, "io")->getTargetKind(), DebugManager::eTargetNone);

  // A live object that is not a stream.
  CountedObject* object = new CountedObject();
  EXPECT_EQ(
      makeSink("%m", nullptr, targetFor(reinterpret_cast<IOAbstract*>(object)).c_str())->getTargetKind(),
      DebugManager::eTargetNone);
  object->release();

  // A stream that no longer exists.
  CaptureStream* gone = new CaptureStream();
  std::string target = targetFor(gone);
  gone->release();
  EXPECT_EQ(makeSink("%m", nullptr, target.c_str())->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo), 5);  // accepted, but none of them writes anywhere
  EXPECT_EQ(m_stream->writes(), 0);
}

TEST_F(DebugTargets, UnknownWordStaysSilentAndEmptyMeansStandardOutput)
{
  EXPECT_EQ(makeSink("%m", nullptr, "syslog:x")->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(makeSink("%m", nullptr, "")->getTargetKind(), DebugManager::eTargetStdio);
  EXPECT_EQ(makeSink("%m", nullptr, "STDOUT")->getTargetKind(), DebugManager::eTargetStdio);
}

TEST_F(DebugTargets, ChangingTargetClosesThePreviousFile)
{
  std::string file = path("switched.log");
  std::string target = "file:" + file;
  DebugManager* sink = makeSink("%m\n", nullptr, target.c_str());
  logAt(DebugManager::eMsgInfo, "before");
  sink->setTarget(targetFor(m_stream).c_str());
  EXPECT_EQ(readFile(file), "before\n");  // closed, hence flushed
  logAt(DebugManager::eMsgInfo, "after");
  EXPECT_EQ(m_stream->text(), "after\n");
  EXPECT_EQ(readFile(file), "before\n");
}

// ---------------------------------------------------------------------------------------

class DebugLineFormat : public DebugSinkTest
{
protected:
  // The line one Warning call from FILE_PATH:42 in FUNCTION writes with `format`.
  std::string lineFor(const char* format, BaseObject* object = nullptr, const char* file = FILE_PATH,
                      const char* function = FUNCTION, int severity = DebugManager::eMsgWarning)
  {
    DebugManager* sink = makeSink(format, "V");
    m_stream->clear();
    DebugManager::Printf(file, 42, function, object, severity, "the message");
    dropSink(sink);
    return m_stream->text();
  }
};

TEST_F(DebugLineFormat, DefaultFormat)
{
  EXPECT_EQ(lineFor(nullptr), "Communication/IOSocketTCP.cpp:42, in connect Warning: the message\n");
}

TEST_F(DebugLineFormat, CallDirectives)
{
  EXPECT_EQ(lineFor("%%"), "%");
  EXPECT_EQ(lineFor("<%m>"), "<the message>");
  EXPECT_EQ(lineFor("%P"), FILE_PATH);
  EXPECT_EQ(lineFor("%p"), "Communication/IOSocketTCP.cpp");
  EXPECT_EQ(lineFor("%n"), "IOSocketTCP");
  EXPECT_EQ(lineFor("%e"), ".cpp");
  EXPECT_EQ(lineFor("%l"), "42");
  EXPECT_EQ(lineFor("%F", nullptr, FILE_PATH, "DistantObjectsCenter::sendObject(BaseObject*)"),
            "DistantObjectsCenter::sendObject(BaseObject*)");
  EXPECT_EQ(lineFor("%s %v %%"), "W 2 %");
  EXPECT_EQ(lineFor("%S"), "Warning");
  EXPECT_EQ(lineFor("%S", nullptr, FILE_PATH, FUNCTION, DebugManager::eMsgVerbose), "Verbose");
  // A severity outside the table has no name or letter.
  EXPECT_EQ(lineFor("%S|%s|%v", nullptr, FILE_PATH, FUNCTION, -1), "||-1");
}

TEST_F(DebugLineFormat, PathPieces)
{
  EXPECT_EQ(lineFor("%p", nullptr, "C:\\corvane\\shared\\Utility\\Debug.cpp"), "Utility/Debug.cpp");
  EXPECT_EQ(lineFor("%p", nullptr, "Debug.cpp"), "Debug.cpp");
  EXPECT_EQ(lineFor("%p", nullptr, "/Debug.cpp"), "/Debug.cpp");
  EXPECT_EQ(lineFor("%n|%e", nullptr, "src\\io\\IOAbstract.h"), "IOAbstract|.h");
  EXPECT_EQ(lineFor("%n|%e", nullptr, "tools/Makefile"), "Makefile|Makefile");
  EXPECT_EQ(lineFor("%n|%e", nullptr, "a.b/archive.tar.gz"), "archive.tar|.gz");
  EXPECT_EQ(lineFor("%p|%n|%e", nullptr, ""), "||");
}

TEST_F(DebugLineFormat, PartialFunction)
{
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "DistantObjectsCenter::sendObject(BaseObject*)"), "sendObject");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "threadMethod"), "threadMethod");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "operator()"), "operator");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "A::B::c_d1(x)"), "B");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "Trailing::"), "");
}

TEST_F(DebugLineFormat, ObjectDirectives)
{
  NamedProbe* probe = new NamedProbe();
  char address[40];
  snprintf(address, sizeof address, "0x%lx", (unsigned long)(uintptr_t)probe);
  EXPECT_EQ(lineFor("%c|%i|%a", probe), std::string("NamedProbe|probe-7|") + address);
  probe->release();
  EXPECT_EQ(lineFor("[%c|%i|%a]"), "[||]");
}

TEST_F(DebugLineFormat, ThreadAndClocks)
{
  char thread[40];
  snprintf(thread, sizeof thread, "0x%lx", (unsigned long)(uintptr_t)pthread_self());
  EXPECT_EQ(lineFor("%t"), thread);

  uint32_t before = DebugManager::getMilliseconds();
  unsigned long milliseconds = std::stoul(lineFor("%M"));
  uint32_t after = DebugManager::getMilliseconds();
  if (before <= after) {  // not across a wrap of the 32-bit counter
    EXPECT_GE(milliseconds, before);
    EXPECT_LE(milliseconds, after);
  }

  std::string clocks = lineFor("%C");
  ASSERT_FALSE(clocks.empty());
  EXPECT_EQ(clocks.find_first_not_of("0123456789"), std::string::npos) << clocks;
  EXPECT_GT(std::stoull(clocks), 0u);
}

TEST_F(DebugLineFormat, DateDirective)
{
  auto year = [] {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900);
  };
  std::string before = year();
  std::string line = lineFor("<%[%Y%]>");
  std::string after = year();
  EXPECT_TRUE(line == "<" + before + ">" || line == "<" + after + ">") << line;
  EXPECT_EQ(lineFor("<%[plain text%]>"), "<plain text>");
  EXPECT_EQ(lineFor("<%[%]>"), "<>");
}

TEST_F(DebugLineFormat, UnknownDirectivesDisappear)
{
  EXPECT_EQ(lineFor("a%qb%Zc%"
                    "\x01"
                    "d"),
            "abcd");
}

TEST_F(DebugLineFormat, MalformedFormatsNeitherCrashNorOverrun)
{
  EXPECT_EQ(lineFor("abc%"), "abc");
  EXPECT_EQ(lineFor("%"), "");
  EXPECT_EQ(lineFor("%%%"), "%");
  EXPECT_EQ(lineFor(""), "");
  // An unclosed date is dropped like an unknown directive; the rest is still read.
  EXPECT_EQ(lineFor("x%[abc"), "xabc");
  EXPECT_EQ(lineFor("x%[%m"), "xthe message");
  EXPECT_EQ(lineFor("%["), "");
  EXPECT_EQ(lineFor("%[%"), "");
  // A date longer than its buffer writes nothing, and the line goes on after it.
  std::string longDate = "<%[" + std::string(300, 'x') + "%]>";
  EXPECT_EQ(lineFor(longDate.c_str()), "<>");
  std::string manyYears = "<%[";
  for (int i = 0; i < 60; i++) manyYears += "%Y";
  manyYears += "%]>";
  EXPECT_EQ(lineFor(manyYears.c_str()), "<>");
}

TEST_F(DebugLineFormat, HelpersOnStrings)
{
  BaseAutorelease pool;
  BaseString* path = new (eRetainAutorelease) BaseString("a\\b/c/d.x.cpp");
  EXPECT_STREQ(DebugManager::getPartialPath(path)->cString(), "c/d.x.cpp");
  EXPECT_STREQ(DebugManager::getFileName(path)->cString(), "d.x");
  EXPECT_STREQ(DebugManager::getExtension(path)->cString(), ".cpp");
  BaseString* function = new (eRetainAutorelease) BaseString("IOBufferFilter::readIO");
  EXPECT_STREQ(DebugManager::getPartialFunction(function)->cString(), "readIO");

  const char format[] = "%H%]rest";
  const char* cursor = format;
  BaseString* date = DebugManager::getDate(cursor, format + strlen(format));
  ASSERT_NE(date, nullptr);
  EXPECT_EQ(date->length(), 2u);
  EXPECT_STREQ(cursor, "rest");

  const char unclosed[] = "%H%";
  cursor = unclosed;
  EXPECT_EQ(DebugManager::getDate(cursor, unclosed + strlen(unclosed)), nullptr);
  EXPECT_EQ(cursor, unclosed);
}

// ---------------------------------------------------------------------------------------

using DebugReentry = DebugSinkTest;

TEST_F(DebugReentry, LogCallFromTheTargetStreamIsDroppedWhileTheOuterCallCompletes)
{
  int nested = -1;
  m_stream->onWrite = [&] { nested = logAt(DebugManager::eMsgFatal, "from inside"); };
  makeSink("%m\n", nullptr);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "outer"), 1);
  EXPECT_EQ(nested, 0);
  EXPECT_EQ(m_stream->text(), "outer\n");

  m_stream->onWrite = nullptr;
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "again"), 1);  // the thread is out of the facility again
  EXPECT_EQ(m_stream->text(), "outer\nagain\n");
}

class LoggingObject : public BaseObject
{
public:
  BaseString* toString(int) override
  {
    nested = DebugManager::Printf(FILE_PATH, 1, FUNCTION, this, 0, "nested");
    return new (eRetainAutorelease) BaseString("object");
  }
  int nested = -1;
};

TEST_F(DebugReentry, LogCallWhileTheMessageIsFormattedIsDropped)
{
  makeSink("%m\n", nullptr);
  LoggingObject* object = new LoggingObject();
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, 1, "got %@", object), 1);
  EXPECT_EQ(object->nested, 0);
  object->release();
  EXPECT_EQ(m_stream->text(), "got object\n");
}

// A stream whose writes fail the way an exception filter reports it: a thrown object.
class ThrowingStream : public IOAbstract
{
public:
  bool readIO(void*, uint32_t& length) override
  {
    length = 0;
    return false;
  }
  bool writeIO(const void*, uint32_t) override
  {
    attempts++;
    throw static_cast<BaseObject*>(new CountedObject());
  }
  int attempts = 0;
};

TEST_F(DebugReentry, FailingTargetIsIgnoredAndTheSinkStaysUsable)
{
  CountedObject::resetCounts();
  ThrowingStream* stream = new ThrowingStream();
  makeSink("%m\n", nullptr, targetFor(stream).c_str());
  makeSink("%m\n", nullptr);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "one"), 2);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "two"), 2);  // the sink's lock was given back
  EXPECT_EQ(stream->attempts, 2);
  EXPECT_EQ(CountedObject::alive(), 0);  // the thrown objects were released
  EXPECT_EQ(m_stream->text(), "one\ntwo\n");
  stream->release();
}

// ---------------------------------------------------------------------------------------

using DebugRegistry = DebugSinkTest;

TEST_F(DebugRegistry, EleventhSinkIsRefusedAndWritesNothing)
{
  std::vector<DebugManager*> ten;
  for (int i = 0; i < DebugManager::MAX_INSTANCES; i++) ten.push_back(makeSink("%m\n", "E"));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);

  // The refusal is reported to the ten sinks that exist.
  m_stream->clear();
  std::string file = path("eleventh.log");
  std::string target = "file:" + file;
  DebugManager* eleventh = makeSink("%m\n", "V", target.c_str());
  EXPECT_FALSE(eleventh->isRegistered());
  EXPECT_EQ(eleventh->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(m_stream->writes(), DebugManager::MAX_INSTANCES);
  EXPECT_NE(m_stream->text().find("log sink table full"), std::string::npos);

  eleventh->setTarget(target.c_str());
  EXPECT_EQ(eleventh->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(logAt(DebugManager::eMsgError), DebugManager::MAX_INSTANCES);

  // Destroying the refused sink leaves the table alone.
  dropSink(eleventh);
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(logAt(DebugManager::eMsgError), DebugManager::MAX_INSTANCES);

  // A freed slot can be taken again.
  dropSink(ten[0]);
  DebugManager* again = makeSink("%m\n", nullptr);
  EXPECT_TRUE(again->isRegistered());
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
}

TEST_F(DebugRegistry, RemovalKeepsTheOtherSinksInOrder)
{
  makeSink("1", nullptr);
  DebugManager* second = makeSink("2", nullptr);
  makeSink("3", nullptr);
  makeSink("4", nullptr);
  logAt(DebugManager::eMsgInfo);
  dropSink(second);
  logAt(DebugManager::eMsgInfo);
  EXPECT_EQ(m_stream->text(), "1234134");
}

// ---------------------------------------------------------------------------------------

using DebugConfigurationFile = DebugSinkTest;

TEST_F(DebugConfigurationFile, FourPiecesMakeTwoSinksTheSecondWithDefaults)
{
  std::string file = path("log.conf");
  writeFile(file, "[%s] %m\n\n__|__\n" + targetFor(m_stream) + "\n__|__\nW\n__|__\n%v %m\n");
  StdoutCapture capture(path("stdout.txt"));
  {
    BaseAutorelease pool;
    ASSERT_TRUE(DebugManager::setFromFile(file.c_str()));
    EXPECT_EQ(DebugManager::nbInstances, 2);
    EXPECT_EQ(logAt(DebugManager::eMsgWarning, "warned"), 2);
    EXPECT_EQ(logAt(DebugManager::eMsgInfo, "informed"), 1);
    EXPECT_EQ(logAt(DebugManager::eMsgDebug, "hidden"), 0);
  }
  // The caller's pool owned them.
  EXPECT_EQ(DebugManager::nbInstances, 0);
  EXPECT_EQ(capture.finish(), "2 warned\n3 informed\n");
  EXPECT_EQ(m_stream->text(), "[W] warned\n");
}

TEST_F(DebugConfigurationFile, CarriageReturnsAreIgnored)
{
  std::string file = path("crlf.conf");
  writeFile(file, "%m\r\n\r\n__|__\r\n" + targetFor(m_stream) + "\r\n__|__\r\nE\r\n");
  BaseAutorelease pool;
  ASSERT_TRUE(DebugManager::setFromFile(file.c_str()));
  logAt(DebugManager::eMsgError, "e");
  logAt(DebugManager::eMsgWarning, "w");
  EXPECT_EQ(m_stream->text(), "e\n");
}

TEST_F(DebugConfigurationFile, OnlySeparatorsMakeOneSilentSink)
{
  std::string file = path("separators.conf");
  writeFile(file, "\n__|__\n\n__|__\n");
  BaseAutorelease pool;
  StdoutCapture capture(path("stdout.txt"));
  EXPECT_TRUE(DebugManager::setFromFile(file.c_str()));
  EXPECT_EQ(DebugManager::nbInstances, 1);
  // Empty format, standard output, and an empty filter list: nothing passes.
  EXPECT_EQ(logAt(DebugManager::eMsgFatal), 0);
  EXPECT_EQ(capture.finish(), "");
}

TEST_F(DebugConfigurationFile, UnreadableEmptyOrOversizedFilesCreateNothing)
{
  BaseAutorelease pool;
  EXPECT_FALSE(DebugManager::setFromFile(path("missing.conf").c_str()));
  EXPECT_FALSE(DebugManager::setFromFile(nullptr));
  EXPECT_FALSE(DebugManager::setFromFile(m_directory.c_str()));

  std::string empty = path("empty.conf");
  writeFile(empty, "");
  EXPECT_FALSE(DebugManager::setFromFile(empty.c_str()));

  std::string huge = path("huge.conf");
  writeFile(huge, "%m\n__|__\nstdout\n__|__\nV\n" + std::string(DebugManager::MAX_CONFIGURATION_SIZE, 'x'));
  EXPECT_FALSE(DebugManager::setFromFile(huge.c_str()));
  EXPECT_EQ(DebugManager::nbInstances, 0);
}

TEST_F(DebugConfigurationFile, MoreThanTenSinksRegisterTheFirstTen)
{
  std::string content;
  for (int i = 0; i < 12; i++) {
    if (i) content += "\n__|__\n";
    content += std::to_string(i) + "\n__|__\n" + targetFor(m_stream) + "\n__|__\nV";
  }
  std::string file = path("twelve.conf");
  writeFile(file, content);
  BaseAutorelease pool;
  EXPECT_TRUE(DebugManager::setFromFile(file.c_str()));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(logAt(DebugManager::eMsgVerbose), DebugManager::MAX_INSTANCES);
  EXPECT_EQ(m_stream->text(), "0123456789");
}

TEST_F(DebugConfigurationFile, FileWhenTheTableIsFullReportsFailure)
{
  for (int i = 0; i < DebugManager::MAX_INSTANCES; i++) makeSink("", "");
  std::string file = path("late.conf");
  writeFile(file, "%m\n__|__\n" + targetFor(m_stream));
  BaseAutorelease pool;
  EXPECT_FALSE(DebugManager::setFromFile(file.c_str()));
}

// ---------------------------------------------------------------------------------------

using DebugThreads = DebugSinkTest;

const int THREADS = 4;
const int LINES_PER_THREAD = 400;

void logFromThreads()
{
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; t++) {
    threads.emplace_back([t] {
      for (int i = 0; i < LINES_PER_THREAD; i++)
        DebugManager::Printf(
            FILE_PATH, i, FUNCTION, nullptr, DebugManager::eMsgInfo, "thread %i line %i %s", t, i,
            "................................................................................"
            "................................................................................");
    });
  }
  for (std::thread& thread : threads) thread.join();
}

void expectEveryLineIntact(const std::string& text)
{
  std::vector<std::string> lines = linesOf(text);
  ASSERT_EQ(lines.size(), size_t(THREADS * LINES_PER_THREAD));
  std::set<std::pair<int, int>> seen;
  std::string dots(160, '.');
  for (const std::string& line : lines) {
    int t = -1, i = -1, used = 0;
    ASSERT_EQ(sscanf(line.c_str(), "thread %d line %d %n", &t, &i, &used), 2) << line;
    EXPECT_EQ(line.substr((size_t)used), dots) << line;
    seen.insert({t, i});
  }
  EXPECT_EQ(seen.size(), size_t(THREADS * LINES_PER_THREAD));
}

TEST_F(DebugThreads, LinesFromSeveralThreadsIntoOneFileStayWhole)
{
  std::string file = path("threads.log");
  std::string target = "file:" + file;
  DebugManager* sink = makeSink("%m\n", nullptr, target.c_str());
  logFromThreads();
  dropSink(sink);
  expectEveryLineIntact(readFile(file));
}

TEST_F(DebugThreads, WritesToOneStreamNeverOverlap)
{
  makeSink("%m\n", nullptr);
  logFromThreads();
  EXPECT_EQ(m_stream->overlaps(), 0);
  EXPECT_EQ(m_stream->writes(), THREADS * LINES_PER_THREAD);
  expectEveryLineIntact(m_stream->text());
}

TEST_F(DebugThreads, SinkLeavingWaitsForALineBeingWrittenThroughIt)
{
  // The writer is held inside the sink's write while the sink is destroyed; without the
  // wait the sink's fields are freed under it, which the sanitizer builds report.
  CaptureStream* stream = new CaptureStream();
  std::atomic<bool> inside{false};
  stream->onWrite = [&inside] {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  };
  DebugManager* sink = new DebugManager("%m\n", targetFor(stream).c_str(), "V");
  std::thread writer([] {
    BaseAutorelease pool;
    BASE_LOG(nullptr, eMsgError, "%s", "slow line");
  });
  while (!inside.load()) std::this_thread::yield();
  auto start = std::chrono::steady_clock::now();
  sink->release();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  writer.join();
  EXPECT_EQ(stream->text(), "slow line\n");
  stream->release();
}

}  // namespace
