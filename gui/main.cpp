// akqp: the window program. It picks an input script and an output path and runs the
// command-line compiler akqp-cli for them, showing its output in a log window.
#include <FL/Fl.H>

#include <string>
#include <vector>

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/launch.h"
#include "gui/command_line.h"
#include "gui/main_window.h"
#include "gui/path_rules.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  gui::CommandLine command_line = gui::ParseCommandLine(args);
  if (!command_line.error.empty()) {
    platform::ConsoleWriteError(command_line.error);
    platform::ConsoleWriteError(gui::UsageLine());
    return 2;
  }
  if (command_line.help) {
    platform::ConsoleWriteLine(gui::UsageLine());
    return 0;
  }
  // Paths from the command line are relative to where we were started, so they are made
  // absolute before the program moves into its own folder.
  const std::string input = gui::CanonicalChoice(command_line.input);
  const std::string output = gui::CanonicalChoice(command_line.output);
  const std::string log_to = gui::CanonicalChoice(command_line.log_to);

  // A compiler still running when this program ends finishes its work instead of dying
  // of its closed output.
  platform::IgnoreBrokenPipes();

  gui::MainOptions options;
  options.program_folder = platform::ProgramFolder();
  if (!options.program_folder.empty()) platform::ChangeDirectory(options.program_folder);
  options.log_to = log_to;

  Fl::lock();  // lets reader threads wake the event loop with Fl::awake
  gui::MainWindow window(options);
  if (!window.log_file_ok()) {
    platform::ConsoleWriteError("akqp: cannot open the log file '" + log_to + "'");
    return 2;
  }
  window.SetStartPaths(input, output);
  window.Show();
  while (!window.quit()) {
    Fl::wait();
    window.TakeAnnouncedLines();
  }
  return 0;
}
