// Libraries loaded at run time, and the file of the module that holds a given address.
// Names are UTF-8; on Windows they are handed to the system as UTF-16.
#pragma once

#include <string>

namespace platform {

// Loads a library by file name with all its symbols resolved now and kept local to it;
// null when it cannot be loaded, with the system's reason in *reason when given.
void* openLibrary(const char* name, std::string* reason = nullptr);

// The named function or variable of a library opened above; null when it has none.
void* librarySymbol(void* library, const char* name);

// Lets go of a library opened above; null is ignored.
void closeLibrary(void* library);

// Whether a library of that file name is loaded in this process already (without loading it).
bool isLibraryLoaded(const char* name);

// Keeps a library that is loaded already in memory until the process ends: used for
// libraries whose global state must outlive our last use (a leaked handle, on purpose).
void pinLoadedLibrary(const char* name);

// The path of the executable or shared library whose code holds `address`, or "" when the
// system cannot tell.
std::string modulePathOf(const void* address);

// Keeps the module that holds `address` in memory until the process ends, even when its
// loader asks for it to be unloaded: for a module that still has threads running.
void pinModuleOf(const void* address);

}  // namespace platform
