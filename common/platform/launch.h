// Starting programs that run on their own: the desktop's opener for a folder or a help
// page. The caller never waits for them and never reads their output.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The desktop's own opener of folders and pages: xdg-open on POSIX, the Explorer on
// Windows.
extern const char kDesktopOpener[];

// The arguments after the opener that show `output` to the user: on Windows "/select,"
// and the file when it exists (the Explorer opens its folder with the file selected);
// otherwise, and on POSIX (the file manager has no portable way to select a file), the
// output's folder `folder`.
std::vector<std::string> ShowFileArguments(const std::string& output, const std::string& folder);

// Starts argv[0] (looked up on PATH when it has no separator) detached from this process: it is
// not our child, so it needs no waiting for and outlives us. True when the program was
// started; false (with `error` set when given) when it could not be run at all.
bool StartDetached(const std::vector<std::string>& argv, const std::string& working_directory,
                   std::string* error = nullptr);

// Makes a write to a pipe whose reader has gone fail with an error instead of ending the
// writer (on Windows it always does). Children inherit this, so a compiler that is still running when the window
// program ends finishes its work instead of dying at its next output line.
void IgnoreBrokenPipes();

}  // namespace platform
