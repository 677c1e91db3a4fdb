#include "common/platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "common/platform/fs.h"
#include "common/platform/signal_cleanup.h"

namespace {

TEST(Process, ArgumentsArePassedAsDataNotShellWords) {
  platform::ProcessOptions options;
  auto r = platform::RunProcess({"printf", "%s|", "a b", "$HOME", "x;y", "'q\""}, options);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, "a b|$HOME|x;y|'q\"|");
}

TEST(Process, ReportsExitStatusTimeoutAndMissingProgram) {
  platform::ProcessOptions options;
  EXPECT_EQ(platform::RunProcess({"sh", "-c", "exit 3"}, options).exit_code, 3);
  options.timeout_ms = 200;
  auto slow = platform::RunProcess({"sleep", "10"}, options);
  EXPECT_TRUE(slow.timed_out);
  auto missing = platform::RunProcess({"/nonexistent/program"}, {});
  EXPECT_NE(missing.exit_code, 0);
}

TEST(Process, AProgramThatCannotStartIsReportedWithTheReason) {
  std::string folder = platform::MakeTempFolder("akqp-process");
  platform::WriteFileAtomic(folder + "/plain", "#!/bin/sh\n");
  struct Case {
    std::vector<std::string> argv;
    std::string working_directory;
    std::string error;
  } cases[] = {
      {{"/nonexistent/program"}, "", "No such file or directory"},
      {{"akqp-no-such-program-on-path"}, "", "No such file or directory"},
      {{folder + "/plain"}, "", "Permission denied"},
      {{"true"}, folder + "/missing", "could not change to the folder '" + folder +
                                          "/missing': No such file or directory"},
  };
  for (const Case& c : cases) {
    platform::ProcessOptions options;
    options.working_directory = c.working_directory;
    platform::ProcessResult r = platform::RunProcess(c.argv, options);
    EXPECT_FALSE(r.started) << c.argv[0];
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.exit_code, -1);
  }
  platform::RemoveTree(folder);
}

TEST(Process, AChildEndedByASignalSaysWhich) {
  platform::ProcessOptions options;
  auto killed = platform::RunProcess({"sh", "-c", "kill -KILL $$"}, options);
  EXPECT_TRUE(killed.started);
  EXPECT_EQ(killed.exit_code, -1);
  EXPECT_EQ(killed.signal, 9);
  EXPECT_FALSE(killed.interrupted);
  auto interrupted = platform::RunProcess(
      {"perl", "-e", "$SIG{INT} = 'DEFAULT'; kill 'INT', $$; sleep 5"}, options);
  EXPECT_EQ(interrupted.signal, 2);
  EXPECT_TRUE(interrupted.interrupted);
  auto exited = platform::RunProcess({"sh", "-c", "exit 0"}, options);
  EXPECT_EQ(exited.signal, 0);
  EXPECT_EQ(exited.exit_code, 0);
  EXPECT_EQ(platform::SignalDescription(9), "signal 9 (Killed)");
  EXPECT_EQ(platform::SignalDescription(2), "signal 2 (Interrupt)");
}

TEST(Process, TheLastBytesAreKeptWhenAskedFor) {
  platform::ProcessOptions options;
  options.output_limit = 14;
  options.keep_last_output = true;
  auto r = platform::RunProcess({"seq", "1", "300000"}, options);
  EXPECT_EQ(r.output, "299999\n300000\n");
}

TEST(Process, ChildrenDoNotInheritOurIgnoredBrokenPipes) {
  // Ignored here (as akqp-cli and qpmake do), but a child's writer to a closed pipe
  // still ends quietly instead of complaining.
  auto previous = std::signal(SIGPIPE, SIG_IGN);
  auto r = platform::RunProcess({"sh", "-c", "yes | head -c 1"}, {});
  std::signal(SIGPIPE, previous);
  EXPECT_EQ(r.output, "y");
}

TEST(Process, AnInterruptWhileWaitingEndsOnlyTheChild) {
  // The child sends SIGINT to us; without the option it would end this test program.
  platform::ProcessOptions options;
  options.wait_through_interrupt = true;
  auto r = platform::RunProcess({"perl", "-e", "kill 'INT', getppid(); exit 3"}, options);
  EXPECT_EQ(r.exit_code, 3);
}

TEST(SignalCleanup, ASignalEndsTheRunningChildThenRemovesThePaths) {
  // Forked without running the test again, so that the child uses the same folder.
  GTEST_FLAG_SET(death_test_style, "fast");
  std::string folder = platform::MakeTempFolder("akqp-cleanup");
  std::string pid_file = folder + "/child.pid";
  std::string doomed = folder + "/doomed.tmp";
  platform::WriteFileAtomic(doomed, "x");
  EXPECT_EXIT(
      {
        platform::AddSignalCleanup({doomed});
        std::thread runner([&] {
          platform::RunProcess({"sh", "-c", "echo $$ > '" + pid_file + "'.new && mv '" + pid_file +
                                                "'.new '" + pid_file + "' && exec sleep 30"},
                               {});
        });
        while (!platform::IsFile(pid_file)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::raise(SIGTERM);
        runner.join();
      },
      testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(platform::PathExists(doomed));
  std::string pid = platform::ReadFile(pid_file).value_or("");
  ASSERT_FALSE(pid.empty());
  pid.pop_back();
  // The child was waited for by the handler: no such process is left, not even a zombie.
  EXPECT_FALSE(platform::PathExists("/proc/" + pid));
  platform::RemoveTree(folder);
}

TEST(Process, OutputIsCappedAtTheLimit) {
  platform::ProcessOptions options;
  options.output_limit = 10;
  auto r = platform::RunProcess({"sh", "-c", "yes | head -c 100000"}, options);
  EXPECT_EQ(r.output.size(), 10u);
  EXPECT_EQ(r.exit_code, 0);
}

TEST(Process, ChildLinesAreReadOneByOne) {
  platform::ChildProcess child;
  ASSERT_TRUE(child.Start({"printf", "one\r\ntwo\nthree"}));
  std::string line;
  std::vector<std::string> lines;
  while (child.ReadLine(&line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(child.Wait(), 0);
}

TEST(Process, AChildWhoseReaderHasGoneSeesItsWritesFail) {
  platform::ChildProcess child;
  ASSERT_TRUE(child.Start({"yes"}));
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line));
  EXPECT_EQ(line, "y");
  child.CloseOutput();
  EXPECT_FALSE(child.ReadLine(&line));
  // yes(1) is ended by SIGPIPE at its next write.
  EXPECT_EQ(child.Wait(), -1);
}

}  // namespace
