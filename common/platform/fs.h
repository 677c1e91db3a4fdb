// File-system services: paths, folders, whole-file reads and atomic writes.
//
// Paths are native: "/" separated on POSIX, "\" separated on Windows, where names are in
// the ANSI code page. Every operation reports failure by its result; none throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The native separator and the conversion of user-written paths: on POSIX "\" becomes
// "/", on Windows "/" becomes "\".
#ifdef _WIN32
constexpr char kSeparator = '\\';
// Letter case does not tell two files apart ("Demo.lua" is "demo.lua").
constexpr bool kPathsIgnoreCase = true;
#else
constexpr char kSeparator = '/';
constexpr bool kPathsIgnoreCase = false;
#endif
std::string NativePath(std::string path);

// True for a character that separates the parts of a path: "/" on POSIX, "\" and "/" on
// Windows (whose file functions take both).
constexpr bool IsSeparator(char c) {
  return c == kSeparator || c == '/';
}

// True when the path is absolute: it starts with "/" on POSIX; on Windows it has a drive
// letter and a separator ("C:\") or starts with two separators (a network path).
bool IsAbsolutePath(const std::string& path);

bool IsDirectory(const std::string& path);
bool IsFile(const std::string& path);  // exists and is not a folder
bool PathExists(const std::string& path);
bool MakeDirectory(const std::string& path);  // one level; true when it exists afterwards

// Reads a whole file. nullopt when it cannot be opened or read, is a folder, or holds
// more than `limit` bytes (a device or pipe that never ends is cut off there).
std::optional<std::string> ReadFile(const std::string& path, size_t limit = SIZE_MAX);

// Writes `data` to a temporary file in the same folder and renames it over `path`, so
// readers see either the old or the new content, never a part. On failure the old file
// is untouched and `error` (when given) says why.
bool WriteFileAtomic(const std::string& path, const std::string& data,
                     std::string* error = nullptr);

// Creates an empty file when none exists. True when a file exists afterwards.
bool CreateEmptyFile(const std::string& path);

// Size in bytes, or -1 when the file does not exist.
int64_t FileSize(const std::string& path);

// Modification time in seconds, or -1.
int64_t FileModifiedTime(const std::string& path);

// The file part of a path (after the last separator; on Windows "/" counts as one too).
std::string FileName(const std::string& path);
// The folder part of a path including its trailing separator; empty for a bare name.
std::string FolderOf(const std::string& path);

std::string CurrentDirectory();
bool ChangeDirectory(const std::string& path);

// The absolute, normalised form of a path ("." and ".." resolved lexically).
std::string CanonicalPath(const std::string& path);

// The folder holding the running program, with a trailing separator.
std::string ProgramFolder();

// The base folder for configuration: $AKQP_CONFIG_HOME when set and not empty, else on
// POSIX $XDG_CONFIG_HOME, else $HOME/.config, and on Windows the roaming application-data
// folder. Always ends with a separator.
std::string ConfigBaseFolder();

// From now on a write past the process's file-size limit fails with an error that the
// writer reports, instead of ending the process.
void ReportFileSizeLimitAsError();

// A private, newly made temporary folder (removed by RemoveTree). Empty on failure.
std::string MakeTempFolder(const std::string& prefix);
void RemoveTree(const std::string& path);

}  // namespace platform
