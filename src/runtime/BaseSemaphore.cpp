#include "runtime/BaseSemaphore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "runtime/BaseAssert.h"

BaseSemaphore::BaseSemaphore(unsigned int count) : m_semaphore(nullptr)
{
  snprintf(m_name, sizeof m_name, "/corvane-%ld-%p", static_cast<long>(getpid()), static_cast<void*>(this));
  sem_t* semaphore = sem_open(m_name, O_CREAT | O_EXCL, 0600, count);
  if (semaphore == SEM_FAILED) semaphore = NULL;
  // The condition's text is the assertion message.
  // clang-format off
  BASE_ASSERT(semaphore!=NULL);
  // clang-format on
  m_semaphore = semaphore;
}

BaseSemaphore::~BaseSemaphore()
{
  sem_close(m_semaphore);
  sem_unlink(m_name);
}

bool BaseSemaphore::wait(unsigned int block)
{
  int result;
  do {
    result = block ? sem_wait(m_semaphore) : sem_trywait(m_semaphore);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool BaseSemaphore::signal()
{
  return sem_post(m_semaphore) == 0;
}

bool BaseSemaphore::reset()
{
  while (wait(0)) {
  }
  return false;
}
