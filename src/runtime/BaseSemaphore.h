// A reference-counted counting semaphore on a named system semaphore whose name is
// unique to the object and the process; the object creates the name and removes it
// again when destroyed. Any thread may wait on it or signal it.
#pragma once

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
  void* m_semaphore;  // platform/Semaphore.h
};
