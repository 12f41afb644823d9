// The null object: one static instance that is retained and released like any object,
// compared by identity, printed without decoration, and never destroyed by a release.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNull.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"

namespace {

class BaseNullTest : public ::testing::Test
{
protected:
  static BaseNull* null() { return &BaseNull::instance; }
  static std::string text(int flags) { return null()->toString(flags)->cString(); }

  BaseAutorelease pool;
};

class BaseNullLifetimeTest : public BaseNullTest
{
};

TEST_F(BaseNullLifetimeTest, HoldsOneReferenceAtRest)
{
  EXPECT_EQ(null()->getRetainCount(), 1);
  EXPECT_STREQ(null()->getClass(), "BaseNull");
}

TEST_F(BaseNullLifetimeTest, RetainedAndReleasedLikeAnyObject)
{
  EXPECT_EQ(null()->retain(), null());
  EXPECT_EQ(null()->getRetainCount(), 2);
  EXPECT_EQ(null()->release(), null());
  EXPECT_EQ(null()->getRetainCount(), 1);

  {
    BaseAutorelease inner;
    null()->retain()->autorelease();
    BaseArray* array = new (eRetainAutorelease) BaseArray();
    array->addObject(null());
    array->addObject(null());
    EXPECT_EQ(null()->getRetainCount(), 4);
  }
  EXPECT_EQ(null()->getRetainCount(), 1);
}

TEST_F(BaseNullLifetimeTest, OverReleaseStops)
{
  EXPECT_DEATH(null()->release(), "Assertion failed: getRetainCount\\(\\)>0, file src/object/BaseNull");
}

TEST_F(BaseNullLifetimeTest, SharedByThreads)
{
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([] {
      BaseAutorelease threadPool;
      for (int i = 0; i < 1000; i++) {
        BaseObject::retain(null())->autorelease();
        EXPECT_STREQ(null()->toString(BaseObject::eToStringLua)->cString(), "nil");
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(null()->getRetainCount(), 1);
}

class BaseNullIdentityTest : public BaseNullTest
{
};

TEST_F(BaseNullIdentityTest, EqualOnlyToItself)
{
  EXPECT_TRUE(null()->isEqual(null()));
  EXPECT_EQ(null()->compare(null()), 0);
  EXPECT_FALSE(null()->isEqual(nullptr));
  EXPECT_FALSE(null()->isEqual(new (eRetainAutorelease) BaseString("NULL")));
  EXPECT_FALSE(null()->isEqual(new (eRetainAutorelease) BaseNumber(0)));
}

class BaseNullTextTest : public BaseNullTest
{
};

TEST_F(BaseNullTextTest, OneWordPerFormat)
{
  EXPECT_EQ(text(BaseObject::eToStringPlain), "NULL");
  EXPECT_EQ(text(BaseObject::eToStringJSON), "null");
  EXPECT_EQ(text(BaseObject::eToStringLua), "nil");
  EXPECT_EQ(text(BaseObject::eToStringXML), "<BaseNull/>");
}

TEST_F(BaseNullTextTest, NeverDecorated)
{
  const int decorations =
      BaseObject::eToStringClassName | BaseObject::eToStringAddress | BaseObject::eToStringEntryCount;
  EXPECT_EQ(text(BaseObject::eToStringJSON | decorations), "null");
  EXPECT_EQ(text(BaseObject::eToStringXML | decorations), "<BaseNull/>");
}

TEST_F(BaseNullTextTest, EachTextIsANewString)
{
  BaseString* first = null()->toString(BaseObject::eToStringLua);
  first->append("!");
  EXPECT_EQ(text(BaseObject::eToStringLua), "nil");
}

TEST_F(BaseNullTextTest, InsideOtherTexts)
{
  EXPECT_STREQ(BaseString::stringWithFormat("value=%@", null())->cString(), "value=nil");
  BaseArray* array = new (eRetainAutorelease) BaseArray();
  array->addObject(null());
  array->addObject(new (eRetainAutorelease) BaseNumber(2));
  EXPECT_STREQ(array->toString(BaseObject::eToStringJSON)->cString(), "[ null, 2 ]");
  EXPECT_STREQ(array->toString(BaseObject::eToStringLua)->cString(), "{ nil, 2 }");
}

}  // namespace
