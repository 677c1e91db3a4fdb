#include "make/checksum.h"

#include <gtest/gtest.h>

#include "common/platform/fs.h"

namespace qpmake {
namespace {

TEST(ChecksumTest, WritesTheCrcAsASignedDecimal) {
  EXPECT_EQ(SignedDecimal(0xCBF43926u), "-873187034");
  EXPECT_EQ(SignedDecimal(0x352441C2u), "891568578");
  EXPECT_EQ(SignedDecimal(0), "0");
  EXPECT_EQ(SignedDecimal(0x80000000u), "-2147483648");
  EXPECT_EQ(SignedDecimal(0x7FFFFFFFu), "2147483647");
}

TEST(ChecksumTest, ReadsTheWholeFileAcrossBlocks) {
  std::string folder = platform::MakeTempFolder("akqp-qpmake");
  ASSERT_TRUE(platform::WriteFileAtomic(folder + "/nine", "123456789"));
  EXPECT_EQ(FileCrc32(folder + "/nine"), 0xCBF43926u);
  ASSERT_TRUE(platform::WriteFileAtomic(folder + "/empty", ""));
  EXPECT_EQ(FileCrc32(folder + "/empty"), 0u);
  // 9000 bytes span three blocks of 4096.
  std::string repeated;
  for (int i = 0; i < 1000; ++i) repeated += "123456789";
  ASSERT_TRUE(platform::WriteFileAtomic(folder + "/long", repeated));
  EXPECT_EQ(FileCrc32(folder + "/long"), 0x407589CFu);
  EXPECT_EQ(FileCrc32(folder + "/missing"), std::nullopt);
  EXPECT_EQ(FileCrc32(folder), std::nullopt);
  platform::RemoveTree(folder);
}

}  // namespace
}  // namespace qpmake
