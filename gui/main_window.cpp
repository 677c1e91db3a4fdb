#include "gui/main_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Toggle_Button.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <algorithm>

#include "common/platform/dialog_loop.h"
#include "common/platform/fs.h"
#include "gui/button_labels.h"
#include "gui/desktop_open.h"
#include "gui/embedded_images.h"
#include "gui/layout.h"
#include "gui/path_rules.h"
#include "gui/png_image.h"
#include "gui/theme.h"

namespace gui {
namespace {

constexpr const char* kTitle = "Ardent Kestrel QP Compiler 2";
constexpr const char* kAboutText =
    "This is AKQP 2, a stripped version of AKQP in order to support Lua 5.3, AMS 9 and "
    "Kestrel 3.0. There is no plan on adding features to AKQP, it's a 12 year old product "
    "and not many people remain using it. The incompatibility of dependencies in AKQP has "
    "moved me to making the decision of removing the IDE part of this suite. The command "
    "line compiler and make tool are still available. You can also invoke akqp-cli.exe "
    "from below here.";

// The size the layout is built for when the logo cannot be decoded, so that the window
// keeps its shape.
constexpr int kLogoWidth = 450;
constexpr int kLogoHeight = 156;

std::unique_ptr<Fl_RGB_Image> MakeImage(const unsigned char* png, size_t size,
                                        std::vector<uint8_t>* pixels) {
  std::optional<RgbaImage> decoded = DecodePng(png, size);
  if (!decoded) return nullptr;
  *pixels = std::move(decoded->pixels);
  return std::make_unique<Fl_RGB_Image>(pixels->data(), decoded->width, decoded->height, 4);
}

// The largest label size, at most 14, at which the about text fits its box.
int AboutTextSize(int box_width, int box_height) {
  const int wrap_width = box_width - 6;  // FLTK keeps 3 pixels free on each side
  for (int size = 14; size > 8; --size) {
    fl_font(FL_HELVETICA, size);
    int w = wrap_width, h = 0;
    fl_measure(kAboutText, w, h, 0);
    if (h <= box_height) return size;
  }
  return 8;
}

Fl_Button* MakeButton(const Rect& r, const char* label) {
  return new Fl_Button(r.x, r.y, r.w, r.h, label);
}

Fl_Output* MakePathField(const Rect& r) {
  auto* field = new Fl_Output(r.x, r.y, r.w, r.h);
  field->box(FL_FLAT_BOX);
  field->color(kFieldBackground, kSelection);
  field->textcolor(kFieldText);
  field->textsize(12);
  return field;
}

// The file dialogs' filters. The dialog adds an entry for all files of its own (named by
// Fl_File_Chooser::all_files_label), so only the first entry of each is given here; FLTK
// shows a filter's name followed by its pattern in brackets.
constexpr const char* kLuaFilter = "Lua \t*.lua";
constexpr const char* kQpFilter = "QuillPack \t*.qp";
constexpr const char* kAllFilesLabel = "All files (*.*)";

// How long one pass may move lines into the log windows before the events that came
// meanwhile are handled.
constexpr auto kPassBudget = std::chrono::milliseconds(10);
// How often the work of the event loop's timers is done while a file dialog is open.
constexpr int kDialogTickMs = 20;

}  // namespace

MainWindow::MainWindow(const MainOptions& options) : options_(options) {
  if (!options_.log_to.empty()) {
    log_file_.open(options_.log_to, std::ios::app | std::ios::binary);
    log_file_ok_ = log_file_.is_open();
  }
  log_context_.program_folder = options_.program_folder;
  log_context_.wake = [this] {
    // Reader threads ask the window thread to take their lines; a full wake-up queue
    // still wakes the event loop, after which TakeAnnouncedLines takes them.
    announced_ = true;
    if (Fl::awake(OnWake, this) != 0) Fl::awake();
  };
  log_context_.echo = [this](const std::string& text) { Echo(text); };
  log_context_.request_run = [this](CompilationLog* log) {
    queue_.Request(log, log->output());
    StartWaitingRuns();
  };
  log_context_.closed = [this](CompilationLog* log, std::unique_ptr<CompileRun> run) {
    CloseLog(log, std::move(run));
  };
  log_context_.alert = [this](const std::string& message) { Alert(message); };
  Fl_File_Chooser::all_files_label = kAllFilesLabel;

  logo_image_ = MakeImage(akqp_logo_png, akqp_logo_png_size, &logo_pixels_);
  link_image_ = MakeImage(akqp_link_png, akqp_link_png_size, &link_pixels_);
  const int logo_w = logo_image_ ? logo_image_->w() : kLogoWidth;
  const int logo_h = logo_image_ ? logo_image_->h() : kLogoHeight;
  const MainLayout l = LayOutMainWindow(logo_w, logo_h);

  // Centred for the initial, taller height and then shortened in place, so the window
  // sits a little above the screen's middle.
  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_work_area(sx, sy, sw, sh);
  const Point at = CentreOn(sx, sy, sw, sh, l.width, l.initial_height);
  window_ = new Fl_Double_Window(at.x, at.y, l.width, l.initial_height, kTitle);
  window_->color(kWindowBackground);
  window_->callback(OnClose, this);

  logo_ = new Fl_Box(l.logo.x, l.logo.y, l.logo.w, l.logo.h);
  logo_->box(FL_NO_BOX);
  if (logo_image_) logo_->image(logo_image_.get());

  about_ = new Fl_Box(l.about.x, l.about.y, l.about.w, l.about.h, kAboutText);
  about_->box(FL_FLAT_BOX);
  about_->color(kWindowBackground);
  about_->labelcolor(kAboutTextColor);
  about_->labelfont(FL_HELVETICA);
  about_->labelsize(AboutTextSize(l.about.w, l.about.h));
  about_->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP_LEFT | FL_ALIGN_WRAP);

  link_ = new Fl_Toggle_Button(l.link_toggle.x, l.link_toggle.y, l.link_toggle.w,
                               l.link_toggle.h);
  if (link_image_) link_->image(link_image_.get());
  else link_->label("@>");
  link_->selection_color(kToggleDown);  // pressed shows plainly: the paths are linked
  link_->tooltip("Automatically link the output to the input path.");
  link_->callback(OnLinkToggle, this);

  input_field_ = MakePathField(l.input_field);
  browse_lua_ = MakeButton(l.browse_lua, "Browse Lua");
  browse_lua_->tooltip("Browse for the input Lua file.");
  browse_lua_->callback(OnBrowseLua, this);

  output_field_ = MakePathField(l.output_field);
  browse_qp_ = MakeButton(l.browse_qp, "Browse QP");
  browse_qp_->tooltip("Browse for the output QP file.");
  browse_qp_->callback(OnBrowseQp, this);

  help_ = MakeButton(l.help, "Help");
  help_->callback(OnHelp, this);
  compile_ = MakeButton(l.compile, "Compile");
  compile_->tooltip("Compile the file and start a compilation log session.");
  compile_->callback(OnCompile, this);
  FitButtonLabels({browse_lua_, browse_qp_, help_, compile_}, kButtonLabelSize);

  window_->end();
  window_->size(l.width, l.height);  // keeps the position chosen above
  Validate();
}

MainWindow::~MainWindow() {
  Fl::remove_idle(OnIdlePass, this);
  logs_.clear();
  closed_runs_.clear();
  delete window_;
}

void MainWindow::SetStartPaths(const std::string& input, const std::string& output) {
  input_field_->value(input.c_str());
  if (!output.empty()) {
    output_field_->value(output.c_str());
    Validate();
  } else if (!input.empty()) {
    link_->value(1);
    browse_qp_->deactivate();
    Link();
  }
}

void MainWindow::Show() {
  window_->show();
}

void MainWindow::TakeAnnouncedLines() {
  if (announced_.exchange(false)) ScheduleNextPass();
}

void MainWindow::ScheduleNextPass() {
  // Passes run as FLTK's idle work, one per turn of whichever event loop runs (the main
  // one, or that of a message box): never straight from a wake-up, because FLTK serves
  // every wake-up that arrives while it serves the queued ones, and never from a timer
  // that sets itself again, because FLTK runs such a timer at once when it is late; in
  // both cases passes would follow each other without the events in between.
  if (pass_scheduled_) return;
  pass_scheduled_ = true;
  Fl::add_idle(OnIdlePass, this);
}

bool MainWindow::PollRuns() {
  announced_ = false;
  const Clock::time_point deadline = Clock::now() + kPassBudget;
  for (auto it = closed_runs_.begin(); it != closed_runs_.end();) {
    if (it->run->TakeLines().finished) {
      queue_.Ended(it->output);
      it = closed_runs_.erase(it);
    } else {
      ++it;
    }
  }
  // The logs take turns at being served first, so one long output does not hold up
  // the others.
  bool more = false;
  const size_t count = logs_.size();
  for (size_t i = 0; i < count; ++i) {
    CompilationLog& log = *logs_[(first_log_ + i) % count];
    bool ended = false;
    if (log.Poll(deadline, &ended)) more = true;
    if (ended) queue_.Ended(log.output());
  }
  if (count > 0) first_log_ = (first_log_ + 1) % count;
  StartWaitingRuns();
  return more;
}

void MainWindow::StartWaitingRuns() {
  for (OutputQueue::Requester who : queue_.TakeStartable()) {
    for (auto& log : logs_) {
      if (log.get() == who) log->StartRun();
    }
  }
}

void MainWindow::DialogTick() {
  PollRuns();
  for (auto& log : logs_) log->WatchTick();
}

std::string MainWindow::ChoosePath(int type, const char* title, const char* filter,
                                   const std::string& nearby) {
  Fl_Native_File_Chooser chooser;
  chooser.type(type);
  chooser.title(title);
  chooser.filter(filter);
  chooser.filter_value(0);
  // The folder of the path in the field, else the current folder (the program's own).
  std::string folder = FolderPart(nearby);
  if (folder.empty() || !platform::IsDirectory(folder)) folder = platform::CurrentDirectory();
  if (!folder.empty()) chooser.directory(folder.c_str());
  int chosen;
  {
    // The logs go on while the dialog is open: their lines, the ends of their runs and
    // Watch are served from the dialog's own event loop.
    platform::ForeignLoopTick tick(kDialogTickMs, [this] { DialogTick(); });
    chosen = chooser.show();
  }
  if (chosen != 0 || chooser.filename() == nullptr) return std::string();
  return CanonicalChoice(chooser.filename());
}

void MainWindow::Link() {
  const std::string input = input_field_->value();
  if (link_->value() && !input.empty() && platform::IsFile(input)) {
    output_field_->value(LinkedOutput(input).c_str());
  }
  Validate();
}

void MainWindow::Validate() {
  if (CompileAllowed(input_field_->value(), output_field_->value(), RealFileQueries())) {
    compile_->activate();
  } else {
    compile_->deactivate();
  }
}

void MainWindow::Compile() {
  const std::string input = input_field_->value();
  std::vector<std::string> inputs;
  for (const auto& log : logs_) inputs.push_back(log->input());
  int index = FindLogByInput(inputs, input);
  if (index >= 0) {
    // An open log keeps the output it was made with; the output field is not consulted.
    CompilationLog& log = *logs_[static_cast<size_t>(index)];
    log.Raise();
    log.RequestRun();  // after its current run, if one is going
    return;
  }
  logs_.push_back(std::make_unique<CompilationLog>(input, output_field_->value(), &log_context_));
  logs_.back()->RequestRun();
}

void MainWindow::CloseLog(CompilationLog* log, std::unique_ptr<CompileRun> run) {
  auto it = std::find_if(logs_.begin(), logs_.end(),
                         [log](const std::unique_ptr<CompilationLog>& l) { return l.get() == log; });
  if (it == logs_.end()) return;
  queue_.Withdraw(log);
  if (run) {
    // The window goes at once; its compiler finishes on its own, and a new compile to
    // the same output waits for it, so an older file never replaces a newer one.
    run->DropOutput();
    closed_runs_.push_back({std::move(run), log->output()});
  }
  logs_.erase(it);
  first_log_ = 0;
}

void MainWindow::Echo(const std::string& text) {
  if (!log_file_.is_open()) return;
  log_file_ << text;
  log_file_.flush();
}

void MainWindow::Alert(const std::string& message) {
  fl_message_title(kTitle);
  fl_alert("%s", message.c_str());
}

void MainWindow::OnClose(Fl_Widget*, void* self) {
  // Escape does not end the program; only the title bar's close button does.
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  static_cast<MainWindow*>(self)->quit_ = true;
}

void MainWindow::OnBrowseLua(Fl_Widget*, void* self) {
  auto* main = static_cast<MainWindow*>(self);
  std::string path = main->ChoosePath(Fl_Native_File_Chooser::BROWSE_FILE, "Select .lua input",
                                      kLuaFilter, main->input_field_->value());
  if (path.empty()) return;
  main->input_field_->value(path.c_str());
  main->Link();
}

void MainWindow::OnBrowseQp(Fl_Widget*, void* self) {
  auto* main = static_cast<MainWindow*>(self);
  const std::string output = main->output_field_->value();
  std::string path =
      main->ChoosePath(Fl_Native_File_Chooser::BROWSE_SAVE_FILE, "Select .qp output", kQpFilter,
                       output.empty() ? std::string(main->input_field_->value()) : output);
  if (path.empty()) return;
  main->output_field_->value(path.c_str());
  main->Validate();
}

void MainWindow::OnLinkToggle(Fl_Widget*, void* self) {
  auto* main = static_cast<MainWindow*>(self);
  if (main->link_->value()) {
    main->browse_qp_->deactivate();
    main->Link();
  } else {
    main->browse_qp_->activate();
  }
}

void MainWindow::OnCompile(Fl_Widget*, void* self) {
  static_cast<MainWindow*>(self)->Compile();
}

void MainWindow::OnHelp(Fl_Widget*, void* self) {
  auto* main = static_cast<MainWindow*>(self);
  std::string error;
  if (!OpenHelpPage(main->options_.program_folder, DesktopOpener(), &error)) {
    main->Alert("The help page could not be opened: " + error);
  }
}

void MainWindow::OnWake(void* self) {
  auto* main = static_cast<MainWindow*>(self);
  main->announced_ = false;
  main->ScheduleNextPass();
}

void MainWindow::OnIdlePass(void* self) {
  auto* main = static_cast<MainWindow*>(self);
  // Lines left over wait for the next turn; the events that came meanwhile go first.
  if (main->PollRuns()) return;
  Fl::remove_idle(OnIdlePass, self);
  main->pass_scheduled_ = false;
}

}  // namespace gui
