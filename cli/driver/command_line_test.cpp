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

TEST(CommandLine, HelpAndVersionAnswerToEitherForm) {
  for (auto args : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"-help"}, {"--lua", "a.lua", "-h"}, {"--help", "x"}}) {
    EXPECT_TRUE(AsksForHelp(ParseCommandLine(args))) << args.front();
  }
  EXPECT_FALSE(AsksForHelp(ParseCommandLine({"--lua", "-h.lua"})));  // a group of switches
  EXPECT_FALSE(AsksForHelp(ParseCommandLine({"--lua", "h"})));        // a value
  EXPECT_TRUE(AsksForVersion(ParseCommandLine({"-version"})));
  EXPECT_FALSE(AsksForVersion(ParseCommandLine({"--out", "version"})));
}

TEST(CommandLine, UnknownOptionsAreListedAsWritten) {
  CommandLine line = ParseCommandLine({"--verfiy", "x.xml", "--lua", "a.lua", "-abc", "--out",
                                       "b.qp", "--memory-limit", "9", "stray", "-", "--", "v"});
  EXPECT_EQ(UnknownOptions(line), (std::vector<std::string>{"--verfiy", "-abc"}));
  EXPECT_EQ(line.Value("verfiy"), "x.xml");  // still read as specified, and ignored
  EXPECT_TRUE(UnknownOptions(ParseCommandLine({"-lua", "a", "-out", "b", "--verify", "c",
                                               "--help", "--version", "-h"}))
                  .empty());
  // A value that begins with "-" is read as an option, so it is named too.
  EXPECT_EQ(UnknownOptions(ParseCommandLine({"--lua", "-x.lua"})),
            (std::vector<std::string>{"-x.lua"}));
}

TEST(CommandLine, HelpNamesEveryKnownOption) {
  std::string text;
  for (const std::string& line : HelpText()) text += line + "\n";
  for (const char* option : {"--lua", "--out", "--verify", "--memory-limit", "--help", "-h",
                             "--version"})
    EXPECT_NE(text.find(option), std::string::npos) << option;
  EXPECT_EQ(HelpText().front(), kUsageLine);
}

}  // namespace
