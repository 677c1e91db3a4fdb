#include "common/platform/launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

const char kDesktopOpener[] = "xdg-open";

std::vector<std::string> ShowFileArguments(const std::string&, const std::string& folder) {
  return {folder};
}

bool StartDetached(const std::vector<std::string>& argv, const std::string& working_directory,
                   std::string* error) {
  if (argv.empty()) {
    if (error) *error = "no program given";
    return false;
  }
  // Everything the children need is prepared before fork: after it only async-signal-safe
  // calls are allowed, since other threads of ours may hold locks.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* folder = working_directory.empty() ? nullptr : working_directory.c_str();

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  pid_t child = fork();
  if (child < 0) {
    int err = errno;
    close(report[0]);
    close(report[1]);
    if (error) *error = std::strerror(err);
    return false;
  }
  if (child == 0) {
    // The middle process only forks again and ends, so the program is adopted by init
    // and never becomes a zombie of ours.
    close(report[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, STDIN_FILENO);
      dup2(null_fd, STDOUT_FILENO);
    }
    int code = 0;
    if (folder && chdir(folder) != 0) {
      code = errno;
    } else {
      execvp(args[0], args.data());
      code = errno;
    }
    ssize_t ignored = write(report[1], &code, sizeof code);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int code = 0;
  ssize_t n;
  do {
    n = read(report[0], &code, sizeof code);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    if (error) *error = "could not start a process";
    return false;
  }
  if (n == static_cast<ssize_t>(sizeof code)) {
    if (error) *error = argv[0] + ": " + std::strerror(code);
    return false;
  }
  return true;
}

void IgnoreBrokenPipes() {
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform
