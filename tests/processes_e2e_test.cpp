// akqp-cli as a process among others: signals during an assembly, a console that has
// gone away, an assembler that is missing or broken, a temporary folder that cannot be
// made. Each case checks the lines, the exit status, the files and the processes left.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

using e2e::Has;
using e2e::WaitFor;


const char kHello[] = "return { info = { name = 'Hello' } }\n";
const char kOneRoutine[] =
    "return { info = { name = 'Asm' }, assemblies = { x = { assembly = 'use32\\nnop' } } }\n";
// Keeps the assembler busy for ever: a loop that never ends within one pass.
const char kSpinning[] =
    "return { info = { name = 'Spin' }, assemblies = { spin = { assembly = "
    "'use32\\nwhile 1\\nend while' } } }\n";

// Runs a program with the signals at their defaults: a background job of a script
// otherwise ignores SIGINT and SIGQUIT. "$DEFAULTS" program args... (a simple command, so
// that a background job's process id is the program's).
const char kDefaults[] =
    "DEFAULTS='$SIG{INT} = $SIG{QUIT} = $SIG{PIPE} = \"DEFAULT\"; exec @ARGV or die'\n"
    "defaults() { perl -e \"$DEFAULTS\" \"$@\"; }\n";

// Starts akqp-cli ($1 script, $2 output) in the background, waits for its assembler,
// sends signal $3 to the compiler and reports its status and whether the assembler
// outlived it (a zombie counts as gone: it no longer runs).
const char kSignalDuringAssembly[] =
    "perl -e \"$DEFAULTS\" \"$CLI\" --lua \"$1\" --out \"$2\" > cli.log 2>&1 &\n"
    "cli=$!\n"
    "asm=''; i=0\n"
    "while [ $i -lt 600 ]; do asm=$(pgrep -P $cli); [ -n \"$asm\" ] && break; sleep 0.05; i=$((i+1)); done\n"
    "[ -n \"$asm\" ] || { echo 'no assembler'; kill -9 $cli; exit 1; }\n"
    "sleep 0.2\n"
    "kill -$3 $cli\n"
    "wait $cli; echo \"status=$?\"\n"
    "i=0\n"
    "while [ $i -lt 100 ]; do\n"
    "  case \"$(ps -o stat= -p $asm)\" in ''|Z*) echo 'assembler gone'; exit 0;; esac\n"
    "  sleep 0.05; i=$((i+1))\n"
    "done\n"
    "echo 'assembler survived'; kill -9 $asm\n";

class ProcessesE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::Built("akqp-cli")) GTEST_SKIP() << "akqp-cli is not built";
    std::filesystem::create_directories(scratch_.Path("tmp"));
  }

  e2e::RunOptions Options() const {
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.env[platform::kTempFolderVariable] = scratch_.Path("tmp");
    options.env["CLI"] = e2e::BuildDir() + "/akqp-cli";
    options.cwd = scratch_.path();
    return options;
  }
  e2e::RunResult Shell(const std::string& script, const std::vector<std::string>& args,
                       const e2e::RunOptions& options) {
    std::vector<std::string> argv = {"-c", std::string(kDefaults) + script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return e2e::Run("/bin/sh", argv, options);
  }
  e2e::RunResult Compile(const std::string& script, const e2e::RunOptions& options) {
    std::string path = scratch_.Write("s.lua", script);
    platform::RemoveTree(scratch_.Path("s.qp"));
    return e2e::Run("akqp-cli", {"--lua", path, "--out", scratch_.Path("s.qp")}, options);
  }
  bool TmpEmpty() const { return std::filesystem::is_empty(scratch_.Path("tmp")); }

  e2e::Scratch scratch_;
};

TEST_F(ProcessesE2eTest, TheAssemblerEndsWithTheCompilerWhateverEndsIt) {
#ifdef _WIN32
  // Windows form: TerminateProcess, which nothing in the compiler can catch, ends it during
  // an assembly; the job object ends the assembler with it. The assembler is a stand-in
  // that runs until it is ended and keeps the file "busy" open meanwhile, so the file can
  // be removed only once it has gone. (Ctrl+C, Ctrl+Break and a closed console window reach
  // only the processes attached to that console; a test run has none to send them on.)
  std::string script = scratch_.Write("s.lua", kOneRoutine);
  ASSERT_TRUE(platform::MakeDirectory(scratch_.Path("tools")));
  e2e::RunOptions options = Options();
  options.env["AKQP_FASM"] = e2e::StandInCopy(scratch_.Path("tools"), "busy");
  const std::string busy = scratch_.Path("busy");
  {
    e2e::ScopedEnvironment environment(options.env);
    platform::ChildProcess cli;
    ASSERT_TRUE(cli.Start({e2e::Program("akqp-cli"), "--lua", script, "--out", scratch_.Path("s.qp")},
                          scratch_.path()));
    Lines lines;
    for (std::string line; lines.empty() || lines.back() != "Attempting assembling 'x'.";) {
      if (!cli.ReadLine(&line)) break;
      lines.push_back(line);
    }
    EXPECT_TRUE(Has(lines, "Attempting assembling 'x'."));
    EXPECT_TRUE(WaitFor([&] { return platform::PathExists(busy); }, 20)) << "the assembler never ran";
    cli.Kill();
  }
  EXPECT_TRUE(WaitFor([&] { platform::RemoveTree(busy); return !platform::PathExists(busy); }, 10))
      << "the assembler survived the compiler";
  EXPECT_FALSE(platform::PathExists(scratch_.Path("s.qp")));
#else
  std::string script = scratch_.Write("spin.lua", kSpinning);
  struct Case {
    const char* signal;
    int status;
  } cases[] = {{"TERM", 143}, {"INT", 130}, {"HUP", 129}, {"QUIT", 131}, {"KILL", 137}};
  for (const Case& c : cases) {
    e2e::RunResult r = Shell(kSignalDuringAssembly, {script, scratch_.Path("spin.qp"), c.signal}, Options());
    // (The shell may add its own line on how the job ended.)
    EXPECT_TRUE(Has(r.lines, "status=" + std::to_string(c.status)))
        << c.signal << "\n" << r.output << scratch_.Read("cli.log");
    EXPECT_TRUE(Has(r.lines, "assembler gone")) << c.signal << "\n" << r.output;
    EXPECT_TRUE(Has(e2e::Run("/bin/cat", {scratch_.Path("cli.log")}).lines, "Attempting assembling 'spin'."));
    EXPECT_FALSE(platform::PathExists(scratch_.Path("spin.qp")));
    // A caught signal removes the assembler's folder; SIGKILL cannot be caught.
    if (std::string(c.signal) != "KILL") {
      EXPECT_TRUE(TmpEmpty()) << c.signal;
    }
    platform::RemoveTree(scratch_.Path("tmp"));
    std::filesystem::create_directories(scratch_.Path("tmp"));
  }
#endif
}

TEST_F(ProcessesE2eTest, AClosedConsoleDoesNotStopTheCompile) {
  // About 200 KB, more than a pipe holds, in few enough lines that the script stays well
  // within its time limit under Wine too.
  std::string script = scratch_.Write(
      "loud.lua",
      "for i = 1, 2000 do print(string.rep('x', 100) .. i) end\nreturn { info = { name = 'Loud' } }\n");
#ifdef _WIN32
  // Windows form: the compiler's output goes into a pipe whose reader goes away after the
  // first line. (Wine's cmd.exe makes its pipes through temporary files, so a cmd.exe
  // pipeline would not break.)
  e2e::FirstLine r = e2e::ReadFirstLineThenHangUp(
      {e2e::Program("akqp-cli"), "--lua", script, "--out", scratch_.Path("loud.qp")},
      scratch_.path(), Options().env);
  EXPECT_EQ(r.lines, Lines{"Compiling 'loud.lua'..."});
  EXPECT_EQ(r.exit_code, 0);
#else
  e2e::RunResult r = Shell(
      "{ defaults \"$CLI\" --lua \"$1\" --out \"$2\"; echo $? > status.txt; } | head -n1",
      {script, scratch_.Path("loud.qp")}, Options());
  EXPECT_EQ(r.lines, Lines{"Compiling 'loud.lua'..."});
  EXPECT_EQ(scratch_.Read("status.txt"), "0\n");
#endif
  EXPECT_GT(platform::FileSize(scratch_.Path("loud.qp")), 0);
}

TEST_F(ProcessesE2eTest, AMissingAssemblerEndsTheProgramBeforeTheCommandLine) {
  const Lines expected = {
      "The assembler couldn't be initialized, unknown error.",
      "Please report this to Ardent Dodedovivaz.",
#ifdef _WIN32
      "Check that fasm.exe is beside akqp-cli.exe, or set AKQP_FASM to its path."};
#else
      "Check that the flat assembler is installed (Debian package 'fasm'), or set AKQP_FASM to its path."};
#endif
  std::string plain = scratch_.Write("plain-file", "not a program");
  for (const std::string& fasm : {std::string("/nonexistent/fasm"), plain, scratch_.Path("tmp")}) {
    e2e::RunOptions options = Options();
    options.env["AKQP_FASM"] = fasm;
    for (const Lines& args : {Lines{}, Lines{"--help"}, Lines{"--lua", "missing.lua", "--out", "x.qp"}}) {
      e2e::RunResult r = e2e::Run("akqp-cli", args, options);
      EXPECT_EQ(r.exit_code, 3) << fasm;
      EXPECT_EQ(r.lines, expected) << fasm;
    }
  }
}

TEST_F(ProcessesE2eTest, TheAssemblerRunsOnlyForARoutineAndABrokenOneFailsIt) {
  // A program that leaves the file "opened" beside itself, writes nothing else and ends
  // with status 0.
  ASSERT_TRUE(platform::MakeDirectory(scratch_.Path("tools")));
  std::string fasm = e2e::StandInCopy(scratch_.Path("tools"), "opener");
  std::string marker = scratch_.Path("tools/opened");
  e2e::RunOptions options = Options();
  options.env["AKQP_FASM"] = fasm;

  e2e::RunResult hello = Compile(kHello, options);
  EXPECT_EQ(hello.exit_code, 0) << hello.output;
  EXPECT_TRUE(Has(hello.lines, "Script execution has finished."));
  EXPECT_FALSE(platform::PathExists(marker));

  e2e::RunResult routine = Compile(kOneRoutine, options);
  EXPECT_EQ(routine.exit_code, 1) << routine.output;
  EXPECT_TRUE(Has(routine.lines, "[ERROR] assemblies: Assembly entry 'x' error [-8]: Line 0: Write "
                                 "procedure failed. The assembler wrote no output file."))
      << routine.output;
  EXPECT_TRUE(platform::PathExists(marker));
  EXPECT_FALSE(platform::PathExists(scratch_.Path("s.qp")));
  EXPECT_TRUE(TmpEmpty());
}

TEST_F(ProcessesE2eTest, ATemporaryFolderThatCannotBeMadeIsNamedNotBlamedOnTheAssembler) {
  e2e::RunOptions options = Options();
  std::string missing = scratch_.Path("no-such-folder");
  options.env[platform::kTempFolderVariable] = missing;

  e2e::RunResult hello = Compile(kHello, options);
  EXPECT_EQ(hello.exit_code, 0) << hello.output;
  EXPECT_GT(platform::FileSize(scratch_.Path("s.qp")), 0);

  e2e::RunResult routine = Compile(kOneRoutine, options);
  EXPECT_EQ(routine.exit_code, 1) << routine.output;
  EXPECT_TRUE(Has(routine.lines, "[ERROR] assemblies: Assembly entry 'x' error [-8]: Line 0: Write "
                                 "procedure failed. No temporary folder could be made for the "
                                 "source in '" + missing + "': No such file or directory."))
      << routine.output;
  EXPECT_FALSE(Has(routine.lines, "The assembler couldn't be initialized, unknown error."));
}

}  // namespace
