#include "common/platform/console.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "common/platform/win32_support.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::function<void(std::string_view)> g_sink;
int g_foreground = 7;
int g_background = 0;
bool g_colour_changed = false;

// Writes to a handle: through the console when it is one, else as to a file (output
// redirected to a file or a pipe). A reader that has gone is not our failure.
void Write(DWORD which, const std::string& text, bool allow_colour) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    if (allow_colour && g_colour_changed) {
      // The console attribute is background * 16 + foreground. NO_COLOR keeps the
      // console's own colours.
      const char* no_colour = std::getenv("NO_COLOR");
      if (no_colour == nullptr || *no_colour == '\0')
        SetConsoleTextAttribute(handle, static_cast<WORD>(g_background * 16 + g_foreground));
    }
    DWORD written = 0;
    if (WriteConsoleA(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      return;
  }
  size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                   nullptr) ||
        written == 0)
      return;
    done += written;
  }
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
  std::string line(text);
  line += "\r\n";
  // Whatever the C runtime still holds for standard output comes first.
  std::fflush(stdout);
  Write(STD_OUTPUT_HANDLE, line, true);
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
  std::fflush(stdout);
  Write(STD_OUTPUT_HANDLE, std::string(bytes), false);
}

void ConsoleWriteError(std::string_view text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::string line(text);
  line += "\r\n";
  std::fflush(stderr);
  Write(STD_ERROR_HANDLE, line, false);
}

void ShowStartupError(const std::string& title, const std::vector<std::string>& lines) {
  const char* quiet = std::getenv("AKQP_NO_MESSAGE_BOX");
  if (quiet != nullptr && *quiet != '\0') {
    for (const std::string& line : lines) ConsoleWriteError(line);
    return;
  }
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace platform
