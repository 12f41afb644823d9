#include "platform/Semaphore.h"

#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

namespace {

struct NamedSemaphore
{
  // "/corvane-<pid>-<address>": the leading slash is what sem_open expects, the process id
  // keeps names apart between processes where the same address may be in use.
  char name[48];
  sem_t* semaphore;
};

}  // namespace

void* createSemaphore(const void* owner, unsigned int count)
{
  NamedSemaphore* named = new NamedSemaphore;
  snprintf(named->name, sizeof named->name, "/corvane-%ld-%p", static_cast<long>(getpid()), owner);
  named->semaphore = sem_open(named->name, O_CREAT | O_EXCL, 0600, count);
  if (named->semaphore == SEM_FAILED) {
    delete named;
    return nullptr;
  }
  return named;
}

void closeSemaphore(void* semaphore)
{
  NamedSemaphore* named = static_cast<NamedSemaphore*>(semaphore);
  if (!named) return;
  sem_close(named->semaphore);
  sem_unlink(named->name);
  delete named;
}

bool waitSemaphore(void* semaphore, bool block)
{
  sem_t* raw = static_cast<NamedSemaphore*>(semaphore)->semaphore;
  int result;
  do {
    result = block ? sem_wait(raw) : sem_trywait(raw);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool signalSemaphore(void* semaphore)
{
  return sem_post(static_cast<NamedSemaphore*>(semaphore)->semaphore) == 0;
}

}  // namespace platform
