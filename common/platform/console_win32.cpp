// The console's bytes on Windows: CR LF line ends, colours as console attributes and
// only on a console; redirected output goes to the standard handle as to a file.
#include "common/platform/console.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform/console_output.h"
#include "common/platform/win32_support.h"

namespace platform {
namespace {

// Writes to a handle: through the console when it is one, else as to a file (output
// redirected to a file or a pipe). A reader that has gone is not our failure.
void Write(DWORD which, std::string_view text, const console_output::Colours* colours) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    if (colours != nullptr) {
      // The console attribute is background * 16 + foreground. NO_COLOR keeps the
      // console's own colours.
      const char* no_colour = std::getenv("NO_COLOR");
      if (no_colour == nullptr || *no_colour == '\0')
        SetConsoleTextAttribute(handle,
                                static_cast<WORD>(colours->background * 16 + colours->foreground));
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

namespace console_output {

void WriteLine(std::string_view text, const Colours* colours) {
  std::string line(text);
  line += "\r\n";
  // Whatever the C runtime still holds for standard output comes first.
  std::fflush(stdout);
  Write(STD_OUTPUT_HANDLE, line, colours);
}

void WriteRaw(std::string_view bytes) {
  std::fflush(stdout);
  Write(STD_OUTPUT_HANDLE, bytes, nullptr);
}

void WriteErrorLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  std::fflush(stderr);
  Write(STD_ERROR_HANDLE, line, nullptr);
}

}  // namespace console_output

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
