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

// Why a read gave no data.
enum class ReadStatus {
  kOk,
  kCannotRead,   // missing, a folder, no permission, an I/O error
  kTooLarge,     // holds more than the limit (a device or pipe that never ends stops there)
  kOutOfMemory,  // the data did not fit in memory
};

// Reads a whole file. nullopt when it cannot be opened or read, is a folder, or holds
// more than `limit` bytes; a regular file larger than the limit is refused before any
// of it is read. `status` and `error` (when given) say why, `error` in the system's words.
std::optional<std::string> ReadFile(const std::string& path, size_t limit = SIZE_MAX,
                                    ReadStatus* status = nullptr, std::string* error = nullptr);

// A file read in pieces, for formats whose header says how much follows: nothing is
// read or allocated beyond what the caller asks for and the file holds.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens a file for reading; false for a folder or a file that cannot be opened, with
  // the system's reason in `error` (when given).
  bool Open(const std::string& path, std::string* error = nullptr);
  // Appends up to `count` bytes to `out`; fewer only at the end of the file. False on a
  // read error or when memory runs out; `status` (when given) tells the two apart.
  bool Read(size_t count, std::string* out, ReadStatus* status = nullptr);
  // The size of an opened regular file, or -1 (a pipe or a device has none).
  int64_t RegularFileSize() const { return regular_size_; }
  void Close();

 private:
  intptr_t handle_ = -1;
  int64_t regular_size_ = -1;
};

// Replaces the content of `path` by `data` so that nothing is lost when the write fails:
// - a regular file (or a new one) is written to a temporary file beside it, whose name has
//   a fixed length, and renamed over it once complete, so readers see the old content or
//   the new, never a part; the file keeps its permissions (and its owner where that is
//   allowed); the temporary file is removed if the process is ended by a signal;
// - a symbolic link is followed: its target is replaced, in the target's folder;
// - an existing target that is not a regular file (a device, a pipe, a socket) is
//   written in place, never renamed over;
// - an existing writable file in a folder where no temporary file may be made is written
//   in place;
// - on Windows a read-only file is refused (an access error), as Windows' own rename does.
// On failure an existing regular file is untouched and `error` (when given) says why.
bool WriteFileAtomic(const std::string& path, const std::string& data,
                     std::string* error = nullptr);

// The identity of an existing file (after symbolic links): two paths with the same
// identity name the same file, whether through "./", a hard link or a link.
struct FileId {
  uint64_t device = 0;
  uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};
std::optional<FileId> FileIdentity(const std::string& path);

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
