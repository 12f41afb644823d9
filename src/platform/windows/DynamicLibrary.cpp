#include "platform/DynamicLibrary.h"

#include <windows.h>

#include "platform/windows/WideText.h"

namespace platform {

void* openLibrary(const char* name, std::string* reason)
{
  HMODULE library = LoadLibraryExW(wideFromUtf8(name).c_str(), nullptr, 0);
  if (!library && reason) *reason = "Windows error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* librarySymbol(void* library, const char* name)
{
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void* library)
{
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

bool isLibraryLoaded(const char* name)
{
  return GetModuleHandleW(wideFromUtf8(name).c_str()) != nullptr;
}

void pinLoadedLibrary(const char* name)
{
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, wideFromUtf8(name).c_str(), &module);
}

std::string modulePathOf(const void* address)
{
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(address), &module))
    return std::string();
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(module, &path[0], DWORD(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      return utf8FromWide(path);
    }
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);
  }
}

void pinModuleOf(const void* address)
{
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     static_cast<LPCWSTR>(address), &module);
}

}  // namespace platform
