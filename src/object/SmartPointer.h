// SP<T>: an owning smart pointer that holds one reference to a BaseObject descendant.
// Assignment retains the new object before releasing the old one, so assigning the
// object already held is safe. Not safe for concurrent use of one SP.
#pragma once

#include <utility>

#include "object/BaseObject.h"
#include "runtime/BaseAssert.h"

enum eSmartPointerNew
{
  eSmartPointerNew = 0
};

template <typename T>
class SP
{
public:
  SP() : obj(nullptr) {}
  SP(T* object) : obj(object) { BaseObject::retain(obj); }
  // Creates a new T that this pointer alone owns.
  explicit SP(enum eSmartPointerNew) : obj(new (eRetainNone) T()) {}
  SP(const SP& other) : obj(other.obj) { BaseObject::retain(obj); }
  SP(SP&& other) noexcept : obj(other.obj) { other.obj = nullptr; }
  ~SP() { BaseObject::release(obj); }

  SP& operator=(T* object)
  {
    BaseObject::retain(object);
    T* old = obj;
    obj = object;
    BaseObject::release(old);
    return *this;
  }
  SP& operator=(const SP& other) { return *this = other.obj; }
  SP& operator=(SP&& other) noexcept
  {
    if (this != &other) {
      T* old = obj;
      obj = other.obj;
      other.obj = nullptr;
      BaseObject::release(old);
    }
    return *this;
  }

  // Replaces the held object with a new T that this pointer alone owns.
  void New()
  {
    T* old = obj;
    obj = new (eRetainNone) T();
    BaseObject::release(old);
  }

  T* operator->() const
  {
    BASE_ASSERT(obj);
    return obj;
  }
  operator T*() const { return obj; }

private:
  T* obj;
};
