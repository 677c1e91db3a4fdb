#include "common/platform/environment.h"

#include <cstdlib>

namespace platform {

std::optional<std::string> GetEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

void UnsetEnvironment(const std::string& name) {
  unsetenv(name.c_str());
}

}  // namespace platform
