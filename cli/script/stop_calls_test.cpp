#include "cli/script/stop_calls.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"
#include "cli/script/script_guard.h"
#include "common/platform/console.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

// A script state as the compiler makes it, with or without the wrapped library calls.
struct State {
  explicit State(bool wrapped) {
    L = NewLimitedState(64u << 20);
    luaL_openlibs(L);
    guard = std::make_shared<ScriptGuard>(L);
    RegisterHostFunctions(L, &guard->sleep(), 0);
    if (wrapped) StopLibraryCallsAtLimit(L);
    guard->BeginStage("stopped");
  }
  ~State() { CloseLimitedState(L); }

  // Runs `code` on this thread; gives its results, or "error: " and the error's text.
  std::string Run(const std::string& code) {
    std::string text;
    if (luaL_loadstring(L, code.c_str()) != LUA_OK || lua_pcall(L, 0, LUA_MULTRET, 0) != LUA_OK) {
      text = std::string("error: ") + luaL_tolstring(L, -1, nullptr);
    } else {
      int results = lua_gettop(L);
      for (int i = 1; i <= results; ++i) text += (i > 1 ? "|" : "") + std::string(luaL_tolstring(L, i, nullptr));
    }
    lua_settop(L, 0);
    return text;
  }
  // Runs `code` as Lua runs a hook function or a finalizer: without hooks, so that the
  // guard's hook does not stop it.
  std::string RunUnhooked(const std::string& code) {
    lua_sethook(L, nullptr, 0, 0);
    return Run(code);
  }

  lua_State* L;
  std::shared_ptr<ScriptGuard> guard;
};

// Every test runs with both kinds of wrapper: the plain functions of the slots, and the
// closures that the process falls back to once the slots are taken.
class StopCallsTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    platform::ConsoleSetSink([this](std::string_view text) { printed_ += text; });
    UseClosureWrappersForTesting(GetParam());
  }
  void TearDown() override {
    UseClosureWrappersForTesting(false);
    platform::ConsoleSetSink(nullptr);
  }
  std::string printed_;
};

// Wrapped, the libraries behave as Lua's own: errors name the function (by the call's
// name, or by its library name when called from C), error levels, yields across pcall,
// continuations and tracebacks are unchanged.
TEST_P(StopCallsTest, WrappedLibrariesBehaveAsBefore) {
  const char* snippets[] = {
      "return string.rep()",
      "return ('x'):rep()",
      "return ('x').rep()",
      "return pcall(string.rep)",
      "return pcall(io.stdout.write, 1)",
      "return io.stdout:seek('nowhere')",
      "return string.format('%d', 'x')",
      "return setmetatable(1)",
      "return table.concat({1, {}})",
      "return sys.hex()",
      "return load('x =')",
      "local function f() error('where', 2) end f()",
      "return pcall(error)",
      "return select('#', pcall(error, nil))",
      "return select(2, xpcall(string.rep, debug.traceback))",
      "return select(2, xpcall(function() local x = string.rep() end, debug.traceback))",
      "return debug.getinfo(1, 'n').name, debug.getinfo(print, 'S').what",
      "local function f() return debug.getinfo(2, 'l').currentline end return f()",
      "return getmetatable('').__index == string, rawequal(string.rep, ('').rep), string.rep('ab', 3, ',')",
      // Yields through pcall and xpcall (continuations), and a yield that cannot cross C.
      "local co = coroutine.wrap(function(a) local ok, v = pcall(function() return coroutine.yield(a) + 1 end) "
      "return ok, v end) return co(1), co(41)",
      "local co = coroutine.wrap(function() return xpcall(function() coroutine.yield() error('late', 0) end, "
      "function(m) return 'handled ' .. m end) end) co() return co()",
      "local co = coroutine.create(function() table.sort({3, 2, 1}, function(a, b) coroutine.yield() return a < b end) end) "
      "return coroutine.resume(co)",
      "return coroutine.resume(coroutine.create(function() string.gsub('ab', '%w', coroutine.yield) end))",
      "return coroutine.isyieldable(), coroutine.wrap(function() return coroutine.isyieldable() end)()",
      "local t = {} for i = 1, 10 do t[#t + 1] = math.floor(i / 3) end return table.concat(t, ' '), math.type(1)",
      "return collectgarbage('count') > 0, type(os.clock()), utf8.char(72, 105)",
  };
  State plain(false);
  State wrapped(true);
  for (const char* snippet : snippets) {
    EXPECT_EQ(wrapped.Run(snippet), plain.Run(snippet)) << snippet;
  }
  EXPECT_EQ(wrapped.Run("return string.rep()"), "error: [string \"return string.rep()\"]:1: bad argument #1 to 'rep' "
                                                "(string expected, got no value)");
  EXPECT_EQ(wrapped.Run("return pcall(string.rep)"), "false|bad argument #1 to 'string.rep' (string expected, got no value)");
}

// Once the stop is in force, every library call raises it, caught or not: functions of
// the global table, of the libraries, the host's, and the methods of file handles. A new
// stage lifts it.
TEST_P(StopCallsTest, LibraryCallsRaiseTheStopOnceItIsInForce) {
  State state(true);
  const char* calls[] = {
      "return os.clock()",
      "return string.rep('a', 2)",
      "return ('a'):rep(2)",
      "return io.open('never-there.txt')",
      "return io.stdout:write('')",
      "return io.write('')",
      "return os.remove('never-there.txt')",
      "print('printed')",
      "return sys.hex(1)",
      "return pcall(os.clock)",
      "return tostring(1)",
      "return coroutine.wrap(function() end)",
      "return bit32 and bit32.band(1, 3) or 'stopped'",
  };
  for (const char* call : calls) EXPECT_EQ(state.Run(call).rfind("error: ", 0), std::string::npos) << call;
  printed_.clear();
  EXPECT_EQ(state.Run("return debug.getinfo(string.rep, 'u').nups"), GetParam() ? "1" : "0");

  state.guard->Stop();
  for (const char* call : calls) EXPECT_EQ(state.RunUnhooked(call), "error: stopped") << call;
  EXPECT_EQ(printed_, "");
  std::filesystem::path path = std::filesystem::temp_directory_path() / "akqp-stop-calls-never-made.txt";
  std::filesystem::remove(path);
  lua_pushstring(state.L, path.string().c_str());
  lua_setglobal(state.L, "path");
  EXPECT_EQ(state.RunUnhooked("io.open(path, 'w')"), "error: stopped");
  EXPECT_FALSE(std::filesystem::exists(path));
  // Code without library calls still runs (the hook stops it where Lua runs hooks).
  EXPECT_EQ(state.RunUnhooked("local x = 1 + 1 return x"), "2");

  state.guard->BeginStage("walk stopped");
  EXPECT_EQ(state.Run("return string.rep('a', 2)"), "aa");
  state.guard->Stop();
  EXPECT_EQ(state.Run("return string.rep('a', 2)"), "error: walk stopped");
}

// Functions that keep the library's state in upvalues, and metamethods, stay as they
// are: the collector still flushes and closes a file after the stop.
TEST_P(StopCallsTest, UpvaluesAndMetamethodsAreLeftAlone) {
  std::filesystem::path path = std::filesystem::temp_directory_path() / "akqp-stop-calls-test.txt";
  std::filesystem::remove(path);
  State state(true);
  lua_pushstring(state.L, path.string().c_str());
  lua_setglobal(state.L, "path");
  EXPECT_EQ(state.Run("f = io.open(path, 'w') f:setvbuf('full') f:write('written') return io.type(f)"), "file");
  state.guard->Stop();
  EXPECT_EQ(state.RunUnhooked("return require('string') == string"), "true");
  EXPECT_EQ(state.RunUnhooked("f = nil"), "");
  lua_gc(state.L, LUA_GCCOLLECT, 0);
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  EXPECT_EQ(text, "written");
  file.close();
  std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Wrappers, StopCallsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Closures" : "Slots"; });

}  // namespace
