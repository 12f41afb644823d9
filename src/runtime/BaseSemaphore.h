// A reference-counted counting semaphore on a named POSIX semaphore whose name is
// unique to the object and the process; the object creates the name and removes it
// again when destroyed. Any thread may wait on it or signal it.
#pragma once

#include <semaphore.h>

#include "object/BaseObject.h"

class BaseSemaphore : public BaseObject
{
public:
  // Stops the program when the system refuses the semaphore (resource exhaustion).
  explicit BaseSemaphore(unsigned int count);
  ~BaseSemaphore() override;

  // Nonzero `block` waits, without limit, until the count can be decremented; zero only
  // tries. True when the count was decremented.
  bool wait(unsigned int block);
  bool signal();
  // Empties the count; false, the result of the last (failed) try, once it is zero.
  bool reset();

protected:
  // "/corvane-<pid>-<address>": the leading slash is what sem_open expects, the process id
  // keeps names apart between processes where the same address may be in use.
  char m_name[48];
  sem_t* m_semaphore;
};
