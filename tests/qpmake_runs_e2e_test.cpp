// qpmake's commands and compiler runs as processes: Ctrl-C stops the whole run, a
// compiler that cannot start or dies from a signal is named, the compiler ends with
// qpmake, and a console that has gone away stops nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

// The compiler's stand-in: logs its input, then acts on words in the input's name. On
// Windows it is the stand-in program's "compiler" mode, which acts on the same words
// ("kill" ends it as a crash does, "int" as Ctrl+C does, "sleep" keeps it running).
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

using e2e::Has;
using e2e::WaitFor;


class QpmakeRunsTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::Built("qpmake")) GTEST_SKIP() << "qpmake is not built";
#ifdef _WIN32
    ASSERT_TRUE(platform::MakeDirectory(scratch_.Path("tools")));
    standin_ = e2e::StandInCopy(scratch_.Path("tools"), "compiler");
#else
    standin_ = Executable("tools/standin.sh", kStandIn);
#endif
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
  // (On Windows the stand-ins end with Ctrl+C's status themselves: qpmake runs as it is.)
  e2e::RunResult MakeInItsOwnGroup(const std::string& makefile_text) {
#ifdef _WIN32
    return Make(makefile_text);
#else
    scratch_.Write("mk.cfg", makefile_text);
    return e2e::Run("/usr/bin/perl",
                    {"-e", "$SIG{INT} = $SIG{QUIT} = 'DEFAULT'; exec @ARGV or die", "setsid",
                     e2e::BuildDir() + "/qpmake", "mk.cfg"},
                    Options());
#endif
  }
  e2e::RunResult Shell(const std::string& script, const std::vector<std::string>& args = {}) {
    std::vector<std::string> argv = {"-c", script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return e2e::Run("/bin/sh", argv, Options());
  }
  // log.txt split into lines (cmd.exe's echo ends them with CR LF).
  Lines Log() const {
    Lines lines;
    std::string text = scratch_.Read("log.txt");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  e2e::Scratch scratch_;
  std::string standin_;
  std::map<std::string, std::string> env_;
};

TEST_F(QpmakeRunsTest, TheUsersInterruptOfACommandStopsTheRun) {
  struct Case {
    std::string command;
    int status;
    const char* description;
  };
#ifdef _WIN32
  // Windows form: a command that Ctrl+C ended, as cmd.exe reports it (the console's
  // STATUS_CONTROL_C_EXIT; Ctrl+Break ends a program with the same status).
  const Case cases[] = {{"\"" + e2e::StandIn() + "\" exit -1073741510", 130, "Ctrl+C (signal 2)"}};
#else
  const Case cases[] = {{"kill -INT 0", 130, "signal 2 (Interrupt)"}, {"kill -QUIT 0", 131, "signal 3 (Quit)"}};
#endif
  for (const Case& c : cases) {
    platform::RemoveTree(scratch_.Path("log.txt"));
    e2e::RunResult r = MakeInItsOwnGroup("[before]\r\necho before>>log.txt\r\n" + c.command +
                            "\r\necho later>>log.txt\r\n"
                            "[make]\r\na.lua = a.qp\r\n[after]\r\necho after>>log.txt\r\n"
                            "[crc32]\r\nlog.txt = log.crc\r\n");
    EXPECT_EQ(r.exit_code, c.status) << r.output;
    EXPECT_EQ(r.lines, Lines{"qpmake: the command '" + c.command + "' was ended by " + c.description});
    EXPECT_EQ(Log(), Lines{"before"});
    EXPECT_FALSE(platform::PathExists(scratch_.Path("log.crc")));
  }
}

TEST_F(QpmakeRunsTest, TheUsersInterruptOfTheCompilerStopsTheRun) {
  e2e::RunResult r = MakeInItsOwnGroup(
      "[make]\r\na.lua = a.qp\r\nint.lua = int.qp\r\nc.lua = c.qp\r\n"
      "[after]\r\necho after>>log.txt\r\n[crc32]\r\nlog.txt = log.crc\r\n");
  EXPECT_EQ(r.exit_code, 130) << r.output;
#ifdef _WIN32
  const std::string interrupt = "Ctrl+C (signal 2)";
#else
  const std::string interrupt = "signal 2 (Interrupt)";
#endif
  EXPECT_EQ(r.lines, Lines{"qpmake: the compiler '" + standin_ + "' was ended by " + interrupt});
  EXPECT_EQ(Log(), (Lines{"cli a.lua", "cli int.lua"}));
  EXPECT_FALSE(platform::PathExists(scratch_.Path("log.crc")));
}

TEST_F(QpmakeRunsTest, ACompilerThatDiesOrCannotStartIsNamedAndTheRunGoesOn) {
  const std::string makefile =
      "[make]\r\nkill.lua = k.qp\r\nb.lua = b.qp\r\n[after]\r\necho after>>log.txt\r\n";
  e2e::RunResult killed = Make(makefile);
  EXPECT_EQ(killed.exit_code, 1);
#ifdef _WIN32
  // Windows form: a compiler that crashed, named by its exception.
  const std::string death = "exception 0xC0000005 (access violation)";
#else
  const std::string death = "signal 9 (Killed)";
#endif
  EXPECT_EQ(killed.lines, Lines{"qpmake: the compiler '" + standin_ + "' was ended by " + death});
  EXPECT_EQ(Log(), (Lines{"cli kill.lua", "cli b.lua", "after"}));

  std::string plain = scratch_.Write("tools/not-a-program", "#!/bin/sh\n");
  struct Case {
    std::string compiler;
    std::string reason;
  };
#ifdef _WIN32
  const Case cases[] = {{"/nonexistent/akqp-cli", "the file does not exist"},
                        {plain, "the file is not a program that Windows can run"}};
#else
  const Case cases[] = {{"/nonexistent/akqp-cli", "No such file or directory"}, {plain, "Permission denied"}};
#endif
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
  scratch_.Write("mk.cfg", "[make]\r\nsleep.lua = s.qp\r\n[after]\r\necho after>>log.txt\r\n");
#ifdef _WIN32
  // Windows form: TerminateProcess ends qpmake while its compiler runs; the job object
  // ends the compiler with it. The compiler keeps the file "busy" open while it runs, so
  // the file can be removed only once it has gone.
  const std::string busy = scratch_.Path("busy");
  {
    e2e::ScopedEnvironment environment(env_);
    platform::ChildProcess qpmake;
    ASSERT_TRUE(qpmake.Start({e2e::Program("qpmake"), "mk.cfg"}, scratch_.path()));
    EXPECT_TRUE(WaitFor([&] { return platform::PathExists(busy); }, 20)) << "the compiler never ran";
    qpmake.Kill();
  }
  EXPECT_TRUE(WaitFor([&] { platform::RemoveTree(busy); return !platform::PathExists(busy); }, 10))
      << "the compiler survived qpmake";
  EXPECT_EQ(Log(), Lines{"cli sleep.lua"});
#else
  for (const auto& [signal, status] : {std::pair<std::string, int>{"TERM", 143}, {"HUP", 129}, {"KILL", 137}}) {
    platform::RemoveTree(scratch_.Path("compiler.pid"));
    platform::RemoveTree(scratch_.Path("log.txt"));
    e2e::RunResult r = Shell(kSignalDuringCompile, {signal});
    EXPECT_TRUE(Has(r.lines, "status=" + std::to_string(status))) << signal << "\n" << r.output;
    EXPECT_TRUE(Has(r.lines, "compiler gone")) << signal << "\n" << r.output;
    EXPECT_EQ(Log(), Lines{"cli sleep.lua"}) << signal;
  }
#endif
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
  scratch_.Write("--help", "[before]\r\necho ran>>log.txt\r\n");
  EXPECT_EQ(e2e::Run("qpmake", {"./--help"}, Options()).exit_code, 0);
  EXPECT_EQ(Log(), Lines{"ran"});
}

TEST_F(QpmakeRunsTest, AClosedConsoleStopsNothing) {
#ifdef _WIN32
  // Windows form: qpmake's output goes into a pipe whose reader goes away after the first
  // line; the command that writes 50000 lines writes into the same broken pipe. (Wine's
  // cmd.exe makes its pipes through temporary files, so a cmd.exe pipeline would not
  // break.)
  ASSERT_FALSE(e2e::StandInCopy(scratch_.Path("tools"), "count").empty());
  scratch_.Write("mk.cfg",
                 "[before]\r\ntools\\count.exe 50000\r\n[make]\r\na.lua = a.qp\r\n"
                 "[crc32]\r\nmissing.txt = m.crc\r\nlog.txt = log.crc\r\n");
  e2e::FirstLine r =
      e2e::ReadFirstLineThenHangUp({e2e::Program("qpmake"), "mk.cfg"}, scratch_.path(), env_);
  EXPECT_EQ(r.lines, Lines{"line0"});
  EXPECT_EQ(r.exit_code, 0);
#else
  scratch_.Write("mk.cfg",
                 "[before]\r\nseq 1 50000 || true\r\n[make]\r\na.lua = a.qp\r\n"
                 "[crc32]\r\nmissing.txt = m.crc\r\nlog.txt = log.crc\r\n");
  e2e::RunResult r = Shell("{ \"$QPMAKE\" mk.cfg; echo $? > status.txt; } | head -n1");
  EXPECT_EQ(r.lines, Lines{"1"});
  EXPECT_EQ(scratch_.Read("status.txt"), "0\n");
#endif
  EXPECT_EQ(Log(), Lines{"cli a.lua"});
  EXPECT_EQ(scratch_.Read("m.crc"), "0");
  // Written after the message about missing.txt went to the closed pipe.
  EXPECT_TRUE(platform::IsFile(scratch_.Path("log.crc")));
}

TEST_F(QpmakeRunsTest, CommandsSeeBrokenPipesAsUsual) {
  // A writer whose reader has gone ends quietly, as in any shell, rather than complain.
#ifdef _WIN32
  // Windows form: cmd.exe's pipe into a stand-in that ends at once (Windows has no
  // SIGPIPE: the writer sees failed writes; Wine's cmd.exe passes the data through a
  // temporary file instead).
  ASSERT_FALSE(e2e::StandInCopy(scratch_.Path("tools"), "fill").empty());
  ASSERT_FALSE(e2e::StandInCopy(scratch_.Path("tools"), "true").empty());
  e2e::RunResult r = Make("[before]\r\ntools\\fill.exe 1000000 | tools\\true.exe\r\n");
#else
  e2e::RunResult r = Make("[before]\r\nyes | head -c 1 > /dev/null\r\n");
#endif
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "");
}

}  // namespace
