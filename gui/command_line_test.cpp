#include "gui/command_line.h"

#include <gtest/gtest.h>

namespace gui {
namespace {

TEST(CommandLineTest, TakesAnInputAndAnOutput) {
  CommandLine c = ParseCommandLine({});
  EXPECT_TRUE(c.error.empty());
  EXPECT_TRUE(c.input.empty());
  EXPECT_TRUE(c.output.empty());

  c = ParseCommandLine({"demo.lua"});
  EXPECT_EQ(c.input, "demo.lua");
  EXPECT_TRUE(c.output.empty());

  c = ParseCommandLine({"demo.lua", "out/demo.qp"});
  EXPECT_EQ(c.input, "demo.lua");
  EXPECT_EQ(c.output, "out/demo.qp");
}

TEST(CommandLineTest, TakesTheLogFileAnywhere) {
  CommandLine c = ParseCommandLine({"demo.lua", "--log-to", "log.txt", "demo.qp"});
  EXPECT_TRUE(c.error.empty());
  EXPECT_EQ(c.log_to, "log.txt");
  EXPECT_EQ(c.input, "demo.lua");
  EXPECT_EQ(c.output, "demo.qp");
  EXPECT_FALSE(ParseCommandLine({"--log-to"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--log-to", ""}).error.empty());
}

TEST(CommandLineTest, DoubleDashEndsTheOptions) {
  CommandLine c = ParseCommandLine({"--", "-odd.lua", "--log-to"});
  EXPECT_TRUE(c.error.empty());
  EXPECT_EQ(c.input, "-odd.lua");
  EXPECT_EQ(c.output, "--log-to");
  EXPECT_TRUE(c.log_to.empty());
}

TEST(CommandLineTest, RefusesUnknownOptionsAndExtraPaths) {
  EXPECT_NE(ParseCommandLine({"--verify", "x"}).error.find("--verify"), std::string::npos);
  EXPECT_FALSE(ParseCommandLine({"a.lua", "b.qp", "c"}).error.empty());
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  // A lone "-" is a path, as it is for most programs' file arguments.
  EXPECT_EQ(ParseCommandLine({"-"}).input, "-");
}

}  // namespace
}  // namespace gui
