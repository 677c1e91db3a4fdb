// One run of the command-line compiler for a compilation log. The compiler is started
// from an argument vector (no shell) on a reader thread of the run's own, which collects
// its standard output line by line; the window's thread takes the lines as they arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gui {

// The compiler to start: $AKQP_CLI when set and not empty, else the akqp-cli beside this
// program, else the one on PATH. Empty when there is none.
std::string FindCompiler(const std::string& program_folder);

// The arguments of a compile: the compiler, "--lua", input, "--out", output.
std::vector<std::string> CompilerArguments(const std::string& compiler, const std::string& input,
                                           const std::string& output);

class CompileRun {
 public:
  // Starts the compiler in `working_directory`. `notify` is called on the reader thread
  // whenever lines or the end are waiting to be taken; the window program wakes its
  // event loop with it. A compiler that cannot be started gives one line that says so,
  // and the run is finished at once.
  CompileRun(const std::string& compiler, const std::string& input, const std::string& output,
             const std::string& working_directory, std::function<void()> notify);
  // A run that goes away before its end is abandoned (see Abandon).
  ~CompileRun();
  CompileRun(const CompileRun&) = delete;
  CompileRun& operator=(const CompileRun&) = delete;

  // Lines taken from a run, in their order.
  struct Batch {
    std::vector<std::string> lines;
    bool more = false;      // lines beyond the limit are still waiting
    bool finished = false;  // the compiler has ended and all of its output has been taken
  };
  // Takes the lines that have arrived since the last call, up to about `max_bytes` of
  // text (always at least one waiting line), so that the window can show a long output
  // in portions and answer its user in between.
  Batch TakeLines(size_t max_bytes = SIZE_MAX);

  // Its window went away: the compiler is left to finish on its own and its further
  // output is read and dropped, but its end is still announced through `notify`, so
  // that a later compile to the same output can wait for it. Never waits.
  void DropOutput();

  // Nobody listens any more (the program ends): as DropOutput, and `notify` is never
  // called again. Never waits.
  void Abandon();

  struct Shared;  // the state shared with the reader thread

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace gui
