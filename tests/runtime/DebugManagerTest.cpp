// The logging facility: dispatch to sinks, filters, targets, the line format, calls made
// from inside the facility, the table of sinks, configuration files, and threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
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

int logAt(int severity, const char* format = "message", int line = 42, const char* file = FILE_PATH,
          const char* function = FUNCTION, BaseObject* object = nullptr)
{
  return DebugManager::Printf(file, line, function, object, severity, format);
}

// Every test starts and ends without a registered sink, and has a capture stream and a
// directory of its own.
class DebugTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_EQ(DebugManager::nbInstances, 0) << "a sink leaked from an earlier test"; }
  void TearDown() override
  {
    for (DebugManager* sink : m_sinks) sink->release();
    m_stream->release();
    EXPECT_EQ(DebugManager::nbInstances, 0);
  }
  // A sink writing into m_stream (or `target`), released by TearDown unless dropped.
  DebugManager* makeSink(const char* format, const char* filter, const std::string& target = "")
  {
    m_sinks.push_back(new DebugManager(format, (target.empty() ? targetFor(m_stream) : target).c_str(), filter));
    return m_sinks.back();
  }
  // Releases the sink; returns what the stream got, and empties it.
  std::string drop(DebugManager* sink)
  {
    m_sinks.erase(std::find(m_sinks.begin(), m_sinks.end(), sink));
    sink->release();
    std::string written = m_stream->text();
    m_stream->clear();
    return written;
  }
  // The severities 0..5 that a sink with `filter` writes.
  std::string passed(const char* filter)
  {
    DebugManager* sink = makeSink("%v", filter);
    for (int severity = 0; severity <= 5; severity++) logAt(severity);
    return drop(sink);
  }
  // The line one Warning call from FILE_PATH:42 writes with `format`.
  std::string lineFor(const char* format, const char* file = FILE_PATH, const char* function = FUNCTION,
                      BaseObject* object = nullptr)
  {
    DebugManager* sink = makeSink(format, "V");
    logAt(DebugManager::eMsgWarning, "the message", 42, file, function, object);
    return drop(sink);
  }
  std::string path(const char* name) const { return m_directory.path() + "/" + name; }

  TemporaryDirectory m_directory{"corvane-debug"};
  CaptureStream* m_stream = new CaptureStream();
  std::vector<DebugManager*> m_sinks;
};

TEST_F(DebugTest, SinkWithThreeNullsWritesInfoToStandardOutputInTheDefaultFormat)
{
  m_sinks.push_back(new DebugManager(nullptr, nullptr, nullptr));
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "hello") + logAt(DebugManager::eMsgDebug, "hidden"), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Communication/IOSocketTCP.cpp:42, in connect Info: hello\n");
}

TEST_F(DebugTest, Filters)
{
  // A letter, a digit or a name's prefix select a severity; null means info and an empty text
  // writes nothing; later lines exclude, and include again.
  const std::pair<const char*, const char*> rows[] = {
      {"W", "012"}, {"2", "012"},        {"err", "01"},         {nullptr, "0123"},
      {"", ""},     {"info\n - W", "3"}, {"verbose", "012345"}, {"V||||99999999999", ""}};
  for (auto [filter, written] : rows) EXPECT_EQ(passed(filter), written) << (filter ? filter : "null");
  // Malformed lines never break the sink.
  for (const char* filter : {"|||||||||||||||||", "+", "%%%", "V||||-5|zz", "E|\x01\x02|\xff", "+-"})
    EXPECT_LE(passed(filter).size(), 6u) << filter;

  // File, function and format substrings, and inclusive line ranges read as C reads integers.
  DebugManager* sink = makeSink("%l\n", "V|Socket|conn|n=|0x64|0310");
  for (int line : {99, 100, 200, 201}) logAt(5, "n=1", line);
  logAt(5, "plain", 150);
  logAt(5, "n=1", 150, FILE_PATH, "send");
  logAt(5, "n=1", 150, "src/net/iosocket.cpp");
  EXPECT_EQ(drop(sink), "100\n200\n");
}

TEST_F(DebugTest, Targets)
{
  // The keyword is case-insensitive, the file is truncated, and a new target closes it.
  writeFile(path("X.log"), "old content\n");
  DebugManager* sink = makeSink("%m\n", nullptr, "FILE:" + path("X.log"));
  logAt(DebugManager::eMsgInfo, "fresh");
  sink->setTarget("");
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetStdio);  // the default
  sink->setTarget("windows");
  logAt(DebugManager::eMsgInfo, "not here");
  EXPECT_EQ(sink->getTargetKind(), DebugManager::eTargetWindows);
  EXPECT_EQ(readTextFile(path("X.log")), "fresh\n");
  // A mode in the middle appends; the path keeps any further colons.
  writeFile(path("append:ed.log"), "kept\n");
  sink->setTarget(("file:a:" + path("append:ed.log")).c_str());
  logAt(DebugManager::eMsgInfo, "added");
  drop(sink);
  EXPECT_EQ(readTextFile(path("append:ed.log")), "kept\nadded\n");

  // A live stream is retained while it is the target.
  int before = m_stream->getRetainCount();
  sink = makeSink("%m\n", nullptr);
  EXPECT_EQ(m_stream->getRetainCount(), before + 1);
  EXPECT_EQ(drop(sink), "");
  EXPECT_EQ(m_stream->getRetainCount(), before);

  // No path, an unopenable one, a mode the C library would read as something else, an
  // address that is no live stream, and unknown words leave the sink silent.
  CountedObject* object = new CountedObject();
  for (std::string target :
       {std::string("file"), "file:" + path("no/such/dir.log"), "file:w,ccs=UTF-8:" + path("ccs.log"),
        std::string("io:0x1234"), std::string("io"), std::string("io:garbage"),
        targetFor(reinterpret_cast<IOAbstract*>(object)), std::string("syslog:x")})
    EXPECT_EQ(makeSink("%m", nullptr, target)->getTargetKind(), DebugManager::eTargetNone) << target;
  object->release();
  EXPECT_FALSE(present(path("ccs.log")));
}

class NamedProbe : public BaseObject
{
public:
  const char* getClass() const override { return "NamedProbe"; }
  BaseString* getInstanceName() override { return new (eRetainAutorelease) BaseString("probe-7"); }
};

TEST_F(DebugTest, LineFormat)
{
  EXPECT_EQ(lineFor("%%|<%m>|%P|%p|%n|%e|%l|%s|%v|%S"),
            std::string("%|<the message>|") + FILE_PATH + "|Communication/IOSocketTCP.cpp|IOSocketTCP|.cpp|42|W|2|Warning");
  EXPECT_EQ(lineFor("%F|%f", FILE_PATH, "A::B::c_d1(x)"), "A::B::c_d1(x)|B");
  EXPECT_EQ(lineFor("%p|%n|%e", "C:\\corvane\\Utility\\Debug.tar.gz"), "Utility/Debug.tar.gz|Debug.tar|.gz");
  DebugManager* sink = makeSink("%S%s%v", "V");
  logAt(-1);  // a severity outside the table has no name or letter
  EXPECT_EQ(drop(sink), "-1");
  NamedProbe* probe = new NamedProbe();
  char address[40];
  snprintf(address, sizeof address, "0x%lx", (unsigned long)(uintptr_t)probe);
  EXPECT_EQ(lineFor("%c|%i|%a", FILE_PATH, FUNCTION, probe), std::string("NamedProbe|probe-7|") + address);
  EXPECT_EQ(lineFor("%c|%i|%a"), "||");  // no object
  probe->release();
  std::string clocks = lineFor("%t %M %C <%[%]> <%[plain%Y%]>");
  EXPECT_EQ(clocks.find_first_not_of("0123456789x abcdef<>plain"), std::string::npos) << clocks;
  // Unknown and malformed directives, and a date longer than its buffer, write nothing.
  EXPECT_EQ(lineFor("a%qb%\x01"
                    "d%"),
            "abd");
  EXPECT_EQ(lineFor("x%[%m"), "xthe message");
  EXPECT_EQ(lineFor(("<%[" + std::string(300, 'x') + "%]>").c_str()), "<>");
  BaseAutorelease pool;
  auto pieces = [](const char* text) {
    BaseString* path = new (eRetainAutorelease) BaseString(text);
    return std::string(DebugManager::getPartialPath(path)->cString()) + "|" +
           DebugManager::getFileName(path)->cString() + "|" + DebugManager::getExtension(path)->cString() + "|" +
           DebugManager::getPartialFunction(path)->cString();
  };
  EXPECT_EQ(pieces("Makefile"), "Makefile|Makefile|Makefile|Makefile");
  EXPECT_EQ(pieces("/a.b"), "/a.b|a|.b|");
  EXPECT_EQ(pieces("A::operator()"), "A::operator()|A::operator()|A::operator()|operator");
}

class LoggingObject : public BaseObject
{
public:
  BaseString* toString(int) override
  {
    nested = logAt(0, "nested");
    return new (eRetainAutorelease) BaseString("object");
  }
  int nested = -1;
};

TEST_F(DebugTest, CallsFromInsideTheFacilityAndFailingTargetsAreDropped)
{
  int nested = -1;
  m_stream->onWrite = [&] { nested = logAt(DebugManager::eMsgFatal, "from inside"); };
  makeSink("%m\n", nullptr);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "outer"), 1);
  EXPECT_EQ(nested, 0);
  m_stream->onWrite = nullptr;
  LoggingObject* object = new LoggingObject();
  EXPECT_EQ(DebugManager::Printf(FILE_PATH, 1, FUNCTION, nullptr, 1, "got %@", object), 1);
  EXPECT_EQ(object->nested, 0);
  object->release();
  // A stream whose writes fail with a thrown object.
  CountedObject::resetCounts();
  CaptureStream* failing = new CaptureStream();
  failing->onWrite = [] { throw static_cast<BaseObject*>(new CountedObject()); };
  makeSink("%m\n", nullptr, targetFor(failing));
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "one"), 2);
  EXPECT_EQ(logAt(DebugManager::eMsgInfo, "two"), 2);  // the sink's lock was given back
  EXPECT_EQ(CountedObject::alive(), 0);
  EXPECT_EQ(m_stream->text(), "outer\ngot object\none\ntwo\n");
  failing->release();
}

TEST_F(DebugTest, EleventhSinkIsRefusedAndRemovalKeepsTheOthersInOrder)
{
  std::vector<DebugManager*> ten;
  const char* const formats[] = {"a", "b", "c", "", "", "", "", "", "", "z"};
  for (const char* format : formats) ten.push_back(makeSink(format, "E"));
  std::string file = "file:" + path("eleventh.log");
  DebugManager* eleventh = makeSink("%m\n", "V", file);
  EXPECT_FALSE(eleventh->isRegistered());
  EXPECT_FALSE(present(path("eleventh.log")));
  EXPECT_EQ(DebugManager::nbInstances, DebugManager::MAX_INSTANCES);
  EXPECT_EQ(drop(eleventh), "abcz");  // the refusal is reported to the sinks that exist
  EXPECT_EQ(logAt(DebugManager::eMsgError), DebugManager::MAX_INSTANCES);
  drop(ten[1]);
  EXPECT_TRUE(makeSink("d", nullptr)->isRegistered());
  logAt(DebugManager::eMsgError);
  EXPECT_EQ(m_stream->text(), "aczd");
}

TEST_F(DebugTest, ConfigurationFiles)
{
  // The second sink takes the defaults for its missing pieces; carriage returns are ignored.
  writeFile(path("log.conf"), "[%s] %m\r\n\r\n__|__\r\n" + targetFor(m_stream) + "\r\n__|__\r\nW\n__|__\n%v %m\n");
  ::testing::internal::CaptureStdout();
  {
    BaseAutorelease pool;
    ASSERT_TRUE(DebugManager::setFromFile(path("log.conf").c_str()));
    EXPECT_EQ(logAt(DebugManager::eMsgWarning, "warned"), 2);
    EXPECT_EQ(logAt(DebugManager::eMsgDebug, "hidden"), 0);
  }
  EXPECT_EQ(DebugManager::nbInstances, 0);  // the caller's pool owned them
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "2 warned\n");
  EXPECT_EQ(m_stream->text(), "[W] warned\n");

  BaseAutorelease pool;
  writeFile(path("empty.conf"), "");
  writeFile(path("huge.conf"), "%m\n__|__\nstdout\n__|__\nV\n" + std::string(DebugManager::MAX_CONFIGURATION_SIZE, 'x'));
  for (std::string unusable : {path("missing.conf"), m_directory.path(), path("empty.conf"), path("huge.conf")})
    EXPECT_FALSE(DebugManager::setFromFile(unusable.c_str())) << unusable;
  EXPECT_FALSE(DebugManager::setFromFile(nullptr));
  EXPECT_EQ(DebugManager::nbInstances, 0);
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
