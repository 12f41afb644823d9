// A singly linked list of objects, the in-memory form of the object stream's list kind.
// It retains every element it holds (null is never stored) and releases them when it is
// destroyed. Elements are appended at the tail and walked from the head with a cursor.
// Not safe for concurrent use.
#pragma once

#include "object/BaseObject.h"

// One link. The element is the first field, so a cursor can be read as BaseObject**.
struct BaseListNode
{
  BaseObject* object;
  BaseListNode* next;
};

class BaseList : public BaseObject
{
public:
  BaseList();
  ~BaseList() override;

  unsigned int count() const { return m_count; }
  // Appends and retains `object`, which must not be null.
  void addTrailingObject(BaseObject* object);
  // Starting from a null cursor, moves the cursor to each node in turn, first to last;
  // false, with the cursor unchanged, after the last one.
  bool getNext(BaseListNode*& cursor) const;

  const char* getClass() const override;

private:
  BaseListNode* m_head;
  BaseListNode* m_tail;
  unsigned int m_count;
};
