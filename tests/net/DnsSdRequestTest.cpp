// What Windows' own DNS-SD service is asked to announce for a registration made through the
// table: the publication's arguments (the port in network order, the TXT record as the table's
// TXT functions build it) read into a full service name, a host, a port and TXT pairs. Runs on
// every system; only Windows hands the result on.
#include "platform/DnsSdRequest.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using Properties = std::vector<std::pair<std::string, std::string>>;

struct Case
{
  const char *what, *name, *regtype, *domain, *host;
  std::string txt;
  DNSServiceErrorType result;
  const char *serviceName, *announcedHost;
  Properties properties;
};

TEST(DnsSdRequestTest, RegistrationArgumentsBecomeTheRequestOfWindows)
{
  const Case cases[] = {
      {"the bridge's registration",
       "X-Plane",
       "_corvane_gps._tcp.",
       nullptr,
       nullptr,
       std::string("\x09txtvers=1\x08qtotal=1\x0bpriority=30"),
       kDNSServiceErr_NoError,
       "X-Plane._corvane_gps._tcp.local",
       "PC.local",
       {{"txtvers", "1"}, {"qtotal", "1"}, {"priority", "30"}}},
      {"no name, a host, a key alone, an empty value and an empty key",
       nullptr,
       "_corvane_gps._tcp",
       "local.",
       "sim.local.",
       std::string("\x04"
                   "flag\x06"
                   "empty=\x02=x\x00",
                   16),
       kDNSServiceErr_NoError,
       "PC._corvane_gps._tcp.local",
       "sim.local",
       {{"flag", ""}, {"empty", ""}}},
      {"dots and backslashes in the name",
       "Sim.2\\b",
       "_x._udp.",
       "",
       nullptr,
       "",
       kDNSServiceErr_NoError,
       "Sim\\.2\\\\b._x._udp.local",
       "PC.local",
       {}},
      {"a TXT string longer than the record",
       "X-Plane",
       "_x._tcp.",
       nullptr,
       nullptr,
       "\x05"
       "ab",
       kDNSServiceErr_BadParam,
       "",
       "",
       {}},
      {"no type", "X-Plane", "", nullptr, nullptr, "", kDNSServiceErr_BadParam, "", "", {}},
      {"a domain that is not local",
       "X-Plane",
       "_x._tcp.",
       "example.org.",
       nullptr,
       "",
       kDNSServiceErr_Unsupported,
       "",
       "",
       {}},
  };
  // Port 49300 as it travels: most significant byte first.
  const uint8_t portBytes[2] = {0xc0, 0x94};
  uint16_t networkPort;
  memcpy(&networkPort, portBytes, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::DnsSdRequest request;
    EXPECT_EQ(platform::dnsSdRequestOf(c.name, c.regtype, c.domain, c.host, networkPort,
                                       uint16_t(c.txt.size()), c.txt.data(), "PC", request),
              c.result);
    if (c.result != kDNSServiceErr_NoError) continue;
    EXPECT_EQ(request.serviceName(), c.serviceName);
    EXPECT_EQ(request.host, c.announcedHost);
    EXPECT_EQ(request.port, 49300);
    EXPECT_EQ(request.properties, c.properties);
  }
}

}  // namespace
