// Helpers shared by the Windows files of the platform layer (not part of its interface).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace platform::win32 {

// The longest path the ANSI file functions take (MAX_PATH less the closing NUL).
constexpr size_t kMaxPathLength = MAX_PATH - 1;

// A short reason for a system error code, in words a user can act on.
std::string ErrorText(DWORD code);

// The command line that gives `argv` back to a program that splits its command line the
// C runtime's way (blanks separate, quotes group, backslashes escape only quotes).
std::string QuoteArgument(const std::string& argument);
std::string CommandLine(const std::vector<std::string>& argv);

// Held while a handle is made inheritable and a child is created, so that a child started
// by another thread at the same moment never inherits a pipe that is not its own (it
// would keep that pipe open and its reader would wait for ever).
std::mutex& InheritanceMutex();

// The job that holds our children: it is closed when this process ends, and the system
// then ends every process still in it. Null when no job could be made.
HANDLE ChildJob();

// Creates a child suspended, puts it into ChildJob() and lets it run. The caller holds
// InheritanceMutex() when `inherit` is true.
bool CreateChild(const std::vector<std::string>& argv, const std::string& working_directory,
                 bool inherit, DWORD creation_flags, STARTUPINFOA* startup,
                 PROCESS_INFORMATION* info, DWORD* error);

// While a guard lives, Ctrl+C and Ctrl+Break from the console do not end this process
// (a child that shares the console gets them and ends): they are noted, so that the caller
// can stop after the child, as the C library's system() does on POSIX.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  bool interrupted() const;
};
// True while a guard lives (the signal clean-up leaves such an interrupt alone).
bool InterruptGuarded();

// The exit code of a console program ended by Ctrl+C.
constexpr DWORD kControlCExit = 0xC000013A;

}  // namespace platform::win32
