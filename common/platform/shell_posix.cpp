#include "common/platform/shell.h"

#include <cstdio>

namespace platform {

std::string ShellProgram() {
  return "/bin/sh";
}

ProcessResult RunShellCommand(const std::string& command) {
  // Our own buffered output must come before anything the command prints.
  std::fflush(stdout);
  std::fflush(stderr);
  ProcessOptions options;
  options.capture_output = false;
  options.inherit_input = true;
  options.wait_through_interrupt = true;
  return RunProcess({ShellProgram(), "-c", "--", command}, options);
}

}  // namespace platform
