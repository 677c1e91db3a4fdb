// A compilation log: the window that shows the compiler's output for one input and output
// path, with "Close", "Recompile", "Watch" and "Open Output", and the runs of the compiler
// behind it. Lives on the window thread; its runs read the compiler on their own threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gui/compile_run.h"

namespace gui {

class LogWindow;

// What every compilation log shares with the main window.
struct LogContext {
  // The program's own folder: the compiler runs there, and is looked for beside the
  // program at every run, so one installed later is found by "Recompile".
  std::string program_folder;
  std::function<void()> wake;     // called on reader threads when lines wait to be taken
  std::function<void(const std::string&)> echo;  // every line shown, in order (--log-to)
  std::function<void(class CompilationLog*)> closed;  // the user closed the window
};

class CompilationLog {
 public:
  // Opens the window, centred on the screen, and starts the first run.
  CompilationLog(const std::string& input, const std::string& output, const LogContext* context);
  // Closes the window at once. A run that is still going is abandoned: the compiler is
  // left to finish (a QP file is replaced only when complete) and its output is dropped.
  ~CompilationLog();
  CompilationLog(const CompilationLog&) = delete;
  CompilationLog& operator=(const CompilationLog&) = delete;

  const std::string& input() const { return input_; }
  const std::string& output() const { return output_; }

  // Starts a new run; while one is active the new run follows as soon as it ends, so no
  // caller ever waits for the compiler.
  void RequestRun();
  // Shows the window normally and brings it to the front.
  void Raise();
  // Moves the lines that have arrived into the log text; ends a finished run.
  void Poll();

 private:
  void StartRun();
  void AppendLine(const std::string& line);
  void SetWatching(bool on);
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
  bool run_pending_ = false;
  bool watching_ = false;
  int64_t input_date_ = -1;
};

}  // namespace gui
