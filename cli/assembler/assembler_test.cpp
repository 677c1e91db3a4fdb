#include "cli/assembler/assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"
#include "tests/e2e_support.h"

namespace {

// Every test runs with its own temporary folder (TMPDIR, on Windows TMP), so that
// leftovers of the module are visible.
class AssemblerTest : public testing::Test {
 protected:
  void SetUp() override {
    BuildAssemblerMessageTable();
    old_tmp_ = platform::GetEnvironment(platform::kTempFolderVariable);
    tmp_ = platform::MakeTempFolder("akqp-asm-test");
    ASSERT_FALSE(tmp_.empty());
    platform::SetEnvironment(platform::kTempFolderVariable, tmp_);
    ASSERT_TRUE(InitialiseAssembler());
    SetAssemblerLimits(AssemblerLimits());
  }
  void TearDown() override {
    SetAssemblerLimits(AssemblerLimits());
    EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left behind";
    if (old_tmp_)
      platform::SetEnvironment(platform::kTempFolderVariable, *old_tmp_);
    else
      platform::UnsetEnvironment(platform::kTempFolderVariable);
    platform::RemoveTree(tmp_);
  }

  // What fasm itself writes for `text`.
  std::string FasmOutput(const std::string& text) {
    std::string folder = platform::MakeTempFolder("akqp-fasm-direct");
    platform::WriteFileAtomic(folder + "/a.asm", text);
    platform::RunProcess({AssemblerProgram(), folder + "/a.asm", folder + "/a.bin"}, {});
    std::string bytes = platform::ReadFile(folder + "/a.bin").value_or("");
    platform::RemoveTree(folder);
    return bytes;
  }

  std::string tmp_;
  std::optional<std::string> old_tmp_;
};

std::string Bytes(const std::unique_ptr<platform::CodeBlock>& block, size_t length) {
  return std::string(reinterpret_cast<const char*>(block->data()), length);
}

TEST_F(AssemblerTest, MachineCodeIsWhatTheAssemblerWrites) {
  const std::string text =
      "use32\n"
      "  push ebp\n  mov ebp, esp\n  mov eax, [ebp+8]\n"
      "  lea eax, [eax*4+eax+7]\n  pop ebp\n  ret 4\n"
      "text_name: db 'name', 0\n  dd text_name\n";
  size_t length = 0;
  AssemblerError error;
  std::unique_ptr<platform::CodeBlock> block = Assemble(text, &length, &error);
  ASSERT_TRUE(block) << error.message;
  EXPECT_EQ(length, block->size());
  EXPECT_EQ(Bytes(block, length), FasmOutput(text));
  ReleaseMachineCode(std::move(block));
}

TEST_F(AssemblerTest, ErrorsInTheTextCarryCodeMessageAndLine) {
  struct Case {
    const char* text;
    int32_t code;
    int32_t line;
  } cases[] = {
      {"use32\nnop\nlea eax, 5\nret\n", -109, 3},
      {"use32\rnop\rlea eax, 5\rret\r", -109, 3},
      {"use32\nmov eax, qq\n", -122, 2},
      {"use32\nmov eax, bl\n", -112, 2},
      {"use32\nnop\nnop\nmov [eax], 1\n", -111, 4},
      {"use32\nx:\nx:\n", -127, 3},
      {"use32\nmovv eax\n", -108, 2},
      {"use32\ndb 'abc\n", -128, 2},
      {"use32\nassert 0\n", -141, 2},
      {"use32\nerr\n", -140, 2},
      {"use32\nmacro m a { nop }\nm a, b\n", -104, 3},
      // Inside a macro: the line that calls it.
      {"use32\nmacro m x {\n nop\n mov eax, x\n}\nnop\nm [ebx+\nret\n", -118, 7},
      // A missing include: the include line.
      {"use32\nnop\ninclude 'akqp-no-such-file.inc'\n", -101, 3},
  };
  for (const Case& c : cases) {
    size_t length = 77;
    AssemblerError error;
    EXPECT_FALSE(Assemble(c.text, &length, &error)) << c.text;
    EXPECT_EQ(error.code, c.code) << c.text;
    EXPECT_EQ(error.message, AssemblerMessage(c.code)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_EQ(length, 77u);
  }
}

TEST_F(AssemblerTest, TextNeedingMoreThanTheFirstBlockAssembles) {
  size_t length = 0;
  AssemblerError error;
  std::unique_ptr<platform::CodeBlock> block =
      Assemble("use32\ntimes 2000000 db 0x90\nret\n", &length, &error);
  ASSERT_TRUE(block) << error.message;
  EXPECT_EQ(length, 2000001u);
  EXPECT_EQ(block->data()[1999999], 0x90);
  EXPECT_EQ(block->data()[2000000], 0xC3);
}

TEST_F(AssemblerTest, FailuresOutsideTheTextAreReportedTruthfully) {
  AssemblerError error;
  size_t length = 0;
  // An earlier error must not show through a later failure of another kind.
  EXPECT_FALSE(Assemble("use32\nlea eax, 5\n", &length, &error));
  EXPECT_EQ(error.code, -109);

  EXPECT_FALSE(Assemble("use32\n", &length, &error));
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.message, "Cannot generate code. The text assembled to zero bytes.");
  EXPECT_EQ(error.line, 0);

  AssemblerLimits limits;
  limits.max_output = 1000;
  SetAssemblerLimits(limits);
  EXPECT_FALSE(Assemble("use32\ntimes 2000 nop\n", &length, &error));
  EXPECT_EQ(error.code, -7);
  EXPECT_EQ(error.message, "Format limitations exceeded. The machine code is larger than 1000 bytes.");

  limits = AssemblerLimits();
  limits.max_block_kib = 2048;
  SetAssemblerLimits(limits);
  EXPECT_FALSE(Assemble("use32\ntimes 4000000 nop\n", &length, &error));
  EXPECT_EQ(error.code, -2);
  EXPECT_EQ(error.message, "Out of memory. The assembler needed more than 2 MiB.");
}

TEST_F(AssemblerTest, RunawayTextIsStoppedAtTheTimeLimit) {
  AssemblerLimits limits;
  limits.first_block_kib = 256 * 1024;
  limits.run_timeout_ms = 300;
  SetAssemblerLimits(limits);
  AssemblerError error;
  size_t length = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Assemble("use32\ntimes 200000000 nop\n", &length, &error));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.message, "Cannot generate code. The assembler did not finish within 300 ms.");
}

TEST_F(AssemblerTest, TextEndsAtItsFirstNulByte) {
  size_t length = 0;
  AssemblerError error;
  std::string text("use32\nnop\n\0mov eax, qq\n", 23);
  std::unique_ptr<platform::CodeBlock> block = Assemble(text, &length, &error);
  ASSERT_TRUE(block) << error.message;
  EXPECT_EQ(length, 1u);
}

#ifndef _WIN32
// Writes an executable sh script that stands in for the assembler and gives its path.
std::string ScriptStandIn(const std::string& folder, const std::string& name, const std::string& body) {
  std::string path = folder + "/" + name;
  platform::WriteFileAtomic(path, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}
#endif

bool HasSeparator(const std::string& path) {
  return std::any_of(path.begin(), path.end(), platform::IsSeparator);
}

TEST_F(AssemblerTest, InitialisationFindsAnExecutableProgramWithoutRunningIt) {
  std::string folder = platform::MakeTempFolder("akqp-fasm-standins");
  // A program that, when it runs, leaves the file "opened" beside itself.
  std::string records = e2e::StandInCopy(folder, "opener");
  ASSERT_FALSE(records.empty());
  std::string marker = folder + platform::kSeparator + "opened";
  platform::WriteFileAtomic(folder + "/plain", "not a program");
  for (std::string absent : {std::string("/nonexistent/fasm"), folder + "/plain", folder,
                             std::string("akqp-no-such-program")}) {
    platform::SetEnvironment("AKQP_FASM", absent);
    EXPECT_FALSE(InitialiseAssembler()) << absent;
  }
  platform::SetEnvironment("AKQP_FASM", records);
  EXPECT_TRUE(InitialiseAssembler());
  EXPECT_EQ(AssemblerProgram(), records);
  EXPECT_FALSE(platform::PathExists(marker)) << "the assembler ran at start-up";
  // A bare name is found on PATH (on Windows with its ".exe").
  platform::SetEnvironment("AKQP_FASM", "fasm");
  EXPECT_TRUE(InitialiseAssembler());
  EXPECT_EQ(platform::FileName(AssemblerProgram()), std::string("fasm") + platform::kProgramSuffix);
  EXPECT_TRUE(HasSeparator(AssemblerProgram())) << AssemblerProgram();
  platform::UnsetEnvironment("AKQP_FASM");
  EXPECT_TRUE(InitialiseAssembler());
  platform::RemoveTree(folder);
}

TEST_F(AssemblerTest, AssemblerThatDoesNotWorkFailsTheRoutine) {
  std::string folder = platform::MakeTempFolder("akqp-fasm-standins");
  struct Case {
    std::string program;
    int32_t code;
    std::string message;
  };
  std::vector<Case> cases = {
      // Ends with status 0 and writes nothing.
      {e2e::StandInCopy(folder, "opener"), -8,
       "Write procedure failed. The assembler wrote no output file."},
      {e2e::StandInCopy(folder, "false"), 2,
       "An error occurred. The assembler ended without a readable report."},
  };
#ifdef _WIN32
  cases.push_back({e2e::StandInCopy(folder, "crash"), 2,
                   "An error occurred. The assembler program was stopped by exception 0xC0000005 "
                   "(access violation)."});
#else
  cases.push_back({ScriptStandIn(folder, "confused", "echo confused; exit 1"), 2,
                   "An error occurred. The assembler ended without a readable report."});
  cases.push_back({ScriptStandIn(folder, "killed", "kill -9 $$"), 2,
                   "An error occurred. The assembler program was stopped by signal 9 (Killed)."});
#endif
  for (const Case& c : cases) {
    platform::SetEnvironment("AKQP_FASM", c.program);
    ASSERT_TRUE(InitialiseAssembler()) << c.program;
    AssemblerError error;
    size_t length = 0;
    EXPECT_FALSE(Assemble("use32\nnop\n", &length, &error)) << c.program;
    EXPECT_EQ(error.code, c.code) << c.program;
    EXPECT_EQ(error.message, c.message);
    EXPECT_EQ(error.line, 0);
  }
  platform::UnsetEnvironment("AKQP_FASM");
  EXPECT_TRUE(InitialiseAssembler());
  platform::RemoveTree(folder);
}

TEST_F(AssemblerTest, LongDisplayOutputDoesNotHideTheReport) {
  // About 4.5 MiB of displayed lines before the error.
  std::string line(64, 'x');
  std::string text = "use32\nrepeat 70000\ndisplay '" + line + "', 10\nend repeat\nnop\nlea eax, 5\n";
  AssemblerError error;
  size_t length = 0;
  EXPECT_FALSE(Assemble(text, &length, &error));
  EXPECT_EQ(error.code, -109);
  EXPECT_EQ(error.message, "Invalid operand.");
  EXPECT_EQ(error.line, 6);
}

TEST_F(AssemblerTest, RelativeIncludesFindTheUsersFilesNeverTheTemporaryCopy) {
  std::string folder = platform::MakeTempFolder("akqp-include-cwd");
  platform::WriteFileAtomic(folder + "/src.asm", "db 'cwd'\n");
  platform::WriteFileAtomic(folder + "/out.bin", "BIN");
  std::string previous = platform::CurrentDirectory();
  ASSERT_TRUE(platform::ChangeDirectory(folder));
  struct Case {
    const char* text;
    std::string bytes;  // empty: the include is not found
  } cases[] = {
      {"use32\ninclude 'src.asm'\n", "cwd"},
      {"use32\nfile 'out.bin'\n", "BIN"},
      {"use32\ninclude 'akqp%%src.asm'\n", ""},
      {"use32\nfile 'akqp%%out.bin'\n", ""},
  };
  for (const Case& c : cases) {
    AssemblerError error;
    size_t length = 0;
    std::unique_ptr<platform::CodeBlock> block = Assemble(c.text, &length, &error);
    if (c.bytes.empty()) {
      EXPECT_FALSE(block) << c.text;
      EXPECT_EQ(error.code, -101) << c.text << error.message;
      EXPECT_EQ(error.line, 2);
    } else {
      ASSERT_TRUE(block) << c.text << error.message;
      EXPECT_EQ(Bytes(block, length), c.bytes);
    }
  }
  ASSERT_TRUE(platform::ChangeDirectory(previous));
  platform::RemoveTree(folder);
}

TEST_F(AssemblerTest, TemporaryFolderThatCannotBeMadeIsNamedWithTheReason) {
  std::string file = tmp_ + "-plain-file";
  platform::WriteFileAtomic(file, "");
  struct Case {
    std::string tmpdir;
    std::string reason;  // empty: the system's own words, whatever they are
  } cases[] = {
      {tmp_ + platform::kSeparator + "missing", "No such file or directory"},
      // Windows calls a file where a folder should be a missing path, POSIX "Not a
      // directory": either way the reason is named.
      {file, platform::kShellKind == platform::ShellKind::kPosixShell ? "Not a directory" : ""},
  };
  for (const Case& c : cases) {
    platform::SetEnvironment(platform::kTempFolderVariable, c.tmpdir);
    AssemblerError error;
    size_t length = 0;
    EXPECT_FALSE(Assemble("use32\nnop\n", &length, &error));
    EXPECT_EQ(error.code, -8);
    const std::string start = "Write procedure failed. No temporary folder could be made for the "
                              "source in '" + c.tmpdir + "': ";
    if (!c.reason.empty()) {
      EXPECT_EQ(error.message, start + c.reason + ".");
    } else {
      EXPECT_EQ(error.message.rfind(start, 0), 0u) << error.message;
      EXPECT_EQ(error.message.find("unknown error"), std::string::npos) << error.message;
    }
  }
  platform::SetEnvironment(platform::kTempFolderVariable, tmp_);
  platform::RemoveTree(file);
}

TEST_F(AssemblerTest, AssemblerThatVanishesIsReported) {
  std::string folder = platform::MakeTempFolder("akqp-fasm-copy");
  const std::string copy = folder + platform::kSeparator + platform::FileName(AssemblerProgram());
  std::filesystem::copy_file(AssemblerProgram(), copy);
  platform::SetEnvironment("AKQP_FASM", copy);
  ASSERT_TRUE(InitialiseAssembler());
  platform::UnsetEnvironment("AKQP_FASM");
  platform::RemoveTree(folder);
  AssemblerError error;
  size_t length = 0;
  EXPECT_FALSE(Assemble("use32\nnop\n", &length, &error));
  EXPECT_EQ(error.code, 2);
  // The reason is the system's own ("No such file or directory").
  const std::string start = "An error occurred. The assembler program '" + copy + "' could not be started: ";
  EXPECT_EQ(error.message.rfind(start, 0), 0u) << error.message;
  EXPECT_GT(error.message.size(), start.size() + 1);
  EXPECT_TRUE(InitialiseAssembler());
}

}  // namespace
