#include "cli/script/script_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"
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
    guard_->BeginStage("stopped");
  }
  void TearDown() override {
    if (L_) CloseLimitedState(L_);
    platform::ConsoleSetSink(nullptr);
  }
  // Runs `code` under the guard with a short limit; gives how it ended and the error.
  GuardedEnd Run(const std::string& code, std::string* error = nullptr, int limit_ms = 100) {
    auto message = std::make_shared<std::string>();
    lua_State* L = L_;
    GuardedEnd end = guard_->Run(
        [L, code, message] {
          if (luaL_dostring(L, code.c_str()) != LUA_OK) *message = lua_tostring(L, -1);
          lua_settop(L, 0);
        },
        ScriptGuard::NowMs(), limit_ms, 200);
    if (error) *error = *message;
    return end;
  }
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
  };
  for (const char* script : scripts) {
    guard_->BeginStage("stopped");
    std::string error;
    EXPECT_EQ(Run(script, &error), GuardedEnd::kStopped) << script;
    EXPECT_NE(error.find("stopped"), std::string::npos) << script << ": " << error;
    EXPECT_TRUE(guard_->stopped());
  }
}

TEST_F(ScriptGuardTest, AnInstructionBudgetStopsFromWithin) {
  guard_->BeginStage("too long", 100000);
  std::string error;
  EXPECT_EQ(Run("while true do end", &error, 60000), GuardedEnd::kFinished);
  EXPECT_EQ(error, "too long");
  EXPECT_TRUE(guard_->stopped());
}

TEST_F(ScriptGuardTest, PausedTimeIsNotScriptTime) {
  lua_State* L = L_;
  GuardedEnd end = guard_->Run(
      [L] {
        ScriptClockPause pause(L);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      },
      ScriptGuard::NowMs(), 100, 200);
  EXPECT_EQ(end, GuardedEnd::kFinished);
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
