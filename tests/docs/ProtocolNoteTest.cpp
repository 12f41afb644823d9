// The protocol note for app writers (docs/protocol.md) against the code. Each worked example
// is a ```hex NAME block (bytes, then two spaces and a comment, on every line) and a
// ```values NAME block ("key": kind value, in the order of the bytes). The bytes must be
// what the code writes, the listed values written in the listed order must give the same
// bytes, and reading the bytes back must give the listed values. The login messages come
// from the sessions' own handshake over a socket pair; the request and the position record
// are built as the client tool and the plug-in build them (their builders are not part of
// this binary), the record's values from the note in the bridge's order of insertion.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/BaseMD5.h"
#include "io/BaseBuffer.h"
#include "net/IOSocketTCP.h"
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
    for (std::string token; data >> token;) {
      EXPECT_TRUE(token.size() == 2 && strspn(token.c_str(), "0123456789ABCDEF") == 2)
          << token << " in: " << line;
      bytes += char(strtoul(token.c_str(), nullptr, 16));
    }
  }
  return bytes;
}

// The entries of a values block, each line `"key": kind value`, as key and object.
std::vector<std::pair<std::string, BaseObject*>> noteValues(const std::string& name)
{
  std::vector<std::pair<std::string, BaseObject*>> entries;
  for (const std::string& line : noteBlock("values " + name)) {
    char key[64], kind[16], value[64];
    BaseObject* object = nullptr;
    if (sscanf(line.c_str(), "\"%63[^\"]\": %15s %63[^\n]", key, kind, value) == 3) {
      size_t length = strlen(value);
      char* end = value + length;
      if (!strcmp(kind, "string") && length >= 2 && value[0] == '"' && value[length - 1] == '"')
        object = new (eRetainAutorelease) BaseString(std::string(value + 1, length - 2).c_str());
      else if (!strcmp(kind, "integer"))
        object = new (eRetainAutorelease) BaseNumber(strtoll(value, &end, 10));
      else if (!strcmp(kind, "double"))
        object = new (eRetainAutorelease) BaseNumber(strtod(value, &end));
      if (*end) object = nullptr;
    }
    EXPECT_NE(object, nullptr) << "unreadable: " << line;
    if (object) entries.push_back({key, object});
  }
  return entries;
}

Bytes bytesOf(BaseObject* object)
{
  BaseBuffer* buffer = object ? BaseSerializer::serializeObject(object) : nullptr;
  return buffer ? Bytes((const char*)buffer->bytes(), buffer->length()) : Bytes("(none)");
}

// The example `name` of the note against the bytes the code wrote for it.
void expectExample(const std::string& name, const Bytes& written)
{
  const Bytes documented = noteBytes(name);
  const auto entries = noteValues(name);
  ASSERT_FALSE(documented.empty());
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(written, documented) << "the code writes other bytes than example " << name;
  // The listed values as a dictionary on the wire, entry after entry in the listed order.
  Bytes listed = {char(eBSDictionary), 0, char(entries.size())};
  for (const auto& [key, value] : entries)
    listed += bytesOf(new (eRetainAutorelease) BaseString(key.c_str())) + bytesOf(value);
  EXPECT_EQ(listed, documented) << "example " << name << ": its values, in its order, are other bytes";
  // Read back, each value is the listed one: same kind, same bits.
  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(documented.data(), uint32_t(documented.size()));
  BaseDictionary* read = dynamic_cast<BaseDictionary*>(BaseSerializer::unserializeObject(buffer));
  ASSERT_NE(read, nullptr) << "example " << name << " does not read as a dictionary";
  EXPECT_EQ(read->count(), entries.size());
  for (const auto& [key, value] : entries)
    EXPECT_EQ(bytesOf(read->objectForKey(key.c_str())), bytesOf(value))
        << "example " << name << ": \"" << key << "\"";
}

// A session on one end of a socket pair; the test is the peer on the other end.
class PairedSession
{
public:
  PairedSession()
  {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0) << strerror(errno);
    IOSocketTCP* driver = new IOSocketTCP();
    driver->setConnectedClientDescriptors(fds[0], nullptr, 0);
    session = new DistantObjectsCenter(driver);
    driver->release();
    m_peer = fds[1];
  }
  ~PairedSession()
  {
    session->close();
    session->release();
    close(m_peer);
  }
  PairedSession(const PairedSession&) = delete;
  PairedSession& operator=(const PairedSession&) = delete;

  void peerSends(const Bytes& bytes)
  {
    EXPECT_EQ(write(m_peer, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // What the session has sent so far.
  Bytes peerReceived()
  {
    Bytes bytes;
    char block[4096];
    for (ssize_t count; (count = recv(m_peer, block, sizeof block, MSG_DONTWAIT)) > 0;)
      bytes.append(block, count);
    return bytes;
  }

  DistantObjectsCenter* session;

private:
  int m_peer;
};

BaseString* text(const char* value)
{
  return new (eRetainAutorelease) BaseString(value);
}

BaseString* appPassword()
{
  return BaseMD5::md5FromString(text(CREDENTIAL_TEXT));
}

TEST(ProtocolNoteTest, RequestAndRecordExamplesAreWhatTheClientAndTheBridgeWrite)
{
  BaseAutorelease pool;
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(text("1"), "cmd_id");
  expectExample("request", bytesOf(request));

  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  const auto entries = noteValues("record");
  for (const char* key : RECORD_KEYS) {
    BaseObject* listed = nullptr;
    for (const auto& [name, value] : entries)
      if (name == key) listed = value;
    ASSERT_TRUE(BaseObject::isOfClass(listed, "BaseNumber")) << "example record lists no \"" << key << "\"";
    ASSERT_EQ(((BaseNumber*)listed)->getNumberType(), BaseNumber::eNumberDouble) << key;
    record->setObjectForKey(listed, key);
  }
  expectExample("record", bytesOf(record));
}

// The shared login manager as the bridge sets it up, for the server side of the handshake.
class ProtocolNoteLoginTest : public ::testing::Test
{
protected:
  BaseAutorelease m_pool;
  BridgeLogins m_logins{USER_AGENT, appPassword()->cString()};
};

TEST_F(ProtocolNoteLoginTest, LoginExampleIsWhatTheClientSendsAndReplyExampleLogsItIn)
{
  const Bytes reply = noteBytes("reply");
  ASSERT_FALSE(reply.empty());
  PairedSession client;
  // The reply waits in the connection, so that the login returns at once.
  client.peerSends(reply);
  EXPECT_EQ(client.session->performLogin(text(USER_AGENT), nullptr, appPassword()), LoginManager::eLoginOK);
  ASSERT_NE(client.session->getOtherSideName(), nullptr);
  EXPECT_STREQ(client.session->getOtherSideName()->cString(), BRIDGE_NAME);
  expectExample("login", client.peerReceived());
}

TEST_F(ProtocolNoteLoginTest, ReplyExampleIsTheBridgesAnswerToTheLoginExample)
{
  const Bytes login = noteBytes("login");
  ASSERT_FALSE(login.empty());
  PairedSession server;
  server.session->setOurName(text(BRIDGE_NAME));
  server.peerSends(login);
  EXPECT_TRUE(server.session->handleLogin(false));
  expectExample("reply", server.peerReceived());
}

}  // namespace
