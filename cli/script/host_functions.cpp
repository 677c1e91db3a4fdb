#include "cli/script/host_functions.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "cli/script/lua_helpers.h"
#include "common/platform/console.h"
#include "common/platform/fs.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

std::mutex g_sleep_mutex;
std::condition_variable g_sleep_wake;

SleepCanceller* Canceller(lua_State* L) {
  return static_cast<SleepCanceller*>(lua_touserdata(L, lua_upvalueindex(1)));
}

int LuaPrint(lua_State* L) {
  int n = lua_gettop(L);
  std::string line;
  for (int i = 1; i <= n; ++i) {
    if (i > 1) line += '\t';
    line += ValueToText(L, i);
  }
  platform::ConsoleWriteLine(line);
  return 0;
}

int LuaClear(lua_State*) {
  return 0;
}

int LuaInt(lua_State* L) {
  double result = 0;
  if (lua_gettop(L) >= 1 && lua_isnumber(L, 1)) result = HostInt(lua_tonumber(L, 1));
  lua_pushnumber(L, result);
  return 1;
}

int LuaGwd(lua_State* L) {
  std::string dir = platform::CurrentDirectory();
  lua_pushlstring(L, dir.data(), dir.size());
  return 1;
}

int LuaCwd(lua_State* L) {
  bool changed = false;
  if (lua_type(L, 1) == LUA_TSTRING) changed = platform::ChangeDirectory(lua_tostring(L, 1));
  lua_pushboolean(L, changed ? 1 : 0);
  return 1;
}

int PushDigits(lua_State* L, unsigned base) {
  int64_t value = 0;
  if (lua_gettop(L) < 1 || !lua_isnumber(L, 1) || !HostRound64(lua_tonumber(L, 1), &value)) {
    lua_pushnil(L);
    return 1;
  }
  char buffer[72];
  lua_pushstring(L, HostDigits(static_cast<uint64_t>(value), base, buffer));
  return 1;
}

int LuaBin(lua_State* L) {
  return PushDigits(L, 2);
}

int LuaHex(lua_State* L) {
  return PushDigits(L, 16);
}

int LuaSleep(lua_State* L) {
  if (lua_gettop(L) >= 1 && lua_isnumber(L, 1)) {
    double ms = lua_tonumber(L, 1);
    // A negative or NaN time sleeps not at all; the cap is the 32-bit range.
    uint32_t wait = 0;
    if (ms > 0) wait = ms >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(std::nearbyint(ms));
    Canceller(L)->Sleep(wait);
  }
  lua_pushnil(L);
  return 1;
}

int LuaExit(lua_State*) {
  platform::ConsoleWriteLine("You should close the tab! :)");
  return 0;
}

}  // namespace

void SleepCanceller::Sleep(uint32_t ms) {
  std::unique_lock<std::mutex> lock(g_sleep_mutex);
  g_sleep_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancelled_.load(); });
}

void SleepCanceller::Cancel() {
  {
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    cancelled_ = true;
  }
  g_sleep_wake.notify_all();
}

double HostInt(double value) {
  // Out of range (and NaN) gives the x86 "integer indefinite" value, as the FPU
  // conversion the host's int() relies on does.
  double rounded = std::nearbyint(value);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return -2147483648.0;
  return rounded;
}

bool HostRound64(double value, int64_t* out) {
  if (std::isnan(value)) return false;
  double rounded = std::nearbyint(value);
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) {
    *out = std::numeric_limits<int64_t>::min();
    return true;
  }
  *out = static_cast<int64_t>(rounded);
  return true;
}

const char* HostDigits(uint64_t value, unsigned base, char* buffer) {
  static const char kDigits[] = "0123456789ABCDEF";
  char* end = buffer + 71;
  *end = '\0';
  char* p = end;
  do {
    *--p = kDigits[value % base];
    value /= base;
  } while (value != 0);
  return p;
}

void RegisterHostFunctions(lua_State* L, SleepCanceller* canceller, int32_t log_value) {
  lua_pushcfunction(L, LuaPrint);
  lua_setglobal(L, "print");
  lua_pushcfunction(L, LuaClear);
  lua_setglobal(L, "clear");
  lua_pushcfunction(L, LuaInt);
  lua_setglobal(L, "int");

  lua_newtable(L);
  const struct {
    const char* name;
    lua_CFunction function;
  } sys[] = {{"gwd", LuaGwd}, {"cwd", LuaCwd}, {"bin", LuaBin}, {"hex", LuaHex}};
  for (const auto& entry : sys) {
    lua_pushstring(L, entry.name);
    lua_pushcfunction(L, entry.function);
    lua_rawset(L, -3);
  }
  lua_pushstring(L, "sleep");
  lua_pushlightuserdata(L, canceller);
  lua_pushcclosure(L, LuaSleep, 1);
  lua_rawset(L, -3);
  lua_setglobal(L, "sys");

  lua_getglobal(L, "os");
  if (lua_istable(L, -1)) {
    lua_pushstring(L, "exit");
    lua_pushcfunction(L, LuaExit);
    lua_rawset(L, -3);
  }
  lua_pop(L, 1);

  lua_newtable(L);
  lua_pushstring(L, "__log");
  lua_pushnumber(L, static_cast<lua_Number>(log_value));
  lua_rawset(L, -3);
  lua_setglobal(L, "__akq");
}
