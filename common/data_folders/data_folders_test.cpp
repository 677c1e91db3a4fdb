#include "common/data_folders/data_folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/platform/fs.h"

namespace {

class DataFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = platform::MakeTempFolder("akqp-data"); }
  void TearDown() override { platform::RemoveTree(root_); }
  void Make(const std::string& folder) { std::filesystem::create_directories(root_ + "/" + folder); }
  std::string root_;
};

TEST_F(DataFoldersTest, BesideTheProgramComesFirst) {
  Make("tree/bin/asm");
  Make("tree/share/akqp/asm");
  Make("tree/bin/help");
  EXPECT_EQ(data_folders::IncludeFolder(root_ + "/tree/bin/"), root_ + "/tree/bin//asm");
  EXPECT_EQ(data_folders::IncludeFolder(root_ + "/tree/bin"), root_ + "/tree/bin//asm");
  EXPECT_EQ(data_folders::HelpPage(root_ + "/tree/bin/"), root_ + "/tree/bin/help/akqp.html");
}

TEST_F(DataFoldersTest, AnInstalledTreeIsFoundFromItsBinFolder) {
  Make("usr/bin");
  Make("usr/share/akqp/asm");
  Make("usr/share/akqp/help");
  EXPECT_EQ(data_folders::DataFolder(root_ + "/usr/bin/", "asm"), root_ + "/usr/share/akqp/");
  EXPECT_EQ(data_folders::IncludeFolder(root_ + "/usr/bin/"), root_ + "/usr/share/akqp//asm");
  EXPECT_EQ(data_folders::HelpPage(root_ + "/usr/bin/"),
            root_ + "/usr/share/akqp/help/akqp.html");
  // Each entry is looked for on its own.
  Make("usr/bin/help");
  EXPECT_EQ(data_folders::HelpPage(root_ + "/usr/bin/"), root_ + "/usr/bin/help/akqp.html");
  EXPECT_EQ(data_folders::IncludeFolder(root_ + "/usr/bin/"), root_ + "/usr/share/akqp//asm");
}

TEST_F(DataFoldersTest, NeitherLayoutGivesTheFolderBesideTheProgram) {
  Make("bare/bin");
  EXPECT_EQ(data_folders::IncludeFolder(root_ + "/bare/bin/"), root_ + "/bare/bin//asm");
  EXPECT_EQ(data_folders::HelpPage(root_ + "/bare/bin/"), root_ + "/bare/bin/help/akqp.html");
  EXPECT_EQ(data_folders::DataFolder("", "asm"), "");  // no program folder known
}

}  // namespace
