// A counting semaphore known to the system by a name unique to its owner and this process,
// which closing removes again. Any thread may wait on it or signal it.
#pragma once

namespace platform {

// Null when the system refuses one (resource exhaustion, or a name in use already).
void* createSemaphore(const void* owner, unsigned int count);
// Closes the semaphore and removes its name; null is ignored.
void closeSemaphore(void* semaphore);
// With `block`, waits without limit until the count can be decremented; otherwise only
// tries. True when the count was decremented.
bool waitSemaphore(void* semaphore, bool block);
bool signalSemaphore(void* semaphore);

}  // namespace platform
