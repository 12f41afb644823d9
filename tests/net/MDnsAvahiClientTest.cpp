// The TXT records built for Avahi's client library must be those libdns_sd builds, byte for
// byte and result for result: the registration hands them to Avahi string by string, and a
// caller may not see which library the table holds. The keys stay printable ASCII, the only
// keys dns_sd.h defines: beyond them Avahi's libdns_sd also takes control characters and
// tells keys apart by letter case, where the DNS-SD rules do neither. Registration needs a
// daemon: it runs in tests/dnssd.
#include "net/MDnsAvahiClient.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/MDnsWrapper.h"

namespace {

struct TxtEntry
{
  std::string key;
  std::optional<std::string> value;  // none: the key alone
};

struct TxtCase
{
  const char* name;
  uint16_t bufferLength;  // 0: no buffer of the caller's
  std::vector<TxtEntry> entries;
};

struct Built
{
  std::string bytes;
  std::vector<DNSServiceErrorType> results;
};

Built build(MDnsWrapper* table, const TxtCase& txtCase)
{
  std::vector<char> buffer(txtCase.bufferLength);
  TXTRecordRef txt;
  table->m_txtCreate(&txt, txtCase.bufferLength, buffer.empty() ? nullptr : buffer.data());
  Built built;
  for (const TxtEntry& entry : txtCase.entries)
    built.results.push_back(table->m_txtSetValue(&txt, entry.key.c_str(),
                                                 uint8_t(entry.value ? entry.value->size() : 0),
                                                 entry.value ? entry.value->data() : nullptr));
  if (uint16_t length = table->m_txtGetLength(&txt))
    built.bytes.assign(static_cast<const char*>(table->m_txtGetBytesPtr(&txt)), length);
  table->m_txtDeallocate(&txt);
  return built;
}

TEST(MDnsAvahiClientTest, TxtRecordsAreThoseOfLibdnsSd)
{
  const TxtCase cases[] = {
      {"the bridge's entries", 0, {{"txtvers", "1"}, {"qtotal", "1"}, {"priority", "30"}}},
      {"nothing", 0, {}},
      {"key alone and empty value", 0, {{"flag", std::nullopt}, {"empty", ""}}},
      {"key set again", 0, {{"a", "1"}, {"b", "2"}, {"a", "3"}}},
      {"keys that are no keys", 0, {{"", "x"}, {"a=b", "x"}, {"ok", "x"}}},
      {"255 bytes and one more", 0, {{"k", std::string(253, 'v')}, {"j", std::string(254, 'v')}}},
      {"past the caller's buffer", 8, {{"txtvers", "1"}, {"qtotal", "1"}}},
  };
  MDnsWrapper* dnsSd = new MDnsWrapper();
  MDnsWrapper* avahi = new MDnsWrapper();
  ASSERT_TRUE(dnsSd->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryDnsSd));
  ASSERT_TRUE(avahi->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryAvahiClient));
  for (const TxtCase& txtCase : cases) {
    SCOPED_TRACE(txtCase.name);
    const Built expected = build(dnsSd, txtCase);
    const Built built = build(avahi, txtCase);
    EXPECT_EQ(built.bytes, expected.bytes);
    EXPECT_EQ(built.results, expected.results);
  }
  avahi->release();
  dnsSd->release();
}

}  // namespace
