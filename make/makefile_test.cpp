#include "make/makefile.h"

#include <gtest/gtest.h>

#include "common/platform/fs.h"

namespace qpmake {
namespace {

MakePlan PlanOf(std::string_view text) {
  settings::SettingsFile file;
  file.Parse(text);
  return ReadPlan(file);
}

TEST(MakefileTest, CollectsTheEntriesOfEachGroup) {
  MakePlan plan = PlanOf(
      "a.lua = before-any-group.qp\r\n"
      "[ make ]\r\n"
      "b.lua = untrimmed-name.qp\r\n"
      "[Make]\r\n"
      "src/c.lua = build\\out\\c.qp\r\n"
      "no-output.lua =\r\n"
      "= no-input.qp\r\n"
      "[MAKE]\r\n"
      "d.lua = second-group.qp\r\n"
      "[before]\r\n"
      "  set A=1\r\n"
      "echo trailing = \r\n"
      "   = skipped\r\n"
      "# note\r\n"
      "[Crc32]\r\n"
      "build\\c.qp = build/c.crc\r\n"
      "[verify]\r\n"
      "other = o.xml\r\n"
      "VERIFY =  checks.xml \t\r\n");
  ASSERT_EQ(plan.targets.size(), 1u);
  EXPECT_EQ(plan.targets[0].input, platform::NativePath("src/c.lua"));
  EXPECT_EQ(plan.targets[0].output, platform::NativePath("build/out/c.qp"));
  EXPECT_EQ(plan.before, (std::vector<std::string>{"set A=1", "echo trailing = ", "# note"}));
  ASSERT_EQ(plan.checksums.size(), 1u);
  EXPECT_EQ(plan.checksums[0].input, platform::NativePath("build/c.qp"));
  EXPECT_EQ(plan.checksums[0].output, platform::NativePath("build/c.crc"));
  EXPECT_EQ(plan.verify_value, "checks.xml");
  EXPECT_TRUE(plan.after.empty());
}

TEST(MakefileTest, UsesOnlyAVerifyFileThatHoldsSomething) {
  std::string folder = platform::MakeTempFolder("akqp-qpmake");
  ASSERT_TRUE(platform::WriteFileAtomic(folder + "/full.xml", "<x/>"));
  ASSERT_TRUE(platform::WriteFileAtomic(folder + "/empty.xml", ""));
  ASSERT_TRUE(platform::MakeDirectory(folder + "/dir.xml"));
  EXPECT_EQ(ChooseVerifyFile(folder + "\\full.xml"), platform::NativePath(folder + "/full.xml"));
  EXPECT_EQ(ChooseVerifyFile(folder + "/empty.xml"), "");
  EXPECT_EQ(ChooseVerifyFile(folder + "/dir.xml"), "");
  EXPECT_EQ(ChooseVerifyFile(folder + "/missing.xml"), "");
  platform::RemoveTree(folder);
}

}  // namespace
}  // namespace qpmake
