#include "cli/script/host_functions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/script/pipeline.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

// A Lua state with the host functions and the core chunk, whose printed lines are kept.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    L_ = luaL_newstate();
    luaL_openlibs(L_);
    RegisterHostFunctions(L_, &sleep_, 0);
    platform::ConsoleSetSink([this](std::string_view line) { lines_.emplace_back(line); });
  }
  void TearDown() override {
    platform::ConsoleSetSink(nullptr);
    lua_close(L_);
  }
  // Runs `code` and gives the result of tostring() on its first result.
  std::string Eval(const std::string& code) {
    std::string wrapped = "local v = (" + code + ") return v == nil and 'nil' or tostring(v)";
    if (luaL_dostring(L_, wrapped.c_str()) != LUA_OK) return "error: " + std::string(lua_tostring(L_, -1));
    std::string result = lua_tostring(L_, -1);
    lua_settop(L_, 0);
    return result;
  }
  lua_State* L_ = nullptr;
  SleepCanceller sleep_;
  std::vector<std::string> lines_;
};

TEST_F(HostTest, PrintJoinsValuesWithTabs) {
  ASSERT_EQ(luaL_dostring(L_, "print(1, nil, true, 'x') print() print(2.5, false)"), LUA_OK);
  EXPECT_EQ(lines_, (std::vector<std::string>{"1\tnil\ttrue\tx", "", "2.5\tfalse"}));
}

TEST_F(HostTest, PrintShowsOtherTypesWithAnAddress) {
  ASSERT_EQ(luaL_dostring(L_, "print({}) print(print)"), LUA_OK);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_TRUE(lines_[0].rfind("table: ", 0) == 0) << lines_[0];
  EXPECT_EQ(lines_[0].size(), 7u + 8u);
  EXPECT_TRUE(lines_[1].rfind("function: ", 0) == 0) << lines_[1];
}

TEST_F(HostTest, IntRoundsToNearestEvenAndGivesAFloat) {
  EXPECT_EQ(Eval("int('2.5')"), "2.0");
  EXPECT_EQ(Eval("int(3.5)"), "4.0");
  EXPECT_EQ(Eval("int(-2.5)"), "-2.0");
  EXPECT_EQ(Eval("int({})"), "0.0");
  EXPECT_EQ(Eval("int()"), "0.0");
  EXPECT_EQ(Eval("int(1e300)"), "-2147483648.0");
  EXPECT_EQ(Eval("int(0/0)"), "-2147483648.0");
}

TEST_F(HostTest, BinAndHexShowTwosComplementWithoutLeadingZeros) {
  EXPECT_EQ(Eval("sys.hex(255)"), "FF");
  EXPECT_EQ(Eval("sys.bin(5)"), "101");
  EXPECT_EQ(Eval("sys.bin(0)"), "0");
  EXPECT_EQ(Eval("sys.hex(-1)"), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Eval("sys.hex('0x10')"), "10");
  EXPECT_EQ(Eval("sys.hex('abc')"), "nil");
  EXPECT_EQ(Eval("sys.hex()"), "nil");
  EXPECT_EQ(Eval("sys.hex(0/0)"), "nil");
  EXPECT_EQ(Eval("sys.hex(1e300)"), "8000000000000000");
}

TEST_F(HostTest, DirectoryFunctions) {
  std::string before = platform::CurrentDirectory();
  std::string dir = platform::MakeTempFolder("host-test");
  // The folder as a Lua string literal (Windows paths hold backslashes).
  std::string literal;
  for (char c : dir) literal += c == '\\' ? std::string("\\\\") : std::string(1, c);
  EXPECT_EQ(Eval("sys.cwd('" + literal + "')"), "true");
  EXPECT_EQ(Eval("sys.gwd()"), dir);
  EXPECT_EQ(Eval("sys.cwd('" + literal + "/missing')"), "false");
  EXPECT_EQ(Eval("sys.cwd(42)"), "false");
  EXPECT_EQ(Eval("sys.gwd()"), dir);
  platform::ChangeDirectory(before);
  platform::RemoveTree(dir);
}

TEST_F(HostTest, SleepTakesOddValuesAndWakesWhenCancelled) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Eval("sys.sleep(-1)"), "nil");
  EXPECT_EQ(Eval("sys.sleep('x')"), "nil");
  EXPECT_EQ(Eval("sys.sleep(0/0)"), "nil");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  std::thread canceller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sleep_.Cancel();
  });
  EXPECT_EQ(Eval("sys.sleep(1e12)"), "nil");
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(HostTest, OsExitPrintsAndReturns) {
  ASSERT_EQ(luaL_dostring(L_, "os.exit(1) print('after')"), LUA_OK);
  EXPECT_EQ(lines_, (std::vector<std::string>{"You should close the tab! :)", "after"}));
}

TEST_F(HostTest, TablesHoldExactlyTheHostFunctions) {
  EXPECT_EQ(Eval("(function() local n = 0 for _ in pairs(sys) do n = n + 1 end return n end)()"), "5");
  EXPECT_EQ(Eval("math.type(__akq.__log)"), "float");
  EXPECT_EQ(Eval("clear(1, 2)"), "nil");
}

TEST_F(HostTest, CoreChunkDefinesKestrelStructures) {
  ASSERT_TRUE(RunCoreChunk(L_));
  EXPECT_EQ(Eval("getmetatable(Kestrel.DefineStruct('P', {{'x', 'int'}, 'y: double'})).__data.type"),
            "KSTRL_STRUCT");
  EXPECT_EQ(Eval("Kestrel.SizeOf(Kestrel.DefineStruct('P', {{'x', 'int'}, {'y', 'double', 2}}))"), "20");
  EXPECT_EQ(Eval("Kestrel.IsStruct({})"), "false");
  EXPECT_NE(Eval("Kestrel.DefineStruct('P', {{'x', 'nope'}})").find("unknown type 'nope'"), std::string::npos);
}

}  // namespace
