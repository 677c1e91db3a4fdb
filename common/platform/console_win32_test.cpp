// Console lines on Windows: CR LF line ends, and colours as console attributes, set only
// on a console.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/platform/console.h"
#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "tests/e2e_support.h"

namespace {

// Standard output switched to another handle for the length of a test.
class StdoutSwap {
 public:
  explicit StdoutSwap(HANDLE handle) : old_(GetStdHandle(STD_OUTPUT_HANDLE)) {
    SetStdHandle(STD_OUTPUT_HANDLE, handle);
  }
  ~StdoutSwap() { SetStdHandle(STD_OUTPUT_HANDLE, old_); }

 private:
  HANDLE old_;
};

TEST(ConsoleWin32, RedirectedLinesEndWithCrLfAndCarryNoColour) {
  std::string dir = platform::MakeTempFolder("console-win32");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "\\out.txt";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  {
    StdoutSwap swap(file);
    platform::ConsoleSetColor(2, 0);
    platform::ConsoleWriteLine("Compiling 'a.lua'...");
    platform::ConsolePrint("second");
  }
  CloseHandle(file);
  EXPECT_EQ(platform::ReadFile(path).value_or(""), "Compiling 'a.lua'...\r\nsecond\r\n");
  platform::RemoveTree(dir);
}

TEST(ConsoleWin32, ColoursBecomeConsoleAttributes) {
  // A console of our own; a test run without one (a service, say) cannot look at it.
  bool made = AllocConsole() != 0;
  HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (screen == INVALID_HANDLE_VALUE) {
    if (made) FreeConsole();
    // Wine gives a console only to a program started on a terminal; ctest runs this case
    // a second time on one, where it must not be skipped.
    if (platform::GetEnvironment("AKQP_CONSOLE_REQUIRED")) FAIL() << "no console could be had";
    GTEST_SKIP() << "no console can be had in this session (no terminal under Wine; the "
                    "case ConsoleWin32.ColoursOnATerminal runs it on one)";
  }
  auto attribute = [&] {
    CONSOLE_SCREEN_BUFFER_INFO info;
    EXPECT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    return info.wAttributes & 0xFF;
  };
  // NO_COLOR (which the tests of the programs set) keeps the console's own colours.
  std::optional<std::string> no_colour = platform::GetEnvironment("NO_COLOR");
  platform::UnsetEnvironment("NO_COLOR");
  {
    StdoutSwap swap(screen);
    platform::ConsoleSetColor(2, 0);
    platform::ConsoleWriteLine("green on black");
    EXPECT_EQ(attribute(), 0x02);
    platform::ConsoleSetColor(14, 1);
    platform::ConsoleWriteLine("yellow on blue");
    EXPECT_EQ(attribute(), 0x1E);
    // A number of 16 or more changes nothing.
    platform::ConsoleSetColor(16, 0);
    platform::ConsoleWriteLine("unchanged");
    EXPECT_EQ(attribute(), 0x1E);
    platform::ConsolePrint("light grey on black");
    EXPECT_EQ(attribute(), 0x07);
  }
  if (no_colour) platform::SetEnvironment("NO_COLOR", *no_colour);
  CloseHandle(screen);
  if (made) FreeConsole();
}

}  // namespace
