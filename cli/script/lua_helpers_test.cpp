#include "cli/script/lua_helpers.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/platform/console.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

TEST(CleanLuaMessage, RemovesTheStringWrapperOfChunkNames) {
  EXPECT_EQ(CleanLuaMessage("[string \"Main::[a.lua]\"]:3: unexpected symbol"),
            "Main::[a.lua]:3: unexpected symbol");
  EXPECT_EQ(CleanLuaMessage("plain"), "plain");
  EXPECT_EQ(CleanLuaMessage("a\"]b[string \"c"), "abc");
}

TEST(CompileToChunk, DumpsLoadableChunksAndReportsLoadErrors) {
  lua_State* L = luaL_newstate();
  std::vector<std::string> lines;
  platform::ConsoleSetSink([&](std::string_view line) { lines.emplace_back(line); });
  auto chunk = CompileToChunk(L, "return 1 + 2", "Main::[a.lua]", true);
  ASSERT_TRUE(chunk.has_value());
  EXPECT_EQ(lua_gettop(L), 0);
  ASSERT_EQ(luaL_loadbufferx(L, chunk->data(), chunk->size(), "x", "b"), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
  EXPECT_EQ(lua_tointeger(L, -1), 3);
  lua_settop(L, 0);

  EXPECT_FALSE(CompileToChunk(L, "\n\nreturn +", "Main::[a.lua]", false).has_value());
  EXPECT_EQ(lua_gettop(L), 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR: Main::[a.lua]:3: unexpected symbol near '+'");
  EXPECT_EQ(lines[1], "");

  EXPECT_FALSE(CompileToChunk(L, "return +", "", false, true).has_value());
  EXPECT_EQ(lines.size(), 2u);
  // Text mode refuses a binary chunk.
  EXPECT_FALSE(CompileToChunk(L, *chunk, "x", false, true, "t").has_value());
  platform::ConsoleSetSink(nullptr);
  lua_close(L);
}

TEST(LimitedState, GoingOverTheLimitIsAnOrdinaryMemoryError) {
  lua_State* L = NewLimitedState(8u << 20);
  luaL_openlibs(L);
  ASSERT_EQ(luaL_loadstring(L, "local t = {} for i = 1, 1e7 do t[i] = string.rep('x', 100) .. i end"), LUA_OK);
  EXPECT_EQ(lua_pcall(L, 0, 0, 0), LUA_ERRMEM);
  lua_settop(L, 0);
  EXPECT_EQ(luaL_dostring(L, "return 1"), LUA_OK);
  CloseLimitedState(L);
}

}  // namespace
