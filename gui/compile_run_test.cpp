#include "gui/compile_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/platform/fs.h"
#include "tests/e2e_support.h"

namespace gui {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A scratch folder with stand-in compilers: copies of the test stand-in program, each
// acting by its name (see tests/standin/standin.cpp).
class CompileRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = platform::MakeTempFolder("akqp-run-test");
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { platform::RemoveTree(folder_); }

  std::string StandIn(const std::string& mode) {
    std::string path = e2e::StandInCopy(folder_, mode);
    EXPECT_FALSE(path.empty()) << mode;
    return path;
  }

  // Takes lines until the run has finished (or five seconds have passed).
  static std::vector<std::string> Collect(CompileRun& run, bool* finished) {
    std::vector<std::string> all;
    auto deadline = steady_clock::now() + std::chrono::seconds(5);
    *finished = false;
    while (steady_clock::now() < deadline) {
      CompileRun::Batch batch = run.TakeLines();
      for (std::string& line : batch.lines) all.push_back(std::move(line));
      *finished = batch.finished;
      if (*finished) break;
      std::this_thread::sleep_for(milliseconds(5));
    }
    return all;
  }

  std::string folder_;
};

TEST_F(CompileRunTest, PassesInputAndOutputAsSeparateArguments) {
  // Spaces and quotes in paths stay inside their argument: no shell is involved.
  std::string cli = StandIn("lines");
  CompileRun run(cli, "/a b/it's.lua", "/c $d/out.qp", folder_, nullptr);
  bool finished = false;
  std::vector<std::string> lines = Collect(run, &finished);
  EXPECT_TRUE(finished);
  EXPECT_EQ(lines, (std::vector<std::string>{"[--lua]", "[/a b/it's.lua]", "[--out]",
                                             "[/c $d/out.qp]"}));
}

TEST_F(CompileRunTest, DeliversLinesInOrderAsTheyArrive) {
  std::string gate = folder_ + platform::kSeparator + "gate-open";
  // The second line comes only after the test has seen the first.
  std::string cli = StandIn("gate");
  std::atomic<int> wakes{0};
  CompileRun run(cli, gate, "out.qp", folder_, [&] { ++wakes; });
  std::vector<std::string> seen;
  bool finished = false;
  auto deadline = steady_clock::now() + std::chrono::seconds(5);
  while (seen.empty() && steady_clock::now() < deadline) {
    CompileRun::Batch batch = run.TakeLines();
    seen = batch.lines;
    finished = batch.finished;
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(seen, std::vector<std::string>{"first"});
  EXPECT_FALSE(finished);
  EXPECT_GE(wakes.load(), 1);
  ASSERT_TRUE(platform::CreateEmptyFile(gate));
  std::vector<std::string> rest = Collect(run, &finished);
  EXPECT_TRUE(finished);
  EXPECT_EQ(rest, (std::vector<std::string>{"second", "third"}));
}

TEST_F(CompileRunTest, RunsInTheGivenFolder) {
  std::string cli = StandIn("cwd");
  CompileRun run(cli, "in.lua", "out.qp", folder_, nullptr);
  bool finished = false;
  std::vector<std::string> lines = Collect(run, &finished);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(platform::CanonicalPath(lines[0]), platform::CanonicalPath(folder_));
}

TEST_F(CompileRunTest, ACompilerThatCannotStartEndsTheRunWithOneLine) {
  for (const std::string& cli : {std::string(), folder_ + platform::kSeparator + "no-such-compiler"}) {
    CompileRun run(cli, "in.lua", "out.qp", folder_, nullptr);
    bool finished = false;
    std::vector<std::string> lines = Collect(run, &finished);
    EXPECT_TRUE(finished);
    ASSERT_EQ(lines.size(), 1u) << cli;
    EXPECT_NE(lines[0].find("could not be started"), std::string::npos);
  }
  // A compiler that runs but prints nothing is no failure to start.
  CompileRun quiet(StandIn("false"), "in.lua", "out.qp", folder_, nullptr);
  bool finished = false;
  EXPECT_TRUE(Collect(quiet, &finished).empty());
  EXPECT_TRUE(finished);
}

TEST_F(CompileRunTest, WakesOncePerBatchHoweverManyLines) {
  std::string cli = StandIn("count");
  std::atomic<int> wakes{0};
  CompileRun run(cli, "in.lua", "out.qp", folder_, [&] { ++wakes; });
  // Nothing is taken for a while: the lines pile up behind a single wake-up.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(wakes.load(), 1);
  bool finished = false;
  std::vector<std::string> lines = Collect(run, &finished);
  ASSERT_EQ(lines.size(), 2000u);
  EXPECT_EQ(lines.front(), "line0");
  EXPECT_EQ(lines.back(), "line1999");
}

TEST_F(CompileRunTest, TakesALongOutputInPortionsOfTheGivenSize) {
  // 1000 lines of at most 7 bytes (9 with their line end), then the end once the test
  // says so.
  std::string gate = folder_ + platform::kSeparator + "gate-open";
  CompileRun run(StandIn("countgate"), gate, "out.qp", folder_, nullptr);
  std::vector<std::string> all;
  int portions = 0;
  auto deadline = steady_clock::now() + std::chrono::seconds(5);
  while (all.size() < 1000 && steady_clock::now() < deadline) {
    CompileRun::Batch batch = run.TakeLines(1000);
    if (batch.lines.empty()) {
      std::this_thread::sleep_for(milliseconds(5));
      continue;
    }
    ++portions;
    EXPECT_LE(batch.lines.size(), 1000u / 5);
    EXPECT_FALSE(batch.finished);
    all.insert(all.end(), batch.lines.begin(), batch.lines.end());
  }
  EXPECT_GE(portions, 6);
  ASSERT_EQ(all.size(), 1000u);
  EXPECT_EQ(all.front(), "line0");
  EXPECT_EQ(all.back(), "line999");
  ASSERT_TRUE(platform::CreateEmptyFile(gate));
  bool finished = false;
  EXPECT_TRUE(Collect(run, &finished).empty());
  EXPECT_TRUE(finished);

  // A line longer than the limit still comes, alone.
  CompileRun wide(StandIn("gate"), gate, "out.qp", folder_, nullptr);
  std::vector<std::string> lines;
  deadline = steady_clock::now() + std::chrono::seconds(5);
  while (lines.size() < 3 && steady_clock::now() < deadline) {
    CompileRun::Batch batch = wide.TakeLines(4);
    EXPECT_LE(batch.lines.size(), 1u);
    lines.insert(lines.end(), batch.lines.begin(), batch.lines.end());
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(CompileRunTest, ADroppedRunStillAnnouncesItsEnd) {
  std::string gate = folder_ + platform::kSeparator + "gate-open";
  std::atomic<int> wakes{0};
  CompileRun run(StandIn("gate"), gate, "out.qp", folder_, [&] { ++wakes; });
  auto deadline = steady_clock::now() + std::chrono::seconds(5);
  while (wakes.load() == 0 && steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  ASSERT_EQ(wakes.load(), 1);
  run.DropOutput();  // its window closed: "first" is dropped with everything after it
  EXPECT_TRUE(run.TakeLines().lines.empty());
  ASSERT_TRUE(platform::CreateEmptyFile(gate));
  bool finished = false;
  std::vector<std::string> lines = Collect(run, &finished);
  EXPECT_TRUE(finished);
  EXPECT_TRUE(lines.empty());
  // The end is announced just after it is recorded.
  deadline = steady_clock::now() + std::chrono::seconds(5);
  while (wakes.load() < 2 && steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(wakes.load(), 2);  // the end, and nothing for the dropped "second" and "third"
}

TEST_F(CompileRunTest, AbandoningNeverWaitsAndSilencesTheRun) {
  std::string done = folder_ + platform::kSeparator + "done";
  std::string cli = StandIn("late");
  std::atomic<int> wakes{0};
  auto run = std::make_unique<CompileRun>(cli, done, "out.qp", folder_, [&] { ++wakes; });
  auto start = steady_clock::now();
  while (wakes.load() == 0 && steady_clock::now() - start < std::chrono::seconds(5)) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  ASSERT_EQ(wakes.load(), 1);
  auto before = steady_clock::now();
  run.reset();  // the window closes while the compiler still works
  EXPECT_LT(steady_clock::now() - before, milliseconds(200));
  // The compiler is left to finish its work; nobody hears about its later lines.
  auto deadline = steady_clock::now() + std::chrono::seconds(5);
  while (!platform::IsFile(done) && steady_clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_TRUE(platform::IsFile(done));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(wakes.load(), 1);
}

TEST_F(CompileRunTest, FindsTheCompilerBesideTheProgram) {
  if (const char* own = std::getenv("AKQP_CLI"); own && *own) GTEST_SKIP() << "AKQP_CLI is set";
  std::string cli = StandIn("akqp-cli");
  EXPECT_EQ(FindCompiler(folder_ + platform::kSeparator), cli);
  EXPECT_EQ(CompilerArguments("c", "i", "o"),
            (std::vector<std::string>{"c", "--lua", "i", "--out", "o"}));
}

}  // namespace
}  // namespace gui
