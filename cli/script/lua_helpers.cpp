#include "cli/script/lua_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/platform/console.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

int CountWriter(lua_State*, const void*, size_t size, void* ud) {
  *static_cast<size_t*>(ud) += size;
  return 0;
}

struct CopyState {
  std::string* buffer;
  size_t offset;
};

int CopyWriter(lua_State*, const void* p, size_t size, void* ud) {
  auto* state = static_cast<CopyState*>(ud);
  if (state->offset + size > state->buffer->size()) return 1;
  std::memcpy(state->buffer->data() + state->offset, p, size);
  state->offset += size;
  return 0;
}

struct Limit {
  size_t used;
  size_t limit;
  StateHost* host;
};

void* LimitedAlloc(void* ud, void* ptr, size_t old_size, size_t new_size) {
  auto* limit = static_cast<Limit*>(ud);
  // For a fresh block Lua passes the type tag in old_size, not a size.
  size_t old_bytes = ptr ? old_size : 0;
  if (new_size == 0) {
    std::free(ptr);
    limit->used -= old_bytes;
    return nullptr;
  }
  if (limit->limit != 0 && new_size > old_bytes &&
      limit->used - old_bytes + new_size > limit->limit)
    return nullptr;
  void* result = std::realloc(ptr, new_size);
  if (result != nullptr) limit->used = limit->used - old_bytes + new_size;
  return result;
}

int Panic(lua_State* L) {
  const char* message = lua_tostring(L, -1);
  platform::ConsoleWriteError(std::string("akqp-cli: unprotected Lua error: ") +
                              (message ? message : "(no message)"));
  std::abort();
}

}  // namespace

std::optional<std::string> DumpFunction(lua_State* L, int index, bool strip) {
  if (lua_type(L, index) != LUA_TFUNCTION) return std::nullopt;
  lua_pushvalue(L, index);
  size_t total = 0;
  int status = lua_dump(L, CountWriter, &total, strip ? 1 : 0);
  if (status != 0 || total == 0) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  std::string buffer(total, '\0');
  CopyState copy{&buffer, 0};
  status = lua_dump(L, CopyWriter, &copy, strip ? 1 : 0);
  lua_pop(L, 1);
  if (status != 0 || copy.offset != total) return std::nullopt;
  return buffer;
}

std::optional<std::string> CompileToChunk(lua_State* L, std::string_view text,
                                          const std::string& chunk_name, bool strip,
                                          bool quiet, const char* mode) {
  int top = lua_gettop(L);
  const std::string name = chunk_name.empty() ? "Main::Code" : chunk_name;
  int status = luaL_loadbufferx(L, text.data(), text.size(), name.c_str(), mode);
  if (status != LUA_OK) {
    if (!quiet && lua_type(L, -1) == LUA_TSTRING) {
      size_t length = 0;
      const char* message = lua_tolstring(L, -1, &length);
      PrintLuaError(CleanLuaMessage(std::string_view(message, length)));
    }
    lua_settop(L, top);
    return std::nullopt;
  }
  std::optional<std::string> chunk = DumpFunction(L, -1, strip);
  lua_settop(L, top);
  return chunk;
}

std::string ValueToText(lua_State* L, int index) {
  luaL_checkany(L, index);
  switch (lua_type(L, index)) {
    case LUA_TNUMBER:
    case LUA_TSTRING: {
      size_t length = 0;
      const char* s = lua_tolstring(L, index, &length);
      return std::string(s, length);
    }
    case LUA_TBOOLEAN:
      return lua_toboolean(L, index) ? "true" : "false";
    case LUA_TNIL:
      return "nil";
    default: {
      char address[32];
      // Only the low 32 bits are shown, as the host's 32-bit addresses are.
      std::snprintf(address, sizeof address, "%08X",
                    static_cast<unsigned>(reinterpret_cast<uintptr_t>(lua_topointer(L, index))));
      return std::string(luaL_typename(L, index)) + ": " + address;
    }
  }
}

std::string CleanLuaMessage(std::string_view text) {
  std::string result(text);
  for (const std::string_view piece : {std::string_view("[string \""), std::string_view("\"]")}) {
    size_t pos = 0;
    while ((pos = result.find(piece, pos)) != std::string::npos) result.erase(pos, piece.size());
  }
  return result;
}

void PrintLuaError(std::string_view text) {
  platform::ConsoleWriteLine(std::string("ERROR: ") + std::string(text));
  platform::ConsoleWriteLine("");
}

lua_State* NewLimitedState(size_t limit) {
  auto* state = new Limit{0, limit, nullptr};
  lua_State* L = lua_newstate(LimitedAlloc, state);
  if (L == nullptr) {
    delete state;
    return nullptr;
  }
  lua_atpanic(L, Panic);
  return L;
}

void CloseLimitedState(lua_State* L) {
  if (L == nullptr) return;
  void* ud = nullptr;
  lua_getallocf(L, &ud);
  lua_close(L);
  delete static_cast<Limit*>(ud);
}

namespace {

Limit* LimitOf(lua_State* L) {
  void* ud = nullptr;
  if (L == nullptr || lua_getallocf(L, &ud) != LimitedAlloc) return nullptr;
  return static_cast<Limit*>(ud);
}

}  // namespace

void SetStateHost(lua_State* L, StateHost* host) {
  if (Limit* limit = LimitOf(L)) limit->host = host;
}

StateHost* GetStateHost(lua_State* L) {
  Limit* limit = LimitOf(L);
  return limit ? limit->host : nullptr;
}
