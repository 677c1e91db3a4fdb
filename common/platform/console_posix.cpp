#include "common/platform/console.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;
int g_foreground = 7;
int g_background = 0;
bool g_colour_changed = false;

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

void ConsoleSetColor(int foreground, int background) {
  if (foreground < 0 || foreground >= 16 || background < 0 || background >= 16) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_foreground = foreground;
  g_background = background;
  g_colour_changed = true;
}

void ConsoleWriteLine(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) {
    g_sink(text);
    return;
  }
  std::string line;
  line.reserve(text.size() + 16);
  bool colour = UseColour();
  if (colour && g_colour_changed) line += SgrFor(g_foreground, g_background);
  line.append(text);
  if (colour && g_colour_changed) line += "\x1b[0m";
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void ConsolePrint(std::string_view text) {
  ConsoleSetColor(7, 0);
  ConsoleWriteLine(text);
}

void ConsoleSetSink(std::function<void(std::string_view)> sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
}

void ConsoleWriteRaw(std::string_view bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

void ConsoleWriteError(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string line(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void ShowStartupError(const std::string&, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) ConsoleWriteError(line);
}

}  // namespace platform
