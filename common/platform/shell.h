// The system command interpreter: a command line run as the user wrote it (qpmake's
// "before" and "after" commands), with the interpreter's own quoting and expansion.
#pragma once

#include <string>

#include "common/platform/process.h"

namespace platform {

// The command interpreter's language, for callers (tests) that write commands for it.
enum class ShellKind { kPosixShell, kCmd };
#ifdef _WIN32
constexpr ShellKind kShellKind = ShellKind::kCmd;
#else
constexpr ShellKind kShellKind = ShellKind::kPosixShell;
#endif

// Runs `command` through the command interpreter (/bin/sh -c; on Windows cmd.exe /c, as
// the C runtime's system() does) in the current working
// directory, with our standard input and output, and waits for it, as the C library's
// system() does: while it runs, the user's interrupt from the keyboard (Ctrl-C) ends the
// command alone and shows in the result (`interrupted`), so that the caller can stop.
// `started` is false (with `error`) when the interpreter could not be started; otherwise
// `exit_code` is the command's exit status, or -1 with `signal` set when a signal ended it.
ProcessResult RunShellCommand(const std::string& command);

// The interpreter that RunShellCommand uses, for messages.
std::string ShellProgram();

}  // namespace platform
