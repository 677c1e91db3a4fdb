#include "cli/script/stop_calls.h"

#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "cli/script/script_guard.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// The state's guard, kept in the extra space of each of its threads (a coroutine gets a
// copy of the main thread's when it is made): a library call finds it there without a
// call into Lua, and no script can reach it.
ScriptGuard*& GuardOf(lua_State* L) {
  return *static_cast<ScriptGuard**>(lua_getextraspace(L));
}

// A wrapper runs the original in its own call, not through lua_call: an argument error
// names the function from the call's frame, and a yield or a continuation (pcall in a
// coroutine) works on that frame as it did on the original's.
//
// Each original gets a wrapper of its own, a plain C function that finds it in a slot
// of g_originals: reading the original from a closure's upvalue (an API call) would cost
// more than the check itself. The originals are the same in every state (the libraries'
// and the host's functions), so a few hundred slots serve the whole process; past them a
// closure that keeps the original as its upvalue does the same.
constexpr int kSlots = 512;
std::atomic<lua_CFunction> g_originals[kSlots];
std::mutex g_slots_mutex;
std::map<lua_CFunction, lua_CFunction> g_wrapper_of;  // original -> its wrapper
std::set<lua_CFunction> g_wrappers;
bool g_closures_only = false;

template <int N>
int SlotCall(lua_State* L) {
  if (ScriptGuard* guard = GuardOf(L)) guard->CheckCall(L);
  return g_originals[N].load(std::memory_order_relaxed)(L);
}

template <int... N>
constexpr std::array<lua_CFunction, sizeof...(N)> MakeSlotCalls(std::integer_sequence<int, N...>) {
  return {SlotCall<N>...};
}
constexpr std::array<lua_CFunction, kSlots> kSlotCalls = MakeSlotCalls(std::make_integer_sequence<int, kSlots>());

int ClosureCall(lua_State* L) {
  if (ScriptGuard* guard = GuardOf(L)) guard->CheckCall(L);
  return lua_tocfunction(L, lua_upvalueindex(1))(L);
}

// Pushes the wrapper of `original`; false (nothing pushed) when `original` is a wrapper.
bool PushWrapper(lua_State* L, lua_CFunction original) {
  {
    std::lock_guard<std::mutex> lock(g_slots_mutex);
    if (original == ClosureCall || g_wrappers.count(original) != 0) return false;
    auto it = g_wrapper_of.find(original);
    if (it == g_wrapper_of.end() && g_wrapper_of.size() < kSlots) {
      size_t slot = g_wrapper_of.size();
      g_originals[slot].store(original);
      it = g_wrapper_of.emplace(original, kSlotCalls[slot]).first;
      g_wrappers.insert(it->second);
    }
    if (it != g_wrapper_of.end() && !g_closures_only) {
      lua_pushcfunction(L, it->second);
      return true;
    }
  }
  lua_pushcfunction(L, original);
  lua_pushcclosure(L, ClosureCall, 1);
  return true;
}

// Wraps the plain C functions of the table on top of the stack.
void WrapTable(lua_State* L) {
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    lua_CFunction original = lua_tocfunction(L, -1);
    bool plain = original != nullptr && lua_type(L, -2) == LUA_TSTRING &&
                 std::strncmp(lua_tostring(L, -2), "__", 2) != 0;
    if (plain && lua_getupvalue(L, -1, 1) != nullptr) {
      lua_pop(L, 1);
      plain = false;
    }
    if (plain) {
      // Replacing the value of a key that the traversal has reached keeps lua_next valid.
      lua_pushvalue(L, -2);
      if (PushWrapper(L, original))
        lua_rawset(L, -5);
      else
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
}

// Wraps the table at `index` (any other value is left alone).
void WrapTableAt(lua_State* L, int index) {
  if (!lua_istable(L, index)) return;
  lua_pushvalue(L, index);
  WrapTable(L);
  lua_pop(L, 1);
}

}  // namespace

void StopLibraryCallsAtLimit(lua_State* L) {
  int top = lua_gettop(L);
  lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_MAINTHREAD);
  GuardOf(lua_tothread(L, -1)) = ScriptGuard::Of(L);
  GuardOf(L) = ScriptGuard::Of(L);
  lua_pushglobaltable(L);
  WrapTableAt(L, -1);
  lua_getfield(L, -1, "sys");
  WrapTableAt(L, -1);
  lua_pop(L, 1);
  // The libraries that are loaded: _G (done already) and the standard ones.
  lua_getfield(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
  if (lua_istable(L, -1)) {
    lua_pushnil(L);
    while (lua_next(L, -2) != 0) {
      WrapTableAt(L, -1);
      lua_pop(L, 1);
    }
  }
  // The methods of file handles (the handle's metatable is its own __index in Lua 5.3).
  luaL_getmetatable(L, LUA_FILEHANDLE);
  if (lua_istable(L, -1)) {
    lua_getfield(L, -1, "__index");
    WrapTableAt(L, -1);
  }
  lua_settop(L, top);
}

void UseClosureWrappersForTesting(bool closures) {
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  g_closures_only = closures;
}
