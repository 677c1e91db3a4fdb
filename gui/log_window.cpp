#include "gui/log_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Toggle_Button.H>

#include <algorithm>

#include "common/platform/fs.h"
#include "gui/button_labels.h"
#include "gui/desktop_open.h"
#include "gui/layout.h"
#include "gui/path_rules.h"
#include "gui/theme.h"

namespace gui {

// The log text. Following the newest line neither goes through show_insert_position(),
// which measures every new character once more to find the caret's line, nor through
// scroll(), which lays the whole display out again and so recounts all of its lines:
// the number of lines is known already, and the scroll position is set directly (with
// the hint that the next layout keeps).
class LogText : public Fl_Text_Display {
 public:
  LogText(int x, int y, int w, int h) : Fl_Text_Display(x, y, w, h) {}

  // Scrolls so that the last line is the bottom one that shows in full, and back to the
  // left edge.
  void ShowLastLine() {
    const int line_height = mMaxsize > 0 ? mMaxsize : 1;
    const int full_lines = std::max(1, text_area.h / line_height);
    const int lines = mNBufferLines + 1;  // it counts line ends
    const int top = std::max(1, lines - full_lines + 1);
    mTopLineNumHint = top;
    mHorizOffsetHint = 0;
    if (scroll_(top, 0)) update_v_scrollbar();
  }
};

// The window of a compilation log. It owns the text buffer, which must outlive the text
// display, and places its widgets itself whenever its size changes.
class LogWindow : public Fl_Double_Window {
 public:
  LogWindow(int x, int y, const std::string& title)
      : Fl_Double_Window(x, y, kLogInitialWidth, kLogInitialHeight) {
    copy_label(title.c_str());
    color(kWindowBackground);
    buffer = new Fl_Text_Buffer();
    const LogLayout l = LayOutLogWindow(kLogInitialWidth, kLogInitialHeight);
    text = new LogText(l.text.x, l.text.y, l.text.w, l.text.h);
    text->buffer(buffer);
    text->box(FL_FLAT_BOX);
    text->color(kFieldBackground, kSelection);
    text->textcolor(kFieldText);
    text->textfont(FL_COURIER);
    text->textsize(12);
    // Long lines wrap, so following the newest line never scrolls the text sideways.
    text->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    close = new Fl_Button(l.close.x, l.close.y, l.close.w, l.close.h, "Close");
    recompile = new Fl_Button(l.recompile.x, l.recompile.y, l.recompile.w, l.recompile.h,
                              "Recompile");
    watch = new Fl_Toggle_Button(l.watch.x, l.watch.y, l.watch.w, l.watch.h, "Watch");
    watch->selection_color(kToggleDown);
    open_output = new Fl_Button(l.open_output.x, l.open_output.y, l.open_output.w,
                                l.open_output.h, "Open Output");
    FitButtonLabels({close, recompile, watch, open_output}, kButtonLabelSize);
    end();
    // The widgets are placed by resize() below; FLTK itself scales none of them.
    resizable(nullptr);
    AllowResizing();
  }

  // Any size from the smallest that keeps the buttons apart, maximising included. FLTK
  // fixes the size range of a window without a resizable widget whenever the program
  // sets its size, which also makes it ask the window manager for no resize and no
  // maximise, so this follows every size() of ours.
  void AllowResizing() { size_range(kLogMinWidth, kLogMinHeight, 0, 0); }

  ~LogWindow() override {
    clear();  // the text display lets go of the buffer before the buffer goes
    delete buffer;
  }

  void resize(int x, int y, int w, int h) override {
    Fl_Double_Window::resize(x, y, w, h);
    const LogLayout l = LayOutLogWindow(w, h);
    text->resize(l.text.x, l.text.y, l.text.w, l.text.h);
    close->resize(l.close.x, l.close.y, l.close.w, l.close.h);
    recompile->resize(l.recompile.x, l.recompile.y, l.recompile.w, l.recompile.h);
    watch->resize(l.watch.x, l.watch.y, l.watch.w, l.watch.h);
    open_output->resize(l.open_output.x, l.open_output.y, l.open_output.w, l.open_output.h);
    redraw();
  }

  Fl_Text_Buffer* buffer;
  LogText* text;
  Fl_Button* close;
  Fl_Button* recompile;
  Fl_Toggle_Button* watch;
  Fl_Button* open_output;
};

namespace {

// FLTK callbacks carry the compilation log as their data.
template <void (*Handler)(void*)>
void Forward(Fl_Widget*, void* self) {
  Handler(self);
}

constexpr double kWatchSeconds = 0.5;
constexpr auto kWatchInterval = std::chrono::milliseconds(500);
// A long output is moved into the log text in portions, one append each. The text
// display does work in proportion to its whole text at every change (it recounts its
// lines), so a change per line makes the cost grow with the square of the lines, while
// one change for everything would keep the window from answering until all of it is in.
// A portion grows with the text, so the number of changes grows only with the logarithm
// of the text's length and the total work stays in proportion to it.
constexpr size_t kSmallestPortionBytes = 64 * 1024;
constexpr size_t kPortionShare = 8;  // a portion is at least this share of the text

}  // namespace

CompilationLog::CompilationLog(const std::string& input, const std::string& output,
                               const LogContext* context)
    : input_(input), output_(output), context_(context) {
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_work_area(sx, sy, sw, sh);
  const Point at = CentreOn(sx, sy, sw, sh, kLogInitialWidth, kLogInitialHeight);
  window_ = new LogWindow(at.x, at.y, LogWindowTitle(input, output));
  window_->callback(
      [](Fl_Widget*, void* self) {
        // Escape does not close a log; only the title bar's button and "Close" do.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        OnClose(self);
      },
      this);
  window_->close->callback(Forward<OnClose>, this);
  window_->recompile->callback(Forward<OnRecompile>, this);
  window_->watch->callback(Forward<OnWatch>, this);
  window_->open_output->callback(Forward<OnOpenOutput>, this);
  window_->size(kLogInitialWidth, LogWindowFinalHeight());
  window_->AllowResizing();
  window_->show();
}

CompilationLog::~CompilationLog() {
  Fl::remove_timeout(OnWatchTimer, this);
  run_.reset();  // abandons a run that is still going
  window_->hide();
  Fl::delete_widget(window_);
}

void CompilationLog::RequestRun() {
  requested_ = true;
  window_->recompile->deactivate();
  context_->request_run(this);
}

void CompilationLog::StartRun() {
  requested_ = false;
  window_->recompile->deactivate();
  window_->buffer->text("");
  lines_shown_ = 0;
  run_ = std::make_unique<CompileRun>(FindCompiler(context_->program_folder), input_, output_,
                                      context_->program_folder, context_->wake);
}

void CompilationLog::Raise() {
  window_->show();  // also restores a minimised window and raises it
}

bool CompilationLog::Poll(Clock::time_point deadline, bool* ended) {
  *ended = false;
  if (!run_) return false;
  for (;;) {
    const size_t shown = static_cast<size_t>(window_->buffer->length());
    CompileRun::Batch batch =
        run_->TakeLines(std::max(kSmallestPortionBytes, shown / kPortionShare));
    Append(batch.lines);
    if (batch.finished) {
      run_.reset();
      if (!requested_) window_->recompile->activate();
      *ended = true;
      return false;
    }
    if (!batch.more) return false;
    if (Clock::now() >= deadline) return true;
  }
}

void CompilationLog::Append(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  std::string text, echo;
  for (const std::string& line : lines) {
    if (lines_shown_++ > 0) text += '\n';
    text += line;
    echo += line;
    echo += '\n';
  }
  Fl_Text_Buffer* buffer = window_->buffer;
  buffer->append(text.c_str());
  window_->text->insert_position(buffer->length());
  window_->text->ShowLastLine();
  if (context_->echo) context_->echo(echo);
}

void CompilationLog::SetWatching(bool on) {
  watching_ = on;
  Fl::remove_timeout(OnWatchTimer, this);
  if (on) {
    input_date_ = platform::FileModifiedTime(input_);
    last_check_ = Clock::now();
    Fl::add_timeout(kWatchSeconds, OnWatchTimer, this);
  }
}

void CompilationLog::CheckInput() {
  last_check_ = Clock::now();
  int64_t date = platform::FileModifiedTime(input_);
  if (date != input_date_) {
    input_date_ = date;
    RequestRun();
  }
}

void CompilationLog::WatchTick() {
  if (watching_ && Clock::now() - last_check_ >= kWatchInterval) CheckInput();
}

void CompilationLog::OnClose(void* self) {
  auto* log = static_cast<CompilationLog*>(self);
  // The owner deletes this log; nothing of it may be touched afterwards.
  log->context_->closed(log, std::move(log->run_));
}

void CompilationLog::OnRecompile(void* self) {
  static_cast<CompilationLog*>(self)->RequestRun();
}

void CompilationLog::OnWatch(void* self) {
  auto* log = static_cast<CompilationLog*>(self);
  log->SetWatching(log->window_->watch->value() != 0);
}

void CompilationLog::OnOpenOutput(void* self) {
  auto* log = static_cast<CompilationLog*>(self);
  if (log->output_.empty()) return;
  std::string error;
  if (!OpenOutputFolder(log->output_, DesktopOpener(), &error)) {
    log->context_->alert("The output's folder could not be opened: " + error);
  }
}

void CompilationLog::OnWatchTimer(void* self) {
  auto* log = static_cast<CompilationLog*>(self);
  log->CheckInput();
  Fl::repeat_timeout(kWatchSeconds, OnWatchTimer, self);
}

}  // namespace gui
