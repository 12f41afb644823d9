// The protocol note for app writers (docs/protocol.md) against the code. Each worked example
// is a ```hex NAME block (bytes, then two spaces and a comment, on every line) and a
// ```values NAME block ("key": kind value, in the order of the bytes). The bytes must be
// what the code writes, the listed values written in the listed order must give the same
// bytes. The reply comes from a session's own handshake over a loopback connection; the request and
// the position record are built as the client tool and the plug-in build them (their builders
// are not part of this binary), the record's values from the note in the bridge's order.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/BaseMD5.h"
#include "io/BaseBuffer.h"
#include "net/IOSocketTCP.h"
#include "net/SocketTestSupport.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"
#include "serialization/BaseSerializer.h"
#include "session/DistantObjectsCenter.h"
#include "session/LoginManager.h"
#include "support/BridgeLogins.h"

namespace {

typedef std::string Bytes;

const char* const NOTE_PATH = CORVANE_SOURCE_DIR "/docs/protocol.md";
// What the app and the bridge are built with.
const char* const USER_AGENT = "Ostrel Corvane Mobile";
const char* const CREDENTIAL_TEXT = "corvane-bridge/X-Plane/1";
const char* const BRIDGE_NAME = "X-Plane";
// The bridge's order of insertion into the position record.
const char* const RECORD_KEYS[] = {"latitude", "longitude", "altitude", "speed", "course",
                                   "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};

// The lines of the fenced block whose info string is `info`; a failure when there is none.
std::vector<std::string> noteBlock(const std::string& info)
{
  std::ifstream note(NOTE_PATH);
  EXPECT_TRUE(note.good()) << "cannot read " << NOTE_PATH;
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(note, line) && !(inside && line == "```");)
    if (inside)
      lines.push_back(line);
    else
      inside = line == "```" + info;
  EXPECT_FALSE(lines.empty()) << "no ```" << info << " block in " << NOTE_PATH;
  return lines;
}

// The bytes of a hex block: on each line, the pairs of hex digits before the comment.
Bytes noteBytes(const std::string& name)
{
  Bytes bytes;
  for (const std::string& line : noteBlock("hex " + name)) {
    std::istringstream data(line.substr(0, line.find("  ")));
    for (std::string token; data >> token;) bytes += char(strtoul(token.c_str(), nullptr, 16));
  }
  return bytes;
}

// The entries of a values block, each line `"key": kind value`, as key and object.
typedef std::vector<std::pair<std::string, BaseObject*>> Entries;
void noteValues(const std::string& name, Entries& entries)
{
  for (const std::string& line : noteBlock("values " + name)) {
    char key[64], kind[16], value[64];
    ASSERT_EQ(sscanf(line.c_str(), "\"%63[^\"]\": %15s %63[^\n]", key, kind, value), 3) << line;
    std::string text(value);
    if (!strcmp(kind, "string"))
      entries.push_back({key, new (eRetainAutorelease) BaseString(text.substr(1, text.size() - 2).c_str())});
    else if (!strcmp(kind, "integer"))
      entries.push_back({key, new (eRetainAutorelease) BaseNumber(std::stoll(text))});
    else
      entries.push_back({key, new (eRetainAutorelease) BaseNumber(std::stod(text))});
  }
}

Bytes bytesOf(BaseObject* object)
{
  BaseBuffer* buffer = object ? BaseSerializer::serializeObject(object) : nullptr;
  return buffer ? Bytes((const char*)buffer->bytes(), buffer->length()) : Bytes("(none)");
}

// The example `name` of the note against the bytes the code wrote for it, and against its
// listed values as a dictionary on the wire, entry after entry in the listed order.
void expectExample(const std::string& name, const Bytes& written)
{
  const Bytes documented = noteBytes(name);
  Entries entries;
  noteValues(name, entries);
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(written, documented) << "the code writes other bytes than example " << name;
  Bytes listed = {char(eBSDictionary), 0, char(entries.size())};
  for (const auto& [key, value] : entries)
    listed += bytesOf(new (eRetainAutorelease) BaseString(key.c_str())) + bytesOf(value);
  EXPECT_EQ(listed, documented) << "example " << name << ": its values, in its order, are other bytes";
}

BaseString* text(const char* value)
{
  return new (eRetainAutorelease) BaseString(value);
}

TEST(ProtocolNoteTest, RequestAndRecordExamplesAreWhatTheClientAndTheBridgeWrite)
{
  BaseAutorelease pool;
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(text("1"), "cmd_id");
  expectExample("request", bytesOf(request));

  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  Entries entries;
  noteValues("record", entries);
  for (const char* key : RECORD_KEYS)
    for (const auto& [name, value] : entries)
      if (name == key) {
        BaseNumber* number = dynamic_cast<BaseNumber*>(value);
        EXPECT_TRUE(number && number->getNumberType() == BaseNumber::eNumberDouble) << key;
        record->setObjectForKey(value, key);
      }
  EXPECT_EQ(record->count(), std::size(RECORD_KEYS));
  expectExample("record", bytesOf(record));
}

// The bridge's session, on one end of a loopback connection, answers the login example with the
// reply example; the shared login manager is set up as the bridge sets it up.
TEST(ProtocolNoteTest, ReplyExampleIsTheBridgesAnswerToTheLoginExample)
{
  BaseAutorelease pool;
  BridgeLogins logins{USER_AGENT, BaseMD5::md5FromString(text(CREDENTIAL_TEXT))->cString()};
  const Bytes login = noteBytes("login");
  const platform::SocketHandle listening = nettest::listenRaw(0);
  ASSERT_NE(listening, platform::INVALID_SOCKET_HANDLE);
  const platform::SocketHandle app = nettest::connectRaw(nettest::boundPort(listening));
  const platform::SocketHandle bridge = platform::acceptSocket(listening, nullptr, nullptr);
  platform::closeSocket(listening);
  ASSERT_NE(app, platform::INVALID_SOCKET_HANDLE);
  ASSERT_NE(bridge, platform::INVALID_SOCKET_HANDLE);
  IOSocketTCP* driver = new IOSocketTCP();
  driver->setConnectedClientDescriptors(bridge, nullptr, 0);
  DistantObjectsCenter* session = new DistantObjectsCenter(driver);
  driver->release();
  session->setOurName(text(BRIDGE_NAME));
  nettest::sendAll(app, login);
  EXPECT_TRUE(session->handleLogin(false));
  // The whole reply is sent once the login is handled, but may still be on its way; anything
  // after it would come at once.
  Bytes reply;
  const size_t expected = noteBytes("reply").size();
  char block[4096];
  for (platform::PollEntry entry = {app, platform::ePollIn, 0};
       platform::pollSockets(&entry, 1, reply.size() < expected ? 5000 : 100) == 1;) {
    const ptrdiff_t count = platform::receiveBytes(app, block, sizeof block);
    if (count <= 0) break;
    reply.append(block, size_t(count));
  }
  expectExample("reply", reply);
  session->close();
  session->release();
  platform::closeSocket(app);
}

}  // namespace
