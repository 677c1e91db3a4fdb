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
  // Either separator as the user wrote it comes out as the native one.
  const std::string sep(1, platform::kSeparator);
  EXPECT_EQ(platform::NativePath("a\\b/c.lua"), "a" + sep + "b" + sep + "c.lua");
  EXPECT_EQ(platform::FileName("x/y/z.qp"), "z.qp");
  EXPECT_EQ(platform::FileName("z.qp"), "z.qp");
  EXPECT_EQ(platform::FolderOf("x/y/z.qp"), "x/y/");
  EXPECT_EQ(platform::FolderOf("z.qp"), "");
  // The root is "/" on POSIX and the current drive's ("C:\\") on Windows.
  const std::string root = platform::CanonicalPath("/");
  EXPECT_TRUE(platform::IsAbsolutePath(root));
  EXPECT_EQ(platform::CanonicalPath(root + "a/b/../c/./d"), root + "a" + sep + "c" + sep + "d");
}

TEST(Fs, ReadFileRefusesFoldersAndMissingFiles) {
  EXPECT_FALSE(platform::ReadFile("/").has_value());
  EXPECT_FALSE(platform::ReadFile("/nonexistent/file").has_value());
}

}  // namespace
