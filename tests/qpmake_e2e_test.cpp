// qpmake end to end: the built program on makefiles, with a recording stand-in for the
// compiler (through $AKQP_CLI) and, when it is built, the real akqp-cli.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"
#include "tests/e2e_support.h"

namespace {

// The commands of the "before" and "after" tests in the system's command interpreter
// (sh, or cmd.exe on Windows).
const bool kCmd = platform::kShellKind == platform::ShellKind::kCmd;
// Writes 123456789 without a line end.
const std::string kNine = kCmd ? "<nul set /p =123456789>nine.txt" : "printf 123456789 > nine.txt";
// A command holding "=": qpmake runs the line as it is written.
const std::string kAssign = kCmd ? "echo A=1 B=2>>log.txt"
                                 : "A=1 B=2; echo \"A=$A B=$B\" >> log.txt";
const std::string kFalse = kCmd ? "exit 1" : "false";

class QpmakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The stand-in compiler appends "cli", each argument on a line of its own, then "--"
    // to log.txt in the working directory; it fails when the input path holds "fail".
    ASSERT_TRUE(platform::MakeDirectory(scratch_.Path("tools")));
    std::string standin = e2e::StandInCopy(scratch_.Path("tools"), "log");
    ASSERT_FALSE(standin.empty());
    env_ = scratch_.Env();
    env_["AKQP_CLI"] = standin;
  }

  e2e::RunResult Make(const std::string& makefile_text) {
    scratch_.Write("makefile.cfg", makefile_text);
    return Make(std::vector<std::string>{"makefile.cfg"});
  }
  e2e::RunResult Make(const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.cwd = scratch_.path();
    options.env = env_;
    return e2e::Run("qpmake", args, options);
  }
  // log.txt split into lines.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::string text = scratch_.Read("log.txt");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  bool IsDirectory(const std::string& name) const {
    return platform::IsDirectory(scratch_.Path(name));
  }

  e2e::Scratch scratch_;
  std::map<std::string, std::string> env_;
};

using Lines = std::vector<std::string>;

TEST_F(QpmakeTest, RefusesABadCommandLineOrMakefile) {
  for (const Lines& args : {Lines{}, Lines{"a.cfg", "b.cfg"}}) {
    e2e::RunResult r = Make(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.lines, Lines{"usage: qpmake <makefile>"});
  }
  scratch_.Write("folder.cfg/x", "");
  for (const auto& [name, reason] : {std::pair<std::string, std::string>{"missing.cfg", "No such file or directory"},
                                     {"folder.cfg", "Is a directory"}}) {
    e2e::RunResult r = Make(Lines{name});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.lines, (Lines{"qpmake: could not open makefile", "qpmake: '" + name + "': " + reason}));
  }
}

TEST_F(QpmakeTest, CompilesEveryTargetWithItsOwnArguments) {
  e2e::RunResult r = Make(
      "[make]\r\n"
      "src/a.lua = build/out/a.qp\r\n"
      "src\\b c.lua = a.qp\r\n"
      "it's \"$HOME\"; x.lua = odd dir/x.qp\r\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  // Paths come out in native form ("\\" on Windows, "/" elsewhere).
  auto n = [](const char* path) { return platform::NativePath(path); };
  EXPECT_EQ(Log(), (Lines{"cli", "--lua", n("src/a.lua"), "--out", n("build/out/a.qp"), "--",
                          "cli", "--lua", n("src/b c.lua"), "--out", "a.qp", "--",
                          "cli", "--lua", "it's \"$HOME\"; x.lua", "--out", n("odd dir/x.qp"), "--"}));
  EXPECT_TRUE(IsDirectory("build/out"));
  EXPECT_TRUE(IsDirectory("odd dir"));
  EXPECT_FALSE(platform::PathExists(scratch_.Path("build/out/a.qp")));  // the compiler's job
}

TEST_F(QpmakeTest, PassesTheVerificationFileOnlyWhenItHoldsSomething) {
  const std::string makefile =
      "[make]\r\na.lua = a.qp\r\nb.lua = b.qp\r\n[verify]\r\nVerify = checks.xml\r\n";
  scratch_.Write("checks.xml", "<akqp:verify/>");
  EXPECT_EQ(Make(makefile).exit_code, 0);
  EXPECT_EQ(Log(), (Lines{"cli", "--lua", "a.lua", "--out", "a.qp", "--verify", "checks.xml", "--",
                          "cli", "--lua", "b.lua", "--out", "b.qp", "--verify", "checks.xml",
                          "--"}));
  for (bool present : {true, false}) {
    scratch_.Write("log.txt", "");
    if (present)
      scratch_.Write("checks.xml", "");
    else
      platform::RemoveTree(scratch_.Path("checks.xml"));
    e2e::RunResult r = Make(makefile);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(Log(), (Lines{"cli", "--lua", "a.lua", "--out", "a.qp", "--",
                            "cli", "--lua", "b.lua", "--out", "b.qp", "--"}));
  }
}

TEST_F(QpmakeTest, ReadsOnlyTheFirstGroupOfEachNameWithoutRegardToCase) {
  EXPECT_EQ(Make("[ make ]\r\nspaced.lua = s.qp\r\n"
                 "[MAKE]\r\nupper.lua = u.qp\r\n=  key.qp\r\nempty.lua =\r\n"
                 "[Make]\r\nsecond.lua = 2.qp\r\n")
                .exit_code,
            0);
  EXPECT_EQ(Log(), (Lines{"cli", "--lua", "upper.lua", "--out", "u.qp", "--"}));
}

TEST_F(QpmakeTest, WorksThroughTheGroupsInAFixedOrder) {
  e2e::RunResult r = Make(
      "[crc32]\r\n"
      "nine.txt = nine.crc\r\n"
      "missing.txt = missing.crc\r\n"
      "[after]\r\n"
      "echo after>>log.txt\r\n" +
      kNine + "\r\n"
      "[make]\r\n"
      "a.lua = a.qp\r\n"
      "[before]\r\n"
      "echo before>>log.txt\r\n" +
      kAssign + "\r\n"
      "= echo skipped>>log.txt\r\n"
      "# note\r\n");
  // "# note" is a comment to sh; cmd.exe has no such command, says so and fails it.
  EXPECT_EQ(r.exit_code, kCmd ? 1 : 0) << r.output;
  EXPECT_EQ(Log(), (Lines{"before", "A=1 B=2", "cli", "--lua", "a.lua", "--out", "a.qp", "--", "after"}));
  EXPECT_EQ(scratch_.Read("nine.crc"), "-873187034");
  EXPECT_EQ(scratch_.Read("missing.crc"), "0");
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines.back(), "qpmake: could not read 'missing.txt', wrote checksum 0");
  if (kCmd) {
    // cmd.exe's own complaint, in its own words, comes first.
    ASSERT_GE(r.lines.size(), 2u);
    EXPECT_NE(r.lines.front().find('#'), std::string::npos) << r.output;
  } else {
    EXPECT_EQ(r.lines.size(), 1u) << r.output;
  }
}

TEST_F(QpmakeTest, AbortsWhenAnOutputFolderCannotBeMade) {
  scratch_.Write("build", "a file where a folder should be");
  e2e::RunResult r = Make(
      "[before]\r\necho before>>log.txt\r\n"
      "[make]\r\nfirst.lua = first.qp\r\nsecond.lua = build/out/second.qp\r\nthird.lua = third.qp\r\n"
      "[after]\r\necho after>>log.txt\r\n"
      "[crc32]\r\nlog.txt = log.crc\r\n");
  EXPECT_EQ(r.exit_code, 2);
  // The folder in native form, and the reason in the system's words.
  EXPECT_EQ(r.lines, (Lines{"qpmake: could not create directory for output files, aborting...",
                            kCmd ? "qpmake: 'build\\': not a folder" : "qpmake: 'build/': Not a directory"}));
  EXPECT_EQ(Log(), (Lines{"before", "cli", "--lua", "first.lua", "--out", "first.qp", "--"}));
  EXPECT_FALSE(platform::PathExists(scratch_.Path("log.crc")));
}

TEST_F(QpmakeTest, GoesOnAfterFailuresButReportsThem) {
  e2e::RunResult r = Make(
      "[before]\r\nexit 3\r\n"
      "[make]\r\nfail.lua = fail.qp\r\nok.lua = ok.qp\r\n"
      "[after]\r\necho after>>log.txt\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(Log(), (Lines{"cli", "--lua", "fail.lua", "--out", "fail.qp", "--",
                          "cli", "--lua", "ok.lua", "--out", "ok.qp", "--", "after"}));
  EXPECT_EQ(Make("[after]\r\n" + kFalse + "\r\n").exit_code, 1);
  EXPECT_EQ(Make("[make]\r\nfail.lua = x.qp\r\n").exit_code, 1);
  // A checksum that cannot be written is passed over without changing the status.
  EXPECT_EQ(Make("[crc32]\r\nlog.txt = no/such/folder.crc\r\n").exit_code, 0);
  env_["AKQP_CLI"] = scratch_.Path("no-such-compiler");
  EXPECT_EQ(Make("[make]\r\na.lua = a.qp\r\n").exit_code, 1);
}

// With the real compiler beside qpmake (no $AKQP_CLI), a good script gives a QP file and
// exit status 0, a broken one exit status 1.
TEST_F(QpmakeTest, RunsTheRealCompiler) {
  if (platform::FindProgram("akqp-cli", e2e::BuildDir()).empty()) GTEST_SKIP() << "akqp-cli not built";
  env_.erase("AKQP_CLI");
  scratch_.Write("src/good.lua", "return { info = { name = \"demo\" } }\n");
  scratch_.Write("src/bad.lua", "return {\n");
  e2e::RunResult r = Make("[make]\r\nsrc/good.lua = out/good.qp\r\n");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_GT(platform::FileSize(scratch_.Path("out/good.qp")), 0);
  r = Make("[make]\r\nsrc/bad.lua = out/bad.qp\r\n");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_FALSE(platform::PathExists(scratch_.Path("out/bad.qp")));
}

}  // namespace
