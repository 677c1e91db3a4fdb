// akqp-cli end to end: the command line, the script run and its closing lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

class CliTest : public ::testing::Test {
 protected:
  e2e::RunResult Cli(const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.cwd = scratch_.path();
    return e2e::Run("akqp-cli", args, options);
  }
  // Compiles a script written to a.lua; gives the lines after "Compiling 'a.lua'...".
  Lines CompileLines(const std::string& script, int* exit_code = nullptr,
                     const std::vector<std::string>& extra = {}) {
    scratch_.Write("a.lua", script);
    auto r = e2e::Compile(scratch_, "a.lua", "a.qp", extra);
    if (exit_code) *exit_code = r.exit_code;
    EXPECT_FALSE(r.lines.empty());
    if (r.lines.empty()) return {};
    EXPECT_EQ(r.lines[0], "Compiling 'a.lua'...");
    return Lines(r.lines.begin() + 1, r.lines.end());
  }
  e2e::Scratch scratch_;
};

const char kFinished[] = "Script execution has finished.";

TEST_F(CliTest, UsageAndHelp) {
  auto none = Cli({});
  EXPECT_EQ(none.lines, Lines{"Usage: akqp-cli --lua <input script> --out <output QP>"});
  EXPECT_EQ(none.exit_code, 2);
  auto help = Cli({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  ASSERT_GE(help.lines.size(), 4u);
  EXPECT_EQ(help.lines[0], "Usage: akqp-cli --lua <input script> --out <output QP>");
  EXPECT_NE(help.output.find("--verify"), std::string::npos);
  auto version = Cli({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.lines.at(0).rfind("akqp-cli ", 0), 0u);
}

TEST_F(CliTest, CommandLineChecks) {
  scratch_.Write("a.lua", "return {}");
  scratch_.Write("empty.xml", "   ");
  auto check = [&](const std::vector<std::string>& args, const std::string& message) {
    auto r = Cli(args);
    EXPECT_EQ(r.lines, Lines{"[ERROR] akqp-cli: " + message}) << r.output;
    EXPECT_EQ(r.exit_code, 2);
  };
  check({"--out", "a.qp"}, "Input file not found.");
  check({"--lua", "missing.lua", "--out", "a.qp"}, "Input file not found.");
  check({"--lua", ".", "--out", "a.qp"}, "Input file not found.");
  check({"--lua", "a.lua", "--out"}, "Output file empty, provide a valid path!");
  // The value "-x" is read as an option of its own, which is named on standard error.
  auto dash = Cli({"--lua", "-x", "--out", "a.qp"});
  EXPECT_EQ(dash.lines, (Lines{"akqp-cli: unknown option '-x' ignored",
                               "[ERROR] akqp-cli: Input file not found."}));
  EXPECT_EQ(dash.exit_code, 2);
  check({"--lua", "a.lua", "--out", "a.qp", "--verify", "nope.xml"},
        "Verify file specified, but non existent or empty...");
  check({"--lua", "a.lua", "--out", "a.qp", "--verify", "."},
        "Verify file specified, but non existent or empty...");
  check({"--lua", "a.lua", "--out", "a.qp", "--verify", "empty.xml"}, "Verification file was empty");
}

TEST_F(CliTest, OptionOrderAndBackslashPaths) {
  scratch_.Write("sub/b.lua", "print('ran') return 1");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--out", "b.qp", "--lua", "sub/b.lua"},
           {"--lua", "sub\\b.lua", "--out", "b.qp"},
           {"-lua", "sub/b.lua", "--out", "b.qp", "--verify", ""}}) {
    auto r = Cli(args);
    ASSERT_GE(r.lines.size(), 2u) << r.output;
    EXPECT_EQ(r.lines[0], "Compiling 'b.lua'...");
    EXPECT_EQ(r.lines[1], "ran");
  }
}

TEST_F(CliTest, SyntaxErrorIsReportedWithTheChunkName) {
  int code = 0;
  EXPECT_EQ(CompileLines("local a = 1\nlocal b = 2\nreturn {\n+", &code),
            (Lines{"ERROR: Main::[a.lua]:4: unexpected symbol near '+'", "", kFinished}));
  EXPECT_EQ(code, 1);
  EXPECT_EQ(CompileLines("x = = 1"), (Lines{"ERROR: Main::[a.lua]:1: unexpected symbol near '='", "", kFinished}));
}

TEST_F(CliTest, ResultMustBeATable) {
  EXPECT_EQ(CompileLines("return 42"),
            (Lines{"ERROR: The definition script is expected to return a table, got 'number'.", "", kFinished}));
  EXPECT_EQ(CompileLines(""),
            (Lines{"ERROR: The definition script is expected to return a table, got 'nil'.", "", kFinished}));
}

TEST_F(CliTest, RunTimeErrorsOfEveryKind) {
  EXPECT_EQ(CompileLines("error('boom')"), (Lines{"ERROR: Main::[a.lua]:1: boom", "", kFinished}));
  EXPECT_EQ(CompileLines("error({})"), (Lines{"ERROR: (error object is a table value)", "", kFinished}));
  EXPECT_EQ(CompileLines("error()"), (Lines{"ERROR: (error object is a nil value)", "", kFinished}));
  EXPECT_EQ(CompileLines("local x = nil\nreturn x.y"),
            (Lines{"ERROR: Main::[a.lua]:2: attempt to index a nil value (local 'x')", "", kFinished}));
}

TEST_F(CliTest, PrintAndOsExit) {
  auto lines = CompileLines("print(1, nil, true, 'x') print() os.exit(3) print(int('2.5'), int(3.5), sys.hex(255)) return 7");
  EXPECT_EQ(lines, (Lines{"1\tnil\ttrue\tx", "", "You should close the tab! :)", "2.0\t4.0\tFF",
                          "ERROR: The definition script is expected to return a table, got 'number'.", "",
                          kFinished}));
}

TEST_F(CliTest, LoopingScriptIsStoppedAfterOneSecond) {
  auto start = std::chrono::steady_clock::now();
  int code = 0;
  auto lines = CompileLines("while true do end", &code);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(lines, (Lines{"This script is a definition file, and should not have a long execution time!!",
                          "An execution time of one second is way too long, please check your code.", "",
                          kFinished}));
  EXPECT_EQ(code, 1);
  EXPECT_GE(elapsed, std::chrono::milliseconds(1000));
  EXPECT_FALSE(scratch_.Read("a.qp").size());
}

TEST_F(CliTest, ScriptsThatResistStoppingStillEnd) {
  const char* scripts[] = {
      "sys.sleep(1e12) return {}",
      "while true do pcall(function() while true do end end) end",
      "local t = setmetatable({}, {__gc = function() error('gc') end}) t = nil collectgarbage() return 1",
  };
  for (const char* script : scripts) {
    auto start = std::chrono::steady_clock::now();
    auto lines = CompileLines(script);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << script;
    ASSERT_FALSE(lines.empty()) << script;
    EXPECT_EQ(lines.back(), kFinished) << script;
  }
}

TEST_F(CliTest, MetamethodsRunByTheSectionWalkCannotHangOrCrashIt) {
  const char* looping =
      "local probe = setmetatable({}, {__index = function() while true do pcall(function() while true do end end) end end})\n"
      "return { info = { name = 'm' }, structures = { S = setmetatable({}, probe) } }";
  auto lines = CompileLines(looping);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "ERROR: a metamethod ran too long while the sections were checked");
  EXPECT_EQ(lines.back(), kFinished);
  const char* failing =
      "local probe = setmetatable({}, {__index = function() error('probe failed') end})\n"
      "return { info = { name = 'm' }, structures = { S = setmetatable({}, probe) } }";
  lines = CompileLines(failing);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ERROR: Main::[a.lua]:1: probe failed"), lines.end());
  EXPECT_EQ(lines.back(), kFinished);
  EXPECT_TRUE(scratch_.Read("a.qp").empty());
}

TEST_F(CliTest, ScriptStuckReadingAPipeEndsTheCompiler) {
  e2e::RunOptions options;
  options.env = scratch_.Env();
  options.cwd = scratch_.path();
  auto start = std::chrono::steady_clock::now();
#ifdef _WIN32
  // Windows form: Windows has no FIFOs in the file system, so the script is stuck reading
  // its console (a compiler started without a window still has one), where nobody types.
  scratch_.Write("a.lua", "local line = assert(io.open('CONIN$', 'r')):read() return {}");
  auto r = e2e::Run("akqp-cli", {"--lua", "a.lua", "--out", "a.qp"}, options);
  EXPECT_EQ(r.exit_code, 1) << r.output;
  const std::string end = std::string(kFinished) + "\n";
#else
  scratch_.Write("a.lua", "local line = io.read() return {}");
  auto r = e2e::Run("/bin/sh",
                    {"-c", "mkfifo pipe && exec 3<>pipe && \"$0\" --lua a.lua --out a.qp <pipe; echo status=$?",
                     e2e::BuildDir() + "/akqp-cli"},
                    options);
  const std::string end = std::string(kFinished) + "\nstatus=1";
#endif
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_NE(r.output.find("An execution time of one second is way too long"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(end), std::string::npos) << r.output;
}

TEST_F(CliTest, OddInputsGetAClearMessage) {
  EXPECT_EQ(CompileLines(std::string("return {}\0junk", 14)).front().rfind("ERROR: Main::[a.lua]:1:", 0), 0u);
  auto binary = CompileLines(std::string("\x1bLua\x53\x00\x19\x93\r\n\x1a\n", 12));
  EXPECT_NE(binary.front().find("attempt to load a binary chunk"), std::string::npos) << binary.front();
  auto sleepy = CompileLines("assert(sys.cwd('/nonexistent/x') == false) sys.sleep(-1) print(sys.bin(0), sys.hex(-1), int(1e300)) return 1");
  EXPECT_EQ(sleepy.front(), "0\tFFFFFFFFFFFFFFFF\t-2147483648.0");
  auto memory = CompileLines("local t = {} while true do t[#t + 1] = string.rep('x', 1 << 20) .. #t end", nullptr,
                             {"--memory-limit", "16"});
  ASSERT_EQ(memory.size(), 3u);
  EXPECT_NE(memory[0].find("not enough memory"), std::string::npos) << memory[0];
  EXPECT_EQ(memory[2], kFinished);
}

TEST_F(CliTest, FirstRunMakesTheSettingsFolder) {
  CompileLines("return 1");
  std::string folder = scratch_.path() + "/config/Ardent Kestrel QP/";
  EXPECT_EQ(scratch_.Read(folder + "syntax/default.cfg").size(), 442u);
  EXPECT_NE(scratch_.Read(folder + "settings.cfg").find("compiler::warnings = 1\r\n"), std::string::npos);
  EXPECT_TRUE(scratch_.Read(folder + "akqp.cfg").empty());
}

}  // namespace
