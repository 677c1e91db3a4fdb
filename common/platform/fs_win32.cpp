#include "common/platform/fs.h"

#include <shlobj.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <random>

#include "common/platform/win32_support.h"

namespace platform {
namespace {

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA* data) {
  return !path.empty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, data) != 0;
}

int64_t FileTimeToSeconds(const FILETIME& time) {
  uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  // 100-ns ticks since 1601 to seconds since 1970.
  return static_cast<int64_t>(ticks / 10000000u) - 11644473600LL;
}

std::string RandomHex() {
  static std::mt19937 generator = [] {
    std::random_device device;
    return std::mt19937(device() ^ GetCurrentProcessId() ^ GetTickCount());
  }();
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  static const char kDigits[] = "0123456789abcdef";
  uint32_t value = generator();
  std::string hex(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) hex[i] = kDigits[value & 15];
  return hex;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string TooLong() {
  return "the path is longer than Windows allows (259 characters)";
}

bool WriteAll(HANDLE file, const std::string& data, DWORD* error) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
    DWORD written = 0;
    if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
      *error = GetLastError();
      return false;
    }
    done += written;
  }
  return true;
}

// The file a symbolic link leads to, in the usual "C:\..." form; empty when the path
// is no link or its target cannot be opened.
std::string LinkTarget(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return std::string();
  // Opening follows the link.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  char buffer[MAX_PATH + 16];
  DWORD n = GetFinalPathNameByHandleA(file, buffer, sizeof buffer, VOLUME_NAME_DOS);
  CloseHandle(file);
  if (n == 0 || n >= sizeof buffer) return std::string();
  std::string target(buffer, n);
  if (target.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + target.substr(7);
  if (target.rfind("\\\\?\\", 0) == 0) return target.substr(4);
  return target;
}

}  // namespace

std::string NativePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool IsAbsolutePath(const std::string& path) {
  if (path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':' && IsSeparator(path[2]))
    return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

bool IsDirectory(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, &data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathExists(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return Attributes(path, &data);
}

bool MakeDirectory(const std::string& path) {
  if (IsDirectory(path)) return true;
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  return IsDirectory(path);
}

// The C library's error number for a system error, so that callers that name the reason
// with strerror() say the same as on POSIX ("No such file or directory").
void SetErrno(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      errno = ENAMETOOLONG;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      errno = EACCES;
      break;
    default:
      errno = EIO;
  }
}

namespace {

HANDLE OpenForReading(const std::string& path, std::string* error) {
  if (IsDirectory(path)) {
    errno = EISDIR;
    if (error) *error = "it is a folder";
    return INVALID_HANDLE_VALUE;
  }
  if (path.empty()) {
    errno = ENOENT;
    if (error) *error = win32::ErrorText(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  // Others may keep the file open for writing (an editor) or rename it meanwhile.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    SetErrno(code);
    if (error) *error = win32::ErrorText(code);
  }
  return file;
}

// The size of a file on disk; -1 for a pipe, a console or a device.
int64_t RegularSize(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return -1;
  return size.QuadPart;
}

void SetStatus(ReadStatus* status, ReadStatus value) {
  if (status) *status = value;
}

}  // namespace

std::optional<std::string> ReadFile(const std::string& path, size_t limit, ReadStatus* status,
                                    std::string* error) {
  SetStatus(status, ReadStatus::kCannotRead);
  HANDLE file = OpenForReading(path, error);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string data;
  auto fail = [&](ReadStatus why, const std::string& text) -> std::optional<std::string> {
    CloseHandle(file);
    SetStatus(status, why);
    if (error) *error = text;
    return std::nullopt;
  };
  // A file on disk that is too large is refused before any of it is read.
  int64_t size = RegularSize(file);
  if (size >= 0 && static_cast<uint64_t>(size) > limit)
    return fail(ReadStatus::kTooLarge, "larger than " + std::to_string(limit) + " bytes");
  try {
    if (size > 0) data.reserve(static_cast<size_t>(size));
    char buffer[65536];
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
        // A pipe whose writer has gone ends like a file.
        if (GetLastError() == ERROR_BROKEN_PIPE) break;
        DWORD code = GetLastError();
        SetErrno(code);
        return fail(ReadStatus::kCannotRead, win32::ErrorText(code));
      }
      if (n == 0) break;
      if (static_cast<size_t>(n) > limit - data.size())
        return fail(ReadStatus::kTooLarge, "larger than " + std::to_string(limit) + " bytes");
      data.append(buffer, n);
    }
  } catch (const std::bad_alloc&) {
    return fail(ReadStatus::kOutOfMemory, "out of memory");
  }
  CloseHandle(file);
  SetStatus(status, ReadStatus::kOk);
  return data;
}

FileReader::~FileReader() {
  Close();
}

bool FileReader::Open(const std::string& path, std::string* error) {
  Close();
  HANDLE file = OpenForReading(path, error);
  if (file == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(file);
  regular_size_ = RegularSize(file);
  return true;
}

bool FileReader::Read(size_t count, std::string* out, ReadStatus* status) {
  SetStatus(status, ReadStatus::kCannotRead);
  if (handle_ == -1) return false;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  try {
    char buffer[65536];
    while (count > 0) {
      DWORD want = static_cast<DWORD>(std::min<size_t>(count, sizeof buffer));
      DWORD n = 0;
      if (!::ReadFile(file, buffer, want, &n, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) break;
        return false;
      }
      if (n == 0) break;
      out->append(buffer, n);
      count -= n;
    }
  } catch (const std::bad_alloc&) {
    SetStatus(status, ReadStatus::kOutOfMemory);
    return false;
  }
  SetStatus(status, ReadStatus::kOk);
  return true;
}

void FileReader::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  regular_size_ = -1;
}

std::optional<FileId> FileIdentity(const std::string& path) {
  if (path.empty()) return std::nullopt;
  // Opened for no access at all, so that a file held by another program still answers.
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!ok) return std::nullopt;
  FileId id;
  id.device = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
}

bool WriteFileAtomic(const std::string& link_or_path, const std::string& data,
                     std::string* error) {
  // A symbolic link is followed: the file it leads to is replaced, beside itself, and the
  // link stays (a rename onto the link would replace the link).
  const std::string target = LinkTarget(link_or_path);
  const std::string& path = target.empty() ? link_or_path : target;
  // The ANSI functions refuse longer paths; saying so beats the system's "not found".
  if (path.size() > win32::kMaxPathLength) {
    SetError(error, TooLong());
    return false;
  }
  if (IsDirectory(path)) {
    SetError(error, "it is a folder");
    return false;
  }
  // A device ("NUL", a console) is written in place, never renamed over.
  {
    HANDLE existing = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
      if (GetFileType(existing) != FILE_TYPE_DISK) {
        DWORD code = 0;
        bool written = WriteAll(existing, data, &code);
        CloseHandle(existing);
        if (!written) SetError(error, win32::ErrorText(code));
        return written;
      }
      CloseHandle(existing);
    }
  }
  // A read-only file is kept: Windows refuses to rename over one, but not every system
  // that runs Windows programs does (Wine replaced it, and its attribute with it).
  WIN32_FILE_ATTRIBUTE_DATA existing;
  if (Attributes(path, &existing) && (existing.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    SetError(error, win32::ErrorText(ERROR_ACCESS_DENIED));
    return false;
  }
  const std::string folder = FolderOf(path);
  std::string temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    // A name of fixed length, so that only the folder decides whether it fits.
    temp = folder + "~akqp" + RandomHex() + ".tmp";
    if (temp.size() > win32::kMaxPathLength) {
      SetError(error, TooLong());
      return false;
    }
    file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      DWORD code = GetLastError();
      // Windows says "path not found" when the folder part names a file.
      if (code == ERROR_PATH_NOT_FOUND && folder.size() > 1 &&
          IsFile(folder.substr(0, folder.size() - 1)))
        SetError(error, "its folder is a file");
      else
        SetError(error, win32::ErrorText(code));
      return false;
    }
  }
  if (file == INVALID_HANDLE_VALUE) {
    SetError(error, "no temporary file could be made beside it");
    return false;
  }
  DWORD code = 0;
  bool written = WriteAll(file, data, &code);
  if (written && !FlushFileBuffers(file)) {
    code = GetLastError();
    written = false;
  }
  CloseHandle(file);
  if (!written) {
    DeleteFileA(temp.c_str());
    SetError(error, win32::ErrorText(code));
    return false;
  }
  // Replaces the old file in one step; a file that another program holds open is refused
  // (sharing violation or access denied), and then stays as it was.
  if (!MoveFileExA(temp.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    code = GetLastError();
    DeleteFileA(temp.c_str());
    SetError(error, win32::ErrorText(code));
    return false;
  }
  return true;
}

bool CreateEmptyFile(const std::string& path) {
  if (IsFile(path)) return true;
  if (path.empty() || IsDirectory(path)) return false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return IsFile(path);
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Attributes(path, &data)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

int64_t FileModifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!Attributes(path, &data)) return -1;
  return FileTimeToSeconds(data.ftLastWriteTime);
}

std::string FileName(const std::string& path) {
  size_t pos = path.find_last_of("\\/");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string FolderOf(const std::string& path) {
  size_t pos = path.find_last_of("\\/");
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string CurrentDirectory() {
  DWORD size = GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return std::string();
  std::string buffer(size, '\0');
  DWORD n = GetCurrentDirectoryA(size, buffer.data());
  if (n == 0 || n >= size) return std::string();
  buffer.resize(n);
  return buffer;
}

bool ChangeDirectory(const std::string& path) {
  return IsDirectory(path) && SetCurrentDirectoryA(path.c_str()) != 0;
}

std::string CanonicalPath(const std::string& path) {
  if (path.empty()) return path;
  // GetFullPathName works on the text alone: "/" becomes "\", "." and ".." are resolved
  // against the current folder, nothing needs to exist.
  DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::string buffer(size, '\0');
  DWORD n = GetFullPathNameA(path.c_str(), size, buffer.data(), nullptr);
  if (n == 0 || n >= size) return path;
  buffer.resize(n);
  return buffer;
}

std::string ProgramFolder() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) {
      buffer.resize(n);
      return FolderOf(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ConfigBaseFolder() {
  auto with_separator = [](std::string s) {
    if (s.empty() || !IsSeparator(s.back())) s += '\\';
    return s;
  };
  const char* own = std::getenv("AKQP_CONFIG_HOME");
  if (own && *own) return with_separator(NativePath(own));
  // The user's roaming application-data folder (special folder 26).
  char folder[MAX_PATH];
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
    return with_separator(folder);
  // No such folder: the root of the current drive.
  return "\\";
}

void ReportFileSizeLimitAsError() {
  // Windows has no file-size signal: a write past what the disk allows fails by itself.
}

std::string MakeTempFolder(const std::string& prefix) {
  char base[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof base, base);
  if (n == 0 || n > MAX_PATH) {
    SetErrno(n == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    return std::string();
  }
  std::string folder(base, n);
  if (!IsSeparator(folder.back())) folder += '\\';
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = folder + prefix + "-" + RandomHex();
    if (CreateDirectoryA(candidate.c_str(), nullptr)) return candidate;
    // The caller names the reason (a temporary folder that does not exist) through errno,
    // as on POSIX.
    DWORD code = GetLastError();
    if (code != ERROR_ALREADY_EXISTS) {
      SetErrno(code);
      return std::string();
    }
  }
  SetErrno(ERROR_ALREADY_EXISTS);
  return std::string();
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  // A link to a folder is removed itself, never followed into.
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAA found;
    std::string base = path;
    if (!IsSeparator(base.back())) base += '\\';
    HANDLE search = FindFirstFileA((base + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        RemoveTree(base + name);
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
  }
  RemoveDirectoryA(path.c_str());
}

}  // namespace platform
