#include "common/platform/fs.h"

#include <gtest/gtest.h>

namespace {

TEST(Fs, AtomicWriteReplacesWholeFileAndLeavesNoTemporary) {
  std::string dir = platform::MakeTempFolder("fs-test");
  ASSERT_FALSE(dir.empty());
  std::string file = dir + "/a.txt";
  ASSERT_TRUE(platform::WriteFileAtomic(file, "first"));
  ASSERT_TRUE(platform::WriteFileAtomic(file, "second"));
  EXPECT_EQ(*platform::ReadFile(file), "second");
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(dir + "/missing/b.txt", "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(platform::FileSize(file), 6);
  platform::RemoveTree(dir);
  EXPECT_FALSE(platform::PathExists(dir));
}

TEST(Fs, PathPieces) {
  EXPECT_EQ(platform::NativePath("a\\b\\c.lua"), "a/b/c.lua");
  EXPECT_EQ(platform::FileName("x/y/z.qp"), "z.qp");
  EXPECT_EQ(platform::FileName("z.qp"), "z.qp");
  EXPECT_EQ(platform::FolderOf("x/y/z.qp"), "x/y/");
  EXPECT_EQ(platform::FolderOf("z.qp"), "");
  EXPECT_EQ(platform::CanonicalPath("/a/b/../c/./d"), "/a/c/d");
}

TEST(Fs, ReadFileRefusesFoldersAndMissingFiles) {
  EXPECT_FALSE(platform::ReadFile("/").has_value());
  EXPECT_FALSE(platform::ReadFile("/nonexistent/file").has_value());
}

}  // namespace
