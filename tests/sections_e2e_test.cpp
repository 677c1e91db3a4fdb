// The checks of the returned table, end to end: one script draws every warning of the
// information, function, structure, public and constants sections and of the top level.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kScript[] = R"lua(
return {
  [1] = "a top-level entry under a number",
  globals = {},
  Info = {},
  info = {
    name = "  ",
    version = "1.0",
    [2] = "skipped silently",
    finfo = 5,
  },
  functions = { ok = print, ["10"] = print, bad = 1 },
  structures = {
    Good = Kestrel.DefineStruct("Good", { { "x", "int" } }),
    Plain = { x = 1 },
    [3] = {},
  },
  public = { "a", 5, x = "b" },
  constants = { t = {}, f = print, "listed" },
}
)lua";

// Lines between "Compiling" and the closing line, sorted: the walk follows lua_next's
// order, which is no order of the script.
Lines Sorted(const e2e::RunResult& r) {
  Lines lines(r.lines.begin() + 1, r.lines.end());
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(SectionsE2eTest, EveryWarningOfTheWalkAndTheNameError) {
  e2e::Scratch scratch;
  scratch.Write("a.lua", kScript);
  auto r = e2e::Compile(scratch, "a.lua", "a.qp");
  EXPECT_EQ(r.exit_code, 1);
  const std::string unsupported_info =
      "[WARNING] info: Unssuported combinations of indexes / data used. String indexes, string values except for the finfo table.";
  Lines expected = {
      "Processing information section...",
      "Processing function section...",
      "Processing structure section...",
      "Processing public declaration section...",
      "Processing global / constant section...",
      "[WARNING] Non-string index detected in table, not supported by QP. Ignored.",
      "[WARNING] Unsupported field 'globals' ignored.",
      "[WARNING] Unsupported field 'Info' ignored.",
      unsupported_info,  // version = "1.0" reads as a number
      "[WARNING] info.finfo should be of type table!",
      unsupported_info,  // finfo = 5
      "[WARNING] functions: This should be a string-indexed table containing only functions, ignored an index.",
      "[WARNING] functions: This should be a string-indexed table containing only functions, ignored an index.",
      "[WARNING] structures: Structure 'Plain' will be ignored when this file is loaded in AMS! Please create structures with Kestrel.DefineStruct!",
      "[WARNING] structures: This should be a string-indexed table containing Kestrel structures!",
      "[WARNING] public: This should be a numerically indexed table containing only strings! Ignored an index.",
      "[WARNING] public: This should be a numerically indexed table containing only strings! Ignored an index.",
      "[WARNING] constants: This should be a string-indexed table containing any value, ignored this non-string index.",
      "[ERROR] info: A name is required, please provide a name in the info table!",
      "Script execution has finished.",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Sorted(r), expected) << r.output;
  EXPECT_TRUE(scratch.Read("a.qp").empty());

  // With warnings off only the progress lines and the error remain.
  scratch.WriteSettings("[settings]\r\ncompiler::warnings = 0\r\n");
  r = e2e::Compile(scratch, "a.lua", "a.qp");
  Lines quiet;
  std::copy_if(expected.begin(), expected.end(), std::back_inserter(quiet),
               [](const std::string& line) { return line.rfind("[WARNING]", 0) != 0; });
  EXPECT_EQ(Sorted(r), quiet) << r.output;
}

TEST(SectionsE2eTest, NameIsTrimmedAndNonTableSectionsOnlyAnnounceThemselves) {
  e2e::Scratch scratch;
  scratch.Write("a.lua", "return { info = { name = '  Mod  ' }, public = 5 }");
  auto r = e2e::Compile(scratch, "a.lua", "a.qp");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  auto info = e2e::Run("qpinfo", {scratch.Path("a.qp")});
  EXPECT_NE(info.output.find("chunk name: Mod\n"), std::string::npos) << info.output;
  EXPECT_NE(r.output.find("Processing public declaration section...\n"), std::string::npos);
  EXPECT_EQ(r.output.find("[WARNING]"), std::string::npos) << r.output;
}

}  // namespace
