#include "object/BaseNull.h"

#include "object/BaseString.h"
#include "runtime/BaseAssert.h"

BaseNull BaseNull::instance;

namespace {

const char* const nuls[4] = {"NULL", "null", "nil", "<BaseNull/>"};

}  // namespace

BaseNull::BaseNull() {}

BaseNull::~BaseNull()
{
  // Reached with a count of 0 only through an over-release, never at unload.
  // clang-format off
  BASE_ASSERT(getRetainCount()>0);
  // clang-format on
}

const char* BaseNull::getClass() const
{
  return "BaseNull";
}

BaseString* BaseNull::toString(int flags)
{
  return new (eRetainAutorelease) BaseString(nuls[flags & 3]);
}
