// What the serializer's sources share and nobody else needs: the scope guards its readers
// and writers use, and the row of each kind in BaseSerializer::objectDesc.
#pragma once

#include "object/BaseObject.h"

namespace SerializerInternal {

// Holds the one reference to an object under construction until it is handed out, so
// that an exception releases a partial object.
template <typename T>
class Owned
{
public:
  explicit Owned(T* object) : m_object(object) {}
  ~Owned() { BaseObject::release(m_object); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T* operator->() const { return m_object; }
  T* get() const { return m_object; }
  void reset(T* object)
  {
    BaseObject::release(m_object);
    m_object = object;
  }
  T* take()
  {
    T* object = m_object;
    m_object = nullptr;
    return object;
  }

private:
  T* m_object;
};

// Counts one level for the lifetime of a scope, exceptions included.
class LevelGuard
{
public:
  explicit LevelGuard(unsigned int& level) : m_level(level) { m_level++; }
  ~LevelGuard() { m_level--; }
  LevelGuard(const LevelGuard&) = delete;
  LevelGuard& operator=(const LevelGuard&) = delete;

private:
  unsigned int& m_level;
};

// The row of each kind, by kind; -1 where no kind is.
inline constexpr signed char ROW_OF_KIND[23] = {-1, 1, 7, -1, -1, -1, -1, -1, -1, -1, 0, 8,
                                                5,  6, 9, 10, -1, -1, -1, -1, 2,  4,  3};

}  // namespace SerializerInternal
