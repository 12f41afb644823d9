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
  SP() : m_object(nullptr) {}
  SP(T* object) : m_object(object) { BaseObject::retain(m_object); }
  // Creates a new T that this pointer alone owns.
  explicit SP(enum eSmartPointerNew) : m_object(new (eRetainNone) T()) {}
  SP(const SP& other) : m_object(other.m_object) { BaseObject::retain(m_object); }
  SP(SP&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
  ~SP() { BaseObject::release(m_object); }

  SP& operator=(T* object)
  {
    BaseObject::retain(object);
    T* old = m_object;
    m_object = object;
    BaseObject::release(old);
    return *this;
  }
  SP& operator=(const SP& other) { return *this = other.m_object; }
  SP& operator=(SP&& other) noexcept
  {
    if (this != &other) {
      T* old = m_object;
      m_object = other.m_object;
      other.m_object = nullptr;
      BaseObject::release(old);
    }
    return *this;
  }

  // Replaces the held object with a new T that this pointer alone owns.
  void New()
  {
    T* old = m_object;
    m_object = new (eRetainNone) T();
    BaseObject::release(old);
  }

  T* operator->() const
  {
    BASE_ASSERT(m_object);
    return m_object;
  }
  // With operator-> it also lets a held lock be named in thread-safety annotations.
  T& operator*() const
  {
    BASE_ASSERT(m_object);
    return *m_object;
  }
  operator T*() const { return m_object; }

private:
  T* m_object;
};
