#include "common/platform/process.h"

#include <algorithm>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "common/platform/fs.h"
#include "common/platform/process_output.h"
#include "common/platform/win32_support.h"

namespace platform {
namespace {

void Close(HANDLE* handle) {
  if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = nullptr;
}

void SetInherit(HANDLE handle, bool inherit) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, inherit ? HANDLE_FLAG_INHERIT : 0);
}

// The null device, opened for a child's standard input or error.
HANDLE OpenNull(DWORD access) {
  return CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     0, nullptr);
}

// Starts a child with the given standard handles (made inheritable only while it is
// created). False when the program could not be started.
bool StartChild(const std::vector<std::string>& argv, const std::string& working_directory,
                HANDLE input, HANDLE output, HANDLE error, DWORD flags, HANDLE* process,
                std::string* reason = nullptr) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  bool started;
  {
    std::lock_guard<std::mutex> lock(win32::InheritanceMutex());
    for (HANDLE h : {input, output, error}) SetInherit(h, true);
    DWORD code = 0;
    started = win32::CreateChild(argv, working_directory, true, flags, &startup, &info, &code);
    if (!started && reason) *reason = win32::ErrorText(code);
    // Our own standard handles stay inheritable, as they were given to us.
    for (HANDLE h : {input, output, error})
      if (h != GetStdHandle(STD_INPUT_HANDLE) && h != GetStdHandle(STD_OUTPUT_HANDLE) &&
          h != GetStdHandle(STD_ERROR_HANDLE))
        SetInherit(h, false);
  }
  if (!started) return false;
  *process = info.hProcess;
  return true;
}

int ExitCode(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return -1;
  return static_cast<int>(code);
}

// The statuses of the error severity (0xC0000000 and up): an unhandled exception ended
// the program.
bool IsExceptionStatus(DWORD code) {
  return (code & 0xC0000000u) == 0xC0000000u;
}

bool HasExtension(const std::string& name) {
  return FileName(name).find('.') != std::string::npos;
}

}  // namespace

std::string SignalDescription(int signal_number) {
  // Windows has no signals; what we report is the console's Ctrl+C, and the exception that
  // ended a program that crashed (its status).
  if (signal_number == 2) return "Ctrl+C (signal 2)";
  const DWORD code = static_cast<DWORD>(signal_number);
  if (IsExceptionStatus(code)) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    std::string text = std::string("exception ") + hex;
    switch (code) {
      case EXCEPTION_ACCESS_VIOLATION: return text + " (access violation)";
      case EXCEPTION_STACK_OVERFLOW: return text + " (stack overflow)";
      case EXCEPTION_ILLEGAL_INSTRUCTION: return text + " (illegal instruction)";
      case EXCEPTION_INT_DIVIDE_BY_ZERO: return text + " (division by zero)";
      case 0xC0000409: return text + " (stack buffer overrun)";
      default: return text;
    }
  }
  return "signal " + std::to_string(signal_number);
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.error = "no program given";
    return result;
  }
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (options.capture_output && !CreatePipe(&read_end, &write_end, nullptr, 0)) {
    result.error = win32::ErrorText(GetLastError());
    return result;
  }
  HANDLE null_input = options.inherit_input ? nullptr : OpenNull(GENERIC_READ);
  HANDLE input = options.inherit_input ? GetStdHandle(STD_INPUT_HANDLE) : null_input;
  HANDLE output = options.capture_output ? write_end : GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE error = options.capture_output ? write_end : GetStdHandle(STD_ERROR_HANDLE);
  HANDLE process = nullptr;
  // While a child that shares our console runs, Ctrl+C ends it alone and is noted.
  std::unique_ptr<win32::InterruptGuard> guard;
  if (options.wait_through_interrupt) guard = std::make_unique<win32::InterruptGuard>();
  // A captured child needs no console window of its own; one that writes to ours shares it.
  bool started = StartChild(argv, options.working_directory, input, output, error,
                            options.capture_output ? CREATE_NO_WINDOW : 0, &process,
                            &result.error);
  Close(&write_end);
  Close(&null_input);
  if (!started) {
    Close(&read_end);
    return result;
  }
  result.started = true;
  std::thread reader;
  if (read_end != nullptr) {
    reader = std::thread([&result, &options, read_end] {
      char buffer[65536];
      DWORD n = 0;
      while (::ReadFile(read_end, buffer, sizeof buffer, &n, nullptr) && n > 0)
        process_output::Keep(&result.output, buffer, n, options);
    });
  }
  DWORD wait = options.timeout_ms < 0 ? INFINITE : static_cast<DWORD>(options.timeout_ms);
  if (WaitForSingleObject(process, wait) == WAIT_TIMEOUT) {
    result.timed_out = true;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
  }
  if (reader.joinable()) reader.join();
  Close(&read_end);
  if (options.keep_last_output && result.output.size() > options.output_limit)
    result.output.erase(0, result.output.size() - options.output_limit);
  result.exit_code = result.timed_out ? -1 : ExitCode(process);
  if (guard && !result.timed_out &&
      (guard->interrupted() || static_cast<DWORD>(result.exit_code) == win32::kControlCExit)) {
    result.interrupted = true;
    result.signal = 2;
    result.exit_code = -1;
  } else if (!result.timed_out && IsExceptionStatus(static_cast<DWORD>(result.exit_code)) &&
             static_cast<DWORD>(result.exit_code) != win32::kControlCExit) {
    // A program that crashed ends with the exception's status: reported as the signal that
    // ended it, as POSIX reports SIGSEGV, never as an ordinary exit status.
    result.signal = result.exit_code;
    result.exit_code = -1;
  }
  Close(&process);
  return result;
}

std::string FindProgram(const std::string& name, const std::string& folder) {
  const std::string file = HasExtension(name) ? name : name + ".exe";
  if (!folder.empty()) {
    std::string beside = folder;
    if (beside.back() != '\\' && beside.back() != '/') beside.push_back('\\');
    beside.append(file);
    if (IsFile(beside)) return beside;
  }
  const char* path = std::getenv("PATH");
  if (!path) return std::string();
  std::string all(path);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string dir = all.substr(start, end - start);
    // Entries may be quoted when they hold a ";".
    if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"') dir = dir.substr(1, dir.size() - 2);
    if (!dir.empty()) {
      std::string candidate = dir;
      if (candidate.back() != '\\' && candidate.back() != '/') candidate.push_back('\\');
      candidate += file;
      if (IsFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

bool IsExecutableFile(const std::string& path) {
  // Windows runs a program by its extension; a name without one means the ".exe".
  std::string file = HasExtension(path) ? path : path + ".exe";
  if (!IsFile(file)) return false;
  std::string extension = file.substr(file.rfind('.'));
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == ".exe" || extension == ".com";
}

ChildProcess::~ChildProcess() {
  Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::string& working_directory) {
  if (argv.empty() || pid_ > 0) return false;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return false;
  HANDLE null_input = OpenNull(GENERIC_READ);
  HANDLE null_error = OpenNull(GENERIC_WRITE);
  HANDLE process = nullptr;
  // The compiler runs without a window of its own.
  bool started = StartChild(argv, working_directory, null_input, write_end, null_error,
                            CREATE_NO_WINDOW, &process);
  Close(&write_end);
  Close(&null_input);
  Close(&null_error);
  if (!started) {
    Close(&read_end);
    return false;
  }
  pid_ = reinterpret_cast<intptr_t>(process);
  fd_ = reinterpret_cast<intptr_t>(read_end);
  buffer_.clear();
  eof_ = false;
  return true;
}

bool ChildProcess::ReadLine(std::string* line) {
  for (;;) {
    size_t nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      *line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    if (eof_ || fd_ == -1) {
      if (buffer_.empty()) return false;
      *line = buffer_;
      buffer_.clear();
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    char chunk[4096];
    DWORD n = 0;
    // A broken pipe (the child has ended and every copy of the write end is closed) is
    // the end of the output.
    if (!::ReadFile(reinterpret_cast<HANDLE>(fd_), chunk, sizeof chunk, &n, nullptr) || n == 0) {
      eof_ = true;
      continue;
    }
    buffer_.append(chunk, n);
  }
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  HANDLE process = reinterpret_cast<HANDLE>(pid_);
  WaitForSingleObject(process, INFINITE);
  int code = ExitCode(process);
  CloseHandle(process);
  pid_ = -1;
  if (fd_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(fd_));
    fd_ = -1;
  }
  return code;
}

void ChildProcess::CloseOutput() {
  if (fd_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(fd_));
    fd_ = -1;
  }
  // What was read and not yet taken goes with the pipe.
  buffer_.clear();
  eof_ = true;
}

void ChildProcess::Kill() {
  if (pid_ > 0) {
    TerminateProcess(reinterpret_cast<HANDLE>(pid_), 1);
    Wait();
  }
  if (fd_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(fd_));
    fd_ = -1;
  }
}

}  // namespace platform
