// A compilation log: the window that shows the compiler's output for one input and output
// path, with "Close", "Recompile", "Watch" and "Open Output", and the runs of the compiler
// behind it. Lives on the window thread; its runs read the compiler on their own threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gui/compile_run.h"

namespace gui {

class LogWindow;
class CompilationLog;

// What every compilation log shares with the main window.
struct LogContext {
  // The program's own folder: the compiler runs there, and is looked for beside the
  // program at every run, so one installed later is found by "Recompile".
  std::string program_folder;
  std::function<void()> wake;  // called on reader threads when lines wait to be taken
  std::function<void(const std::string&)> echo;  // the lines shown, each ended by "\n"
  // The log wants a run; the main window starts it (StartRun) when its output is free.
  std::function<void(CompilationLog*)> request_run;
  // The user closed the window; the log hands over a run that is still going.
  std::function<void(CompilationLog*, std::unique_ptr<CompileRun>)> closed;
  // Shows a message box about a failure.
  std::function<void(const std::string&)> alert;
};

using Clock = std::chrono::steady_clock;

class CompilationLog {
 public:
  // Opens the window, centred on the screen; the owner asks for the first run.
  CompilationLog(const std::string& input, const std::string& output, const LogContext* context);
  // Closes the window at once; a run still going is abandoned (see CompileRun).
  ~CompilationLog();
  CompilationLog(const CompilationLog&) = delete;
  CompilationLog& operator=(const CompilationLog&) = delete;

  const std::string& input() const { return input_; }
  const std::string& output() const { return output_; }

  // Asks for a new run; "Recompile" stays disabled until it has ended.
  void RequestRun();
  // Starts the run asked for; the main window calls it once the output is free.
  void StartRun();
  // Shows the window normally and brings it to the front.
  void Raise();
  // Moves arriving lines into the log text until `deadline`, in portions of one
  // append each. Ends a finished run (true in `ended`). True when lines are left over.
  bool Poll(Clock::time_point deadline, bool* ended);
  // While the event loop's timers are not served (a file dialog is open): checks the
  // input when a check is due.
  void WatchTick();

 private:
  void Append(const std::vector<std::string>& lines);
  void SetWatching(bool on);
  void CheckInput();
  static void OnClose(void* self);
  static void OnRecompile(void* self);
  static void OnWatch(void* self);
  static void OnOpenOutput(void* self);
  static void OnWatchTimer(void* self);

  const std::string input_;
  const std::string output_;
  const LogContext* context_;
  LogWindow* window_ = nullptr;  // deleted through FLTK, possibly after this object
  std::unique_ptr<CompileRun> run_;
  bool requested_ = false;  // a run has been asked for and not started yet
  size_t lines_shown_ = 0;
  bool watching_ = false;
  int64_t input_date_ = -1;
  Clock::time_point last_check_;
};

}  // namespace gui
