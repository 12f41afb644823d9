#include "platform/Semaphore.h"

#include <windows.h>

#include <climits>
#include <cwchar>

namespace platform {

void* createSemaphore(const void* owner, unsigned int count)
{
  // The session's own namespace; the process id keeps names apart between processes where
  // the same address may be in use. The name goes with the last handle.
  wchar_t name[64];
  swprintf(name, sizeof name / sizeof name[0], L"Local\\corvane-%lu-%p", (unsigned long)GetCurrentProcessId(),
           owner);
  LONG initial = count > LONG_MAX ? LONG_MAX : LONG(count);
  HANDLE semaphore = CreateSemaphoreW(nullptr, initial, LONG_MAX, name);
  if (semaphore && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(semaphore);
    return nullptr;
  }
  return semaphore;
}

void closeSemaphore(void* semaphore)
{
  if (semaphore) CloseHandle(static_cast<HANDLE>(semaphore));
}

bool waitSemaphore(void* semaphore, bool block)
{
  return WaitForSingleObject(static_cast<HANDLE>(semaphore), block ? INFINITE : 0) == WAIT_OBJECT_0;
}

bool signalSemaphore(void* semaphore)
{
  return ReleaseSemaphore(static_cast<HANDLE>(semaphore), 1, nullptr) != 0;
}

}  // namespace platform
