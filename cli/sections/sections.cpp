#include "cli/sections/sections.h"

#include <cstring>
#include <string>

#include "cli/sections/assemblies.h"
#include "common/platform/console.h"

extern "C" {
#include <lua.h>
}

namespace {

// Prints a warning line only when warnings are on; the entry is handled the same way
// either way.
void Warn(const SectionContext& ctx, const std::string& line) {
  if (ctx.warnings) platform::ConsolePrint(line);
}

// Strings are seen as NUL-terminated byte strings: whatever follows an embedded NUL is
// not seen.
std::string Text(lua_State* L, int index) {
  const char* s = lua_tolstring(L, index, nullptr);
  return s ? std::string(s) : std::string();
}

void ProcessInfo(SectionContext& ctx) {
  lua_State* L = ctx.L;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    if (IsTextValue(L, -2)) {
      std::string key = Text(L, -2);
      bool handled = false;
      if (IsTextValue(L, -1)) {
        ctx.tables->information[key] = Text(L, -1);
        handled = true;
      }
      if (key == "finfo" && lua_type(L, -1) == LUA_TTABLE) {
        lua_pushnil(L);
        while (lua_next(L, -2) != 0) {
          if (!IsTextValue(L, -2) || !IsTextValue(L, -1))
            Warn(ctx, "[WARNING] info.finfo: Illegal combination used, both index and value must be string! Ignored an index.");
          lua_settop(L, -2);
        }
        handled = true;
      } else if (key == "finfo") {
        Warn(ctx, "[WARNING] info.finfo should be of type table!");
      }
      if (!handled)
        Warn(ctx, "[WARNING] info: Unssuported combinations of indexes / data used. String indexes, string values except for the finfo table.");
    }
    lua_settop(L, -2);
  }
}

void ProcessFunctions(SectionContext& ctx) {
  lua_State* L = ctx.L;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    if (!IsTextValue(L, -2) || lua_type(L, -1) != LUA_TFUNCTION)
      Warn(ctx, "[WARNING] functions: This should be a string-indexed table containing only functions, ignored an index.");
    lua_settop(L, -2);
  }
}

// A recognised structure: a metatable whose "__data" (read with lua_gettable, so
// metamethods apply) is a table whose "type" is the string "KSTRL_STRUCT".
bool IsKestrelStruct(lua_State* L, int index) {
  int top = lua_gettop(L);
  index = lua_absindex(L, index);
  bool recognised = false;
  if (lua_getmetatable(L, index)) {
    lua_pushstring(L, "__data");
    lua_gettable(L, -2);
    if (lua_type(L, -1) == LUA_TTABLE) {
      lua_pushstring(L, "type");
      lua_gettable(L, -2);
      if (lua_isstring(L, -1)) {
        const char* type = lua_tostring(L, -1);
        recognised = type != nullptr && std::strcmp(type, "KSTRL_STRUCT") == 0;
      }
    }
  }
  lua_settop(L, top);
  return recognised;
}

void ProcessStructures(SectionContext& ctx) {
  lua_State* L = ctx.L;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    if (!IsTextValue(L, -2) || lua_type(L, -1) != LUA_TTABLE) {
      Warn(ctx, "[WARNING] structures: This should be a string-indexed table containing Kestrel structures!");
    } else if (!IsKestrelStruct(L, -1)) {
      Warn(ctx, "[WARNING] structures: Structure '" + Text(L, -2) +
                    "' will be ignored when this file is loaded in AMS! Please create structures with Kestrel.DefineStruct!");
    }
    lua_settop(L, -2);
  }
}

void ProcessPublic(SectionContext& ctx) {
  lua_State* L = ctx.L;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    if (!IsNumericValue(L, -2) || !IsTextValue(L, -1))
      Warn(ctx, "[WARNING] public: This should be a numerically indexed table containing only strings! Ignored an index.");
    lua_settop(L, -2);
  }
}

void ProcessConstants(SectionContext& ctx) {
  lua_State* L = ctx.L;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    if (!IsTextValue(L, -2))
      Warn(ctx, "[WARNING] constants: This should be a string-indexed table containing any value, ignored this non-string index.");
    lua_settop(L, -2);
  }
}

struct Section {
  const char* key;
  const char* progress;
  void (*check)(SectionContext&);
};

const Section kSections[] = {
    {"info", "Processing information section...", ProcessInfo},
    {"functions", "Processing function section...", ProcessFunctions},
    {"structures", "Processing structure section...", ProcessStructures},
    {"assemblies", "Processing assemblies section...", ProcessAssemblies},
    {"public", "Processing public declaration section...", ProcessPublic},
    {"constants", "Processing global / constant section...", ProcessConstants},
};

}  // namespace

bool IsTextValue(lua_State* L, int index) {
  return !lua_isnumber(L, index) && lua_isstring(L, index);
}

bool IsNumericValue(lua_State* L, int index) {
  return lua_isnumber(L, index) != 0;
}

void ProcessSections(SectionContext& ctx) {
  lua_State* L = ctx.L;
  // Room for the deepest walk: table, key, value, inner key, inner value, probes.
  lua_checkstack(L, 16);
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    if (!IsTextValue(L, -2)) {
      Warn(ctx, "[WARNING] Non-string index detected in table, not supported by QP. Ignored.");
    } else {
      // No C++ object may live across a checker: a script's metamethod that fails there
      // unwinds to the protected call without running destructors.
      const char* key = lua_tostring(L, -2);
      const Section* section = nullptr;
      for (const Section& s : kSections)
        if (std::strcmp(key, s.key) == 0) section = &s;
      if (section == nullptr) {
        Warn(ctx, "[WARNING] Unsupported field '" + std::string(key) + "' ignored.");
      } else {
        if (ctx.args && ctx.args->compile_flag) platform::ConsolePrint(section->progress);
        if (lua_type(L, -1) == LUA_TTABLE) section->check(ctx);
      }
    }
    lua_settop(L, -2);
  }
  lua_settop(L, -2);
}
