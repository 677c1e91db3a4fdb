#include "common/platform/dynlib.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

namespace platform {

namespace {

// False when `path` exists and is not a regular file (symbolic links are followed).
bool RegularOrMissing(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return true;
  return S_ISREG(info.st_mode);
}

// A name without a slash is searched by the loader, first in LD_LIBRARY_PATH, where an
// empty entry stands for the current folder.
bool SearchedNameIsSafe(const std::string& name) {
  const char* list = std::getenv("LD_LIBRARY_PATH");
  if (list == nullptr) return true;
  std::string_view rest(list);
  for (;;) {
    size_t colon = rest.find(':');
    std::string folder(rest.substr(0, colon));
    if (!RegularOrMissing((folder.empty() ? std::string(".") : folder) + "/" + name)) return false;
    if (colon == std::string_view::npos) return true;
    rest.remove_prefix(colon + 1);
  }
}

}  // namespace

void* LoadLibrary(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
  bool safe = path.find('/') != std::string::npos ? RegularOrMissing(path) : SearchedNameIsSafe(path);
  if (!safe) return nullptr;
  // RTLD_LAZY: the check only looks symbols up, it never calls into the library.
  return dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
}

bool LibraryHasSymbol(void* library, const std::string& name) {
  if (library == nullptr || name.empty()) return false;
  dlerror();
  void* symbol = dlsym(library, name.c_str());
  if (dlerror() != nullptr || symbol == nullptr) return false;
  // dlsym also searches the library's dependencies: accept the symbol only when the
  // object that defines it is the library itself.
  struct link_map* own = nullptr;
  if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) return false;
  Dl_info info;
  struct link_map* defining = nullptr;
  if (dladdr1(symbol, &info, reinterpret_cast<void**>(&defining), RTLD_DL_LINKMAP) == 0) return false;
  return defining == own;
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
