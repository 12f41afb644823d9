#include "runtime/BaseMutex.h"

#include <cerrno>

#include "runtime/Debug.h"

BaseMutex::BaseMutex() : m_usable(false)
{
  m_usable = pthread_mutex_init(&m_mutex, nullptr) == 0;
  if (!m_usable) BASE_LOG(this, eMsgError, "mutex creation");
}

BaseMutex::~BaseMutex()
{
  if (m_usable) pthread_mutex_destroy(&m_mutex);
}

int BaseMutex::lock()
{
  return m_usable ? pthread_mutex_lock(&m_mutex) : EINVAL;
}

int BaseMutex::unlock()
{
  return m_usable ? pthread_mutex_unlock(&m_mutex) : EINVAL;
}

bool BaseMutex::tryLock()
{
  return (m_usable ? pthread_mutex_trylock(&m_mutex) : EINVAL) != EBUSY;
}
