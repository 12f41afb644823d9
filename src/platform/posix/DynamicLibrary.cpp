#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace platform {

void* openLibrary(const char* name, std::string* reason)
{
  void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!library && reason) {
    const char* error = dlerror();
    *reason = error ? error : "unknown error";
  }
  return library;
}

void* librarySymbol(void* library, const char* name)
{
  return library ? dlsym(library, name) : nullptr;
}

void closeLibrary(void* library)
{
  if (library) dlclose(library);
}

bool isLibraryLoaded(const char* name)
{
  void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (library) dlclose(library);
  return library != nullptr;
}

void pinLoadedLibrary(const char* name)
{
  if (void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(library);
}

std::string modulePathOf(const void* address)
{
  Dl_info info;
  if (dladdr(const_cast<void*>(address), &info) == 0 || !info.dli_fname) return std::string();
  return info.dli_fname;
}

void pinModuleOf(const void* address)
{
  const std::string path = modulePathOf(address);
  if (!path.empty()) dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace platform
