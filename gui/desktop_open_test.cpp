#include "gui/desktop_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/platform/fs.h"
#include "common/platform/launch.h"
#include "tests/e2e_support.h"

namespace gui {
namespace {

// A stand-in opener (tests/standin) that writes its arguments into a file, so the test
// can see what would have been opened.
class DesktopOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = platform::MakeTempFolder("akqp-open-test");
    ASSERT_FALSE(folder_.empty());
    opener_ = e2e::StandInCopy(folder_, "opener");
    ASSERT_FALSE(opener_.empty());
  }
  void TearDown() override { platform::RemoveTree(folder_); }

  // What the opener was given, waiting for it a little: nobody waits for the opener.
  std::string Opened() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!platform::IsFile(Path("opened")) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return platform::ReadFile(Path("opened")).value_or("<nothing>");
  }

  std::string Path(const std::string& name) const { return folder_ + platform::kSeparator + name; }

  std::string folder_;
  std::string opener_;
};

const std::string kSep(1, platform::kSeparator);

TEST_F(DesktopOpenTest, OpensTheOutputsFolder) {
  EXPECT_TRUE(OpenOutputFolder("/some/where/demo.qp", opener_));
  EXPECT_EQ(Opened(), "/some/where");
}

// An output that exists is shown selected in its folder where the file manager can do
// that (the Explorer's "/select,"); elsewhere its folder is opened.
TEST_F(DesktopOpenTest, AnExistingOutputIsSelectedWhereTheFileManagerCan) {
  const std::string output = Path("demo.qp");
  ASSERT_TRUE(platform::WriteFileAtomic(output, "KSQP"));
  EXPECT_TRUE(OpenOutputFolder(output, opener_));
  const bool explorer = platform::kDesktopOpener == std::string("explorer.exe");
  EXPECT_EQ(Opened(), explorer ? "/select," + output : folder_);
}

TEST_F(DesktopOpenTest, AnEmptyOutputOpensNothing) {
  EXPECT_FALSE(OpenOutputFolder("", opener_));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(platform::IsFile(Path("opened")));
}

TEST_F(DesktopOpenTest, OpensTheHelpPageBesideTheProgram) {
  const std::string program = platform::CanonicalPath("/opt/akqp") + kSep;
  const std::string page = program + "help" + kSep + "akqp.html";
  EXPECT_EQ(HelpPagePath(program), page);
  EXPECT_EQ(HelpPagePath(program.substr(0, program.size() - 1)), page);
  EXPECT_TRUE(OpenHelpPage(program, opener_));
  EXPECT_EQ(Opened(), page);
}

TEST_F(DesktopOpenTest, AMissingOpenerIsReported) {
  std::string error;
  EXPECT_FALSE(OpenOutputFolder("/x/demo.qp", Path("no-such-opener"), &error));
  EXPECT_NE(error.find("no-such-opener"), std::string::npos);
}

TEST_F(DesktopOpenTest, StartDetachedRunsInTheGivenFolderWithoutWaiting) {
  auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(platform::StartDetached({e2e::StandIn(), "cwdfile"}, folder_));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
  std::string seen = Opened();
  while (!seen.empty() && seen.back() == '\n') seen.pop_back();
  EXPECT_EQ(platform::CanonicalPath(seen), platform::CanonicalPath(folder_));
  std::string error;
  EXPECT_FALSE(platform::StartDetached({e2e::StandIn(), "true"}, Path("missing"), &error));
  EXPECT_FALSE(platform::StartDetached({}, folder_, &error));
}

}  // namespace
}  // namespace gui
