// The null object: one static instance that is retained and released like any object,
// compared by identity, and never destroyed by a release (its texts: TextFormsTest).
#include <thread>
#include <vector>

#include "object/BaseNull.h"
#include "support/ValueTest.h"

namespace {

using BaseNullTest = ValueTest;
BaseNull* const null = &BaseNull::instance;

TEST_F(BaseNullTest, RetainedAndReleasedLikeAnyObjectFromOneReferenceAtRest)
{
  EXPECT_EQ(null->getRetainCount(), 1);
  EXPECT_STREQ(null->getClass(), "BaseNull");
  EXPECT_EQ(null->retain(), null);
  EXPECT_EQ(null->getRetainCount(), 2);
  EXPECT_EQ(null->release(), null);
  {
    BaseAutorelease inner;
    null->retain()->autorelease();
    arrayOf({null, null});
    EXPECT_EQ(null->getRetainCount(), 4);
  }
  EXPECT_EQ(null->getRetainCount(), 1);
  EXPECT_DEATH(null->release(), "Assertion failed: getRetainCount\\(\\)>0, file src/object/BaseNull");
}

TEST_F(BaseNullTest, SharedByThreads)
{
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([] {
      BaseAutorelease threadPool;
      for (int i = 0; i < 1000; i++) {
        BaseObject::retain(null)->autorelease();
        EXPECT_STREQ(null->toString(BaseObject::eToStringLua)->cString(), "nil");
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(null->getRetainCount(), 1);
}

TEST_F(BaseNullTest, EqualOnlyToItselfAndEachTextIsANewString)
{
  EXPECT_TRUE(null->isEqual(null));
  EXPECT_EQ(null->compare(null), 0);
  EXPECT_FALSE(null->isEqual(nullptr));
  EXPECT_FALSE(null->isEqual(str("NULL")));
  EXPECT_FALSE(null->isEqual(num(0)));
  null->toString(BaseObject::eToStringLua)->append("!");
  EXPECT_EQ(text(null, BaseObject::eToStringLua), "nil");
}

}  // namespace
