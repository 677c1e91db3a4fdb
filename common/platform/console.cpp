// The part of the console output that is the same on every system: the colours, the
// test sink and the lock; console_posix.cpp and console_win32.cpp write the bytes.
#include "common/platform/console.h"

#include <mutex>

#include "common/platform/console_output.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;
console_output::Colours g_colours{7, 0};
bool g_colour_changed = false;

}  // namespace

void ConsoleSetColor(int foreground, int background) {
  if (foreground < 0 || foreground >= 16 || background < 0 || background >= 16) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_colours = {foreground, background};
  g_colour_changed = true;
}

void ConsoleWriteLine(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) {
    g_sink(text);
    return;
  }
  console_output::WriteLine(text, g_colour_changed ? &g_colours : nullptr);
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
  console_output::WriteRaw(bytes);
}

void ConsoleWriteError(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  console_output::WriteErrorLine(text);
}

}  // namespace platform
