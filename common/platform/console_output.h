// What each system's console file (console_posix.cpp, console_win32.cpp) gives
// console.cpp, which keeps the colours and the sink for both and calls these under its
// lock, so that lines from several threads never interleave.
#pragma once

#include <string_view>

namespace platform::console_output {

struct Colours {
  int foreground;
  int background;
};

// Writes `text` and a line end to standard output. `colours` is null until a colour has
// been set: the console keeps its own look then.
void WriteLine(std::string_view text, const Colours* colours);

// Writes bytes to standard output as given.
void WriteRaw(std::string_view bytes);

// Writes `text` and a line end to standard error.
void WriteErrorLine(std::string_view text);

}  // namespace platform::console_output
