#include "cli/sections/sections.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/script/pipeline.h"
#include "common/platform/console.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

// Runs a script that returns a table, walks it, and keeps the printed lines.
class SectionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L_ = luaL_newstate();
    luaL_openlibs(L_);
    RunCoreChunk(L_);
    platform::ConsoleSetSink([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override {
    platform::ConsoleSetSink(nullptr);
    lua_close(L_);
  }
  std::vector<std::string> Walk(const std::string& script, bool warnings = true) {
    lines_.clear();
    tables_ = SectionTables();
    EXPECT_EQ(luaL_dostring(L_, script.c_str()), LUA_OK) << lua_tostring(L_, -1);
    args_.compile_flag = 1;
    args_.success_flag = 1;
    SectionContext ctx;
    ctx.L = L_;
    ctx.args = &args_;
    ctx.tables = &tables_;
    ctx.warnings = warnings;
    int top = lua_gettop(L_);
    ProcessSections(ctx);
    EXPECT_EQ(lua_gettop(L_), top - 1) << "the walk pops the table and nothing else";
    return lines_;
  }
  lua_State* L_ = nullptr;
  CompileArgs args_;
  SectionTables tables_;
  std::vector<std::string> lines_;
};

const char kUnsupportedInfo[] =
    "[WARNING] info: Unssuported combinations of indexes / data used. String indexes, string values except for the finfo table.";

TEST_F(SectionsTest, InfoEntriesAreStoredOrReported) {
  auto lines = Walk("return { info = { name = ' Mod ', version = '1.0', build = '1.0.0', [1] = 'x' } }");
  EXPECT_EQ(lines, (std::vector<std::string>{"Processing information section...", kUnsupportedInfo}));
  EXPECT_EQ(tables_.information["name"], " Mod ");
  EXPECT_EQ(tables_.information["build"], "1.0.0");
  EXPECT_EQ(tables_.information.count("version"), 0u);
}

TEST_F(SectionsTest, FinfoShapes) {
  EXPECT_EQ(Walk("return { info = { finfo = 'text' } }"),
            (std::vector<std::string>{"Processing information section...",
                                      "[WARNING] info.finfo should be of type table!"}));
  EXPECT_EQ(tables_.information["finfo"], "text");
  EXPECT_EQ(Walk("return { info = { finfo = 5 } }"),
            (std::vector<std::string>{"Processing information section...",
                                      "[WARNING] info.finfo should be of type table!", kUnsupportedInfo}));
  EXPECT_EQ(Walk("return { info = { finfo = {} } }"),
            (std::vector<std::string>{"Processing information section..."}));
  EXPECT_EQ(Walk("return { info = { finfo = { 'a', b = 'c' } } }"),
            (std::vector<std::string>{
                "Processing information section...",
                "[WARNING] info.finfo: Illegal combination used, both index and value must be string! Ignored an index."}));
}

TEST_F(SectionsTest, FunctionsPublicAndConstants) {
  EXPECT_EQ(Walk("return { functions = { ok = print, ['10'] = print, bad = 1 } }").size(), 3u);
  EXPECT_EQ(Walk("return { public = { 'a', 5, x = 'b', [7] = 'c' } }"),
            (std::vector<std::string>{
                "Processing public declaration section...",
                "[WARNING] public: This should be a numerically indexed table containing only strings! Ignored an index.",
                "[WARNING] public: This should be a numerically indexed table containing only strings! Ignored an index."}));
  EXPECT_EQ(Walk("return { constants = { t = {}, f = print, 1, 2 } }"),
            (std::vector<std::string>{
                "Processing global / constant section...",
                "[WARNING] constants: This should be a string-indexed table containing any value, ignored this non-string index.",
                "[WARNING] constants: This should be a string-indexed table containing any value, ignored this non-string index."}));
}

TEST_F(SectionsTest, StructuresAreRecognisedByTheirMetatable) {
  EXPECT_EQ(Walk("return { structures = { P = Kestrel.DefineStruct('P', {{'x', 'int'}}) } }"),
            (std::vector<std::string>{"Processing structure section..."}));
  EXPECT_EQ(Walk("return { structures = { Q = { x = 1 } } }"),
            (std::vector<std::string>{
                "Processing structure section...",
                "[WARNING] structures: Structure 'Q' will be ignored when this file is loaded in AMS! Please create structures with Kestrel.DefineStruct!"}));
  EXPECT_EQ(Walk("return { structures = { 5 } }"),
            (std::vector<std::string>{
                "Processing structure section...",
                "[WARNING] structures: This should be a string-indexed table containing Kestrel structures!"}));
  // __data is read with metamethods, so an __index on the metatable counts.
  EXPECT_EQ(Walk("local mt = setmetatable({}, { __index = function(_, k) if k == '__data' then return { type = 'KSTRL_STRUCT' } end end })\n"
                 "return { structures = { R = setmetatable({}, mt) } }"),
            (std::vector<std::string>{"Processing structure section..."}));
}

TEST_F(SectionsTest, TopLevelKeysAndNonTableSections) {
  auto lines = Walk("return { globals = {}, [1] = 'x', info = 5 }");
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Processing information section...",
                       "[WARNING] Non-string index detected in table, not supported by QP. Ignored.",
                       "[WARNING] Unsupported field 'globals' ignored."}));
  EXPECT_EQ(Walk("return { Info = {} }"),
            (std::vector<std::string>{"[WARNING] Unsupported field 'Info' ignored."}));
}

TEST_F(SectionsTest, WarningsOffLeavesOnlyProgressLinesAndSameHandling) {
  auto lines = Walk("return { info = { name = 5, finfo = 1, x = 'y' }, globals = 1, public = { x = 1 } }", false);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"Processing information section...",
                                             "Processing public declaration section..."}));
  EXPECT_EQ(tables_.information.size(), 1u);
  EXPECT_EQ(tables_.information["x"], "y");
}

TEST_F(SectionsTest, NoProgressLinesWhenTheCompileFlagIsClear) {
  lines_.clear();
  ASSERT_EQ(luaL_dostring(L_, "return { info = { name = 'm' } }"), LUA_OK);
  args_.compile_flag = 0;
  SectionContext ctx{L_, &args_, &tables_, true};
  ProcessSections(ctx);
  EXPECT_TRUE(lines_.empty());
  EXPECT_EQ(tables_.information["name"], "m");
}

}  // namespace
