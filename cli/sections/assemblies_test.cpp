#include "cli/sections/assemblies.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/assembler/assembler.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"

namespace {

// A library every machine of the system has, and two functions it defines itself.
#ifdef _WIN32
const std::string kLib = "kernel32.dll", kFunction = "GetTickCount", kOtherFunction = "lstrlenA";
#else
const std::string kLib = "libc.so.6", kFunction = "puts", kOtherFunction = "strlen";
#endif

// Runs ProcessAssemblies on the table a Lua expression gives, capturing the lines.
class AssembliesTest : public testing::Test {
 protected:
  void SetUp() override {
    BuildAssemblerMessageTable();
    ASSERT_TRUE(InitialiseAssembler());
    L_ = luaL_newstate();
    luaL_openlibs(L_);
    args_.compile_flag = 1;
    args_.success_flag = 1;
    ctx_.L = L_;
    ctx_.args = &args_;
    ctx_.tables = &tables_;
    ctx_.warnings = true;
    platform::ConsoleSetSink([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override {
    platform::ConsoleSetSink({});
    ReleaseMachineCode(tables_);
    lua_close(L_);
  }

  void Process(const std::string& expression) {
    ASSERT_EQ(luaL_dostring(L_, ("return " + expression).c_str()), LUA_OK)
        << lua_tostring(L_, -1);
    int top = lua_gettop(L_);
    ProcessAssemblies(ctx_);
    EXPECT_EQ(lua_gettop(L_), top) << "the section table stays on the stack";
    lua_settop(L_, 0);
  }

  std::string Code(const std::string& name) {
    auto it = tables_.machine_code.find(name);
    if (it == tables_.machine_code.end()) return "<none>";
    return std::string(reinterpret_cast<const char*>(it->second.block->data()), it->second.length);
  }

  lua_State* L_ = nullptr;
  CompileArgs args_;
  SectionTables tables_;
  SectionContext ctx_;
  std::vector<std::string> lines_;
};

using Lines = std::vector<std::string>;

TEST_F(AssembliesTest, ValidEntryIsAssembledAndStored) {
  Process("{ add = { assembly = 'use32\\nmov eax, [esp+4]\\nadd eax, 3\\nret', dependencies = {} } }");
  EXPECT_EQ(lines_, (Lines{"Attempting assembling 'add'.", "Processing dependencies in 'add'."}));
  EXPECT_EQ(Code("add"), std::string("\x8b\x44\x24\x04\x83\xc0\x03\xc3", 8));
  EXPECT_EQ(tables_.assembly_text["add"], "use32\nmov eax, [esp+4]\nadd eax, 3\nret");
  EXPECT_EQ(args_.success_flag, 1);
}

TEST_F(AssembliesTest, AssemblyErrorsAreReportedAndClearTheSuccessFlag) {
  Process("{ x = { assembly = 'use32\\nnop\\nlea eax, 5\\nret' } }");
  EXPECT_EQ(lines_, (Lines{"Attempting assembling 'x'.",
                           "[ERROR] assemblies: Assembly entry 'x' error [-109]: Line 3: Invalid operand.",
                           "Processing dependencies in 'x'."}));
  EXPECT_EQ(args_.success_flag, 0);
  EXPECT_TRUE(tables_.machine_code.empty());
  EXPECT_TRUE(tables_.assembly_text.empty());

  lines_.clear();
  Process("{ y = { assembly = 'use32\\nmov eax, nowhere' }, z = { assembly = 'use32' } }");
  EXPECT_NE(std::find(lines_.begin(), lines_.end(),
                      "[ERROR] assemblies: Assembly entry 'y' error [-122]: Line 2: Undefined symbol."),
            lines_.end());
  EXPECT_NE(std::find(lines_.begin(), lines_.end(),
                      "[ERROR] assemblies: Assembly entry 'z' error [-6]: Line 0: Cannot generate "
                      "code. The text assembled to zero bytes."),
            lines_.end());
}

TEST_F(AssembliesTest, MissingAssemblyStillChecksDependencies) {
  Process("{ m = { dependencies = { 'nobar' } } }");
  EXPECT_EQ(lines_,
            (Lines{"[ERROR] assemblies: Assembly entry 'm' doesn't have an assembly string!",
                   "Processing dependencies in 'm'.",
                   "[WARNING] assemblies: In Assembly entry 'm', a dependency should have the format "
                   "'libraryPath.dll|FunctionNameA,otherFunctionA', 'nobar' has been ignored."}));
  EXPECT_EQ(args_.success_flag, 0);

  lines_.clear();
  args_.success_flag = 1;
  Process("{ t = { assembly = {} } }");
  EXPECT_EQ(lines_[0], "[ERROR] assemblies: Assembly entry 't' doesn't have an assembly string!");
  EXPECT_EQ(args_.success_flag, 0);
}

TEST_F(AssembliesTest, NumberAsAssemblyIsTakenAsText) {
  // The text "5" is not an instruction.
  Process("{ n = { assembly = 5 } }");
  EXPECT_EQ(lines_[1], "[ERROR] assemblies: Assembly entry 'n' error [-108]: Line 1: Illegal instruction.");
}

TEST_F(AssembliesTest, DependencyChecks) {
  Process("{ d = { assembly = 'use32\\nret', dependencies = {"
          "  '" + kLib + "|" + kFunction + ", akqp_no_such_function,," + kOtherFunction +
          "|ignored_after_second_bar',"
          "  'libakqp-missing.so|puts',"
          "  ' " + kLib + "|" + kFunction + "',"
          "  '" + kLib + "|',"
          "  '" + kLib + "',"
          "  42,"
          "  named = 'libakqp-missing.so|x',"
          "  [3.5] = 'libakqp-missing2.so|y',"
          "  {},"
          "} } }");
  const std::string w = "[WARNING] assemblies: In Assembly entry 'd', ";
  Lines expected = {
      "Attempting assembling 'd'.",
      "Processing dependencies in 'd'.",
      w + "'akqp_no_such_function' could not be found in library '" + kLib + "'.",
      w + "library 'libakqp-missing.so' in 'libakqp-missing.so|puts' could not be loaded and thus not be checked.",
      w + "library ' " + kLib + "' in ' " + kLib + "|" + kFunction +
          "' could not be loaded and thus not be checked.",
      w + "a dependency should have the format 'libraryPath.dll|FunctionNameA,otherFunctionA', '" +
          kLib + "' has been ignored.",
      w + "a dependency should have the format 'libraryPath.dll|FunctionNameA,otherFunctionA', '42' has been ignored.",
      w + "library 'libakqp-missing2.so' in 'libakqp-missing2.so|y' could not be loaded and thus not be checked.",
  };
  // The list part comes in index order; the entry under 3.5 sits in the hash part.
  EXPECT_EQ(lines_, expected);
  EXPECT_EQ(args_.success_flag, 1) << "dependency checks never fail a compile";
}

TEST_F(AssembliesTest, WrongShapesDrawWarnings) {
  Process("{ [1] = { assembly = 'nop' }, ['10'] = { assembly = 'nop' }, s = 'use32', "
          "deps = { assembly = 'use32\\nret', dependencies = 'libc.so.6|puts' } }");
  const std::string shape =
      "[WARNING] assemblies: This should be a string-indexed table containing only tables, ignored an index.";
  EXPECT_EQ(std::count(lines_.begin(), lines_.end(), shape), 3);
  EXPECT_NE(std::find(lines_.begin(), lines_.end(),
                      "[WARNING] assemblies: In Assembly entry 'deps', the field 'dependencies' should "
                      "be nil or a numerically indexed string table."),
            lines_.end());
  EXPECT_EQ(tables_.machine_code.size(), 1u);
}

TEST_F(AssembliesTest, WarningsOffAndCompileFlagOff) {
  const std::string script =
      "{ [1] = {}, e = { assembly = 'use32\\nlea eax, 5', dependencies = { 'x', 'libc.so.6|nope' } },"
      "  f = { dependencies = 7 } }";
  ctx_.warnings = false;
  Process(script);
  for (const std::string& line : lines_) EXPECT_EQ(line.find("[WARNING]"), std::string::npos) << line;
  EXPECT_EQ(lines_.size(), 5u);  // two progress lines and one error for each entry

  lines_.clear();
  args_.compile_flag = 0;
  ctx_.warnings = true;
  Process(script);
  for (const std::string& line : lines_)
    EXPECT_TRUE(line.rfind("[", 0) == 0) << "no progress line without the compile flag: " << line;
  EXPECT_EQ(lines_.size(), 6u);  // one shape, two errors, three dependency warnings
}

TEST_F(AssembliesTest, NamesAreDataAndIncdirIsReplaced) {
  Process(R"({ ["../x'\"\n/y"] = { assembly = 'use32\n; %incdir% %incdir%\nnop' } })");
  ASSERT_EQ(tables_.machine_code.size(), 1u);
  EXPECT_EQ(Code("../x'\"\n/y"), "\x90");
  EXPECT_EQ(tables_.assembly_text.begin()->second,
            "use32\n; " + IncludeFolder() + " " + IncludeFolder() + "\nnop");
  // The program's folder with its separator, then a separator and "asm".
  EXPECT_EQ(IncludeFolder().substr(IncludeFolder().size() - 5),
            std::string(2, platform::kSeparator) + "asm");
}

int ProcessProtected(lua_State* L) {
  auto* ctx = static_cast<SectionContext*>(lua_touserdata(L, 2));
  lua_settop(L, 1);
  ProcessAssemblies(*ctx);
  return 0;
}

TEST_F(AssembliesTest, MetamethodErrorsReachTheCallersProtectedCall) {
  ASSERT_EQ(luaL_dostring(L_,
                          "local bad = setmetatable({}, { __index = function(_, key) "
                          "  if key == 'dependencies' then error('no dependencies here') end end })"
                          "return { bad = bad }"),
            LUA_OK);
  lua_pushcfunction(L_, ProcessProtected);
  lua_insert(L_, -2);
  lua_pushlightuserdata(L_, &ctx_);
  ASSERT_EQ(lua_pcall(L_, 2, 0, 0), LUA_ERRRUN);
  EXPECT_NE(std::string(lua_tostring(L_, -1)).find("no dependencies here"), std::string::npos);
  EXPECT_EQ(lua_gettop(L_), 1);
  EXPECT_EQ(lines_, (Lines{"[ERROR] assemblies: Assembly entry 'bad' doesn't have an assembly string!",
                           "Processing dependencies in 'bad'."}));
}

TEST_F(AssembliesTest, ReleaseEmptiesTheMachineCodeTable) {
  Process("{ a = { assembly = 'use32\\nnop' }, b = { assembly = 'use32\\nret' } }");
  EXPECT_EQ(tables_.machine_code.size(), 2u);
  ReleaseMachineCode(tables_);
  EXPECT_TRUE(tables_.machine_code.empty());
}

TEST(PrepareScriptForOutputTest, CutsOnlyMarkedRoutines) {
  SectionTables tables;
  const std::string marked = ";ASSEMBLY\nuse32\nnop\n;ENDASSEMBLY";
  const std::string plain = "use32\nret";
  tables.assembly_text["m"] = "\n  " + marked + "\n";  // as a long bracket gives it
  tables.assembly_text["p"] = plain;
  tables.assembly_text["half"] = ";ASSEMBLY\nint3";
  std::string script = "local a = [[\r\n;ASSEMBLY\r\nuse32\r\nnop\r\n;ENDASSEMBLY\r\n]]\r\n"
                       "local b = [[" + plain + "]]\nlocal c = [[;ASSEMBLY\nint3]]\n"
                       "-- again: " + marked + "\n";
  EXPECT_EQ(PrepareScriptForOutput(script, tables),
            "local a = [[\n\n]]\nlocal b = [[" + plain + "]]\nlocal c = [[;ASSEMBLY\nint3]]\n"
            "-- again: \n");
}

TEST(PrepareScriptForOutputTest, RoutineWithCarriageReturnsMatchesTheConvertedScript) {
  SectionTables tables;
  tables.assembly_text["r"] = ";ASSEMBLY\r\nnop\r\n;ENDASSEMBLY";
  EXPECT_EQ(PrepareScriptForOutput("x=[[;ASSEMBLY\r\nnop\r\n;ENDASSEMBLY]]", tables), "x=[[]]");
  EXPECT_EQ(PrepareScriptForOutput("a\r\nb\r\r\n", SectionTables()), "a\nb\r\n");
}

}  // namespace
