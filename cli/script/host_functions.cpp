#include "cli/script/host_functions.h"

#include <algorithm>
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
  // A negative, NaN or missing time sleeps not at all (it still raises a stop that is
  // due); the cap is the 32-bit range.
  uint32_t wait = 0;
  if (lua_gettop(L) >= 1 && lua_isnumber(L, 1)) {
    double ms = lua_tonumber(L, 1);
    if (ms > 0) wait = ms >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(std::nearbyint(ms));
  }
  SleepCanceller* canceller = Canceller(L);
  if (!canceller->Sleep(wait)) {
    lua_pushstring(L, canceller->message());
    return lua_error(L);
  }
  lua_pushnil(L);
  return 1;
}

// Scripts load text only: Lua does not verify bytecode, so a crafted binary chunk could
// crash the compiler. The mode a script asks for loses its "b"; Lua's own check then
// gives its usual "attempt to load a binary chunk" error. The loaders are written here
// rather than wrapped: the standard ones would stay within a script's reach (as an
// upvalue, or on the call stack while a reader function runs).
constexpr int kReaderSlot = 5;

// The mode argument at `index` ("bt" when absent) without its "b", into `mode`.
const char* TextMode(lua_State* L, int index, char (&mode)[4]) {
  const char* given = luaL_optstring(L, index, "bt");
  size_t length = 0;
  for (; *given != '\0' && length + 1 < sizeof mode; ++given)
    if (*given != 'b') mode[length++] = *given;
  mode[length] = '\0';
  return mode;
}

const char* ReadFromFunction(lua_State* L, void*, size_t* size) {
  luaL_checkstack(L, 2, "too many nested functions");
  lua_pushvalue(L, 1);
  lua_call(L, 0, 1);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    *size = 0;
    return nullptr;
  }
  if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
  lua_replace(L, kReaderSlot);
  return lua_tolstring(L, kReaderSlot, size);
}

// The loaded function with `env` (a stack index, 0 for none) as its first upvalue, or
// nil and the message.
int LoadResult(lua_State* L, int status, int env) {
  if (status != LUA_OK) {
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
  }
  if (env != 0) {
    lua_pushvalue(L, env);
    if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
  }
  return 1;
}

// load(chunk [, chunkname [, mode [, env]]])
int LuaLoad(lua_State* L) {
  char mode[4];
  size_t length = 0;
  const char* text = lua_tolstring(L, 1, &length);
  TextMode(L, 3, mode);
  int env = lua_isnone(L, 4) ? 0 : 4;
  int status;
  if (text != nullptr) {
    const char* name = luaL_optstring(L, 2, text);
    status = luaL_loadbufferx(L, text, length, name, mode);
  } else {
    const char* name = luaL_optstring(L, 2, "=(load)");
    luaL_checktype(L, 1, LUA_TFUNCTION);
    lua_settop(L, kReaderSlot);
    status = lua_load(L, ReadFromFunction, nullptr, name, mode);
  }
  return LoadResult(L, status, env);
}

// loadfile([filename [, mode [, env]]])
int LuaLoadFile(lua_State* L) {
  char mode[4];
  const char* name = luaL_optstring(L, 1, nullptr);
  TextMode(L, 2, mode);
  int env = lua_isnone(L, 3) ? 0 : 3;
  return LoadResult(L, luaL_loadfilex(L, name, mode), env);
}

int DoFileContinue(lua_State* L, int, lua_KContext) {
  return lua_gettop(L) - 1;
}

int LuaDoFile(lua_State* L) {
  const char* name = luaL_optstring(L, 1, nullptr);
  lua_settop(L, 1);
  if (luaL_loadfilex(L, name, "t") != LUA_OK) return lua_error(L);
  lua_callk(L, 0, LUA_MULTRET, 0, DoFileContinue);
  return DoFileContinue(L, 0, 0);
}

// The searcher of Lua modules for require: the standard one loads binary chunks too.
int LuaSearchModule(lua_State* L) {
  const char* name = luaL_checkstring(L, 1);
  lua_getglobal(L, "package");
  if (!lua_istable(L, -1)) return 0;
  lua_getfield(L, -1, "searchpath");
  lua_pushvalue(L, 1);
  lua_getfield(L, -3, "path");
  if (lua_type(L, -1) != LUA_TSTRING) luaL_error(L, "'package.path' must be a string");
  lua_call(L, 2, 2);
  if (lua_isnil(L, -2)) return 1;  // the message of every place looked at
  lua_pop(L, 1);
  const char* file = lua_tostring(L, -1);
  if (luaL_loadfilex(L, file, "t") != LUA_OK)
    return luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, file, lua_tostring(L, -1));
  lua_pushstring(L, file);
  return 2;
}

// package.loadlib as in a Lua built without dynamic libraries: a native library's
// functions would run with the script's state as their argument (luaopen_base would
// bring the binary loaders back, abort would end the compiler).
int LuaLoadLib(lua_State* L) {
  lua_pushnil(L);
  lua_pushliteral(L, "dynamic libraries not enabled; check your Lua installation");
  lua_pushliteral(L, "absent");
  return 3;
}

// debug.getupvalue and debug.setupvalue see the upvalues of Lua functions only. Those of
// C functions are the library's own state (the file of an io.lines iterator, the
// coroutine of a wrap, the sleep's canceller), which C code reads without checks: a
// script that replaced one could crash the compiler.
lua_CFunction g_standard_getupvalue = nullptr;
lua_CFunction g_standard_setupvalue = nullptr;

int CallStandard(lua_State* L, lua_CFunction standard) {
  if (standard == nullptr || lua_iscfunction(L, 1)) return 0;  // no such upvalue
  int arguments = lua_gettop(L);
  lua_pushcfunction(L, standard);
  lua_insert(L, 1);
  lua_call(L, arguments, LUA_MULTRET);
  return lua_gettop(L);
}

int LuaGetUpvalue(lua_State* L) {
  return CallStandard(L, g_standard_getupvalue);
}

int LuaSetUpvalue(lua_State* L) {
  return CallStandard(L, g_standard_setupvalue);
}

void HideNativeUpvalues(lua_State* L) {
  lua_getglobal(L, "debug");
  if (lua_istable(L, -1)) {
    const struct {
      const char* name;
      lua_CFunction function;
      lua_CFunction* standard;
    } replaced[] = {{"getupvalue", LuaGetUpvalue, &g_standard_getupvalue},
                    {"setupvalue", LuaSetUpvalue, &g_standard_setupvalue}};
    for (const auto& entry : replaced) {
      lua_getfield(L, -1, entry.name);
      if (lua_CFunction standard = lua_tocfunction(L, -1)) *entry.standard = standard;
      lua_pop(L, 1);
      lua_pushcfunction(L, entry.function);
      lua_setfield(L, -2, entry.name);
    }
  }
  lua_pop(L, 1);
}

void RegisterTextOnlyLoaders(lua_State* L) {
  const struct {
    const char* name;
    lua_CFunction function;
  } loaders[] = {{"load", LuaLoad}, {"loadfile", LuaLoadFile}, {"dofile", LuaDoFile}};
  for (const auto& loader : loaders) {
    lua_pushcfunction(L, loader.function);
    lua_setglobal(L, loader.name);
  }
  lua_getglobal(L, "package");
  if (lua_istable(L, -1)) {
    lua_pushcfunction(L, LuaLoadLib);
    lua_setfield(L, -2, "loadlib");
    // require finds preloaded and Lua modules; native modules, like loadlib, are absent.
    lua_getfield(L, -1, "searchers");
    if (lua_istable(L, -1)) {
      lua_pushcfunction(L, LuaSearchModule);
      lua_rawseti(L, -2, 2);
      lua_pushnil(L);
      lua_rawseti(L, -2, 4);
      lua_pushnil(L);
      lua_rawseti(L, -2, 3);
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}

int LuaExit(lua_State*) {
  platform::ConsoleWriteLine("You should close the tab! :)");
  return 0;
}

}  // namespace

int64_t SleepCanceller::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits until the sleep's own end or just past the deadline, whichever comes first, and
// looks again whenever it is woken: a cancel, or a deadline that moved.
bool SleepCanceller::Sleep(uint32_t ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  std::unique_lock<std::mutex> lock(g_sleep_mutex);
  for (;;) {
    if (cancelled_.load()) return false;
    int64_t deadline = deadline_.load();
    if (deadline != kNoDeadline && NowMs() > deadline) break;
    if (Clock::now() >= end) return true;
    Clock::time_point wake = end;
    if (deadline != kNoDeadline)
      wake = std::min(wake, Clock::time_point(std::chrono::milliseconds(deadline + 1)));
    g_sleep_wake.wait_until(lock, wake);
  }
  // The deadline came first: the stop is put in force before the sleep raises it.
  lock.unlock();
  if (at_deadline_)
    at_deadline_();
  else
    Cancel(message_.load());
  return false;
}

void SleepCanceller::SetDeadline(int64_t deadline_ms) {
  {
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    deadline_ = deadline_ms;
  }
  g_sleep_wake.notify_all();
}

void SleepCanceller::Cancel(const char* message) {
  {
    std::lock_guard<std::mutex> lock(g_sleep_mutex);
    message_ = message;
    cancelled_ = true;
  }
  g_sleep_wake.notify_all();
}

void SleepCanceller::Reset() {
  std::lock_guard<std::mutex> lock(g_sleep_mutex);
  cancelled_ = false;
}

double HostInt(double value) {
  // Out of range (and NaN) gives the x86 "integer indefinite" value, as the FPU
  // conversion the host's int() relies on does.
  double rounded = std::nearbyint(value);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return -2147483648.0;
  // A 32-bit integer has no negative zero: -0.4 and -0.0 give 0.
  if (rounded == 0) return 0.0;
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

  RegisterTextOnlyLoaders(L);
  HideNativeUpvalues(L);

  lua_newtable(L);
  lua_pushstring(L, "__log");
  lua_pushnumber(L, static_cast<lua_Number>(log_value));
  lua_rawset(L, -3);
  lua_setglobal(L, "__akq");
}
