// qpmake's commands and compiler runs as processes: Ctrl-C stops the whole run, a
// compiler that cannot start or dies from a signal is named, the compiler ends with
// qpmake, and a console that has gone away stops nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform/fs.h"
#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

// The compiler's stand-in: logs its input, then acts on words in the input's name.
const char kStandIn[] =
    "#!/bin/sh\n"
    "echo \"cli $2\" >> log.txt\n"
    "case \"$2\" in\n"
    "  *int*) kill -INT 0;;\n"
    "  *kill*) kill -9 $$;;\n"
    "  *sleep*) echo $$ > compiler.pid; exec sleep 60;;\n"
    "esac\n"
    "exit 0\n";

// Starts qpmake in the background, waits until its compiler runs, sends signal $1 to
// qpmake and reports qpmake's status and whether the compiler outlived it.
const char kSignalDuringCompile[] =
    "\"$QPMAKE\" mk.cfg > make.log 2>&1 &\n"
    "qp=$!\n"
    "i=0; while [ ! -s compiler.pid ] && [ $i -lt 400 ]; do sleep 0.05; i=$((i+1)); done\n"
    "[ -s compiler.pid ] || { echo 'no compiler'; kill -9 $qp; exit 1; }\n"
    "c=$(cat compiler.pid)\n"
    "kill -$1 $qp\n"
    "wait $qp; echo \"status=$?\"\n"
    "i=0\n"
    "while [ $i -lt 100 ]; do\n"
    "  case \"$(ps -o stat= -p $c)\" in ''|Z*) echo 'compiler gone'; exit 0;; esac\n"
    "  sleep 0.05; i=$((i+1))\n"
    "done\n"
    "echo 'compiler survived'; kill -9 $c\n";

bool Has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class QpmakeRunsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::Built("qpmake")) GTEST_SKIP() << "qpmake is not built";
    standin_ = Executable("tools/standin.sh", kStandIn);
    env_ = scratch_.Env();
    env_["AKQP_CLI"] = standin_;
    env_["QPMAKE"] = e2e::BuildDir() + "/qpmake";
  }
  std::string Executable(const std::string& name, const std::string& text) {
    std::string path = scratch_.Write(name, text);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  e2e::RunOptions Options() const {
    e2e::RunOptions options;
    options.cwd = scratch_.path();
    options.env = env_;
    return options;
  }
  e2e::RunResult Make(const std::string& makefile_text) {
    scratch_.Write("mk.cfg", makefile_text);
    return e2e::Run("qpmake", {"mk.cfg"}, Options());
  }
  // Runs qpmake as the terminal would: in a process group of its own with SIGINT and
  // SIGQUIT at their defaults, so that "kill -INT 0" in a command stands for Ctrl-C (the
  // signal goes to qpmake and every process it started).
  e2e::RunResult MakeInItsOwnGroup(const std::string& makefile_text) {
    scratch_.Write("mk.cfg", makefile_text);
    return e2e::Run("/usr/bin/perl",
                    {"-e", "$SIG{INT} = $SIG{QUIT} = 'DEFAULT'; exec @ARGV or die", "setsid",
                     e2e::BuildDir() + "/qpmake", "mk.cfg"},
                    Options());
  }
  e2e::RunResult Shell(const std::string& script, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {"-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return e2e::Run("/bin/sh", argv, Options());
  }
  Lines Log() const {
    Lines lines;
    std::string text = scratch_.Read("log.txt");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }

  e2e::Scratch scratch_;
  std::string standin_;
  std::map<std::string, std::string> env_;
};

TEST_F(QpmakeRunsTest, TheUsersInterruptOfACommandStopsTheRun) {
  struct Case {
    const char* signal;
    int status;
    const char* description;
  } cases[] = {{"INT", 130, "signal 2 (Interrupt)"}, {"QUIT", 131, "signal 3 (Quit)"}};
  for (const Case& c : cases) {
    platform::RemoveTree(scratch_.Path("log.txt"));
    std::string command = std::string("kill -") + c.signal + " 0";
    e2e::RunResult r = MakeInItsOwnGroup("[before]\r\necho before >> log.txt\r\n" + command +
                            "\r\necho later >> log.txt\r\n"
                            "[make]\r\na.lua = a.qp\r\n[after]\r\necho after >> log.txt\r\n"
                            "[crc32]\r\nlog.txt = log.crc\r\n");
    EXPECT_EQ(r.exit_code, c.status) << r.output;
    EXPECT_EQ(r.lines, Lines{"qpmake: the command '" + command + "' was ended by " + c.description});
    EXPECT_EQ(Log(), Lines{"before"});
    EXPECT_FALSE(platform::PathExists(scratch_.Path("log.crc")));
  }
}

TEST_F(QpmakeRunsTest, TheUsersInterruptOfTheCompilerStopsTheRun) {
  e2e::RunResult r = MakeInItsOwnGroup(
      "[make]\r\na.lua = a.qp\r\nint.lua = int.qp\r\nc.lua = c.qp\r\n"
      "[after]\r\necho after >> log.txt\r\n[crc32]\r\nlog.txt = log.crc\r\n");
  EXPECT_EQ(r.exit_code, 130) << r.output;
  EXPECT_EQ(r.lines, Lines{"qpmake: the compiler '" + standin_ + "' was ended by signal 2 (Interrupt)"});
  EXPECT_EQ(Log(), (Lines{"cli a.lua", "cli int.lua"}));
  EXPECT_FALSE(platform::PathExists(scratch_.Path("log.crc")));
}

TEST_F(QpmakeRunsTest, ACompilerThatDiesOrCannotStartIsNamedAndTheRunGoesOn) {
  const std::string makefile =
      "[make]\r\nkill.lua = k.qp\r\nb.lua = b.qp\r\n[after]\r\necho after >> log.txt\r\n";
  e2e::RunResult killed = Make(makefile);
  EXPECT_EQ(killed.exit_code, 1);
  EXPECT_EQ(killed.lines, Lines{"qpmake: the compiler '" + standin_ + "' was ended by signal 9 (Killed)"});
  EXPECT_EQ(Log(), (Lines{"cli kill.lua", "cli b.lua", "after"}));

  std::string plain = scratch_.Write("tools/not-a-program", "#!/bin/sh\n");
  struct Case {
    std::string compiler;
    std::string reason;
  } cases[] = {{"/nonexistent/akqp-cli", "No such file or directory"}, {plain, "Permission denied"}};
  for (const Case& c : cases) {
    platform::RemoveTree(scratch_.Path("log.txt"));
    env_["AKQP_CLI"] = c.compiler;
    e2e::RunResult r = Make(makefile);
    EXPECT_EQ(r.exit_code, 1);
    const std::string line = "qpmake: could not start the compiler '" + c.compiler + "': " + c.reason;
    EXPECT_EQ(r.lines, (Lines{line, line}));
    EXPECT_EQ(Log(), Lines{"after"});
  }
}

TEST_F(QpmakeRunsTest, TheCompilerEndsWithQpmake) {
  scratch_.Write("mk.cfg", "[make]\r\nsleep.lua = s.qp\r\n[after]\r\necho after >> log.txt\r\n");
  for (const auto& [signal, status] : {std::pair<std::string, int>{"TERM", 143}, {"HUP", 129}, {"KILL", 137}}) {
    platform::RemoveTree(scratch_.Path("compiler.pid"));
    platform::RemoveTree(scratch_.Path("log.txt"));
    e2e::RunResult r = Shell(kSignalDuringCompile, {signal});
    EXPECT_TRUE(Has(r.lines, "status=" + std::to_string(status))) << signal << "\n" << r.output;
    EXPECT_TRUE(Has(r.lines, "compiler gone")) << signal << "\n" << r.output;
    EXPECT_EQ(Log(), Lines{"cli sleep.lua"}) << signal;
  }
}

TEST_F(QpmakeRunsTest, HelpAndVersionAnswer) {
  e2e::RunResult help = e2e::Run("qpmake", {"--help"}, Options());
  EXPECT_EQ(help.exit_code, 0);
  ASSERT_GT(help.lines.size(), 3u);
  EXPECT_EQ(help.lines[0], "usage: qpmake <makefile>");
  EXPECT_TRUE(Has(help.lines, "  --version  the version of qpmake"));
  e2e::RunResult version = e2e::Run("qpmake", {"--version"}, Options());
  EXPECT_EQ(version.exit_code, 0);
  ASSERT_EQ(version.lines.size(), 1u);
  EXPECT_EQ(version.lines[0].rfind("qpmake ", 0), 0u);
  EXPECT_GT(version.lines[0].size(), 7u);
  // A makefile of that name is still reachable as a path.
  scratch_.Write("--help", "[before]\r\necho ran >> log.txt\r\n");
  EXPECT_EQ(e2e::Run("qpmake", {"./--help"}, Options()).exit_code, 0);
  EXPECT_EQ(Log(), Lines{"ran"});
}

TEST_F(QpmakeRunsTest, AClosedConsoleStopsNothing) {
  scratch_.Write("mk.cfg",
                 "[before]\r\nseq 1 50000 || true\r\n[make]\r\na.lua = a.qp\r\n"
                 "[crc32]\r\nmissing.txt = m.crc\r\nlog.txt = log.crc\r\n");
  e2e::RunResult r = Shell("{ \"$QPMAKE\" mk.cfg; echo $? > status.txt; } | head -n1");
  EXPECT_EQ(r.lines, Lines{"1"});
  EXPECT_EQ(scratch_.Read("status.txt"), "0\n");
  EXPECT_EQ(Log(), Lines{"cli a.lua"});
  EXPECT_EQ(scratch_.Read("m.crc"), "0");
  // Written after the message about missing.txt went to the closed pipe.
  EXPECT_TRUE(platform::IsFile(scratch_.Path("log.crc")));
}

TEST_F(QpmakeRunsTest, CommandsSeeBrokenPipesAsUsual) {
  // A writer whose reader has gone ends quietly, as in any shell, rather than complain.
  e2e::RunResult r = Make("[before]\r\nyes | head -c 1 > /dev/null\r\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "");
}

}  // namespace
