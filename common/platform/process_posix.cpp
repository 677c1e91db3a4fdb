#include "common/platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace platform {
namespace {

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> result;
  result.reserve(argv.size() + 1);
  for (const std::string& a : argv) result.push_back(const_cast<char*>(a.c_str()));
  result.push_back(nullptr);
  return result;
}

// posix_spawn with an optional working directory; chdir in the child needs fork here
// because glibc 2.36 lacks posix_spawn_file_actions_addchdir_np in every build.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& working_directory,
            int stdout_fd, int stderr_fd, int close_fd) {
  std::vector<char*> args = ArgvPointers(argv);
  pid_t pid = fork();
  if (pid != 0) return pid;  // parent (or -1)
  if (stdout_fd >= 0) dup2(stdout_fd, STDOUT_FILENO);
  if (stderr_fd >= 0) dup2(stderr_fd, STDERR_FILENO);
  if (close_fd >= 0) close(close_fd);
  int null_in = open("/dev/null", O_RDONLY);
  if (null_in >= 0) dup2(null_in, STDIN_FILENO);
  if (!working_directory.empty() && chdir(working_directory.c_str()) != 0) _exit(127);
  execvp(args[0], args.data());
  _exit(127);
}

int StatusToCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) return result;
  int pipe_fds[2] = {-1, -1};
  if (options.capture_output && pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
  pid_t pid = Spawn(argv, options.working_directory, pipe_fds[1], pipe_fds[1], pipe_fds[0]);
  if (pipe_fds[1] >= 0) close(pipe_fds[1]);
  if (pid < 0) {
    if (pipe_fds[0] >= 0) close(pipe_fds[0]);
    return result;
  }
  result.started = true;
  auto start = std::chrono::steady_clock::now();
  auto remaining = [&]() -> int {
    if (options.timeout_ms < 0) return -1;
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
    return spent >= options.timeout_ms ? 0 : static_cast<int>(options.timeout_ms - spent);
  };
  if (pipe_fds[0] >= 0) {
    char buffer[65536];
    for (;;) {
      pollfd p{pipe_fds[0], POLLIN, 0};
      int wait = remaining();
      int r = poll(&p, 1, wait);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) {
        result.timed_out = true;
        kill(pid, SIGKILL);
        break;
      }
      ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      size_t room = options.output_limit > result.output.size()
                        ? options.output_limit - result.output.size()
                        : 0;
      result.output.append(buffer, std::min(room, static_cast<size_t>(n)));
    }
    close(pipe_fds[0]);
  }
  int status = 0;
  for (;;) {
    pid_t w = waitpid(pid, &status, options.timeout_ms < 0 || result.timed_out ? 0 : WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (w == 0) {
      if (remaining() == 0) {
        result.timed_out = true;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      usleep(2000);
    }
  }
  result.exit_code = result.timed_out ? -1 : StatusToCode(status);
  return result;
}

std::string FindProgram(const std::string& name, const std::string& folder) {
  if (!folder.empty()) {
    std::string beside = folder;
    if (beside.back() != '/') beside.push_back('/');
    beside.append(name);
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  const char* path = std::getenv("PATH");
  if (!path) return std::string();
  std::string all(path);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    // An empty entry of PATH means the current folder.
    std::string dir = end > start ? all.substr(start, end - start) : std::string(1, '.');
    std::string candidate = dir;
    candidate += '/';
    candidate += name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return std::string();
}

ChildProcess::~ChildProcess() {
  Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::string& working_directory) {
  if (argv.empty() || pid_ > 0) return false;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
  int null_err = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_t pid = Spawn(argv, working_directory, pipe_fds[1], null_err, pipe_fds[0]);
  close(pipe_fds[1]);
  if (null_err >= 0) close(null_err);
  if (pid < 0) {
    close(pipe_fds[0]);
    return false;
  }
  pid_ = pid;
  fd_ = pipe_fds[0];
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
    if (eof_ || fd_ < 0) {
      if (buffer_.empty()) return false;
      *line = buffer_;
      buffer_.clear();
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return true;
    }
    char chunk[4096];
    ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      eof_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

int ChildProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  return StatusToCode(status);
}

void ChildProcess::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

}  // namespace platform
