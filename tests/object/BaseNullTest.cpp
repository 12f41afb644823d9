// The null object: one static instance that is retained and released like any object,
// compared by identity, and never destroyed by a release (its texts: TextFormsTest).
#include "object/BaseNull.h"
#include "support/ValueTest.h"

namespace {

using BaseNullTest = ValueTest;
BaseNull* const null = &BaseNull::instance;

TEST_F(BaseNullTest, RetainedAndReleasedLikeAnyObjectFromOneReferenceAtRest)
{
  EXPECT_EQ(null->getRetainCount(), 1);
  {
    BaseAutorelease inner;
    null->retain()->autorelease();
    arrayOf({null});
    EXPECT_EQ(null->getRetainCount(), 3);
  }
  EXPECT_EQ(null->getRetainCount(), 1);
  EXPECT_TRUE(null->isEqual(null));
  EXPECT_FALSE(null->isEqual(num(0)));
  EXPECT_DEATH(null->release(), "Assertion failed: getRetainCount\\(\\)>0, file src/object/BaseNull");
}

}  // namespace
