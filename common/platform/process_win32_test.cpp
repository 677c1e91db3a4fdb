// Child processes on Windows, with the stand-in program in place of a shell's tools.
#include <windows.h>
// <windows.h> makes LoadLibrary a macro; the platform layer has a function of that name.
#undef LoadLibrary

#include <gtest/gtest.h>

#include <chrono>

#include "common/platform/code_block.h"
#include "common/platform/dynlib.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"
#include "tests/e2e_support.h"

namespace {

TEST(ProcessWin32, ArgumentsArePassedAsDataNotCommandWords) {
  const std::string standin = e2e::StandIn();
  ASSERT_FALSE(standin.empty());
  auto r = platform::RunProcess(
      {standin, "args", "a b", "%PATH%", "x&y|z", "'q\"", "tail\\", "\\\"", "", "C:\\dir\\"}, {});
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "a b|%PATH%|x&y|z|'q\"|tail\\|\\\"||C:\\dir\\|");
}

TEST(ProcessWin32, ReportsExitStatusTimeoutAndMissingProgram) {
  const std::string standin = e2e::StandIn();
  EXPECT_EQ(platform::RunProcess({standin, "exit", "3"}, {}).exit_code, 3);
  platform::ProcessOptions options;
  options.timeout_ms = 200;
  auto start = std::chrono::steady_clock::now();
  auto slow = platform::RunProcess({standin, "sleep", "10000"}, options);
  EXPECT_TRUE(slow.timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  auto missing = platform::RunProcess({"C:\\nonexistent\\program"}, {});
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.exit_code, 0);
}

TEST(ProcessWin32, ACrashedChildIsNamedByItsException) {
  // The stand-in ends with an access violation's status, as a crashed program does.
  auto r = platform::RunProcess({e2e::StandIn(), "crash"}, {});
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, -1);
  EXPECT_EQ(static_cast<DWORD>(r.signal), 0xC0000005u);
  EXPECT_FALSE(r.interrupted);
  EXPECT_EQ(platform::SignalDescription(r.signal), "exception 0xC0000005 (access violation)");
  EXPECT_EQ(platform::SignalDescription(static_cast<int>(0xC0000017u)), "exception 0xC0000017");
  // An ordinary failure stays an exit status.
  EXPECT_EQ(platform::RunProcess({e2e::StandIn(), "exit", "3"}, {}).signal, 0);
}

TEST(ProcessWin32, AChildWhoseReaderHasGoneSeesItsWritesFail) {
  platform::ChildProcess child;
  // 100 MB that nobody reads: the stand-in's writes fail and it ends at once.
  ASSERT_TRUE(child.Start({e2e::StandIn(), "fill", "100000000"}));
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line));
  EXPECT_EQ(line, "y");
  child.CloseOutput();
  EXPECT_FALSE(child.ReadLine(&line));
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ProcessWin32, OutputIsCappedAtTheLimit) {
  platform::ProcessOptions options;
  options.output_limit = 10;
  auto r = platform::RunProcess({e2e::StandIn(), "fill", "100000"}, options);
  EXPECT_EQ(r.output.size(), 10u);
  EXPECT_EQ(r.exit_code, 0);
}

TEST(ProcessWin32, ChildLinesAreReadOneByOneWithoutTheirLineEnds) {
  platform::ChildProcess child;
  ASSERT_TRUE(child.Start({e2e::StandIn(), "raw", "one\\r\\ntwo\\nthree"}));
  std::string line;
  std::vector<std::string> lines;
  while (child.ReadLine(&line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_FALSE(child.running());
}

TEST(ProcessWin32, AKilledChildEndsAndItsPipeCloses) {
  platform::ChildProcess child;
  ASSERT_TRUE(child.Start({e2e::StandIn(), "sleep", "30000"}));
  EXPECT_TRUE(child.running());
  child.Kill();
  EXPECT_FALSE(child.running());
  std::string line;
  EXPECT_FALSE(child.ReadLine(&line));
}

TEST(ProcessWin32, ProgramsAreFoundWithTheirExeName) {
  const std::string folder = platform::FolderOf(e2e::StandIn());
  const std::string found = platform::FindProgram("akqp-standin", folder);
  EXPECT_EQ(platform::FileName(found), "akqp-standin.exe");
  EXPECT_FALSE(platform::FindProgram("cmd", "").empty());
  EXPECT_TRUE(platform::FindProgram("akqp-no-such-program", folder).empty());
}

TEST(ProcessWin32, CommandsRunThroughCmdExe) {
  std::string dir = platform::MakeTempFolder("shell-win32");
  ASSERT_FALSE(dir.empty());
  // cmd.exe's own syntax: "&&", "if exist", "%VAR%" and exit codes.
  platform::ProcessResult made =
      platform::RunShellCommand("cd /d \"" + dir + "\" && echo made> made.txt");
  EXPECT_TRUE(made.started);
  EXPECT_EQ(made.exit_code, 0);
  EXPECT_EQ(platform::ReadFile(dir + "\\made.txt").value_or(""), "made\r\n");
  EXPECT_EQ(platform::RunShellCommand("if exist \"" + dir + "\\made.txt\" exit 7").exit_code, 7);
  EXPECT_NE(platform::RunShellCommand("akqp-no-such-command-here").exit_code, 0);
  EXPECT_FALSE(platform::RunShellCommand("exit 3").interrupted);
  platform::RemoveTree(dir);
}

TEST(ProcessWin32, CodeBlocksAreCommittedExecutableMemory) {
  std::unique_ptr<platform::CodeBlock> block = platform::CodeBlock::Commit(100);
  ASSERT_TRUE(block);
  MEMORY_BASIC_INFORMATION info;
  ASSERT_NE(VirtualQuery(block->data(), &info, sizeof info), 0u);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE));
  for (size_t i = 0; i < block->size(); ++i) ASSERT_EQ(block->data()[i], 0);
  EXPECT_FALSE(platform::CodeBlock::Commit(0));
}

TEST(ProcessWin32, SystemLibrariesLoadAndTheirExportsAreFound) {
  void* kernel = platform::LoadLibrary("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_TRUE(platform::LibraryHasSymbol(kernel, "GetTickCount"));
  EXPECT_FALSE(platform::LibraryHasSymbol(kernel, "NoSuchFunction"));
  platform::FreeLibrary(kernel);
  void* user = platform::LoadLibrary("user32.dll");
  ASSERT_NE(user, nullptr);
  EXPECT_TRUE(platform::LibraryHasSymbol(user, "MessageBoxA"));
  platform::FreeLibrary(user);
  EXPECT_EQ(platform::LoadLibrary("akqp-no-such-library.dll"), nullptr);
  EXPECT_EQ(platform::LoadLibrary("libc.so.6"), nullptr);
}

}  // namespace
