// The system command interpreter: a command line run as the user wrote it (qpmake's
// "before" and "after" commands), with the interpreter's own quoting and expansion.
#pragma once

#include <string>

namespace platform {

// The command interpreter's language, for callers (tests) that write commands for it.
enum class ShellKind { kPosixShell, kCmd };
#ifdef _WIN32
constexpr ShellKind kShellKind = ShellKind::kCmd;
#else
constexpr ShellKind kShellKind = ShellKind::kPosixShell;
#endif

// Runs `command` through the command interpreter (/bin/sh -c, on Windows cmd.exe /c) in the current working
// directory, with our standard input and output, and waits for it. The command's exit
// status; -1 when the interpreter could not be started or the command was ended by a
// signal.
int RunShellCommand(const std::string& command);

}  // namespace platform
