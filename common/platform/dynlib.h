// The system's library loader, for the dependency checks of assembly routines.
#pragma once

#include <string>

namespace platform {

// Loads a library by path or name; nullptr when it does not load. A path that names
// something other than a regular file (a FIFO, a device, a folder) is never handed to
// the loader, which could block on it for ever.
void* LoadLibrary(const std::string& path);
// True when the loaded library itself defines `name`: a function that the loader finds
// only in one of the library's own dependencies (malloc seen through libz) is not one
// the library exports.
bool LibraryHasSymbol(void* library, const std::string& name);
void FreeLibrary(void* library);

}  // namespace platform
