// The main window: the logo, the about text, the two path fields with their browse
// buttons and the link toggle, "Compile" and "Help". It owns the compilation logs.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gui/log_window.h"
#include "gui/output_queue.h"

class Fl_Box;
class Fl_Button;
class Fl_Double_Window;
class Fl_Output;
class Fl_RGB_Image;
class Fl_Toggle_Button;
class Fl_Widget;

namespace gui {

struct MainOptions {
  std::string program_folder;  // where akqp lives; the compiler runs there
  std::string log_to;          // not empty: every shown log line is appended to this file
};

class MainWindow {
 public:
  explicit MainWindow(const MainOptions& options);
  // Closes every compilation log; running compilers are left to finish on their own.
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // False when the log file named by --log-to could not be opened.
  bool log_file_ok() const { return log_file_ok_; }

  // Fills the fields from the command line: with an input alone, the link toggle is
  // pressed so that the output follows the input.
  void SetStartPaths(const std::string& input, const std::string& output);
  void Show();
  bool quit() const { return quit_; }
  // Takes the lines that reader threads have announced, if any: the event loop calls it
  // after every wait, so that a wake-up which carried no callback is not lost.
  void TakeAnnouncedLines();

 private:
  // One pass over every run: moves arriving lines into the log windows for at most a
  // few milliseconds, ends finished runs and starts the runs that may start now. True
  // when lines are left for another pass.
  bool PollRuns();
  void ScheduleNextPass();
  // Starts the requested runs whose output no other compiler is writing.
  void StartWaitingRuns();
  // The work of the event loop's timers while a file dialog's own loop runs instead.
  void DialogTick();
  std::string ChoosePath(int type, const char* title, const char* filter,
                         const std::string& near);
  void Link();
  void Validate();
  void Compile();
  void CloseLog(CompilationLog* log, std::unique_ptr<CompileRun> run);
  void Echo(const std::string& text);
  void Alert(const std::string& message);

  static void OnClose(Fl_Widget*, void* self);
  static void OnBrowseLua(Fl_Widget*, void* self);
  static void OnBrowseQp(Fl_Widget*, void* self);
  static void OnLinkToggle(Fl_Widget*, void* self);
  static void OnCompile(Fl_Widget*, void* self);
  static void OnHelp(Fl_Widget*, void* self);
  static void OnWake(void* self);
  static void OnIdlePass(void* self);

  MainOptions options_;
  LogContext log_context_;
  std::ofstream log_file_;
  bool log_file_ok_ = true;
  bool quit_ = false;

  Fl_Double_Window* window_ = nullptr;
  // The decoded pictures; FLTK's images point into these pixels.
  std::vector<uint8_t> logo_pixels_;
  std::vector<uint8_t> link_pixels_;
  std::unique_ptr<Fl_RGB_Image> logo_image_;
  std::unique_ptr<Fl_RGB_Image> link_image_;
  Fl_Box* logo_ = nullptr;
  Fl_Box* about_ = nullptr;
  Fl_Toggle_Button* link_ = nullptr;
  Fl_Button* browse_lua_ = nullptr;
  Fl_Button* browse_qp_ = nullptr;
  Fl_Button* compile_ = nullptr;
  Fl_Button* help_ = nullptr;
  Fl_Output* input_field_ = nullptr;
  Fl_Output* output_field_ = nullptr;

  std::vector<std::unique_ptr<CompilationLog>> logs_;  // in the order of creation
  // Runs whose window has closed: their compiler is left to finish, and their output
  // counts as being written until it has.
  struct ClosedRun {
    std::unique_ptr<CompileRun> run;
    std::string output;
  };
  std::vector<ClosedRun> closed_runs_;
  OutputQueue queue_;
  size_t first_log_ = 0;         // the log served first in the next pass, in turn
  bool pass_scheduled_ = false;  // passes run as idle work until no lines are left
  std::atomic<bool> announced_{false};  // a reader thread has lines for us
};

}  // namespace gui
