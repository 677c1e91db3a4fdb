// Console line output for the console programs.
//
// Every message is one line. Colours are console colour numbers 0..15 (foreground and
// background); a number of 16 or more changes nothing. On POSIX the colours become ANSI
// SGR codes, and only when standard output is a terminal and NO_COLOR is unset.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Sets the colours used for the following lines.
void ConsoleSetColor(int foreground, int background);

// Writes `text` as one line. Safe to call from several threads.
void ConsoleWriteLine(std::string_view text);

// Shorthand used by every stage of the compiler: colour 7 on 0, then the line.
void ConsolePrint(std::string_view text);

// Tests capture console lines: while a sink is installed, lines go to it instead of
// standard output. Pass an empty function to remove it.
void ConsoleSetSink(std::function<void(std::string_view)> sink);

// Writes bytes to standard output exactly as given (no line end added, none translated).
void ConsoleWriteRaw(std::string_view bytes);

// Writes a line to standard error (start-up failures).
void ConsoleWriteError(std::string_view text);

// Reports a failure that ends a program at start-up. On Windows a message box with the
// title, the error icon and the lines (separated by CR LF), unless AKQP_NO_MESSAGE_BOX is
// set and not empty (tests, unattended runs): then, and on POSIX, the lines go to standard
// error.
void ShowStartupError(const std::string& title, const std::vector<std::string>& lines);

}  // namespace platform
