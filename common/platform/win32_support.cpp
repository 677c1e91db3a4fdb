#include "common/platform/win32_support.h"

#include <atomic>

namespace platform::win32 {
namespace {

std::atomic<int> g_guards{0};
std::atomic<bool> g_interrupted{false};

BOOL WINAPI GuardHandler(DWORD event) {
  if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && g_guards.load() > 0) {
    g_interrupted = true;
    return TRUE;
  }
  return FALSE;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  static const bool installed = SetConsoleCtrlHandler(GuardHandler, TRUE) != 0;
  (void)installed;
  if (g_guards.fetch_add(1) == 0) g_interrupted = false;
}

InterruptGuard::~InterruptGuard() {
  g_guards.fetch_sub(1);
}

bool InterruptGuard::interrupted() const {
  return g_interrupted.load();
}

bool InterruptGuarded() {
  return g_guards.load() > 0;
}

std::string ErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return "the file does not exist";
    case ERROR_PATH_NOT_FOUND:
      return "the folder does not exist";
    case ERROR_ACCESS_DENIED:
      return "access is denied (the file is read-only, or open in another program)";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return "the file is in use by another program";
    case ERROR_FILENAME_EXCED_RANGE:
      return "the path is longer than Windows allows (259 characters)";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "the disk is full";
    case ERROR_INVALID_NAME:
      return "the name is not a valid file name";
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
      // (The system's own text holds a "%1" that it never fills in.)
      return "the file is not a program that Windows can run";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "out of memory";
    default:
      break;
  }
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (n != 0 && buffer != nullptr) text.assign(buffer, n);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "system error " + std::to_string(code);
  return text;
}

std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: double them there, and escape the quote.
    if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
    else quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  // Before the closing quote, backslashes are doubled so that they do not escape it.
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line.push_back(' ');
    line += QuoteArgument(argument);
  }
  return line;
}

std::mutex& InheritanceMutex() {
  static std::mutex mutex;
  return mutex;
}

HANDLE ChildJob() {
  static HANDLE job = [] {
    HANDLE made = CreateJobObjectA(nullptr, nullptr);
    if (made == nullptr) return HANDLE(nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    // The children die with us; a program they start themselves may leave the job (the
    // Explorer window that a child opens is not ours to end).
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
      CloseHandle(made);
      return HANDLE(nullptr);
    }
    return made;
  }();
  return job;
}

bool CreateChild(const std::vector<std::string>& argv, const std::string& working_directory,
                 bool inherit, DWORD creation_flags, STARTUPINFOA* startup,
                 PROCESS_INFORMATION* info, DWORD* error) {
  std::string line = CommandLine(argv);
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  HANDLE job = ChildJob();
  DWORD flags = CREATE_SUSPENDED | creation_flags;
  if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, inherit ? TRUE : FALSE, flags,
                      nullptr, working_directory.empty() ? nullptr : working_directory.c_str(),
                      startup, info)) {
    if (error) *error = GetLastError();
    return false;
  }
  // A system without nested jobs refuses when we are in a job ourselves: the child then
  // stays in ours, which ends it with our parent's job.
  if (job != nullptr) AssignProcessToJobObject(job, info->hProcess);
  ResumeThread(info->hThread);
  CloseHandle(info->hThread);
  info->hThread = nullptr;
  return true;
}

}  // namespace platform::win32
