// Child processes, started directly from an argument vector (never through a shell, so
// spaces, quotes, "$" or ";" in arguments are plain data).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// What the file name of a program ends with: ".exe" on Windows, nothing on POSIX.
#ifdef _WIN32
constexpr const char kProgramSuffix[] = ".exe";
#else
constexpr const char kProgramSuffix[] = "";
#endif

struct ProcessResult {
  bool started = false;    // false: the program could not be started at all (see `error`)
  bool timed_out = false;  // the child was killed at the time limit
  int exit_code = -1;      // exit status, or -1 when killed by a signal
  int signal = 0;          // the signal that ended the child (0: it ended by itself)
  bool interrupted = false;  // ended by the user's interrupt from the keyboard (Ctrl-C, Ctrl-\)
  std::string error;       // why the program could not be started ("No such file or directory")
  std::string output;      // standard output and standard error, when captured
};

struct ProcessOptions {
  bool capture_output = true;   // false: the child writes to our own stdout/stderr
  int timeout_ms = -1;          // < 0: no limit
  size_t output_limit = 1 << 20;  // captured bytes kept at most (the rest is read and dropped)
  bool keep_last_output = false;  // past the limit keep the last bytes (where a report ends)
  bool inherit_input = false;     // false: the child reads an empty standard input
  // While we wait, the user's interrupt from the keyboard ends the child alone, and its
  // result shows it (as the C library's system() does): the caller decides what follows.
  bool wait_through_interrupt = false;
  std::string working_directory;  // empty: ours
};

// Runs argv[0] (looked up on PATH when it has no separator; on Windows ".exe" is added to
// a name without extension) and waits for it. The child never outlives us: on POSIX while
// it runs it is registered with the signal clean-up, and it is told to end when this
// process ends in any other way; on Windows it is in a job object that ends it with us.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options);

// How a signal that ended a child is named in messages: "signal 9 (Killed)".
std::string SignalDescription(int signal_number);

// Finds a program: `name` beside `folder` when it is there and executable, else on PATH.
// On Windows a name without extension is looked for with ".exe". Empty when neither
// exists.
std::string FindProgram(const std::string& name, const std::string& folder);

// True when `path` is a file (not a folder) that this process may run.
bool IsExecutableFile(const std::string& path);

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
  // Closes our end of the output pipe, as a reader that goes away does: the child's later
  // writes fail (on POSIX with SIGPIPE, unless it ignores that). Wait() still applies.
  void CloseOutput();
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
