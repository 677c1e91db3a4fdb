#include "common/settings/settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/settings/default_syntax.h"
#include "common/settings/settings_file.h"

namespace settings {
namespace {

const char kDefaultSettings[] =
    "[settings]\r\n"
    "general::winpos = 1\r\n"
    "general::lastsource = 1\r\n"
    "general::showsplash = 1\r\n"
    "ams::xmlfiles = 1\r\n"
    "ams::lmdfiles = 1\r\n"
    "ams::helpfiles = 1\r\n"
    "editor::monitor = 1\r\n"
    "editor::autosave = 0\r\n"
    "editor::font-size = 9\r\n"
    "editor::font = Courier New\r\n"
    "editor::tabsize = 4\r\n"
    "editor::real-tab = 0\r\n"
    "syntax::current = default\r\n"
    "compiler::warnings = 1\r\n"
    "compiler::information = 1\r\n"
    "verify::ignore = 0\r\n"
    "verify::remind = 0\r\n";

// A scratch base folder with the product folder below it, as the settings folder sits
// below the configuration base folder.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = platform::MakeTempFolder("akqp-settings");
    ASSERT_FALSE(base_.empty());
    product_ = base_ + "/Ardent Kestrel QP/";
    ClearForTest();
  }
  void TearDown() override {
    platform::RemoveTree(base_);
    ClearForTest();
  }
  std::string Path(std::string_view name) const { return product_ + std::string(name); }
  void WriteSettings(const std::string& text) {
    ASSERT_TRUE(platform::MakeDirectory(product_));
    ASSERT_TRUE(platform::WriteFileAtomic(Path(kSettingsFileName), text));
  }
  std::string ReadSettings() const {
    return platform::ReadFile(Path(kSettingsFileName)).value_or("<unreadable>");
  }

  std::string base_;
  std::string product_;
};

TEST(DefaultSyntaxTest, IsTheFixedTextOfTheEditor) {
  const std::string& text = DefaultSyntaxText();
  EXPECT_EQ(text.size(), 442u);
  EXPECT_EQ(text.substr(0, 10), "[syntax]\r\n");
  EXPECT_EQ(text.substr(text.size() - 33), "lua::keywords::2 = 12615680\r\n\r\n\r\n");
  SettingsFile file;
  file.Parse(text);
  EXPECT_EQ(file.Entries("syntax").size(), 15u);
  EXPECT_EQ(file.ReadInt("syntax", "text::normal", 0), 16777215);
}

TEST_F(SettingsTest, FirstStartMakesTheFolderAndEveryFile) {
  PrepareInFolder(product_);
  EnsureFolderAndConfigIn(product_);
  EXPECT_TRUE(platform::IsDirectory(product_ + "syntax"));
  EXPECT_EQ(platform::ReadFile(Path(kDefaultSyntaxFileName)).value_or(""), DefaultSyntaxText());
  EXPECT_EQ(platform::FileSize(Path(kCustomSyntaxFileName)), 0);
  EXPECT_EQ(platform::FileSize(Path(kConfigFileName)), 0);
  EXPECT_EQ(ReadSettings(), kDefaultSettings);
  EXPECT_EQ(Lookup("compiler::warnings"), 1);
  EXPECT_EQ(Lookup("editor::font-size"), 9);
  EXPECT_EQ(Lookup("editor::font"), 0);  // a text key has no integer
  EXPECT_EQ(Lookup("no::such::key"), 0);
}

TEST_F(SettingsTest, KeepsTheUsersFileAndAddsMissingKeys) {
  WriteSettings(
      "; my settings\r\n"
      "[Settings]\r\n"
      ";comment\r\n"
      "\r\n"
      "COMPILER::WARNINGS = 0\r\n"
      "unknown::key = kept\r\n"
      "[elsewhere]\r\n"
      "x = 1\r\n");
  PrepareInFolder(product_);
  EXPECT_EQ(Lookup("compiler::warnings"), 0);
  EXPECT_EQ(Lookup("compiler::information"), 1);
  std::string expected =
      "; my settings\r\n"
      "[Settings]\r\n"
      "; comment\r\n"
      "compiler::warnings = 0\r\n"
      "unknown::key = kept\r\n";
  // The other sixteen keys follow at the end of the group, before the next header.
  std::string defaults = kDefaultSettings;
  size_t pos = std::string::npos;
  for (size_t start = defaults.find('\n') + 1; start < defaults.size(); start = pos + 1) {
    pos = defaults.find('\n', start);
    std::string line = defaults.substr(start, pos + 1 - start);
    if (line.rfind("compiler::warnings", 0) != 0) expected += line;
  }
  expected += "[elsewhere]\r\nx = 1\r\n";
  EXPECT_EQ(ReadSettings(), expected);
}

TEST_F(SettingsTest, WritesValuesBackInTheirCanonicalForm) {
  WriteSettings(
      "\xEF\xBB\xBF[settings]\r\n"
      "compiler::warnings = off\r\n"
      "editor::font =\r\n"
      "verify::ignore = 1\r\n"
      "compiler::information = 0\r\n"
      "syntax::current = my style  \r\n");
  PrepareInFolder(product_);
  EXPECT_EQ(Lookup("compiler::warnings"), 0);
  EXPECT_EQ(Lookup("verify::ignore"), 1);
  EXPECT_EQ(Lookup("compiler::information"), 0);
  std::string text = ReadSettings();
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(text.find("\r\ncompiler::warnings = 0\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\neditor::font = 0\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nsyntax::current = my style\r\n"), std::string::npos);
  // Written once, the file reads back the same and is stable from then on.
  PrepareInFolder(product_);
  EXPECT_EQ(ReadSettings(), text);
}

TEST_F(SettingsTest, AnUnreadableSettingsFileIsLeftAloneAndDefaultsApply) {
  ASSERT_TRUE(platform::MakeDirectory(product_));
  ASSERT_TRUE(platform::MakeDirectory(Path(kSettingsFileName)));
  PrepareInFolder(product_);
  EXPECT_TRUE(platform::IsDirectory(Path(kSettingsFileName)));
  EXPECT_EQ(Lookup("compiler::warnings"), 1);
  EXPECT_EQ(Lookup("verify::remind"), 0);
}

TEST_F(SettingsTest, RewritesTheDefaultSyntaxFileWhole) {
  ASSERT_TRUE(platform::MakeDirectory(product_));
  ASSERT_TRUE(platform::MakeDirectory(product_ + "syntax"));
  std::string longer = DefaultSyntaxText() + "user's extra line that must go\r\n";
  ASSERT_TRUE(platform::WriteFileAtomic(Path(kDefaultSyntaxFileName), longer));
  ASSERT_TRUE(platform::WriteFileAtomic(Path(kCustomSyntaxFileName), "mine"));
  PrepareInFolder(product_);
  EXPECT_EQ(platform::ReadFile(Path(kDefaultSyntaxFileName)).value_or(""), DefaultSyntaxText());
  EXPECT_EQ(platform::ReadFile(Path(kCustomSyntaxFileName)).value_or(""), "mine");
}

TEST_F(SettingsTest, FoldersThatCannotBeMadeArePassedOver) {
  // A file where the settings folder should be: nothing can be made, nothing fails.
  ASSERT_TRUE(platform::WriteFileAtomic(base_ + "/Ardent Kestrel QP", "in the way"));
  PrepareInFolder(product_);
  EnsureFolderAndConfigIn(product_);
  EXPECT_EQ(platform::ReadFile(base_ + "/Ardent Kestrel QP").value_or(""), "in the way");
  EXPECT_EQ(Lookup("compiler::warnings"), 1);
}

TEST_F(SettingsTest, ConfigFileIsOnlyEverCreated) {
  EnsureFolderAndConfigIn(product_);
  EXPECT_EQ(platform::FileSize(Path(kConfigFileName)), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(Path(kConfigFileName), "keep"));
  EnsureFolderAndConfigIn(product_);
  EXPECT_EQ(platform::ReadFile(Path(kConfigFileName)).value_or(""), "keep");
}

// Twenty compilers started at once never leave an empty or mixed settings file.
TEST_F(SettingsTest, ConcurrentStartsLeaveAWholeFile) {
  // The probe is built beside this test program.
  std::string probe = platform::FindProgram("settings_startup_probe", platform::ProgramFolder());
  ASSERT_TRUE(platform::IsFile(probe)) << platform::ProgramFolder();
  // The probes take their settings folder from our environment.
  std::optional<std::string> own = platform::GetEnvironment("AKQP_CONFIG_HOME");
  platform::SetEnvironment("AKQP_CONFIG_HOME", base_);
  std::string user_file = std::string(kDefaultSettings);
  user_file.replace(user_file.find("compiler::warnings = 1"), 22, "compiler::warnings = 0");

  for (int round = 0; round < 4; ++round) {
    // Odd rounds start from a user's file, even ones from nothing at all.
    platform::RemoveTree(product_);
    if (round % 2 == 1) WriteSettings(user_file);
    std::vector<std::thread> threads;
    std::vector<int> codes(20, -1);
    for (int i = 0; i < 20; ++i) {
      threads.emplace_back([&, i] {
        platform::ProcessOptions options;
        options.timeout_ms = 30000;
        codes[i] = platform::RunProcess({probe}, options).exit_code;
      });
    }
    for (std::thread& t : threads) t.join();
    for (int code : codes) EXPECT_EQ(code, round % 2 == 1 ? 10 : 0) << "round " << round;
    EXPECT_EQ(ReadSettings(), round % 2 == 1 ? user_file : std::string(kDefaultSettings));
    EXPECT_EQ(platform::ReadFile(Path(kDefaultSyntaxFileName)).value_or(""), DefaultSyntaxText());
  }
  if (own)
    platform::SetEnvironment("AKQP_CONFIG_HOME", *own);
  else
    platform::UnsetEnvironment("AKQP_CONFIG_HOME");
}

}  // namespace
}  // namespace settings
