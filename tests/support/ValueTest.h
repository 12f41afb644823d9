// A fixture for tests of values: a pool open for the test's lifetime, values made and
// autoreleased in one call, and the texts they hold or print (embedded NULs included).
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseNumber.h"
#include "object/BaseString.h"

class ValueTest : public ::testing::Test
{
protected:
  using Texts = std::vector<std::string>;

  static BaseString* str(const char* text) { return new (eRetainAutorelease) BaseString(text); }
  static BaseString* bytes(const std::string& data)
  {
    return new (eRetainAutorelease) BaseString(data.data(), (int)data.size());
  }
  template <typename T>
  static BaseNumber* num(T value)
  {
    return new (eRetainAutorelease) BaseNumber(value);
  }
  static BaseArray* arrayOf(std::initializer_list<BaseObject*> items)
  {
    BaseArray* result = new (eRetainAutorelease) BaseArray();
    for (BaseObject* item : items) result->addObject(item);
    return result;
  }
  static std::string text(BaseString* value)
  {
    return value ? std::string(value->cString(), value->length()) : "(null)";
  }
  static std::string text(BaseObject* object, int flags) { return text(object->toString(flags)); }
  // The texts of an array of strings.
  static Texts texts(BaseArray* strings)
  {
    Texts out;
    for (unsigned i = 0; i < strings->count(); i++)
      out.push_back(text((BaseString*)strings->objectAtIndex(i)));
    return out;
  }

  BaseAutorelease pool;
};
