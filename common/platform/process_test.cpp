#include "common/platform/process.h"

#include <gtest/gtest.h>

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

}  // namespace
