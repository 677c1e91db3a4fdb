// The console's bytes on POSIX: colours as ANSI SGR codes, and only on a terminal.
#include "common/platform/console.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform/console_output.h"

namespace platform {
namespace {

bool UseColour() {
  static const bool use = [] {
    const char* no_colour = std::getenv("NO_COLOR");
    return isatty(STDOUT_FILENO) == 1 && (no_colour == nullptr || *no_colour == '\0');
  }();
  return use;
}

// Console colour numbers map onto ANSI colours: Windows numbers blue as 1 and red as 4,
// ANSI the other way round.
int AnsiIndex(int console_colour) {
  static const int kMap[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  return kMap[console_colour & 7];
}

std::string SgrFor(int foreground, int background) {
  int fg = (foreground >= 8 ? 90 : 30) + AnsiIndex(foreground);
  int bg = (background >= 8 ? 100 : 40) + AnsiIndex(background);
  // Light grey on black is the terminal's ordinary look: reset rather than paint.
  if (foreground == 7 && background == 0) return "\x1b[0m";
  if (background == 0) return "\x1b[0;" + std::to_string(fg) + "m";
  return "\x1b[0;" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
}

}  // namespace

namespace console_output {

void WriteLine(std::string_view text, const Colours* colours) {
  std::string line;
  line.reserve(text.size() + 16);
  bool colour = colours != nullptr && UseColour();
  if (colour) line += SgrFor(colours->foreground, colours->background);
  line.append(text);
  if (colour) line += "\x1b[0m";
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void WriteRaw(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void WriteErrorLine(std::string_view text) {
  std::string line(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace console_output

void ShowStartupError(const std::string&, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) ConsoleWriteError(line);
}

}  // namespace platform
