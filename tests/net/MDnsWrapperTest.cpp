#include "net/MDnsWrapper.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>

#include "net/MDnsAvahiClient.h"
#include "net/MDnsTxtRecord.h"
#include "support/CaptureStream.h"

namespace {

DNSServiceErrorType refusingRegister(DNSServiceRef*, DNSServiceFlags, uint32_t, const char*, const char*,
                                     const char*, const char*, uint16_t, uint16_t, const void*,
                                     DNSServiceRegisterReply, void*)
{
  return kDNSServiceErr_Refused;
}

// The fifteen entries in table order, so that a failure names the position.
std::vector<void*> entries(const MDnsWrapper* w)
{
  return {(void*)w->m_browse,         (void*)w->m_resolve,           (void*)w->m_processResult,
          (void*)w->m_refSockFD,      (void*)w->m_refDeallocate,     (void*)w->m_txtGetCount,
          (void*)w->m_txtGetValuePtr, (void*)w->m_txtGetItemAtIndex, (void*)w->m_register,
          (void*)w->m_txtGetLength,   (void*)w->m_txtGetBytesPtr,    (void*)w->m_txtSetValue,
          (void*)w->m_txtCreate,      (void*)w->m_txtDeallocate,     (void*)w->m_queryRecord};
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

using C = MDnsAvahiClient;
using T = MDnsTxtRecord;
// clang-format off
const std::vector<void*> AVAHI_CLIENT = {nullptr, nullptr, (void*)&C::processResult, (void*)&C::refSockFD,
    (void*)&C::refDeallocate, nullptr, nullptr, nullptr, (void*)&C::registerService, (void*)&T::txtGetLength,
    (void*)&T::txtGetBytesPtr, (void*)&T::txtSetValue, (void*)&T::txtCreate, (void*)&T::txtDeallocate, nullptr};
// clang-format on

const std::vector<void*> EMPTY(15, nullptr);

TEST(MDnsWrapperShared, HoldersShareOneFilledInstanceUntilTheLastReleaseThenANewOne)
{
  MDnsWrapper *first = MDnsWrapper::sharedMDNSWrapper(), *second = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->getRetainCount(), 2);
  EXPECT_STREQ(first->getClass(), "MDnsWrapper");
  EXPECT_EQ(first->MDnsLibrary(), MDnsWrapper::eMDnsLibraryAvahiClient);
  EXPECT_EQ(entries(first), AVAHI_CLIENT);
  // The remaining holder keeps the instance and the fakes put into it.
  first->m_register = refusingRegister;
  first->release();
  EXPECT_EQ(second->getRetainCount(), 1);
  MDnsWrapper* third = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(third, second);
  EXPECT_EQ(third->m_register, &refusingRegister);
  // Destroying a private instance leaves the shared one.
  (new MDnsWrapper())->release();
  EXPECT_EQ(MDnsWrapper::sharedMDNSWrapper(), second);
  EXPECT_EQ(second->getRetainCount(), 3);
  second->release(), second->release();
  // Marks the old instance: a stale shared pointer would hand this table back (or crash).
  third->CloseMDnsLibrary();
  third->release();
  MDnsWrapper* renewed = MDnsWrapper::sharedMDNSWrapper();
  EXPECT_EQ(renewed->getRetainCount(), 1);
  EXPECT_EQ(entries(renewed), AVAHI_CLIENT);
  renewed->release();
}

// A release dropping the last reference while another thread asks for the instance must
// never hand out the dying one; ASan and TSan builds watch this. Each new instance opens and
// closes the libraries again, which keeps the rounds few.
TEST(MDnsWrapperShared, ConcurrentHoldersAlwaysGetALiveFilledInstance)
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

// Each choice replaces the one before it on the same object; the default is Avahi's client,
// and initialising again keeps entries put in by hand.
TEST(MDnsWrapperLibrary, ChosenLibraryFillsTheTableAloneAndCloseEmptiesIt)
{
  const char *dnsSd = "Info: DNS-SD through libdns_sd.so.1\n",
             *avahi = "Info: DNS-SD through Avahi's client library\n";
  const std::tuple<MDnsWrapper::eMDnsLibrary, bool, const char*> choices[] = {
      {MDnsWrapper::eMDnsLibraryDnsSd, true, dnsSd},
      {MDnsWrapper::eMDnsLibraryAvahiClient, true, avahi},
      {MDnsWrapper::eMDnsLibraryNone, false, ""},
      {MDnsWrapper::eMDnsLibraryDnsSd, true, dnsSd}};
  MDnsWrapper* wrapper = new MDnsWrapper();
  EXPECT_FALSE(wrapper->MDnsIsLoaded());
  EXPECT_EQ(entries(wrapper), EMPTY);
  for (auto [library, loads, lines] : choices) {
    SCOPED_TRACE(lines);
    LogCapture log("%S: %m\n", "I");
    EXPECT_EQ(wrapper->InitMDnsLibrary(library), loads);
    EXPECT_EQ(wrapper->MDnsIsLoaded(), loads);
    EXPECT_EQ(wrapper->MDnsTableFilled(), loads);
    EXPECT_EQ(wrapper->MDnsLibrary(), library);
    EXPECT_EQ(log.text(), lines);
    EXPECT_EQ(entries(wrapper), library == MDnsWrapper::eMDnsLibraryDnsSd ? dnsSdFunctions()
                                : loads                                   ? AVAHI_CLIENT
                                                                          : EMPTY);
  }
  EXPECT_TRUE(wrapper->CloseMDnsLibrary());
  EXPECT_FALSE(wrapper->MDnsIsLoaded());
  EXPECT_FALSE(wrapper->MDnsTableFilled());
  EXPECT_EQ(wrapper->MDnsLibrary(), MDnsWrapper::eMDnsLibraryNone);
  EXPECT_EQ(entries(wrapper), EMPTY);
  LogCapture log("%S: %m\n", "I");
  EXPECT_TRUE(wrapper->InitMDnsLibrary());
  EXPECT_EQ(log.text(), avahi);
  wrapper->m_register = refusingRegister;
  EXPECT_TRUE(wrapper->InitMDnsLibrary());
  EXPECT_TRUE(wrapper->InitMDnsLibrary(MDnsWrapper::eMDnsLibraryAvahiClient));
  EXPECT_EQ(wrapper->m_register, &refusingRegister);
  EXPECT_EQ(wrapper->m_processResult, &MDnsAvahiClient::processResult);
  wrapper->release();
}

TEST(MDnsWrapperServicePublished, NullNameIsPrintedAsNull)
{
  LogCapture capture;
  servicePublished(nullptr, 0, kDNSServiceErr_NoError, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(capture.text(), "Info: MDNS Service (null) published with result 0\n");
}

}  // namespace
