// Test objects that count their constructions and destructions, so tests can say
// exactly how many objects a scenario destroyed.
#pragma once

#include <atomic>
#include <functional>

#include "object/BaseObject.h"

class CountedObject : public BaseObject
{
public:
  static std::atomic<int> constructed;
  static std::atomic<int> destroyed;
  static void resetCounts()
  {
    constructed = 0;
    destroyed = 0;
  }
  static int alive() { return constructed - destroyed; }

  explicit CountedObject(int value = 0, std::function<void()> onDestroy = nullptr)
      : m_value(value), m_onDestroy(std::move(onDestroy))
  {
    constructed++;
  }
  ~CountedObject() override
  {
    destroyed++;
    if (m_onDestroy) m_onDestroy();
  }

  int value() const { return m_value; }
  // Ordered by value, with the system's sign convention: positive when the receiver goes first.
  int compare(BaseObject* other) override
  {
    if (!isOfClass(other, getClass())) return BaseObject::compare(other);
    int theirs = static_cast<CountedObject*>(other)->m_value;
    return m_value < theirs ? 1 : (m_value > theirs ? -1 : 0);
  }
  bool isEqual(BaseObject* other) override
  {
    return isOfClass(other, getClass()) && static_cast<CountedObject*>(other)->m_value == m_value;
  }
  uint32_t hash() override { return static_cast<uint32_t>(m_value); }
  const char* getClass() const override { return "CountedObject"; }

private:
  int m_value;
  std::function<void()> m_onDestroy;
};
