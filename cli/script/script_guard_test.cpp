#include "cli/script/script_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"
#include "cli/script/stop_calls.h"
#include "common/platform/console.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

class ScriptGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ConsoleSetSink([](std::string_view) {});
    L_ = NewLimitedState(64u << 20);
    luaL_openlibs(L_);
    guard_ = std::make_shared<ScriptGuard>(L_);
    RegisterHostFunctions(L_, &guard_->sleep(), 0);
    StopLibraryCallsAtLimit(L_);
    guard_->BeginStage("stopped");
  }
  void TearDown() override {
    if (L_) CloseLimitedState(L_);
    platform::ConsoleSetSink(nullptr);
  }
  // Runs `code` under the guard with a short limit; gives how it ended and the error.
  // `at_limit` counts how often the time-limit lines were printed.
  GuardedEnd Run(const std::string& code, std::string* error = nullptr, int limit_ms = 100) {
    auto message = std::make_shared<std::string>();
    lua_State* L = L_;
    GuardedEnd end = guard_->Run(
        [L, code, message] {
          if (luaL_dostring(L, code.c_str()) != LUA_OK) *message = lua_tostring(L, -1);
          lua_settop(L, 0);
        },
        ScriptGuard::NowMs(), limit_ms, 200, [this] { ++at_limit_; });
    if (error) *error = *message;
    return end;
  }
  // The type of a global of the script, once the guarded work has ended.
  std::string GlobalType(const char* name) {
    lua_getglobal(L_, name);
    std::string type = luaL_typename(L_, -1);
    lua_pop(L_, 1);
    return type;
  }
  int at_limit_ = 0;
  lua_State* L_ = nullptr;
  std::shared_ptr<ScriptGuard> guard_;
};

TEST_F(ScriptGuardTest, CodeThatEndsInTimeIsLeftAlone) {
  std::string error;
  EXPECT_EQ(Run("local s = 0 for i = 1, 1000 do s = s + i end assert(s == 500500)", &error), GuardedEnd::kFinished);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(guard_->stopped());
}

TEST_F(ScriptGuardTest, EveryWayOfKeepingOnIsStopped) {
  const char* scripts[] = {
      "while true do end",
      "while true do pcall(function() while true do end end) end",
      "sys.sleep(1e9)",
      "while true do pcall(sys.sleep, 10) end",
      "debug.sethook() while true do end",
      "coroutine.wrap(function() debug.sethook() while true do end end)()",
      "while true do coroutine.wrap(function() for i = 1, 10 do end end)() end",
      // Lua runs a script's hook function and the collector's finalizers without hooks:
      // their library calls meet the stop.
      "debug.sethook(function() while true do os.clock() end end, 'l') while true do end",
      "setmetatable({}, {__gc = function() while true do pcall(string.rep, 'a', 10) end end}) collectgarbage()",
  };
  for (const char* script : scripts) {
    guard_->BeginStage("stopped");
    std::string error;
    EXPECT_EQ(Run(script, &error), GuardedEnd::kStopped) << script;
    EXPECT_NE(error.find("stopped"), std::string::npos) << script << ": " << error;
    EXPECT_TRUE(guard_->stopped());
  }
  EXPECT_EQ(at_limit_, static_cast<int>(std::size(scripts)));
}

// The script's own thread keeps the limit: with a watcher that does not look at the
// clock (a loaded machine), a script that would end by itself some time after its limit
// is stopped at the limit all the same, and the time-limit lines still come, once.
TEST_F(ScriptGuardTest, TheLimitHoldsWhenTheWatcherIsLate) {
  const char* scripts[] = {
      "sys.sleep(400) after = true",
      "local t = os.clock() while os.clock() - t < 0.4 do end after = true",
      "for i = 1, 4 do pcall(sys.sleep, 150) end after = true",
      "for i = 1, 4 do sys.sleep(0) pcall(function() local t = os.clock() while os.clock() - t < 0.15 do end end) end "
      "after = true",
      "coroutine.wrap(function() sys.sleep(400) end)() after = true",
      "print(coroutine.resume(coroutine.create(function() local t = os.clock() while os.clock() - t < 0.4 do end end))) "
      "after = true",
      "debug.sethook(function() end, 'l') local t = os.clock() while os.clock() - t < 0.4 do end after = true",
      "debug.sethook(function() local t = os.clock() while os.clock() - t < 0.4 do end after = true end, 'l') "
      "while true do end",
      "setmetatable({}, {__gc = function() local t = os.clock() while os.clock() - t < 0.4 do end after = true end}) "
      "collectgarbage() while true do end",
  };
  guard_->DelayWatcherForTesting(60000);
  for (const char* script : scripts) {
    guard_->BeginStage("stopped");
    at_limit_ = 0;
    std::string error;
    EXPECT_EQ(Run(script, &error), GuardedEnd::kStopped) << script;
    EXPECT_NE(error.find("stopped"), std::string::npos) << script << ": " << error;
    EXPECT_EQ(GlobalType("after"), "nil") << script;
    EXPECT_EQ(at_limit_, 1) << script;
  }
}

TEST_F(ScriptGuardTest, AnInstructionBudgetStopsFromWithin) {
  guard_->BeginStage("too long", 100000);
  std::string error;
  EXPECT_EQ(Run("while true do end", &error, 60000), GuardedEnd::kFinished);
  EXPECT_EQ(error, "too long");
  EXPECT_TRUE(guard_->stopped());
}

// Time while the clock is paused (the assembler runs) is not script time, for the
// watcher, for the hook and for sys.sleep: the deadline moves by the paused time, also
// while a sleep waits for it.
TEST_F(ScriptGuardTest, PausedTimeIsNotScriptTime) {
  lua_State* L = L_;
  GuardedEnd end = guard_->Run(
      [L] {
        {
          ScriptClockPause pause(L);
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        luaL_dostring(L, "for i = 1, 100000 do end sys.sleep(1) done = true");
      },
      ScriptGuard::NowMs(), 100, 200);
  EXPECT_EQ(end, GuardedEnd::kFinished);
  EXPECT_EQ(GlobalType("done"), "boolean");

  // The script's thread pauses the clock and another resumes it 400 ms later, while the
  // script sleeps: its 300 ms sleep ends normally, the endless sleep after it at the
  // deadline that moved by the pause. The watcher does not look, so the sleep keeps the
  // deadline by itself.
  guard_->DelayWatcherForTesting(60000);
  auto resumer = std::make_shared<std::thread>();
  std::shared_ptr<ScriptGuard> guard = guard_;
  auto error = std::make_shared<std::string>();
  end = guard_->Run(
      [L, guard, resumer, error] {
        guard->PauseClock();
        *resumer = std::thread([guard] {
          std::this_thread::sleep_for(std::chrono::milliseconds(400));
          guard->ResumeClock();
        });
        if (luaL_dostring(L, "sys.sleep(300) after = true sys.sleep(1e9)") != LUA_OK) *error = lua_tostring(L, -1);
        lua_settop(L, 0);
        resumer->join();
      },
      ScriptGuard::NowMs(), 200, 200);
  EXPECT_EQ(end, GuardedEnd::kStopped);
  EXPECT_EQ(*error, "stopped");
  EXPECT_EQ(GlobalType("after"), "boolean");
}

TEST_F(ScriptGuardTest, WorkThatCannotBeStoppedIsGivenUp) {
  auto release = std::make_shared<std::atomic<bool>>(false);
  GuardedEnd end = guard_->Run(
      [release] {
        while (!release->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      },
      ScriptGuard::NowMs(), 50, 50);
  EXPECT_EQ(end, GuardedEnd::kAbandoned);
  // The given-up thread holds the guard; let it end before the state goes.
  release->store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace
