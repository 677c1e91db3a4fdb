#include "common/platform/fs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

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

std::optional<std::string> ReadFile(const std::string& path, size_t limit) {
  if (IsDirectory(path)) return std::nullopt;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > limit - data.size()) {
      close(fd);
      return std::nullopt;
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return data;
}

bool WriteFileAtomic(const std::string& path, const std::string& data, std::string* error) {
  std::string folder = FolderOf(path);
  std::string temp = folder + "." + FileName(path) + ".tmp-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  auto fail = [&](int err) {
    close(fd);
    unlink(name.data());
    if (error) *error = std::strerror(err);
    return false;
  };
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  // Keep the permissions an ordinary new file would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  if (close(fd) != 0) {
    int err = errno;
    unlink(name.data());
    if (error) *error = std::strerror(err);
    return false;
  }
  if (rename(name.data(), path.c_str()) != 0) {
    int err = errno;
    unlink(name.data());
    if (error) *error = std::strerror(err);
    return false;
  }
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
