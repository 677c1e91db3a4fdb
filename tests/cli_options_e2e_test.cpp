// akqp-cli's answers to what a user types by hand: -h, a misspelt option, a --verify
// file that forms no section.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

class CliOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.Write("a.lua", "return { info = { name = \"m\" } }\n");
  }
  // Runs akqp-cli through the command interpreter (sh, or a cmd.exe batch file) so that
  // standard output and standard error are kept apart: `out` gets the first, the file
  // err.txt the second.
  e2e::RunResult Cli(const std::string& args) {
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.cwd = scratch_.path();
#ifdef _WIN32
    return e2e::RunShellScript(scratch_, "cli.cmd",
                               "@\"" + e2e::Program("akqp-cli") + "\" " + args + " 2>err.txt\r\n", options);
#else
    return e2e::Run("/bin/sh", {"-c", "'" + e2e::BuildDir() + "/akqp-cli' " + args + " 2>err.txt"},
                    options);
#endif
  }
  // Standard error's text with LF line ends.
  std::string Err() const {
    std::string text = scratch_.Read("err.txt");
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }
  e2e::Scratch scratch_;
};

TEST_F(CliOptionsTest, ShortHelpIsTheHelp) {
  e2e::RunResult help = Cli("--help");
  e2e::RunResult h = Cli("-h");
  EXPECT_EQ(h.exit_code, 0);
  EXPECT_EQ(h.output, help.output);
  EXPECT_NE(h.output.find("--memory-limit"), std::string::npos);
  EXPECT_EQ(Err(), "");
}

TEST_F(CliOptionsTest, AnUnknownOptionIsNamedOnStandardErrorOnly) {
  e2e::RunResult plain = Cli("--lua a.lua --out a.qp");
  ASSERT_EQ(plain.exit_code, 0) << plain.output;
  e2e::RunResult misspelt = Cli("--lua a.lua --verfiy x.xml -zz --out a.qp");
  EXPECT_EQ(misspelt.exit_code, 0);
  EXPECT_EQ(misspelt.output, plain.output);
  EXPECT_EQ(Err(),
            "akqp-cli: unknown option '--verfiy' ignored\n"
            "akqp-cli: unknown option '-zz' ignored\n");
  // The check that follows still runs as before.
  e2e::RunResult no_input = Cli("--lau a.lua --out a.qp");
  EXPECT_EQ(no_input.lines, Lines{"[ERROR] akqp-cli: Input file not found."});
  EXPECT_EQ(Err(), "akqp-cli: unknown option '--lau' ignored\n");
}

TEST_F(CliOptionsTest, AVerifyFileWithoutASectionIsNamed) {
  const std::string warning =
      "[Warning]: Verify file 'bare.xml' holds no <akqp:verify> section, so the QP file gets "
      "no verification records.";
  scratch_.Write("bare.xml", "<version><ams>9</ams></version>\n");
  scratch_.Write("good.xml", "<akqp:verify>\n  <version><ams>9</ams></version>\n</akqp:verify>\n");
  e2e::RunResult bare = Cli("--lua a.lua --out a.qp --verify bare.xml");
  EXPECT_EQ(bare.exit_code, 0);
  ASSERT_GE(bare.lines.size(), 2u);
  EXPECT_EQ(bare.lines[0], "Compiling 'a.lua'...");
  EXPECT_EQ(bare.lines[1], warning);

  e2e::RunResult good = Cli("--lua a.lua --out a.qp --verify good.xml");
  EXPECT_EQ(good.exit_code, 0);
  EXPECT_EQ(good.output.find("[Warning]"), std::string::npos) << good.output;

  scratch_.WriteSettings("[settings]\ncompiler::warnings = 0\n");
  e2e::RunResult quiet = Cli("--lua a.lua --out a.qp --verify bare.xml");
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.output.find("[Warning]"), std::string::npos) << quiet.output;
}

}  // namespace
