#include "gui/log_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Toggle_Button.H>

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "gui/desktop_open.h"
#include "gui/layout.h"
#include "gui/path_rules.h"
#include "gui/theme.h"

namespace gui {

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
    text = new Fl_Text_Display(l.text.x, l.text.y, l.text.w, l.text.h);
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
    for (Fl_Widget* button : {static_cast<Fl_Widget*>(close), static_cast<Fl_Widget*>(recompile),
                               static_cast<Fl_Widget*>(watch),
                               static_cast<Fl_Widget*>(open_output)}) {
      button->labelsize(kButtonLabelSize);
    }
    end();
    // The widgets are placed by resize() below; FLTK itself scales none of them.
    resizable(nullptr);
    size_range(kLogMinWidth, kLogMinHeight);
  }

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
  Fl_Text_Display* text;
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
  window_->show();
  StartRun();
}

CompilationLog::~CompilationLog() {
  Fl::remove_timeout(OnWatchTimer, this);
  run_.reset();  // abandons a run that is still going
  window_->hide();
  Fl::delete_widget(window_);
}

void CompilationLog::RequestRun() {
  if (run_) {
    run_pending_ = true;
    return;
  }
  StartRun();
}

void CompilationLog::StartRun() {
  window_->recompile->deactivate();
  window_->buffer->text("");
  run_ = std::make_unique<CompileRun>(FindCompiler(context_->program_folder), input_, output_,
                                      context_->program_folder, context_->wake);
  Poll();  // a compiler that could not be started has already finished
}

void CompilationLog::Raise() {
  window_->show();  // also restores a minimised window and raises it
}

void CompilationLog::Poll() {
  if (!run_) return;
  bool finished = false;
  for (const std::string& line : run_->TakeLines(&finished)) AppendLine(line);
  if (!finished) return;
  run_.reset();
  window_->recompile->activate();
  if (run_pending_) {
    run_pending_ = false;
    StartRun();
  }
}

void CompilationLog::AppendLine(const std::string& line) {
  Fl_Text_Buffer* buffer = window_->buffer;
  if (buffer->length() > 0) buffer->append("\n");
  buffer->append(line.c_str());
  window_->text->insert_position(buffer->length());
  window_->text->show_insert_position();
  if (context_->echo) context_->echo(line);
}

void CompilationLog::SetWatching(bool on) {
  watching_ = on;
  Fl::remove_timeout(OnWatchTimer, this);
  if (on) {
    input_date_ = platform::FileModifiedTime(input_);
    Fl::add_timeout(kWatchSeconds, OnWatchTimer, this);
  }
}

void CompilationLog::OnClose(void* self) {
  auto* log = static_cast<CompilationLog*>(self);
  // The owner deletes this log; nothing of it may be touched afterwards.
  log->context_->closed(log);
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
  std::string error;
  if (!log->output_.empty() && !OpenOutputFolder(log->output_, DesktopOpener(), &error)) {
    platform::ConsoleWriteError("akqp: the output's folder could not be opened: " + error);
  }
}

void CompilationLog::OnWatchTimer(void* self) {
  auto* log = static_cast<CompilationLog*>(self);
  int64_t date = platform::FileModifiedTime(log->input_);
  if (date != log->input_date_) {
    log->input_date_ = date;
    log->RequestRun();
  }
  Fl::repeat_timeout(kWatchSeconds, OnWatchTimer, self);
}

}  // namespace gui
