// Runs beside a private Avahi daemon (ctest's dnssd_sandbox, through scripts/dnssd-sandbox.sh):
// checks that a registration made through MDnsWrapper's table is seen by a browser the way
// the app sees it, and that the test helpers tell a withdrawn instance from a visible one.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dnssd/DnsSdBrowser.h"
#include "net/MDnsWrapper.h"
#include "support/CaptureStream.h"

namespace {

const char* const TYPE = "_corvane_check._tcp";
const char* const NAME = "Sandbox-Check";
const int TIMEOUT_MS = 5000;

class DnsSdBrowseTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(m_wrapper->MDnsIsLoaded());
    m_wrapper->m_txtCreate(&m_txt, 512, nullptr);
    ASSERT_EQ(m_wrapper->m_txtSetValue(&m_txt, "k", 1, "v"), kDNSServiceErr_NoError);
  }
  void TearDown() override
  {
    withdraw();
    m_wrapper->m_txtDeallocate(&m_txt);
    m_wrapper->release();
  }

  // Registers as the socket driver does and waits, bounded, for the daemon's verdict.
  void publish()
  {
    ASSERT_EQ(m_wrapper->m_register(&m_service, 0, 0, NAME, TYPE, nullptr, nullptr, htons(4242),
                                    m_wrapper->m_txtGetLength(&m_txt), m_wrapper->m_txtGetBytesPtr(&m_txt),
                                    servicePublished, nullptr),
              kDNSServiceErr_NoError)
        << "no DNS-SD daemon reachable: run through scripts/dnssd-sandbox.sh";
    ASSERT_TRUE(
        processResultsUntil(m_wrapper, m_service, TIMEOUT_MS, [&] { return !m_capture.text().empty(); }))
        << "no registration reply within " << TIMEOUT_MS << " ms";
  }
  void withdraw()
  {
    if (m_service) m_wrapper->m_refDeallocate(m_service);
    m_service = nullptr;
  }

  MDnsWrapper* m_wrapper = MDnsWrapper::sharedMDNSWrapper();
  TXTRecordRef m_txt;
  DNSServiceRef m_service = nullptr;
  LogCapture m_capture;
};

TEST_F(DnsSdBrowseTest, RegistrationIsAcceptedAndResolvesToItsPortAndTxtEntry)
{
  ASSERT_NO_FATAL_FAILURE(publish());
  EXPECT_EQ(m_capture.text(), "Info: MDNS Service Sandbox-Check published with result 0\n");

  ResolvedService found;
  ASSERT_TRUE(browseAndResolve(TYPE, NAME, TIMEOUT_MS, found));
  EXPECT_EQ(found.port, 4242);
  EXPECT_EQ(found.fullName, "Sandbox-Check._corvane_check._tcp.local.");
  EXPECT_FALSE(found.hostTarget.empty());
  uint8_t length = 0;
  const void* value =
      m_wrapper->m_txtGetValuePtr(uint16_t(found.txtRecord.size()), found.txtRecord.data(), "k", &length);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(value), length), "v");
  EXPECT_EQ(found.txt, (std::map<std::string, std::string>{{"k", "v"}}));
}

TEST_F(DnsSdBrowseTest, InstanceIsBrowsableWhilePublishedAndNotAfterDeallocation)
{
  ASSERT_NO_FATAL_FAILURE(publish());
  EXPECT_TRUE(isBrowsable(TYPE, NAME, 1000));
  withdraw();
  EXPECT_FALSE(isBrowsable(TYPE, NAME, 2500));
}

TEST_F(DnsSdBrowseTest, UnknownInstanceIsNeitherResolvedNorBrowsable)
{
  ASSERT_NO_FATAL_FAILURE(publish());
  ResolvedService found;
  EXPECT_FALSE(browseAndResolve(TYPE, "Nobody-Here", 1000, found));
  EXPECT_FALSE(isBrowsable(TYPE, "Nobody-Here", 1000));
}

}  // namespace
