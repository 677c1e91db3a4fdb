#include "common/platform/launch.h"

#include "common/platform/fs.h"
#include "common/platform/win32_support.h"

namespace platform {

const char kDesktopOpener[] = "explorer.exe";

std::vector<std::string> ShowFileArguments(const std::string& output, const std::string& folder) {
  if (IsFile(output)) return {"/select," + output};
  return {folder};
}

bool StartDetached(const std::vector<std::string>& argv, const std::string& working_directory,
                   std::string* error) {
  if (argv.empty()) {
    if (error) *error = "no program given";
    return false;
  }
  if (!working_directory.empty() && !IsDirectory(working_directory)) {
    if (error) *error = working_directory + ": " + win32::ErrorText(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string line = win32::CommandLine(argv);
  std::vector<char> buffer(line.begin(), line.end());
  buffer.push_back('\0');
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  // No handle of ours is inherited, and the program is outside our job, so it outlives us.
  const char* folder = working_directory.empty() ? nullptr : working_directory.c_str();
  DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP;
  BOOL started = CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE,
                                flags | CREATE_BREAKAWAY_FROM_JOB, nullptr, folder, &startup, &info);
  // A job that does not allow leaving it refuses the breakaway: start it inside.
  if (!started && GetLastError() == ERROR_ACCESS_DENIED)
    started = CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, flags, nullptr,
                             folder, &startup, &info);
  if (!started) {
    if (error) *error = argv[0] + ": " + win32::ErrorText(GetLastError());
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

void IgnoreBrokenPipes() {
  // A write to a pipe whose reader has gone fails with an error here; there is no signal.
}

}  // namespace platform
