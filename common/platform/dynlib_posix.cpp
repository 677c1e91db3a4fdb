#include "common/platform/dynlib.h"

#include <dlfcn.h>

namespace platform {

void* LoadLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  // RTLD_LAZY: the check only looks symbols up, it never calls into the library.
  return dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
}

bool LibraryHasSymbol(void* library, const std::string& name) {
  if (library == nullptr || name.empty()) return false;
  dlerror();
  void* symbol = dlsym(library, name.c_str());
  return dlerror() == nullptr && symbol != nullptr;
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
