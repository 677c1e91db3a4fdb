#include "gui/desktop_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/platform/fs.h"
#include "common/platform/launch.h"

namespace gui {
namespace {

// A stand-in opener that writes its argument into a file, so the test can see what
// would have been opened.
class DesktopOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = platform::MakeTempFolder("akqp-open-test");
    ASSERT_FALSE(folder_.empty());
    opener_ = folder_ + "/opener";
    ASSERT_TRUE(platform::WriteFileAtomic(
        opener_, "#!/bin/sh\nprintf '%s' \"$1\" > '" + folder_ + "/opened.tmp'\nmv '" +
                     folder_ + "/opened.tmp' '" + folder_ + "/opened'\n"));
    ASSERT_EQ(std::system(("chmod +x '" + opener_ + "'").c_str()), 0);
  }
  void TearDown() override { platform::RemoveTree(folder_); }

  // What the opener was given, waiting for it a little: nobody waits for the opener.
  std::string Opened() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!platform::IsFile(folder_ + "/opened") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return platform::ReadFile(folder_ + "/opened").value_or("<nothing>");
  }

  std::string folder_;
  std::string opener_;
};

TEST_F(DesktopOpenTest, OpensTheOutputsFolder) {
  EXPECT_TRUE(OpenOutputFolder(folder_ + "/demo.qp", opener_));
  EXPECT_EQ(Opened(), folder_);
}

TEST_F(DesktopOpenTest, AMissingFolderOrPageIsReportedAndNothingStarts) {
  std::string error;
  EXPECT_FALSE(OpenOutputFolder(folder_ + "/gone/demo.qp", opener_, &error));
  EXPECT_NE(error.find(folder_ + "/gone"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(OpenHelpPage(folder_, opener_, &error));
  EXPECT_NE(error.find(folder_ + "/help/akqp.html"), std::string::npos) << error;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(platform::IsFile(folder_ + "/opened"));
}

TEST_F(DesktopOpenTest, AnEmptyOutputOpensNothing) {
  EXPECT_FALSE(OpenOutputFolder("", opener_));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(platform::IsFile(folder_ + "/opened"));
}

TEST_F(DesktopOpenTest, OpensTheHelpPageBesideTheProgram) {
  EXPECT_EQ(HelpPagePath("/opt/akqp/"), "/opt/akqp/help/akqp.html");
  EXPECT_EQ(HelpPagePath("/opt/akqp"), "/opt/akqp/help/akqp.html");
  ASSERT_TRUE(platform::MakeDirectory(folder_ + "/help"));
  ASSERT_TRUE(platform::WriteFileAtomic(folder_ + "/help/akqp.html", "<html></html>"));
  EXPECT_TRUE(OpenHelpPage(folder_ + "/", opener_));
  EXPECT_EQ(Opened(), folder_ + "/help/akqp.html");
}

TEST_F(DesktopOpenTest, AMissingOpenerIsReported) {
  std::string error;
  EXPECT_FALSE(OpenOutputFolder(folder_ + "/demo.qp", folder_ + "/no-such-opener", &error));
  EXPECT_NE(error.find("no-such-opener"), std::string::npos);
}

TEST_F(DesktopOpenTest, StartDetachedRunsInTheGivenFolderWithoutWaiting) {
  auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(platform::StartDetached({"/bin/sh", "-c", "sleep 0.3; pwd > opened.tmp; mv opened.tmp opened"},
                                      folder_));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(250));
  std::string seen = Opened();
  while (!seen.empty() && seen.back() == '\n') seen.pop_back();
  EXPECT_EQ(platform::CanonicalPath(seen), platform::CanonicalPath(folder_));
  std::string error;
  EXPECT_FALSE(platform::StartDetached({"/bin/sh"}, folder_ + "/missing", &error));
  EXPECT_FALSE(platform::StartDetached({}, folder_, &error));
}

}  // namespace
}  // namespace gui
