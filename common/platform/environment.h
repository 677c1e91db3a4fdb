// The process's environment variables, read and changed the same way on every system
// (tests point the programs at private folders through them).
#pragma once

#include <optional>
#include <string>

namespace platform {

// The variable through which a test gives the temporary folder its own place: TMPDIR on
// POSIX, TMP on Windows.
#ifdef _WIN32
constexpr const char kTempFolderVariable[] = "TMP";
#else
constexpr const char kTempFolderVariable[] = "TMPDIR";
#endif

// The value of a variable; nullopt when it is not set.
std::optional<std::string> GetEnvironment(const std::string& name);
// Sets a variable for this process and the children it starts afterwards.
bool SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

}  // namespace platform
