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
  void Make(const std::string& folder) { std::filesystem::create_directories(In("/" + folder)); }
  // A path below the scratch folder in the system's form ("\" on Windows).
  std::string In(const std::string& path) const { return root_ + platform::NativePath(path); }
  std::string root_;
};

TEST_F(DataFoldersTest, BesideTheProgramComesFirst) {
  Make("tree/bin/asm");
  Make("tree/share/akqp/asm");
  Make("tree/bin/help");
  EXPECT_EQ(data_folders::IncludeFolder(In("/tree/bin/")), In("/tree/bin//asm"));
  EXPECT_EQ(data_folders::IncludeFolder(In("/tree/bin")), In("/tree/bin//asm"));
  EXPECT_EQ(data_folders::HelpPage(In("/tree/bin/")), In("/tree/bin/help/akqp.html"));
  // A folder that ends with "/" (which Windows takes too) is given no second separator.
  EXPECT_EQ(data_folders::IncludeFolder(root_ + "/tree/bin/"),
            root_ + "/tree/bin/" + platform::kSeparator + "asm");
}

TEST_F(DataFoldersTest, AnInstalledTreeIsFoundFromItsBinFolder) {
  Make("usr/bin");
  Make("usr/share/akqp/asm");
  Make("usr/share/akqp/help");
  EXPECT_EQ(data_folders::DataFolder(In("/usr/bin/"), "asm"), In("/usr/share/akqp/"));
  EXPECT_EQ(data_folders::IncludeFolder(In("/usr/bin/")), In("/usr/share/akqp//asm"));
  EXPECT_EQ(data_folders::HelpPage(In("/usr/bin/")),
            In("/usr/share/akqp/help/akqp.html"));
  // Each entry is looked for on its own.
  Make("usr/bin/help");
  EXPECT_EQ(data_folders::HelpPage(In("/usr/bin/")), In("/usr/bin/help/akqp.html"));
  EXPECT_EQ(data_folders::IncludeFolder(In("/usr/bin/")), In("/usr/share/akqp//asm"));
}

TEST_F(DataFoldersTest, NeitherLayoutGivesTheFolderBesideTheProgram) {
  Make("bare/bin");
  EXPECT_EQ(data_folders::IncludeFolder(In("/bare/bin/")), In("/bare/bin//asm"));
  EXPECT_EQ(data_folders::HelpPage(In("/bare/bin/")), In("/bare/bin/help/akqp.html"));
  EXPECT_EQ(data_folders::DataFolder("", "asm"), "");  // no program folder known
}

}  // namespace
