// akqp-cli on Windows, end to end: paths with "\", "/" and drive letters, the settings
// folder in the application-data folder, dependency checks against system DLLs, and the
// bad input that only Windows has (paths over 260 characters, names in the ANSI code
// page, an output held open by another program).
#include <gtest/gtest.h>

#include <algorithm>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

using e2e::Has;

const char kScript[] = "return { info = { name = 'Win' } }\n";

class WindowsE2eTest : public testing::Test {
 protected:
  e2e::RunResult Cli(const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.cwd = scratch_.path();
    return e2e::Run("akqp-cli", args, options);
  }
  static const std::string* Success(const Lines& lines) {
    for (const std::string& line : lines)
      if (line.rfind("Compilation successful, script compiled to '", 0) == 0) return &line;
    return nullptr;
  }
  e2e::Scratch scratch_;
};

TEST_F(WindowsE2eTest, SlashBackslashAndDriveLetterPathsAllWork) {
  scratch_.Write("src/a.lua", kScript);
  ASSERT_TRUE(platform::MakeDirectory(scratch_.Path("out")));
  // "/" as the user may type it: used with "\".
  e2e::RunResult slash = Cli({"--lua", "src/a.lua", "--out", "out/a.qp"});
  EXPECT_EQ(slash.exit_code, 0) << slash.output;
  EXPECT_EQ(slash.lines.at(0), "Compiling 'a.lua'...");
  EXPECT_TRUE(platform::IsFile(scratch_.Path("out\\a.qp")));
  // Absolute paths with a drive letter, in either separator.
  const std::string absolute = scratch_.Path("src\\a.lua");
  ASSERT_EQ(absolute[1], ':');
  e2e::RunResult drive = Cli({"--lua", absolute, "--out", platform::NativePath(scratch_.path()) + "/out/b.qp"});
  EXPECT_EQ(drive.exit_code, 0) << drive.output;
  ASSERT_NE(Success(drive.lines), nullptr) << drive.output;
  EXPECT_NE(Success(drive.lines)->find("'b.qp'"), std::string::npos);
  EXPECT_TRUE(platform::IsFile(scratch_.Path("out\\b.qp")));
  // Lines end with CR LF.
  EXPECT_NE(drive.raw_output.find("...\r\n"), std::string::npos);
}

TEST_F(WindowsE2eTest, SettingsLiveInTheRoamingApplicationDataFolder) {
  const std::optional<std::string> appdata = platform::GetEnvironment("APPDATA");
  ASSERT_TRUE(appdata.has_value());
  const std::string folder = *appdata + "\\Ardent Kestrel QP\\";
  scratch_.Write("a.lua", kScript);
  e2e::RunOptions options;
  options.env = scratch_.Env();
  options.env["AKQP_CONFIG_HOME"] = "";  // not set: the system's folder
  options.cwd = scratch_.path();
  e2e::RunResult r = e2e::Run("akqp-cli", {"--lua", "a.lua", "--out", "a.qp"}, options);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(platform::IsFile(folder + "settings.cfg"));
  EXPECT_TRUE(platform::IsFile(folder + "akqp.cfg"));
  EXPECT_EQ(platform::FileSize(folder + "syntax\\default.cfg"), 442);
  EXPECT_TRUE(platform::IsFile(folder + "syntax\\custom.cfg"));
}

TEST_F(WindowsE2eTest, DependencyChecksLoadTheSystemsLibraries) {
  scratch_.Write("deps.lua", R"(
return {
  info = { name = "Deps" },
  assemblies = {
    tick = { assembly = "use32\nret", dependencies = { "kernel32.dll|GetTickCount, NoSuchFunction" } },
    box = { assembly = "use32\nret", dependencies = { "user32.dll|MessageBoxA" } },
    gone = { assembly = "use32\nret", dependencies = { "akqp-no-such.dll|f" } },
  },
}
)");
  e2e::RunResult r = Cli({"--lua", "deps.lua", "--out", "deps.qp"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string w = "[WARNING] assemblies: ";
  EXPECT_TRUE(Has(r.lines, w + "In Assembly entry 'tick', 'NoSuchFunction' could not be found in library 'kernel32.dll'."))
      << r.output;
  EXPECT_TRUE(Has(r.lines, w + "In Assembly entry 'gone', library 'akqp-no-such.dll' in 'akqp-no-such.dll|f' "
                               "could not be loaded and thus not be checked."))
      << r.output;
  // GetTickCount and MessageBoxA exist: no other warning.
  EXPECT_EQ(std::count_if(r.lines.begin(), r.lines.end(),
                          [&](const std::string& l) { return l.rfind(w, 0) == 0; }),
            2)
      << r.output;
}

TEST_F(WindowsE2eTest, APathLongerThanWindowsAllowsIsAClearError) {
  scratch_.Write("a.lua", kScript);
  std::string folder = scratch_.path();
  while (folder.size() < 200) {
    folder += "\\" + std::string(30, 'd');
    ASSERT_TRUE(platform::MakeDirectory(folder));
  }
  const std::string output = folder + "\\" + std::string(80, 'o') + ".qp";
  ASSERT_GT(output.size(), 260u);
  e2e::RunResult r = Cli({"--lua", "a.lua", "--out", output});
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_EQ(Success(r.lines), nullptr);
  EXPECT_TRUE(Has(r.lines, "[ERROR] The QP file '" + output +
                               "' could not be written: the path is longer than Windows allows "
                               "(259 characters)."))
      << r.output;
  // Nothing was written under a cut name either.
  EXPECT_FALSE(platform::PathExists(output.substr(0, 259)));
  EXPECT_FALSE(platform::PathExists(output.substr(0, 260)));
}

TEST_F(WindowsE2eTest, NamesInTheAnsiCodePageCompile) {
  // "Übung.lua" in Windows-1252 (the default western ANSI code page).
  const std::string name = "\xDC" "bung";
  if (!platform::WriteFileAtomic(scratch_.Path(name + ".lua"), kScript) ||
      !platform::IsFile(scratch_.Path(name + ".lua")))
    GTEST_SKIP() << "this system's code page has no 'U with diaeresis'";
  e2e::RunResult r = Cli({"--lua", name + ".lua", "--out", name + ".qp"});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.lines.at(0), "Compiling '" + name + ".lua'...");
  EXPECT_TRUE(platform::IsFile(scratch_.Path(name + ".qp")));
}

TEST_F(WindowsE2eTest, AnOutputHeldOpenByAnotherProgramIsKept) {
  scratch_.Write("a.lua", kScript);
  const std::string output = scratch_.Write("held.qp", "previous");
  platform::ChildProcess holder;
  ASSERT_TRUE(holder.Start({e2e::StandIn(), "hold", output}));
  std::string line;
  ASSERT_TRUE(holder.ReadLine(&line));
  ASSERT_EQ(line, "held");
  e2e::RunResult r = Cli({"--lua", "a.lua", "--out", "held.qp"});
  holder.Kill();
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_EQ(Success(r.lines), nullptr);
  bool error = std::any_of(r.lines.begin(), r.lines.end(), [](const std::string& l) {
    return l.rfind("[ERROR] The QP file '", 0) == 0 && l.find("could not be written: ") != std::string::npos;
  });
  EXPECT_TRUE(error) << r.output;
  EXPECT_EQ(scratch_.Read("held.qp"), "previous");
}

TEST_F(WindowsE2eTest, AVerifyPathWithTrailingSpacesIsTrimmed) {
  scratch_.Write("a.lua", kScript);
  scratch_.Write("checks.xml", "<akqp:verify></akqp:verify>");
  e2e::RunResult r = Cli({"--lua", "a.lua", "--out", "a.qp", "--verify", "checks.xml   "});
  EXPECT_NE(r.output.find("Compiling 'a.lua'..."), std::string::npos) << r.output;
  EXPECT_FALSE(Has(r.lines, "[ERROR] akqp-cli: Verify file specified, but non existent or empty..."))
      << r.output;
  e2e::RunResult missing = Cli({"--lua", "a.lua", "--out", "a.qp", "--verify", "missing.xml   "});
  EXPECT_TRUE(Has(missing.lines, "[ERROR] akqp-cli: Verify file specified, but non existent or empty..."))
      << missing.output;
}

}  // namespace
