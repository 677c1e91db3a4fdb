#include "cli/driver/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, LongOptionsTakeTheFollowingArgumentInAnyOrder) {
  CommandLine line = ParseCommandLine({"--out", "b.qp", "--lua", "a.lua", "stray"});
  EXPECT_EQ(line.Value("lua"), "a.lua");
  EXPECT_EQ(line.Value("out"), "b.qp");
  EXPECT_EQ(line.count, 5u);
  EXPECT_TRUE(line.switches.empty());
}

TEST(CommandLine, SingleDashBeforeANameWorksLikeTwo) {
  CommandLine line = ParseCommandLine({"-lua", "a.lua"});
  EXPECT_EQ(line.Value("lua"), "a.lua");
}

TEST(CommandLine, LastOptionWithoutValueBecomesASwitch) {
  CommandLine line = ParseCommandLine({"--lua", "a.lua", "--out"});
  EXPECT_EQ(line.Value("out"), "");
  EXPECT_TRUE(line.Switch("out"));
}

TEST(CommandLine, ValueBeginningWithDashIsNeverAValue) {
  // The option before it becomes a switch and the value a group of short switches.
  CommandLine line = ParseCommandLine({"--lua", "-ab", "--out", "x.qp"});
  EXPECT_EQ(line.Value("lua"), "");
  EXPECT_TRUE(line.Switch("lua"));
  EXPECT_TRUE(line.Switch("a"));
  EXPECT_TRUE(line.Switch("b"));
  EXPECT_FALSE(line.Switch("ab"));
  EXPECT_EQ(line.Value("out"), "x.qp");
}

TEST(CommandLine, LoneDashAndPlainWordsAreIgnored) {
  CommandLine line = ParseCommandLine({"-", "word", "--lua"});
  EXPECT_TRUE(line.values.empty());
  EXPECT_EQ(line.switches.size(), 1u);
  EXPECT_EQ(line.count, 3u);
  // A bare "--" is a group of no short options: it takes a value under the empty name
  // and never touches a real option.
  CommandLine bare = ParseCommandLine({"--", "word", "--lua", "a.lua"});
  EXPECT_EQ(bare.Value(""), "word");
  EXPECT_EQ(bare.Value("lua"), "a.lua");
}

TEST(CommandLine, NamesAreCaseSensitiveAndLaterValuesWin) {
  CommandLine line = ParseCommandLine({"--LUA", "a.lua", "--lua", "b.lua", "--lua", "c.lua"});
  EXPECT_EQ(line.Value("LUA"), "a.lua");
  EXPECT_EQ(line.Value("lua"), "c.lua");
}

}  // namespace
