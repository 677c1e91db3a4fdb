#include "common/platform/fs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <new>
#include <random>
#include <vector>

#include "common/platform/signal_cleanup.h"

namespace platform {

std::string NativePath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

bool IsAbsolutePath(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool MakeDirectory(const std::string& path) {
  if (IsDirectory(path)) return true;
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return IsDirectory(path);
}

namespace {

std::string ErrorText(int err) { return std::strerror(err); }

// Opens for reading; refuses folders (which open but cannot be read).
int OpenForReading(const std::string& path, struct stat* st, int* err) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *err = errno;
    return -1;
  }
  if (fstat(fd, st) != 0) {
    *err = errno;
    close(fd);
    return -1;
  }
  if (S_ISDIR(st->st_mode)) {
    *err = EISDIR;
    close(fd);
    return -1;
  }
  return fd;
}

// Reads until `count` bytes were appended or the file ended; the string grows only by
// what arrives, so a size claimed by a header costs nothing until the file holds it.
bool ReadInto(int fd, size_t count, std::string* out, int* err) {
  constexpr size_t kPiece = 1 << 16;
  // The room grows by doubling, but never past what the caller may read in all.
  const size_t most = count > SIZE_MAX - out->size() ? SIZE_MAX : out->size() + count;
  while (count > 0) {
    size_t want = std::min(count, kPiece);
    size_t old = out->size();
    if (out->capacity() < old + want)
      out->reserve(std::min(most, std::max(old + want, 2 * out->capacity())));
    out->resize(old + want);
    ssize_t n = read(fd, out->data() + old, want);
    if (n < 0) {
      out->resize(old);
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    out->resize(old + static_cast<size_t>(n));
    if (n == 0) break;
    count -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadFile(const std::string& path, size_t limit, ReadStatus* status,
                                    std::string* error) {
  auto fail = [&](ReadStatus why, const std::string& text) -> std::optional<std::string> {
    if (status) *status = why;
    if (error) *error = text;
    return std::nullopt;
  };
  struct stat st;
  int err = 0;
  int fd = OpenForReading(path, &st, &err);
  if (fd < 0) return fail(ReadStatus::kCannotRead, ErrorText(err));
  if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit) {
    close(fd);
    return fail(ReadStatus::kTooLarge, "larger than " + std::to_string(limit) + " bytes");
  }
  std::string data;
  bool ok = false;
  try {
    // A regular file is read into room of its size, anything else into room that grows
    // up to the limit and no further.
    if (S_ISREG(st.st_mode)) data.reserve(static_cast<size_t>(st.st_size));
    ok = ReadInto(fd, limit, &data, &err);
  } catch (const std::bad_alloc&) {
    close(fd);
    return fail(ReadStatus::kOutOfMemory, "out of memory");
  }
  // Whether more follows the limit: one byte more, read apart from the data.
  bool more = false;
  if (ok && data.size() == limit) {
    char probe;
    ssize_t n;
    do n = read(fd, &probe, 1);
    while (n < 0 && errno == EINTR);
    more = n > 0;
  }
  close(fd);
  if (!ok) return fail(ReadStatus::kCannotRead, ErrorText(err));
  if (more) return fail(ReadStatus::kTooLarge, "larger than " + std::to_string(limit) + " bytes");
  if (status) *status = ReadStatus::kOk;
  return data;
}

FileReader::~FileReader() { Close(); }

bool FileReader::Open(const std::string& path, std::string* error) {
  Close();
  struct stat st;
  int err = 0;
  int fd = OpenForReading(path, &st, &err);
  if (fd < 0) {
    if (error) *error = ErrorText(err);
    return false;
  }
  handle_ = fd;
  regular_size_ = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
  return true;
}

bool FileReader::Read(size_t count, std::string* out, ReadStatus* status) {
  ReadStatus result = ReadStatus::kCannotRead;
  int err = 0;
  try {
    if (handle_ >= 0 && ReadInto(static_cast<int>(handle_), count, out, &err))
      result = ReadStatus::kOk;
  } catch (const std::bad_alloc&) {
    result = ReadStatus::kOutOfMemory;
  }
  if (status) *status = result;
  return result == ReadStatus::kOk;
}

void FileReader::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
  regular_size_ = -1;
}

std::optional<FileId> FileIdentity(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

namespace {

bool WriteAll(int fd, const std::string& data, int* err) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file a path finally names: symbolic links followed (relative ones from the link's
// own folder), also when the last one points at nothing yet. False after too many links.
bool FollowLinks(const std::string& path, std::string* target, int* err) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = current;
      return true;
    }
    std::vector<char> buffer(4096);
    ssize_t n = readlink(current.c_str(), buffer.data(), buffer.size());
    if (n < 0 || static_cast<size_t>(n) >= buffer.size()) {
      *err = n < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    std::string link(buffer.data(), static_cast<size_t>(n));
    current = (!link.empty() && link[0] == '/') ? link : FolderOf(current) + link;
  }
  *err = ELOOP;
  return false;
}

// A temporary name of fixed length beside the target, so that a target name of any
// length the system allows still leaves room for it.
std::string TemporaryName(const std::string& folder) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random(std::random_device{}() ^
                                      (static_cast<uint64_t>(getpid()) << 32));
  std::string name = folder + ".akqp-";
  for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name + ".tmp";
}

// Writes over an existing file without replacing it; a regular file is cut to the new
// length afterwards.
bool WriteInPlace(const std::string& target, const std::string& data, bool regular, int* err) {
  int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *err = errno;
    return false;
  }
  bool ok = WriteAll(fd, data, err);
  if (ok && regular && ftruncate(fd, static_cast<off_t>(data.size())) != 0) {
    *err = errno;
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    *err = errno;
    ok = false;
  }
  return ok;
}

}  // namespace

bool WriteFileAtomic(const std::string& path, const std::string& data, std::string* error) {
  int err = 0;
  auto fail = [&](int e) {
    if (error) *error = ErrorText(e);
    return false;
  };
  std::string target;
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) return fail(EISDIR);
    // A device, a pipe or a socket is never renamed over. It is opened by the path as
    // given, so that links the system resolves itself (/dev/stdout) reach it.
    if (!S_ISREG(st.st_mode)) return WriteInPlace(path, data, false, &err) || fail(err);
    // The file itself, wherever links lead: the temporary file goes beside it.
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return fail(errno);
    target = real;
    std::free(real);
  } else {
    // A new file, or a link to one that does not exist yet: made where the links lead.
    int stat_error = errno;
    if (stat_error != ENOENT) return fail(stat_error);
    if (!FollowLinks(path, &target, &err)) return fail(err);
  }
  const std::string folder = FolderOf(target);
  std::string temp;
  int fd = -1;
  int token = -1;
  // The name is registered for removal before the file exists, so that a signal at any
  // moment leaves nothing behind (removing a name not yet made does no harm).
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = TemporaryName(folder);
    token = AddSignalCleanup({temp});
    // 0666 less the umask, as any new file gets; an existing file's mode is set below.
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) break;
    err = errno;
    RemoveSignalCleanup(token);
    token = -1;
    if (err != EEXIST) break;
  }
  if (fd < 0) {
    // No temporary file may be made in the folder, but the file itself may be writable.
    if (exists && (err == EACCES || err == EPERM || err == EROFS))
      return WriteInPlace(target, data, true, &err) || fail(err);
    return fail(err);
  }
  auto discard = [&](int e) {
    close(fd);
    unlink(temp.c_str());
    RemoveSignalCleanup(token);
    return fail(e);
  };
  if (!WriteAll(fd, data, &err)) return discard(err);
  if (exists) {
    // The owner first (where allowed), since changing it may clear set-id bits.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not permitted to give it away: keep at least its group where that is allowed.
      int ignored = fchown(fd, static_cast<uid_t>(-1), st.st_gid);
      (void)ignored;
    }
    if (fchmod(fd, st.st_mode & 07777) != 0) return discard(errno);
  }
  if (close(fd) != 0) {
    err = errno;
    unlink(temp.c_str());
    RemoveSignalCleanup(token);
    return fail(err);
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    err = errno;
    unlink(temp.c_str());
    RemoveSignalCleanup(token);
    return fail(err);
  }
  RemoveSignalCleanup(token);
  return true;
}

bool CreateEmptyFile(const std::string& path) {
  if (IsFile(path)) return true;
  if (IsDirectory(path)) return false;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t FileModifiedTime(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtime);
}

std::string FileName(const std::string& path) {
  size_t pos = path.find_last_of('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string FolderOf(const std::string& path) {
  size_t pos = path.find_last_of('/');
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool ChangeDirectory(const std::string& path) {
  return IsDirectory(path) && chdir(path.c_str()) == 0;
}

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return p.lexically_normal().string();
}

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  return FolderOf(std::string(buffer.data(), static_cast<size_t>(n)));
}

std::string ConfigBaseFolder() {
  auto with_separator = [](std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
  };
  const char* own = std::getenv("AKQP_CONFIG_HOME");
  if (own && *own) return with_separator(own);
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return with_separator(xdg);
  const char* home = std::getenv("HOME");
  if (home && *home) return with_separator(std::string(home) + "/.config");
  // No way to find a home: the root of the file system, as the original falls back to
  // the root of the current drive.
  return "/";
}

void ReportFileSizeLimitAsError() {
  signal(SIGXFSZ, SIG_IGN);
}

std::string MakeTempFolder(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp && *tmp) ? tmp : "/tmp";
  std::string templ = base + "/" + prefix + "-XXXXXX";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return std::string();
  return std::string(name.data());
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace platform
