// The system's library loader, for the dependency checks of assembly routines.
#pragma once

#include <string>

namespace platform {

// Loads a library by path or name; nullptr when it does not load.
void* LoadLibrary(const std::string& path);
// True when the loaded library exports `name`.
bool LibraryHasSymbol(void* library, const std::string& name);
void FreeLibrary(void* library);

}  // namespace platform
