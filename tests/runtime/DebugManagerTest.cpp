// The logging facility: dispatch to sinks, filters, targets, the line format, calls made
// from inside the facility, the table of sinks, configuration files, and threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "runtime/Debug.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"
#include "support/TemporaryDirectory.h"

namespace {

const char* const FILE_PATH = "shared/Communication/IOSocketTCP.cpp";
const char* const FUNCTION = "connect";

int logAt(int severity, const char* format = "message", int line = 42, const char* file = FILE_PATH)
{
  return DebugManager::Printf(file, line, FUNCTION, nullptr, severity, format);
}

// Every test starts and ends without a registered sink, and has a capture stream and a
// directory of its own.
class DebugTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_EQ(DebugManager::nbInstances, 0) << "a sink leaked from an earlier test";
    ASSERT_FALSE(m_directory.path().empty());
  }
  void TearDown() override
  {
    for (DebugManager* sink : m_sinks) sink->release();
    m_stream->release();
    EXPECT_EQ(DebugManager::nbInstances, 0);
  }

  // A sink writing into m_stream (or `target`), released by TearDown unless dropped.
  DebugManager* makeSink(const char* format, const char* filter, const std::string* target = nullptr)
  {
    m_sinks.push_back(new DebugManager(format, (target ? *target : targetFor(m_stream)).c_str(), filter));
    return m_sinks.back();
  }
  DebugManager* makeSink(const char* format, const char* filter, const std::string& target)
  {
    return makeSink(format, filter, &target);
  }
  // Releases the sink; returns what the stream got, and empties it.
  std::string drop(DebugManager* sink)
  {
    for (size_t i = 0; i < m_sinks.size(); i++)
      if (m_sinks[i] == sink) m_sinks.erase(m_sinks.begin() + (long)i);
    sink->release();
    std::string written = m_stream->text();
    m_stream->clear();
    return written;
  }
  std::string path(const char* name) const { return m_directory.path() + "/" + name; }

  TemporaryDirectory m_directory{"corvane-debug"};
  CaptureStream* m_stream = new CaptureStream();
  std::vector<DebugManager*> m_sinks;
};

int evaluations = 0;
int evaluated()
{
  return ++evaluations;
}

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

TEST_F(DebugTest, WithoutSinkNothingIsWrittenAndNoArgumentEvaluated)
{
  EXPECT_EQ(logAt(DebugManager::eMsgFatal), 0);
  BASE_LOG(nullptr, eMsgFatal, "%i", evaluated());
  EXPECT_EQ(evaluations, 0);
  makeSink("%m\n", nullptr);
  BASE_LOG(nullptr, eMsgFatal, "%i", evaluated());
  EXPECT_EQ(evaluations, 1);
  EXPECT_EQ(m_stream->text(), "1\n");
}

TEST_F(DebugTest, SinkWithThreeNullsWritesInfoAndMoreSevereToStandardOutputInTheDefaultFormat)
{
  m_sinks.push_back(new DebugManager(nullptr, nullptr, nullptr));
  EXPECT_EQ(m_sinks[0]->getTargetKind(), DebugManager::eTargetStdio);
  ::testing::internal::CaptureStdout();
  std::string written;
  for (int severity = 0; severity <= 5; severity++) written += std::to_string(logAt(severity, "hello"));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Communication/IOSocketTCP.cpp:42, in connect Fatal error: hello\n"
            "Communication/IOSocketTCP.cpp:42, in connect Error: hello\n"
            "Communication/IOSocketTCP.cpp:42, in connect Warning: hello\n"
            "Communication/IOSocketTCP.cpp:42, in connect Info: hello\n");
  EXPECT_EQ(written, "111100");
}

TEST_F(DebugTest, ResultCountsTheSinksAndTheMessageIsFormattedOnceWhenOneTakesIt)
{
  makeSink("a:%m\n", "E");
  makeSink("b:%m\n", "info");
  EXPECT_EQ(logAt(DebugManager::eMsgError, "x"), 2);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "y"), 1);
  EXPECT_EQ(logAt(DebugManager::eMsgDebug, "z"), 0);
  EXPECT_EQ(m_stream->text(), "a:x\nb:x\nb:y\n");
  FormatCounter* counter = new FormatCounter();
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, DebugManager::eMsgError, "%@", counter), 2);
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, DebugManager::eMsgVerbose, "%@", counter),
            0);
  EXPECT_EQ(counter->formatted, 1);
  counter->release();
}

TEST_F(DebugTest, SeverityFilters)
{
  // The severities 0..5 that one sink with the filter writes. A letter, a name or its prefix,
  // or a digit select the same severity; null means info and an empty text writes nothing;
  // a longer name, no name, or a blank first line let everything through; blanks are
  // removed, later blank lines dropped, and fields after the sixth bar ignored.
  auto expectPassed = [this](std::initializer_list<std::pair<const char*, const char*>> rows) {
    for (auto [filter, passed] : rows) {
      DebugManager* sink = makeSink("%v", filter);
      for (int severity = 0; severity <= 5; severity++) logAt(severity);
      EXPECT_EQ(drop(sink), passed) << "filter " << (filter ? filter : "null");
    }
  };
  expectPassed(
      {{"W", "012"}, {"warn", "012"}, {"2", "012"}, {"w", "012"}, {"WARNING", "012"}, {"err", "01"}});
  expectPassed(
      {{"fatal", "0"}, {"verb", "012345"}, {"D", "01234"}, {"information", "012345"}, {"x", "012345"}});
  expectPassed(
      {{nullptr, "0123"}, {"", ""}, {"  \r", ""}, {"\nE", "012345"}, {"E\n\n\n", "01"}, {"info\n- W", "3"}});
  expectPassed({{"E||||||-|V", "01"}, {"-", ""}, {"V||||99999999999999999999|x", ""}});
  // Malformed lines never break the sink.
  for (const char* filter :
       {"|||||||||||||||||", "+", "\t", "%%%", "|\n|\n|", "V||||-5|zz", "E|\x01\x02|\xff", "++E", "+-"}) {
    DebugManager* sink = makeSink("%v", filter);
    for (int severity = 0; severity <= 5; severity++) logAt(severity);
    EXPECT_LE(drop(sink).size(), 6u) << filter;
  }
}

TEST_F(DebugTest, FiltersOnFileFunctionFormatAndLines)
{
  // Later lines exclude, and include again.
  DebugManager* sink = makeSink("%v:%m\n", "info\n-|||timeout\n+E|||timeout");
  const std::pair<int, const char*> calls[] = {{3, "connect timeout %i"}, {3, "connected"},
                                               {2, "read timeout"},       {1, "write timeout"},
                                               {0, "timeout everywhere"}, {4, "debug timeout"}};
  for (auto [severity, message] : calls) logAt(severity, message);
  EXPECT_EQ(drop(sink), "3:connected\n1:write timeout\n0:timeout everywhere\n");

  // The file's substring is case-sensitive.
  sink = makeSink("%v %P\n", "D|Socket||||");
  logAt(DebugManager::eMsgDebug, "m", 1, "src/net/IOSocketTCP.cpp");
  logAt(DebugManager::eMsgVerbose, "m", 1, "src/net/IOSocketTCP.cpp");
  logAt(DebugManager::eMsgError, "m", 1, "src/net/IODriver.cpp");
  logAt(DebugManager::eMsgError, "m", 1, "src/net/iosocket.cpp");
  EXPECT_EQ(drop(sink), "4 src/net/IOSocketTCP.cpp\n");

  sink = makeSink("%F %m\n", "V||send|%i");
  DebugManager::Printf(FILE_PATH, 1, "sendObject", nullptr, 5, "n=%i", 3);
  DebugManager::Printf(FILE_PATH, 1, "sendObject", nullptr, 5, "plain");
  DebugManager::Printf(FILE_PATH, 1, "readObject", nullptr, 5, "n=%i", 4);
  EXPECT_EQ(drop(sink), "sendObject n=3\n");

  // Line ranges are inclusive, their bounds read as C reads integers.
  for (const char* filter : {"V||||100|200", "V||||0x64|0310"}) {
    sink = makeSink("%l\n", filter);
    for (int line : {99, 100, 150, 200, 201}) logAt(DebugManager::eMsgVerbose, "m", line);
    EXPECT_EQ(drop(sink), "100\n150\n200\n") << filter;
  }
}

TEST_F(DebugTest, FileTargets)
{
  // The keyword is case-insensitive, the path keeps its case, and the file is truncated.
  writeFile(path("X.log"), "old content\n");
  DebugManager* sink = makeSink("%m\n", nullptr, "FILE:" + path("X.log"));
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetStdio);
  logAt(DebugManager::eMsgInfo, "fresh");
  // A new target closes, hence flushes, the file.
  sink->setTarget(targetFor(m_stream).c_str());
  EXPECT_EQ(readFile(path("X.log")), "fresh\n");
  EXPECT_FALSE(present(path("x.log")));
  logAt(DebugManager::eMsgInfo, "after");
  EXPECT_EQ(drop(sink), "after\n");
  EXPECT_EQ(readFile(path("X.log")), "fresh\n");

  // A mode in the middle appends; the path keeps any further colons.
  writeFile(path("append:ed.log"), "kept\n");
  sink = makeSink("%m\n", nullptr, "file:a:" + path("append:ed.log"));
  logAt(DebugManager::eMsgInfo, "added");
  drop(sink);
  EXPECT_EQ(readFile(path("append:ed.log")), "kept\nadded\n");

  // No path, an unopenable one, or a mode the C library would read as something else
  // (glibc's character-set suffix) leave the sink silent.
  for (std::string target : {std::string("file"), std::string("file:"), "file:" + path("no/such/dir.log"),
                             "file:w,ccs=UTF-8:" + path("ccs.log")})
    EXPECT_EQ(makeSink("%m\n", nullptr, target)->getTargetKind(), DebugManager::eTargetNone) << target;
  EXPECT_FALSE(present(path("ccs.log")));
}

TEST_F(DebugTest, StreamAndOtherTargets)
{
  // A live stream is retained while it is the target.
  int before = m_stream->getRetainCount();
  DebugManager* sink = makeSink("%m\n", nullptr);
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetIO);
  EXPECT_EQ(m_stream->getRetainCount(), before + 1);
  logAt(DebugManager::eMsgInfo, "to the stream");
  sink->setTarget("windows");
  EXPECT_EQ(m_stream->getRetainCount(), before);
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetWindows);
  logAt(DebugManager::eMsgInfo, "nowhere");
  EXPECT_EQ(drop(sink), "to the stream\n");

  // An address that is no live stream: garbage, a live object that is no stream, a stream
  // that no longer exists; and unknown words.
  CountedObject* object = new CountedObject();
  CaptureStream* gone = new CaptureStream();
  std::string goneTarget = targetFor(gone);
  gone->release();
  for (std::string target :
       {std::string("io:0x1234"), std::string("io:garbage"), std::string("io"), goneTarget,
        targetFor(reinterpret_cast<IOAbstract*>(object)), std::string("syslog:x")})
    EXPECT_EQ(makeSink("%m", nullptr, target)->getTargetKind(), DebugManager::eTargetNone) << target;
  object->release();
  EXPECT_EQ(logAt(DebugManager::eMsgInfo), 6);  // accepted, but none of them writes anywhere
  EXPECT_EQ(m_stream->writes(), 0);
  EXPECT_EQ(makeSink("%m", nullptr, std::string(""))->getTargetKind(), DebugManager::eTargetStdio);
  EXPECT_EQ(makeSink("%m", nullptr, std::string("STDOUT"))->getTargetKind(), DebugManager::eTargetStdio);
}

class DebugLineFormat : public DebugTest
{
protected:
  // The line one Warning call from FILE_PATH:42 in FUNCTION writes with `format`.
  std::string lineFor(const char* format, BaseObject* object = nullptr, const char* file = FILE_PATH,
                      const char* function = FUNCTION, int severity = DebugManager::eMsgWarning)
  {
    DebugManager* sink = makeSink(format, "V");
    DebugManager::Printf(file, 42, function, object, severity, "the message");
    return drop(sink);
  }
};

class NamedProbe : public BaseObject
{
public:
  const char* getClass() const override { return "NamedProbe"; }
  BaseString* getInstanceName() override { return new (eRetainAutorelease) BaseString("probe-7"); }
};

TEST_F(DebugLineFormat, CallDirectives)
{
  EXPECT_EQ(lineFor("%%"), "%");
  EXPECT_EQ(lineFor("<%m>"), "<the message>");
  EXPECT_EQ(lineFor("%P|%p|%n|%e|%l"),
            std::string(FILE_PATH) + "|Communication/IOSocketTCP.cpp|IOSocketTCP|.cpp|42");
  EXPECT_EQ(lineFor("%F|%f", nullptr, FILE_PATH, "DistantObjectsCenter::sendObject(BaseObject*)"),
            "DistantObjectsCenter::sendObject(BaseObject*)|sendObject");
  EXPECT_EQ(lineFor("%s %v %% %S"), "W 2 % Warning");
  EXPECT_EQ(lineFor("%S", nullptr, FILE_PATH, FUNCTION, DebugManager::eMsgVerbose), "Verbose");
  // A severity outside the table has no name or letter.
  EXPECT_EQ(lineFor("%S|%s|%v", nullptr, FILE_PATH, FUNCTION, -1), "||-1");
  // Path pieces, from either kind of separator.
  EXPECT_EQ(lineFor("%p", nullptr, "C:\\corvane\\shared\\Utility\\Debug.cpp"), "Utility/Debug.cpp");
  EXPECT_EQ(lineFor("%p", nullptr, "Debug.cpp"), "Debug.cpp");
  EXPECT_EQ(lineFor("%p", nullptr, "/Debug.cpp"), "/Debug.cpp");
  EXPECT_EQ(lineFor("%n|%e", nullptr, "src\\io\\IOAbstract.h"), "IOAbstract|.h");
  EXPECT_EQ(lineFor("%n|%e", nullptr, "tools/Makefile"), "Makefile|Makefile");
  EXPECT_EQ(lineFor("%n|%e", nullptr, "a.b/archive.tar.gz"), "archive.tar|.gz");
  EXPECT_EQ(lineFor("%p|%n|%e", nullptr, ""), "||");
  // The same pieces as new strings.
  BaseAutorelease pool;
  BaseString* path = new (eRetainAutorelease) BaseString("a\\b/c/d.x.cpp");
  EXPECT_STREQ(DebugManager::getPartialPath(path)->cString(), "c/d.x.cpp");
  EXPECT_STREQ(DebugManager::getFileName(path)->cString(), "d.x");
  EXPECT_STREQ(DebugManager::getExtension(path)->cString(), ".cpp");
  EXPECT_STREQ(DebugManager::getPartialFunction(new (eRetainAutorelease) BaseString("A::readIO"))->cString(),
               "readIO");
  // The partial function.
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "threadMethod"), "threadMethod");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "operator()"), "operator");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "A::B::c_d1(x)"), "B");
  EXPECT_EQ(lineFor("%f", nullptr, FILE_PATH, "Trailing::"), "");
}

TEST_F(DebugLineFormat, ObjectThreadAndTimeDirectives)
{
  NamedProbe* probe = new NamedProbe();
  char address[40];
  snprintf(address, sizeof address, "0x%lx", (unsigned long)(uintptr_t)probe);
  EXPECT_EQ(lineFor("%c|%i|%a", probe), std::string("NamedProbe|probe-7|") + address);
  probe->release();
  EXPECT_EQ(lineFor("[%c|%i|%a]"), "[||]");
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

  auto year = [] {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return std::to_string(local.tm_year + 1900);
  };
  std::string yearBefore = year(), line = lineFor("<%[%Y%]>"), yearAfter = year();
  EXPECT_TRUE(line == "<" + yearBefore + ">" || line == "<" + yearAfter + ">") << line;
  EXPECT_EQ(lineFor("<%[plain text%]>"), "<plain text>");
  EXPECT_EQ(lineFor("<%[%]>"), "<>");
}

TEST_F(DebugLineFormat, UnknownAndMalformedDirectivesDisappear)
{
  EXPECT_EQ(lineFor("a%qb%Zc%\x01"
                    "d"),
            "abcd");
  const std::pair<const char*, const char*> formats[] = {
      {"abc%", "abc"},
      {"%", ""},
      {"%%%", "%"},
      {"", ""},
      {"%[", ""},
      {"%[%", ""},
      // An unclosed date is dropped like an unknown directive; the rest is still read.
      {"x%[abc", "xabc"},
      {"x%[%m", "xthe message"}};
  for (auto [format, line] : formats) EXPECT_EQ(lineFor(format), line) << format;
  // A date longer than its buffer writes nothing, and the line goes on after it.
  std::string manyYears = "<%[";
  for (int i = 0; i < 60; i++) manyYears += "%Y";
  for (std::string longDate : {"<%[" + std::string(300, 'x') + "%]>", manyYears + "%]>"})
    EXPECT_EQ(lineFor(longDate.c_str()), "<>");
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

TEST_F(DebugTest, CallsFromInsideTheFacilityAreDroppedWhileTheOuterCallCompletes)
{
  int nested = -1;
  m_stream->onWrite = [&] { nested = logAt(DebugManager::eMsgFatal, "from inside"); };
  makeSink("%m\n", nullptr);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "outer"), 1);
  EXPECT_EQ(nested, 0);
  m_stream->onWrite = nullptr;
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "again"), 1);  // the thread is out of the facility again
  // A call while the message is formatted.
  LoggingObject* object = new LoggingObject();
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, 1, "got %@", object), 1);
  EXPECT_EQ(object->nested, 0);
  object->release();
  EXPECT_EQ(m_stream->text(), "outer\nagain\ngot object\n");
}

TEST_F(DebugTest, FailingTargetIsIgnoredAndTheSinkStaysUsable)
{
  // Its writes fail the way an exception filter reports it: with a thrown object.
  CountedObject::resetCounts();
  CaptureStream* stream = new CaptureStream();
  int attempts = 0;
  stream->onWrite = [&attempts] {
    attempts++;
    throw static_cast<BaseObject*>(new CountedObject());
  };
  makeSink("%m\n", nullptr, targetFor(stream));
  makeSink("%m\n", nullptr);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "one"), 2);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "two"), 2);  // the sink's lock was given back
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(CountedObject::alive(), 0);  // the thrown objects were released
  EXPECT_EQ(m_stream->text(), "one\ntwo\n");
  stream->release();
}

TEST_F(DebugTest, EleventhSinkIsRefusedAndWritesNothing)
{
  std::vector<DebugManager*> ten;
  for (int i = 0; i < DebugManager::MAX_INSTANCES; i++) ten.push_back(makeSink("%m\n", "E"));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  // The refusal is reported to the ten sinks that exist.
  std::string file = "file:" + path("eleventh.log");
  DebugManager* eleventh = makeSink("%m\n", "V", file);
  EXPECT_FALSE(eleventh->isRegistered());
  EXPECT_EQ(eleventh->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_FALSE(present(path("eleventh.log")));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(m_stream->writes(), DebugManager::MAX_INSTANCES);
  EXPECT_NE(m_stream->text().find("log sink table full"), std::string::npos);
  eleventh->setTarget(file.c_str());
  EXPECT_EQ(eleventh->getTargetKind(), DebugManager::eTargetNone);
  EXPECT_EQ(logAt(DebugManager::eMsgError), DebugManager::MAX_INSTANCES);
  // Destroying the refused sink leaves the table alone; a freed slot can be taken again.
  drop(eleventh);
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(logAt(DebugManager::eMsgError), DebugManager::MAX_INSTANCES);
  drop(ten[0]);
  EXPECT_TRUE(makeSink("%m\n", nullptr)->isRegistered());
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
}

TEST_F(DebugTest, RemovalKeepsTheOtherSinksInOrder)
{
  makeSink("1", nullptr);
  DebugManager* second = makeSink("2", nullptr);
  makeSink("3", nullptr);
  makeSink("4", nullptr);
  logAt(DebugManager::eMsgInfo);
  EXPECT_EQ(drop(second), "1234");
  logAt(DebugManager::eMsgInfo);
  EXPECT_EQ(m_stream->text(), "134");
}

TEST_F(DebugTest, ConfigurationFileMakesSinksFromFourPieces)
{
  // The second sink takes the defaults for its missing pieces; carriage returns are ignored.
  writeFile(path("log.conf"),
            "[%s] %m\r\n\r\n__|__\r\n" + targetFor(m_stream) + "\r\n__|__\r\nW\n__|__\n%v %m\n");
  ::testing::internal::CaptureStdout();
  {
    BaseAutorelease pool;
    ASSERT_TRUE(DebugManager::setFromFile(path("log.conf").c_str()));
    EXPECT_EQ(DebugManager::nbInstances, 2);
    EXPECT_EQ(logAt(DebugManager::eMsgWarning, "warned"), 2);
    EXPECT_EQ(logAt(DebugManager::eMsgInfo, "informed"), 1);
    EXPECT_EQ(logAt(DebugManager::eMsgDebug, "hidden"), 0);
  }
  // The caller's pool owned them.
  EXPECT_EQ(DebugManager::nbInstances, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "2 warned\n3 informed\n");
  EXPECT_EQ(m_stream->text(), "[W] warned\n");

  // Only separators: an empty format, standard output and an empty filter let nothing pass.
  writeFile(path("separators.conf"), "\n__|__\n\n__|__\n");
  BaseAutorelease pool;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(DebugManager::setFromFile(path("separators.conf").c_str()));
  EXPECT_EQ(DebugManager::nbInstances, 1);
  EXPECT_EQ(logAt(DebugManager::eMsgFatal), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(DebugTest, ConfigurationFilesThatMakeNothingOrTooMuch)
{
  BaseAutorelease pool;
  writeFile(path("empty.conf"), "");
  writeFile(path("huge.conf"),
            "%m\n__|__\nstdout\n__|__\nV\n" + std::string(DebugManager::MAX_CONFIGURATION_SIZE, 'x'));
  for (std::string unusable :
       {path("missing.conf"), m_directory.path(), path("empty.conf"), path("huge.conf")})
    EXPECT_FALSE(DebugManager::setFromFile(unusable.c_str())) << unusable;
  EXPECT_FALSE(DebugManager::setFromFile(nullptr));
  EXPECT_EQ(DebugManager::nbInstances, 0);

  // Twelve sinks: the first ten are registered; then the table is full.
  std::string content;
  for (int i = 0; i < 12; i++)
    content += (i ? "\n__|__\n" : "") + std::to_string(i) + "\n__|__\n" + targetFor(m_stream) + "\n__|__\nV";
  writeFile(path("twelve.conf"), content);
  EXPECT_TRUE(DebugManager::setFromFile(path("twelve.conf").c_str()));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(logAt(DebugManager::eMsgVerbose), DebugManager::MAX_INSTANCES);
  EXPECT_EQ(m_stream->text(), "0123456789");
  EXPECT_FALSE(DebugManager::setFromFile(path("twelve.conf").c_str()));
}

TEST_F(DebugTest, LinesFromSeveralThreadsStayWholeAndWritesNeverOverlap)
{
  const int threads = 4, lines = 400;
  DebugManager* file = makeSink("%m\n", nullptr, "file:" + path("threads.log"));
  makeSink("%m\n", nullptr);
  std::vector<std::thread> loggers;
  for (int t = 0; t < threads; t++)
    loggers.emplace_back([t] {
      for (int i = 0; i < lines; i++)
        DebugManager::Printf(FILE_PATH, i, FUNCTION, nullptr, DebugManager::eMsgInfo, "thread %i line %i %s",
                             t, i, std::string(160, '.').c_str());
    });
  for (std::thread& logger : loggers) logger.join();
  EXPECT_EQ(m_stream->overlaps(), 0);
  EXPECT_EQ(m_stream->writes(), threads * lines);
  std::string streamed = drop(file);
  for (const std::string& text : {readFile(path("threads.log")), streamed}) {
    std::istringstream in(text);
    std::set<std::pair<int, int>> seen;
    int count = 0;
    for (std::string line; std::getline(in, line); count++) {
      int t = -1, i = -1, used = 0;
      ASSERT_EQ(sscanf(line.c_str(), "thread %d line %d %n", &t, &i, &used), 2) << line;
      EXPECT_EQ(line.substr((size_t)used), std::string(160, '.')) << line;
      seen.insert({t, i});
    }
    EXPECT_EQ(count, threads * lines);
    EXPECT_EQ(seen.size(), size_t(threads * lines));
  }
}

TEST_F(DebugTest, SinkLeavingWaitsForALineBeingWrittenThroughIt)
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
