#include "common/platform/shell.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

int RunShellCommand(const std::string& command) {
  // Our own buffered output must come before anything the command prints.
  std::fflush(stdout);
  std::fflush(stderr);
  int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace platform
