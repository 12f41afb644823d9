#include "runtime/BaseSemaphore.h"

#include "platform/Semaphore.h"
#include "runtime/BaseAssert.h"

BaseSemaphore::BaseSemaphore(unsigned int count) : m_semaphore(nullptr)
{
  void* semaphore = platform::createSemaphore(this, count);
  // The condition's text is the assertion message.
  // clang-format off
  BASE_ASSERT(semaphore!=NULL);
  // clang-format on
  m_semaphore = semaphore;
}

BaseSemaphore::~BaseSemaphore()
{
  platform::closeSemaphore(m_semaphore);
}

bool BaseSemaphore::wait(unsigned int block)
{
  return platform::waitSemaphore(m_semaphore, block != 0);
}

bool BaseSemaphore::signal()
{
  return platform::signalSemaphore(m_semaphore);
}

bool BaseSemaphore::reset()
{
  while (wait(0)) {
  }
  return false;
}
