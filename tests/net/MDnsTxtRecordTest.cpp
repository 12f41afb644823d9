// The TXT records we build for the back-ends without TXT functions (Avahi's client library,
// Windows' own service) must be those libdns_sd builds, byte for byte and result for result:
// a caller may not see which library the table holds. The keys stay printable ASCII, the only
// keys dns_sd.h defines: beyond them Avahi's libdns_sd also takes control characters and
// tells keys apart by letter case, where the DNS-SD rules do neither. Registration needs a
// daemon: it runs in tests/dnssd.
#include "net/MDnsTxtRecord.h"

#include <gtest/gtest.h>

#include <optional>

#include "net/MDnsWrapper.h"

namespace {

// Entries (no value: the key alone) into a record with a buffer of the caller's (length 0:
// none); the bytes built and the result of every entry.
using Entries = std::vector<std::pair<std::string, std::optional<std::string>>>;
using Built = std::pair<std::string, std::vector<DNSServiceErrorType>>;

Built build(MDnsWrapper* table, uint16_t bufferLength, const Entries& entries)
{
  std::vector<char> buffer(bufferLength);
  TXTRecordRef txt;
  table->m_txtCreate(&txt, bufferLength, buffer.empty() ? nullptr : buffer.data());
  Built built;
  for (const auto& [key, value] : entries)
    built.second.push_back(table->m_txtSetValue(&txt, key.c_str(), uint8_t(value ? value->size() : 0),
                                                value ? value->data() : nullptr));
  if (uint16_t length = table->m_txtGetLength(&txt))
    built.first.assign(static_cast<const char*>(table->m_txtGetBytesPtr(&txt)), length);
  table->m_txtDeallocate(&txt);
  return built;
}

TEST(MDnsTxtRecordTest, TxtRecordsAreThoseOfLibdnsSd)
{
  const std::tuple<const char*, uint16_t, Entries> cases[] = {
      {"the bridge's entries", 0, {{"txtvers", "1"}, {"qtotal", "1"}, {"priority", "30"}}},
      {"nothing", 0, {}},
      {"key alone and empty value", 0, {{"flag", std::nullopt}, {"empty", ""}}},
      {"key set again", 0, {{"a", "1"}, {"b", "2"}, {"a", "3"}}},
      {"keys that are no keys", 0, {{"", "x"}, {"a=b", "x"}, {"ok", "x"}}},
      {"255 bytes and one more", 0, {{"k", std::string(253, 'v')}, {"j", std::string(254, 'v')}}},
      {"past the caller's buffer", 8, {{"txtvers", "1"}, {"qtotal", "1"}}},
  };
  MDnsWrapper *dnsSd = new MDnsWrapper(), *avahi = new MDnsWrapper();
  ASSERT_TRUE(dnsSd->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryDnsSd));
  ASSERT_TRUE(avahi->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryAvahiClient));
  for (const auto& [name, bufferLength, entries] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(build(avahi, bufferLength, entries), build(dnsSd, bufferLength, entries));
  }
  avahi->release(), dnsSd->release();
}

}  // namespace
