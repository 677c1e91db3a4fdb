// Opening folders and the help page with the desktop's own programs. Nothing waits for
// them; a failure is reported to the caller, which has no window of its own to show it.
#pragma once

#include <string>

namespace gui {

// The program that opens a folder or a page: $AKQP_OPENER when set and not empty (tests
// use it to see what would be opened), else xdg-open.
std::string DesktopOpener();

// The help page beside the program, else in the installed tree's share/akqp/.
std::string HelpPagePath(const std::string& program_folder);

// Opens the folder that holds `output` with `opener` (the file manager has no portable
// way to select the file itself, so the folder is shown whether or not the file exists
// yet). An empty output does nothing and gives false.
bool OpenOutputFolder(const std::string& output, const std::string& opener,
                      std::string* error = nullptr);

// Opens the help page with `opener`, the desktop's browser.
bool OpenHelpPage(const std::string& program_folder, const std::string& opener,
                  std::string* error = nullptr);

}  // namespace gui
