#include "net/MDnsWrapper.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "net/MDnsAvahiClient.h"
#include "support/CaptureStream.h"

namespace {

DNSServiceErrorType refusingRegister(DNSServiceRef*, DNSServiceFlags, uint32_t, const char*, const char*,
                                     const char*, const char*, uint16_t, uint16_t, const void*,
                                     DNSServiceRegisterReply, void*)
{
  return kDNSServiceErr_Refused;
}

template <typename Function>
void* address(Function* function)
{
  return reinterpret_cast<void*>(function);
}

// The fifteen entries in table order, so that a failure names the position.
std::vector<void*> entries(const MDnsWrapper* wrapper)
{
  const MDnsWrapper& w = *wrapper;
  return {address(w.m_browse),         address(w.m_resolve),           address(w.m_processResult),
          address(w.m_refSockFD),      address(w.m_refDeallocate),     address(w.m_txtGetCount),
          address(w.m_txtGetValuePtr), address(w.m_txtGetItemAtIndex), address(w.m_register),
          address(w.m_txtGetLength),   address(w.m_txtGetBytesPtr),    address(w.m_txtSetValue),
          address(w.m_txtCreate),      address(w.m_txtDeallocate),     address(w.m_queryRecord)};
}

// libdns_sd.so.1's own functions, looked up apart from the wrapper, in table order. Only
// meaningful while a wrapper keeps the library loaded.
std::vector<void*> dnsSdFunctions()
{
  static const char* const names[] = {
      "DNSServiceBrowse",        "DNSServiceResolve",   "DNSServiceProcessResult", "DNSServiceRefSockFD",
      "DNSServiceRefDeallocate", "TXTRecordGetCount",   "TXTRecordGetValuePtr",    "TXTRecordGetItemAtIndex",
      "DNSServiceRegister",      "TXTRecordGetLength",  "TXTRecordGetBytesPtr",    "TXTRecordSetValue",
      "TXTRecordCreate",         "TXTRecordDeallocate", "DNSServiceQueryRecord"};
  void* library = dlopen("libdns_sd.so.1", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  std::vector<void*> found;
  for (const char* name : names) found.push_back(library ? dlsym(library, name) : nullptr);
  if (library) dlclose(library);
  return found;
}

// clang-format off
const std::vector<void*> AVAHI_CLIENT = {
    nullptr, nullptr, address(&MDnsAvahiClient::processResult), address(&MDnsAvahiClient::refSockFD),
    address(&MDnsAvahiClient::refDeallocate), nullptr, nullptr, nullptr,
    address(&MDnsAvahiClient::registerService), address(&MDnsAvahiClient::txtGetLength),
    address(&MDnsAvahiClient::txtGetBytesPtr), address(&MDnsAvahiClient::txtSetValue),
    address(&MDnsAvahiClient::txtCreate), address(&MDnsAvahiClient::txtDeallocate), nullptr};
// clang-format on

const std::vector<void*> EMPTY(15, nullptr);

// --- the shared instance: identity, references, renewal ---

class MDnsWrapperShared : public ::testing::Test
{
};

TEST_F(MDnsWrapperShared, HoldersShareOneFilledInstanceWithAReferenceEach)
{
  MDnsWrapper* first = MDnsWrapper::sharedMDNSWrapper();
  MDnsWrapper* second = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->getRetainCount(), 2);
  EXPECT_STREQ(first->getClass(), "MDnsWrapper");
  EXPECT_TRUE(first->MDnsIsLoaded());
  EXPECT_EQ(first->MDnsLibrary(), MDnsWrapper::eMDnsLibraryAvahiClient);
  EXPECT_EQ(entries(first), AVAHI_CLIENT);
  second->release();
  EXPECT_EQ(first->getRetainCount(), 1);
  first->release();
}

TEST_F(MDnsWrapperShared, RemainingHolderKeepsTheInstanceAndItsFakes)
{
  MDnsWrapper* first = MDnsWrapper::sharedMDNSWrapper();
  first->m_register = refusingRegister;
  MDnsWrapper* second = MDnsWrapper::sharedMDNSWrapper();
  first->release();
  MDnsWrapper* third = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(third, second);
  EXPECT_EQ(third->getRetainCount(), 2);
  EXPECT_EQ(third->m_register, &refusingRegister);
  third->release();
  second->release();
}

TEST_F(MDnsWrapperShared, AfterTheLastReleaseANewFilledInstanceIsMade)
{
  MDnsWrapper* first = MDnsWrapper::sharedMDNSWrapper();
  // Marks the old instance: a stale shared pointer would hand this table back (or crash).
  first->CloseMDnsLibrary();
  first->release();
  MDnsWrapper* renewed = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(renewed->getRetainCount(), 1);
  EXPECT_TRUE(renewed->MDnsIsLoaded());
  EXPECT_EQ(entries(renewed), AVAHI_CLIENT);
  renewed->release();
}

TEST_F(MDnsWrapperShared, DestroyingAPrivateInstanceLeavesTheSharedOne)
{
  MDnsWrapper* shared = MDnsWrapper::sharedMDNSWrapper();
  MDnsWrapper* other = new MDnsWrapper();
  other->release();
  MDnsWrapper* again = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(again, shared);
  EXPECT_EQ(shared->getRetainCount(), 2);
  again->release();
  shared->release();
}

// A release dropping the last reference while another thread asks for the instance must
// never hand out the dying one; ASan and TSan builds watch this. Each new instance opens and
// closes the libraries again, which keeps the rounds few.
TEST_F(MDnsWrapperShared, ConcurrentHoldersAlwaysGetALiveFilledInstance)
{
  std::atomic<int> unloaded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 400; ++i) {
        MDnsWrapper* wrapper = MDnsWrapper::sharedMDNSWrapper();
        if (!wrapper->MDnsIsLoaded() || wrapper->m_register != &MDnsAvahiClient::registerService) ++unloaded;
        wrapper->release();
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(unloaded, 0);
}

// --- filling and emptying the table ---

class MDnsWrapperLibrary : public ::testing::Test
{
protected:
  void TearDown() override { m_wrapper->release(); }

  MDnsWrapper* m_wrapper = new MDnsWrapper();
};

// The table the first choice fills is checked through the shared instance above.
TEST_F(MDnsWrapperLibrary, NewObjectIsEmptyUntilInitialisedAndSaysWhichLibraryItTook)
{
  EXPECT_FALSE(m_wrapper->MDnsIsLoaded());
  EXPECT_FALSE(m_wrapper->MDnsTableFilled());
  EXPECT_EQ(entries(m_wrapper), EMPTY);
  LogCapture log("%S: %m\n", "I");
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary());
  EXPECT_TRUE(m_wrapper->MDnsTableFilled());
  EXPECT_EQ(log.text(), "Info: DNS-SD through Avahi's client library\n");
}

// Each choice replaces the one before it on the same object.
TEST_F(MDnsWrapperLibrary, ChosenLibraryFillsTheTableAlone)
{
  struct Choice
  {
    MDnsWrapper::eMDnsLibrary library;
    bool loads;
    const char* log;
  };
  const Choice choices[] = {
      {MDnsWrapper::eMDnsLibraryDnsSd, true, "Info: DNS-SD through libdns_sd.so.1\n"},
      {MDnsWrapper::eMDnsLibraryAvahiClient, true, "Info: DNS-SD through Avahi's client library\n"},
      {MDnsWrapper::eMDnsLibraryNone, false, ""},
      {MDnsWrapper::eMDnsLibraryDnsSd, true, "Info: DNS-SD through libdns_sd.so.1\n"}};
  for (const Choice& choice : choices) {
    SCOPED_TRACE(choice.log);
    LogCapture log("%S: %m\n", "I");
    EXPECT_EQ(m_wrapper->InitMDnsLibrary(choice.library), choice.loads);
    EXPECT_EQ(m_wrapper->MDnsIsLoaded(), choice.loads);
    EXPECT_EQ(m_wrapper->MDnsLibrary(), choice.library);
    EXPECT_EQ(log.text(), choice.log);
    const std::vector<void*> expected = choice.library == MDnsWrapper::eMDnsLibraryDnsSd ? dnsSdFunctions()
                                        : choice.loads                                   ? AVAHI_CLIENT
                                                                                         : EMPTY;
    EXPECT_EQ(entries(m_wrapper), expected);
  }
}

TEST_F(MDnsWrapperLibrary, InitialisingAgainKeepsEntriesPutInByHand)
{
  m_wrapper->InitMDnsLibrary();
  m_wrapper->m_register = refusingRegister;
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary());
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryAvahiClient));
  EXPECT_EQ(m_wrapper->m_register, &refusingRegister);
  EXPECT_EQ(m_wrapper->m_processResult, &MDnsAvahiClient::processResult);
}

TEST_F(MDnsWrapperLibrary, CloseEmptiesTheTableAndAnotherInitRefillsIt)
{
  m_wrapper->InitMDnsLibrary();
  m_wrapper->m_register = refusingRegister;
  EXPECT_TRUE(m_wrapper->CloseMDnsLibrary());
  EXPECT_FALSE(m_wrapper->MDnsIsLoaded());
  EXPECT_FALSE(m_wrapper->MDnsTableFilled());
  EXPECT_EQ(m_wrapper->MDnsLibrary(), MDnsWrapper::eMDnsLibraryNone);
  EXPECT_EQ(entries(m_wrapper), EMPTY);
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary());
  EXPECT_EQ(entries(m_wrapper), AVAHI_CLIENT);
}

// --- the registration reply ---

class MDnsWrapperServicePublished : public ::testing::Test
{
protected:
  LogCapture m_capture;
};

TEST_F(MDnsWrapperServicePublished, NullNameIsPrintedAsNull)
{
  servicePublished(nullptr, 0, kDNSServiceErr_NoError, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(m_capture.text(), "Info: MDNS Service (null) published with result 0\n");
}

}  // namespace
