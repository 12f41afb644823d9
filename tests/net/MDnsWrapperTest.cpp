#include "net/MDnsWrapper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/CaptureStream.h"

namespace {

DNSServiceErrorType refusingRegister(DNSServiceRef*, DNSServiceFlags, uint32_t, const char*, const char*,
                                     const char*, const char*, uint16_t, uint16_t, const void*,
                                     DNSServiceRegisterReply, void*)
{
  return kDNSServiceErr_Refused;
}

void expectLinkedTable(const MDnsWrapper* wrapper)
{
  EXPECT_EQ(wrapper->m_browse, &::DNSServiceBrowse);
  EXPECT_EQ(wrapper->m_resolve, &::DNSServiceResolve);
  EXPECT_EQ(wrapper->m_processResult, &::DNSServiceProcessResult);
  EXPECT_EQ(wrapper->m_refSockFD, &::DNSServiceRefSockFD);
  EXPECT_EQ(wrapper->m_refDeallocate, &::DNSServiceRefDeallocate);
  EXPECT_EQ(wrapper->m_txtGetCount, &::TXTRecordGetCount);
  EXPECT_EQ(wrapper->m_txtGetValuePtr, &::TXTRecordGetValuePtr);
  EXPECT_EQ(wrapper->m_txtGetItemAtIndex, &::TXTRecordGetItemAtIndex);
  EXPECT_EQ(wrapper->m_register, &::DNSServiceRegister);
  EXPECT_EQ(wrapper->m_txtGetLength, &::TXTRecordGetLength);
  EXPECT_EQ(wrapper->m_txtGetBytesPtr, &::TXTRecordGetBytesPtr);
  EXPECT_EQ(wrapper->m_txtSetValue, &::TXTRecordSetValue);
  EXPECT_EQ(wrapper->m_txtCreate, &::TXTRecordCreate);
  EXPECT_EQ(wrapper->m_txtDeallocate, &::TXTRecordDeallocate);
  EXPECT_EQ(wrapper->m_queryRecord, &::DNSServiceQueryRecord);
}

void expectEmptyTable(const MDnsWrapper* wrapper)
{
  EXPECT_EQ(wrapper->m_browse, nullptr);
  EXPECT_EQ(wrapper->m_resolve, nullptr);
  EXPECT_EQ(wrapper->m_processResult, nullptr);
  EXPECT_EQ(wrapper->m_refSockFD, nullptr);
  EXPECT_EQ(wrapper->m_refDeallocate, nullptr);
  EXPECT_EQ(wrapper->m_txtGetCount, nullptr);
  EXPECT_EQ(wrapper->m_txtGetValuePtr, nullptr);
  EXPECT_EQ(wrapper->m_txtGetItemAtIndex, nullptr);
  EXPECT_EQ(wrapper->m_register, nullptr);
  EXPECT_EQ(wrapper->m_txtGetLength, nullptr);
  EXPECT_EQ(wrapper->m_txtGetBytesPtr, nullptr);
  EXPECT_EQ(wrapper->m_txtSetValue, nullptr);
  EXPECT_EQ(wrapper->m_txtCreate, nullptr);
  EXPECT_EQ(wrapper->m_txtDeallocate, nullptr);
  EXPECT_EQ(wrapper->m_queryRecord, nullptr);
}

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
  expectLinkedTable(first);
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
  expectLinkedTable(renewed);
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
// never hand out the dying one; ASan and TSan builds watch this.
TEST_F(MDnsWrapperShared, ConcurrentHoldersAlwaysGetALiveFilledInstance)
{
  std::atomic<int> unloaded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        MDnsWrapper* wrapper = MDnsWrapper::sharedMDNSWrapper();
        if (!wrapper->MDnsIsLoaded() || wrapper->m_register != &::DNSServiceRegister) ++unloaded;
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

TEST_F(MDnsWrapperLibrary, NewObjectIsEmptyUntilInitialised)
{
  EXPECT_FALSE(m_wrapper->MDnsIsLoaded());
  EXPECT_FALSE(m_wrapper->MDnsTableFilled());
  expectEmptyTable(m_wrapper);
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary());
  EXPECT_TRUE(m_wrapper->MDnsIsLoaded());
  EXPECT_TRUE(m_wrapper->MDnsTableFilled());
  expectLinkedTable(m_wrapper);
}

TEST_F(MDnsWrapperLibrary, InitialisingAgainKeepsEntriesPutInByHand)
{
  m_wrapper->InitMDnsLibrary();
  m_wrapper->m_register = refusingRegister;
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary());
  EXPECT_EQ(m_wrapper->m_register, &refusingRegister);
  EXPECT_EQ(m_wrapper->m_processResult, &::DNSServiceProcessResult);
}

TEST_F(MDnsWrapperLibrary, CloseEmptiesTheTableAndAnotherInitRefillsIt)
{
  m_wrapper->InitMDnsLibrary();
  m_wrapper->m_register = refusingRegister;
  EXPECT_TRUE(m_wrapper->CloseMDnsLibrary());
  EXPECT_FALSE(m_wrapper->MDnsIsLoaded());
  EXPECT_FALSE(m_wrapper->MDnsTableFilled());
  expectEmptyTable(m_wrapper);
  EXPECT_TRUE(m_wrapper->InitMDnsLibrary());
  expectLinkedTable(m_wrapper);
}

// --- the registration reply ---

class MDnsWrapperServicePublished : public ::testing::Test
{
protected:
  LogCapture m_capture;
};

TEST_F(MDnsWrapperServicePublished, LogsTheNameAndTheDaemonsResultAtInfo)
{
  servicePublished(nullptr, 0, kDNSServiceErr_NameConflict, "X-Plane", "_corvane_gps._tcp.", "local.",
                   nullptr);
  EXPECT_EQ(m_capture.text(), "Info: MDNS Service X-Plane published with result -65548\n");
}

TEST_F(MDnsWrapperServicePublished, NullNameIsPrintedAsNull)
{
  servicePublished(nullptr, 0, kDNSServiceErr_NoError, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(m_capture.text(), "Info: MDNS Service (null) published with result 0\n");
}

}  // namespace
