#include "common/platform/shell.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/platform/win32_support.h"

namespace platform {

std::string ShellProgram() {
  const char* comspec = std::getenv("COMSPEC");
  return comspec && *comspec ? comspec : "cmd.exe";
}

ProcessResult RunShellCommand(const std::string& command) {
  // Our own buffered output must come before anything the command prints.
  std::fflush(stdout);
  std::fflush(stderr);
  ProcessResult result;
  // The C runtime's system() runs the line with "cmd.exe /c" as the user wrote it (cmd's
  // quoting differs from a program's: the line is handed over untouched).
  win32::InterruptGuard guard;
  errno = 0;
  int status = std::system(command.c_str());
  if (status == -1 && errno != 0) {
    result.error = std::strerror(errno);
    return result;
  }
  result.started = true;
  result.exit_code = status;
  // Ctrl+C ended the command: reported as the interrupt signal, which stops qpmake.
  if (guard.interrupted() || static_cast<DWORD>(status) == win32::kControlCExit) {
    result.interrupted = true;
    result.signal = 2;
    result.exit_code = -1;
  }
  return result;
}

}  // namespace platform
