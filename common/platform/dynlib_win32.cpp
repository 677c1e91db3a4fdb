#include "common/platform/dynlib.h"

#include "common/platform/fs.h"
#include "common/platform/win32_support.h"

// <windows.h> makes LoadLibrary a macro for LoadLibraryA; ours is a function of its own.
#undef LoadLibrary

namespace platform {

void* LoadLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  // A name with a folder must be a file: a folder or a device is never handed to the
  // loader. A bare name ("kernel32.dll") is looked for by the system.
  if (path.find_first_of("\\/:") != std::string::npos && !IsFile(path)) return nullptr;
  // A library that does not load gives a warning of ours, never a system dialog.
  DWORD previous = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  HMODULE module = LoadLibraryA(path.c_str());
  SetThreadErrorMode(previous, nullptr);
  return reinterpret_cast<void*>(module);
}

bool LibraryHasSymbol(void* library, const std::string& name) {
  if (library == nullptr || name.empty()) return false;
  return GetProcAddress(static_cast<HMODULE>(library), name.c_str()) != nullptr;
}

void FreeLibrary(void* library) {
  if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace platform
