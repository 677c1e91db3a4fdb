#include "common/platform/environment.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

// The C runtime keeps its own copy of the environment (getenv reads it) beside the
// system's (children get that one); _putenv_s changes both.
std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  if (value.empty()) {
    // _putenv_s with an empty value removes the variable; an empty one is set directly.
    _putenv_s(name.c_str(), "");
    return SetEnvironmentVariableA(name.c_str(), "") != 0;
  }
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

void UnsetEnvironment(const std::string& name) {
  _putenv_s(name.c_str(), "");
  SetEnvironmentVariableA(name.c_str(), nullptr);
}

}  // namespace platform
