#include "common/platform/shell.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

int RunShellCommand(const std::string& command) {
  // Our own buffered output must come before anything the command prints.
  std::fflush(stdout);
  std::fflush(stderr);
  // The C runtime's system() runs the line through cmd.exe /c and gives its exit code.
  return std::system(command.c_str());
}

}  // namespace platform
