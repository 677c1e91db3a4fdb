// Support for end-to-end tests: run a built program, read its output lines, make
// scratch folders and files.
#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

// The build folder (binaries) and the source folder, from the test environment.
std::string BuildDir();
std::string SourceDir();

struct RunResult {
  int exit_code = -1;
  bool timed_out = false;
  std::string raw_output;           // stdout and stderr as written
  std::string output;               // the same with each CR LF as LF (Windows ends lines so)
  std::vector<std::string> lines;   // output split at LF
};

struct RunOptions {
  std::string cwd;                          // empty: a fresh scratch folder is not made; ours
  std::map<std::string, std::string> env;   // added to (or replacing) our environment
  int timeout_ms = 30000;
  bool merge_stderr = true;
};

// Runs `program` (a path, or a name inside BuildDir() when it has no separator). The
// variables of `options.env` are set for the run and restored afterwards.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

// Sets variables for as long as it lives (for children started meanwhile) and puts the
// old values back when it goes away.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, std::string>& values);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Whether `line` is one of `lines`.
inline bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Waits up to `seconds` for `done` to hold; gives whether it did.
template <typename Condition>
bool WaitFor(Condition done, int seconds) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// The path of a built program (with ".exe" on Windows).
std::string Program(const std::string& name);

// Starts `argv` in `cwd` with the variables of `env` set, reads its first line of output,
// then closes the pipe as a reader that goes away would (`| head -n1`), and waits. Gives
// the line (none when the program wrote none) and the exit status (-1: it did not start).
struct FirstLine {
  std::vector<std::string> lines;
  int exit_code = -1;
};
FirstLine ReadFirstLineThenHangUp(const std::vector<std::string>& argv, const std::string& cwd,
                                  const std::map<std::string, std::string>& env);

// A scratch folder removed when the object goes away. It also holds a private settings
// folder: Env() gives AKQP_CONFIG_HOME pointing there.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  const std::string& path() const { return path_; }
  // `name` may use "/" between its parts; the path is in native form.
  std::string Path(const std::string& name) const;
  // Writes a file (folders made as needed) and gives its path.
  std::string Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  std::map<std::string, std::string> Env() const;
  // Writes settings.cfg in the private settings folder before a run.
  void WriteSettings(const std::string& content) const;

 private:
  std::string path_;
};

// True when the program `name` has been built (with ".exe" on Windows).
bool Built(const std::string& name);

// The stand-in program (tests/standin/standin.cpp) and a copy of it named `mode` in
// `folder` (with ".exe" on Windows), which then acts in that mode by its name alone.
std::string StandIn();
std::string StandInCopy(const std::string& folder, const std::string& mode);

// Writes `text` as the script `name` in the scratch folder and runs it with the system's
// command interpreter (sh, or cmd.exe on Windows, whose batch files then want CR LF
// line ends and a name ending in ".cmd").
RunResult RunShellScript(const Scratch& scratch, const std::string& name, const std::string& text,
                         const RunOptions& options);

// The 32-bit x86 Lua 5.3 that stands in for the host ($AKQP_HOST_LUA, by default Debian's
// lua5.3:i386, or on Windows the cross-built lua.exe). Empty, with the reason in `why`,
// when it is missing or not a 32-bit x86 program.
std::string HostLua(std::string* why);

// A library every machine of this system has, for dependency checks, and two functions
// it defines itself: libc.so.6 with puts and strlen, or kernel32.dll with GetTickCount
// and lstrlenA.
struct SystemLibrary {
  std::string name, function, other_function;
};
const SystemLibrary& TheSystemLibrary();

// True for the warning that a dependency's library could not be loaded when the library
// is one of the other system's (a ".so" here on Windows, a ".dll" on Linux): the examples
// name Linux libraries, which cannot load on Windows, and the host's DLLs cannot load
// on Linux.
bool IsOtherSystemsLibraryWarning(const std::string& line);

// Runs akqp-cli --lua <script> --out <out> with the scratch folder's settings.
RunResult Compile(const Scratch& scratch, const std::string& script_path,
                  const std::string& out_path, const std::vector<std::string>& extra = {});

}  // namespace e2e
