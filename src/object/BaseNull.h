// The null object: stands for "no value" where an object is required, inside collections
// and in the object stream. Exactly one exists, BaseNull::instance, a static object built
// when the program (or plug-in) is loaded with one reference that nobody releases, and
// destroyed when it is unloaded. Retain and release it like any object from any thread;
// test for it by address (object == &BaseNull::instance).
#pragma once

#include "object/BaseObject.h"

class BaseNull : public BaseObject
{
public:
  // Lives for the whole run. Releasing it more often than it was retained is a programming
  // error: the release that would destroy it stops the program ("getRetainCount()>0")
  // instead of freeing an object that was never allocated.
  static BaseNull instance;

  ~BaseNull() override;

  const char* getClass() const override;
  // "NULL", "null", "nil" or "<BaseNull/>" by the format in the low two bits; never decorated.
  BaseString* toString(int flags = eToStringPlain) override;

private:
  BaseNull();
};
