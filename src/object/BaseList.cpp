#include "object/BaseList.h"

#include "runtime/BaseAssert.h"

BaseList::BaseList() : m_head(nullptr), m_tail(nullptr), m_count(0) {}

BaseList::~BaseList()
{
  BaseListNode* node = m_head;
  m_head = m_tail = nullptr;
  m_count = 0;
  while (node) {
    BaseListNode* next = node->next;
    node->object->release();
    delete node;
    node = next;
  }
}

void BaseList::addTrailingObject(BaseObject* object)
{
  BASE_ASSERT(object);
  BaseListNode* node = new BaseListNode{object->retain(), nullptr};
  if (m_tail)
    m_tail->next = node;
  else
    m_head = node;
  m_tail = node;
  m_count++;
}

bool BaseList::getNext(BaseListNode*& cursor) const
{
  BaseListNode* next = cursor ? cursor->next : m_head;
  if (!next) return false;
  cursor = next;
  return true;
}

const char* BaseList::getClass() const
{
  return "BaseList";
}
