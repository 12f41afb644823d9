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
#include <cstdlib>
#include <cstring>
#include <fstream>
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

typedef std::vector<uint8_t> Bytes;

const char* const NOTE_PATH = CORVANE_SOURCE_DIR "/docs/protocol.md";
// What the app and the bridge are built with.
const char* const USER_AGENT = "Ostrel Corvane Mobile";
const char* const CREDENTIAL_TEXT = "corvane-bridge/X-Plane/1";
const char* const BRIDGE_NAME = "X-Plane";
// The bridge's order of insertion into the position record.
const char* const RECORD_KEYS[] = {"latitude", "longitude", "altitude", "speed", "course",
                                   "pitch",    "roll",      "yaw",      "slip",  "accelerationZ"};

struct Entry
{
  std::string key;
  std::string kind;  // "string", "integer" or "double"
  std::string value;
};

// The lines of the fenced block whose info string is `info`; a failure when there is none.
std::vector<std::string> noteBlock(const std::string& info)
{
  std::ifstream note(NOTE_PATH);
  EXPECT_TRUE(note.good()) << "cannot read " << NOTE_PATH;
  std::vector<std::string> lines;
  std::string line;
  bool inside = false;
  while (std::getline(note, line)) {
    if (!inside) {
      inside = line == "```" + info;
    } else if (line == "```") {
      break;
    } else {
      lines.push_back(line);
    }
  }
  EXPECT_FALSE(lines.empty()) << "no ```" << info << " block in " << NOTE_PATH;
  return lines;
}

std::string hexText(const Bytes& bytes)
{
  std::string text;
  char digits[4];
  for (uint8_t byte : bytes) {
    snprintf(digits, sizeof digits, "%02X ", byte);
    text += digits;
  }
  return text;
}

// The bytes of a hex block: on each line, the pairs of hex digits before the comment.
Bytes noteBytes(const std::string& name)
{
  Bytes bytes;
  for (const std::string& line : noteBlock("hex " + name)) {
    const std::string data = line.substr(0, line.find("  "));
    size_t start = 0;
    while (start < data.size()) {
      size_t end = data.find(' ', start);
      if (end == std::string::npos) end = data.size();
      const std::string token = data.substr(start, end - start);
      EXPECT_TRUE(token.size() == 2 && strspn(token.c_str(), "0123456789ABCDEF") == 2)
          << "\"" << token << "\" in: " << line;
      bytes.push_back(uint8_t(strtoul(token.c_str(), nullptr, 16)));
      start = end + 1;
    }
  }
  return bytes;
}

// The entries of a values block, each line `"key": kind value`.
std::vector<Entry> noteValues(const std::string& name)
{
  std::vector<Entry> entries;
  for (const std::string& line : noteBlock("values " + name)) {
    const size_t keyEnd = line.find("\": ");
    const size_t kindEnd = keyEnd == std::string::npos ? keyEnd : line.find(' ', keyEnd + 3);
    const bool readable = line.size() > 1 && line[0] == '"' && kindEnd != std::string::npos;
    EXPECT_TRUE(readable) << line;
    if (!readable) continue;
    Entry entry{line.substr(1, keyEnd - 1), line.substr(keyEnd + 3, kindEnd - keyEnd - 3),
                line.substr(kindEnd + 1)};
    EXPECT_TRUE(entry.kind == "string" || entry.kind == "integer" || entry.kind == "double") << line;
    entries.push_back(entry);
  }
  return entries;
}

// The object an entry lists, autoreleased; null, with a failure, when it cannot be read.
BaseObject* objectOf(const Entry& entry)
{
  const char* text = entry.value.c_str();
  char* end = nullptr;
  if (entry.kind == "string") {
    const size_t length = entry.value.size();
    if (length >= 2 && text[0] == '"' && text[length - 1] == '"')
      return new (eRetainAutorelease) BaseString(entry.value.substr(1, length - 2).c_str());
  } else if (entry.kind == "integer") {
    const long long value = strtoll(text, &end, 10);
    if (*text && !*end) return new (eRetainAutorelease) BaseNumber(value);
  } else {
    const double value = strtod(text, &end);
    if (*text && !*end) return new (eRetainAutorelease) BaseNumber(value);
  }
  ADD_FAILURE() << "unreadable " << entry.kind << " value " << entry.value;
  return nullptr;
}

Bytes bytesOf(BaseObject* object)
{
  BaseBuffer* buffer = BaseSerializer::serializeObject(object);
  return Bytes(buffer->bytes(), buffer->bytes() + buffer->length());
}

// The listed values as a dictionary on the wire, entry after entry in the listed order.
Bytes bytesOfEntries(const std::vector<Entry>& entries)
{
  EXPECT_LE(entries.size(), 63u);
  Bytes bytes = {uint8_t(eBSDictionary), 0, uint8_t(entries.size())};
  for (const Entry& entry : entries) {
    for (BaseObject* part :
         {(BaseObject*)new (eRetainAutorelease) BaseString(entry.key.c_str()), objectOf(entry)}) {
      const Bytes written = part ? bytesOf(part) : Bytes();
      bytes.insert(bytes.end(), written.begin(), written.end());
    }
  }
  return bytes;
}

bool sameValue(BaseObject* listed, BaseObject* read)
{
  BaseString* listedText = dynamic_cast<BaseString*>(listed);
  BaseString* readText = dynamic_cast<BaseString*>(read);
  if (listedText || readText)
    return listedText && readText && strcmp(listedText->cString(), readText->cString()) == 0;
  BaseNumber* listedNumber = dynamic_cast<BaseNumber*>(listed);
  BaseNumber* readNumber = dynamic_cast<BaseNumber*>(read);
  if (!listedNumber || !readNumber || listedNumber->getNumberType() != readNumber->getNumberType())
    return false;
  if (listedNumber->getNumberType() != BaseNumber::eNumberDouble)
    return listedNumber->getInteger64() == readNumber->getInteger64();
  const double a = listedNumber->getDouble(), b = readNumber->getDouble();
  return memcmp(&a, &b, sizeof a) == 0;
}

// The example `name` of the note against the bytes the code wrote for it.
void expectExample(const std::string& name, const Bytes& written)
{
  const Bytes documented = noteBytes(name);
  const std::vector<Entry> entries = noteValues(name);
  ASSERT_FALSE(documented.empty());
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(hexText(written), hexText(documented)) << "the code writes other bytes than example " << name;
  EXPECT_EQ(hexText(bytesOfEntries(entries)), hexText(documented))
      << "example " << name << ": its values, in its order, are other bytes";

  BaseBuffer* buffer = new (eRetainAutorelease) BaseBuffer(documented.data(), uint32_t(documented.size()));
  BaseDictionary* read = dynamic_cast<BaseDictionary*>(BaseSerializer::unserializeObject(buffer));
  ASSERT_NE(read, nullptr) << "example " << name << " does not read as a dictionary";
  EXPECT_EQ(read->count(), entries.size());
  for (const Entry& entry : entries)
    EXPECT_TRUE(sameValue(objectOf(entry), read->objectForKey(entry.key.c_str())))
        << "example " << name << ": \"" << entry.key << "\" reads as another value";
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
    uint8_t block[4096];
    ssize_t count;
    while ((count = recv(m_peer, block, sizeof block, MSG_DONTWAIT)) > 0)
      bytes.insert(bytes.end(), block, block + count);
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

TEST(ProtocolNoteTest, RequestExampleIsTheClientsPositionRequest)
{
  BaseAutorelease pool;
  BaseDictionary* request = new (eRetainAutorelease) BaseDictionary();
  request->setObjectForKey(text("1"), "cmd_id");
  expectExample("request", bytesOf(request));
}

TEST(ProtocolNoteTest, RecordExampleIsTheBridgesRecordOfItsValues)
{
  BaseAutorelease pool;
  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  const std::vector<Entry> entries = noteValues("record");
  for (const char* key : RECORD_KEYS) {
    const Entry* listed = nullptr;
    for (const Entry& entry : entries)
      if (entry.key == key) listed = &entry;
    ASSERT_NE(listed, nullptr) << "example record lists no \"" << key << "\"";
    ASSERT_EQ(listed->kind, "double") << key;
    record->setObjectForKey(objectOf(*listed), key);
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
