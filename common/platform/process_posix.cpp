#include "common/platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "common/platform/process_output.h"
#include "common/platform/signal_cleanup.h"

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

// What the child sets up between fork and exec. Everything is prepared before the fork:
// after it only async-signal-safe calls are allowed, since other threads of ours may hold
// locks (the compile thread starts the assembler while the main thread waits).
struct SpawnSetup {
  int stdout_fd = -1;   // -1: ours
  int stderr_fd = -1;
  int close_fd = -1;
  bool inherit_input = false;
  bool end_with_parent = false;   // the child is sent SIGTERM when we die
  bool default_broken_pipe = false;  // our own choice to ignore SIGPIPE is not the child's
  const struct sigaction* interrupt_action = nullptr;  // restored in the child when set
  const struct sigaction* quit_action = nullptr;
  int report_fd = -1;   // a failed chdir or exec writes its errno here
};

constexpr int kStageChdir = 1;
constexpr int kStageExec = 2;

[[noreturn]] void ChildFails(int report_fd, int stage) {
  int code[2] = {stage, errno};
  if (report_fd >= 0) {
    ssize_t ignored = write(report_fd, code, sizeof code);
    (void)ignored;
  }
  _exit(127);
}

// fork and exec; chdir in the child needs fork here because glibc 2.36 lacks
// posix_spawn_file_actions_addchdir_np in every build.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& working_directory,
            const SpawnSetup& setup) {
  std::vector<char*> args = ArgvPointers(argv);
  const char* folder = working_directory.empty() ? nullptr : working_directory.c_str();
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid != 0) return pid;  // parent (or -1)
#ifdef __linux__
  if (setup.end_with_parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have died before the line above.
    if (getppid() != parent) _exit(127);
  }
#else
  (void)parent;
#endif
  if (setup.interrupt_action) sigaction(SIGINT, setup.interrupt_action, nullptr);
  if (setup.quit_action) sigaction(SIGQUIT, setup.quit_action, nullptr);
  if (setup.default_broken_pipe) signal(SIGPIPE, SIG_DFL);
  if (setup.stdout_fd >= 0) dup2(setup.stdout_fd, STDOUT_FILENO);
  if (setup.stderr_fd >= 0) dup2(setup.stderr_fd, STDERR_FILENO);
  if (setup.close_fd >= 0) close(setup.close_fd);
  if (!setup.inherit_input) {
    int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, STDIN_FILENO);
  }
  if (folder && chdir(folder) != 0) ChildFails(setup.report_fd, kStageChdir);
  execvp(args[0], args.data());
  ChildFails(setup.report_fd, kStageExec);
}

int StatusToCode(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

// Reads the child's report of a failed chdir or exec: empty when exec succeeded (the
// pipe closed with nothing in it).
std::string ReadSpawnReport(int fd, const std::string& folder) {
  int code[2] = {0, 0};
  ssize_t n;
  do {
    n = read(fd, code, sizeof code);
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof code)) return std::string();
  if (code[0] == kStageChdir)
    return "could not change to the folder '" + folder + "': " + std::strerror(code[1]);
  return std::strerror(code[1]);
}

// Waits for the child to end without reaping it, so that its process id cannot be reused
// while it is still registered with the signal clean-up. `timeout_left` gives the time
// left in ms (< 0: no limit); true when the child has ended.
bool WaitForEnd(pid_t pid, const std::function<int()>& timeout_left) {
  for (;;) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    int left = timeout_left();
    int flags = WEXITED | WNOWAIT | (left < 0 ? 0 : WNOHANG);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, flags) != 0) {
      if (errno == EINTR) continue;
      return true;  // nothing to wait for
    }
    if (info.si_pid == pid) return true;
    if (left == 0) return false;
    usleep(2000);
  }
}

}  // namespace

std::string SignalDescription(int signal_number) {
  const char* name = strsignal(signal_number);
  std::string text = "signal " + std::to_string(signal_number);
  if (name != nullptr) text += std::string(" (") + name + ")";
  return text;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty()) {
    result.error = "no program given";
    return result;
  }
  int pipe_fds[2] = {-1, -1};
  int report[2] = {-1, -1};
  if ((options.capture_output && pipe2(pipe_fds, O_CLOEXEC) != 0) || pipe2(report, O_CLOEXEC) != 0) {
    result.error = std::strerror(errno);
    for (int fd : {pipe_fds[0], pipe_fds[1]})
      if (fd >= 0) close(fd);
    return result;
  }
  // Registered before the child exists, so that the handlers are in place before an
  // interrupt is ignored below; the child's id follows once it is known.
  int cleanup = AddSignalCleanupProcess(0);
  struct sigaction ignore, old_interrupt, old_quit;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (options.wait_through_interrupt) {
    sigaction(SIGINT, &ignore, &old_interrupt);
    sigaction(SIGQUIT, &ignore, &old_quit);
  }
  auto restore_interrupt = [&] {
    if (!options.wait_through_interrupt) return;
    sigaction(SIGINT, &old_interrupt, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
  };

  SpawnSetup setup;
  setup.stdout_fd = pipe_fds[1];
  setup.stderr_fd = pipe_fds[1];
  setup.close_fd = pipe_fds[0];
  setup.inherit_input = options.inherit_input;
  setup.end_with_parent = true;
  setup.default_broken_pipe = true;
  if (options.wait_through_interrupt) {
    setup.interrupt_action = &old_interrupt;
    setup.quit_action = &old_quit;
  }
  setup.report_fd = report[1];
  pid_t pid = Spawn(argv, options.working_directory, setup);
  int spawn_errno = errno;
  if (pipe_fds[1] >= 0) close(pipe_fds[1]);
  close(report[1]);
  if (pid < 0) {
    if (pipe_fds[0] >= 0) close(pipe_fds[0]);
    close(report[0]);
    RemoveSignalCleanup(cleanup);
    restore_interrupt();
    result.error = std::strerror(spawn_errno);
    return result;
  }
  SetSignalCleanupProcess(cleanup, pid);
  result.error = ReadSpawnReport(report[0], options.working_directory);
  close(report[0]);
  result.started = result.error.empty();

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
    while (result.started) {
      pollfd p{pipe_fds[0], POLLIN, 0};
      int r = poll(&p, 1, remaining());
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) {
        result.timed_out = true;
        kill(pid, SIGKILL);
        break;
      }
      ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      process_output::Keep(&result.output, buffer, static_cast<size_t>(n), options);
    }
    close(pipe_fds[0]);
    if (options.keep_last_output && result.output.size() > options.output_limit)
      result.output.erase(0, result.output.size() - options.output_limit);
  }
  if (!result.timed_out && !WaitForEnd(pid, remaining)) {
    result.timed_out = true;
    kill(pid, SIGKILL);
  }
  if (result.timed_out) WaitForEnd(pid, [] { return -1; });
  RemoveSignalCleanup(cleanup);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  restore_interrupt();
  if (!result.started) return result;
  if (result.timed_out) return result;
  result.exit_code = StatusToCode(status);
  if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
    result.interrupted = result.signal == SIGINT || result.signal == SIGQUIT;
  }
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

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
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
  // The window program's compiler is not tied to the window's life: it inherits our
  // dispositions and finishes its work when the window program ends.
  SpawnSetup setup;
  setup.stdout_fd = pipe_fds[1];
  setup.stderr_fd = null_err;
  setup.close_fd = pipe_fds[0];
  pid_t pid = Spawn(argv, working_directory, setup);
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

void ChildProcess::CloseOutput() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  // What was read and not yet taken goes with the pipe.
  buffer_.clear();
  eof_ = true;
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
