// Child processes, started directly from an argument vector (never through a shell, so
// spaces, quotes, "$" or ";" in arguments are plain data).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessResult {
  bool started = false;    // false: the program could not be started at all
  bool timed_out = false;  // the child was killed at the time limit
  int exit_code = -1;      // exit status, or -1 when killed by a signal
  std::string output;      // standard output and standard error, when captured
};

struct ProcessOptions {
  bool capture_output = true;   // false: the child writes to our own stdout/stderr
  int timeout_ms = -1;          // < 0: no limit
  size_t output_limit = 1 << 20;  // captured bytes kept at most (the rest is read and dropped)
  std::string working_directory;  // empty: ours
};

// Runs argv[0] (looked up on PATH when it has no separator; on Windows ".exe" is added to
// a name without extension) and waits for it. On Windows the child is in a job object that
// ends it when this process ends.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// Finds a program: `name` beside `folder` when it is there and executable, else on PATH.
// On Windows a name without extension is looked for with ".exe". Empty when neither
// exists.
std::string FindProgram(const std::string& name, const std::string& folder);

// A child whose standard output is read line by line (the window program's log).
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the child with standard output on a pipe; standard error is discarded.
  bool Start(const std::vector<std::string>& argv, const std::string& working_directory = "");
  // Reads the next line without its line end (a CR before the LF is dropped too).
  // False at the end of the output.
  bool ReadLine(std::string* line);
  // Waits for the child and gives its exit status (-1 when killed or not started).
  int Wait();
  // Ends the child at once (used when its window closes).
  void Kill();
  bool running() const { return pid_ > 0; }

 private:
  // The child and the read end of its output pipe: a process id and a file descriptor on
  // POSIX, a process handle and a pipe handle on Windows; -1 when there is none.
  intptr_t pid_ = -1;
  intptr_t fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

}  // namespace platform
