#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/CaptureStream.h"
#include "support/CountedObject.h"
#include "support/ValueTest.h"

namespace {

class BaseObjectRetainTest : public ::testing::Test
{
protected:
  void SetUp() override { CountedObject::resetCounts(); }
};

TEST_F(BaseObjectRetainTest, ReleaseOfLastReferenceDestroysAndYieldsNull)
{
  CountedObject* object = new CountedObject();
  EXPECT_EQ(object->getRetainCount(), 1);
  EXPECT_EQ(object->retain(), object);
  EXPECT_EQ(object->release(), object);
  EXPECT_EQ(object->release(), nullptr);
  EXPECT_EQ(CountedObject::destroyed, 1);
  CountedObject* none = nullptr;
  EXPECT_EQ(BaseObject::retain(none), nullptr);
  EXPECT_EQ(BaseObject::release(none), nullptr);
}

TEST_F(BaseObjectRetainTest, ConcurrentReleasesDestroyOnce)
{
  CountedObject* object = new CountedObject();
  // Every thread drops its own last reference: exactly one of them destroys the object.
  for (int t = 0; t < 3; t++) object->retain();
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; t++) workers.emplace_back([object] { object->release(); });
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(CountedObject::destroyed, 1);
}

TEST_F(BaseObjectRetainTest, SetMemberRetainsNewBeforeReleasingOld)
{
  CountedObject* first = new CountedObject(1);
  BaseObject* slot = nullptr;
  BaseObject::setMember(&slot, first);
  first->release();
  // Storing the value the slot already holds must not destroy it on the way.
  BaseObject::setMember(&slot, first);
  EXPECT_EQ(first->getRetainCount(), 1);
  BaseObject::setMember(&slot, nullptr);
  EXPECT_EQ(CountedObject::destroyed, 1);
}

// Lets a test put an object into the state a stale pointer would show (a count of zero)
// without destroying it.
class CountForcingObject : public BaseObject
{
public:
  void forceRetainCount(int count) { m_retainCount = count; }
};

TEST(BaseObjectDeathTest, OverReleaseAutoreleaseOfADeadObjectAndComparingWithNothingStop)
{
  BaseAutorelease pool;
  CountForcingObject* object = new (eRetainAutorelease) CountForcingObject();
  object->forceRetainCount(0);
  EXPECT_DEATH(object->release(), "m_retainCount>0.*BaseObject");
  EXPECT_DEATH(object->autorelease(), "m_retainCount>0");
  object->forceRetainCount(1);
  EXPECT_DEATH(object->compare(nullptr), "other!=NULL");
}

using BaseObjectIdentityTest = ValueTest;

TEST_F(BaseObjectIdentityTest, ComparisonClassAndEquality)
{
  BaseObject* plain = new (eRetainAutorelease) BaseObject();
  // "BaseObject" sorts before "BaseString", so the plain object comes first: positive.
  EXPECT_GT(plain->compare(str("x")), 0);
  BaseObject* other = new (eRetainAutorelease) BaseObject();
  BaseObject* lower = plain < other ? plain : other;
  BaseObject* higher = plain < other ? other : plain;
  EXPECT_EQ(lower->compare(higher), 1);
  EXPECT_EQ(higher->compare(lower), -1);
  // isOfClass is an exact name test; root equality is identity, the hash the address.
  EXPECT_FALSE(plain->isOfClass("Base"));
  EXPECT_FALSE(plain->isEqual(other) || plain->isEqual(nullptr));
  EXPECT_EQ(plain->compare(plain), 0);
  EXPECT_EQ(plain->hash(), (uint32_t)(uintptr_t)plain);
}

TEST_F(BaseObjectIdentityTest, AbstractHooksOnlyReport)
{
  BaseObject* plain = new (eRetainAutorelease) BaseObject();
  BaseString* key = str("speed");
  LogCapture log("%S %c: %m\n");
  plain->executeEvent(3, nullptr);
  plain->receiveMessage(key, nullptr, nullptr);
  EXPECT_EQ(plain->_setValueForKeyInternal(key, key), -1);
  EXPECT_EQ(plain->_getValueForKeyInternal(key), nullptr);
  EXPECT_EQ(log.text(),
            "Warning BaseObject: abstract implementation, ignoring event\n"
            "Info BaseObject: received message speed\n"
            "Warning BaseObject: BaseObject::setValueForKey : abstract implementation\n"
            "Warning BaseObject: BaseObject::setValueForKey : abstract implementation\n");
}

TEST(BaseObjectAllocationTest, ZeroedAllocationServesPlainMemory)
{
  unsigned char* record = new (eRetainZeroed) unsigned char[64];
  for (int i = 0; i < 64; i++) ASSERT_EQ(record[i], 0) << i;
  operator delete[](record, eRetainZeroed);
}

}  // namespace
