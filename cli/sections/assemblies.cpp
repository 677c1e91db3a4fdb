#include "cli/sections/assemblies.h"

extern "C" {
#include <lua.h>
}

#include <string_view>

#include "cli/assembler/assembler.h"
#include "cli/sections/sections.h"
#include "common/data_folders/data_folders.h"
#include "common/platform/console.h"
#include "common/platform/dynlib.h"
#include "common/platform/fs.h"

namespace {

const char kSection[] = "assemblies: ";

// A Lua string as the rest of the compiler sees it: up to its first NUL byte.
std::string StringAt(lua_State* L, int index) {
  const char* text = lua_tolstring(L, index, nullptr);
  return text ? std::string(text) : std::string();
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

std::string RemoveAll(std::string text, std::string_view what) {
  if (what.empty()) return text;
  std::string result;
  result.reserve(text.size());
  size_t start = 0;
  size_t pos;
  while ((pos = text.find(what, start)) != std::string::npos) {
    result.append(text, start, pos - start);
    start = pos + what.size();
  }
  result.append(text, start, std::string::npos);
  return result;
}

// Blanks around a routine's text: spaces, tabs and line ends, so that a long-bracket
// literal's closing line end does not hide its ";ENDASSEMBLY".
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string TrimBlanks(const std::string& text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && IsBlank(text[end - 1])) --end;
  return text.substr(start, end - start);
}

// Function names are trimmed of spaces and tabs only.
std::string TrimName(std::string_view text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && (text[start] == ' ' || text[start] == '\t')) ++start;
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(start, end - start));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Reading a field with lua_gettable runs the script's metamethods, and lua_next can
// raise an error too. Both run protected here, so that a Lua error never jumps over the
// C++ frames of this walk.
int GetFieldCall(lua_State* L) {
  lua_gettable(L, 1);
  return 1;
}

int NextCall(lua_State* L) {
  return lua_next(L, 1) != 0 ? 2 : 0;
}

// Pushes table[key] (metamethods apply). False with the error value pushed instead.
bool ProtectedGetField(lua_State* L, int table_index, const char* key) {
  int table = lua_absindex(L, table_index);
  lua_pushcfunction(L, GetFieldCall);
  lua_pushvalue(L, table);
  lua_pushstring(L, key);
  return lua_pcall(L, 2, 1, 0) == LUA_OK;
}

// lua_next on the table at `table` with the key on top: 1 with key and value pushed,
// 0 at the end (key popped), -1 with the error value in place of the key.
int ProtectedNext(lua_State* L, int table) {
  int base = lua_gettop(L) - 1;  // below the key
  lua_pushcfunction(L, NextCall);
  lua_insert(L, -2);
  lua_pushvalue(L, table);
  lua_insert(L, -2);
  if (lua_pcall(L, 2, LUA_MULTRET, 0) != LUA_OK) return -1;
  return lua_gettop(L) > base ? 1 : 0;
}

class AssembliesChecker {
 public:
  explicit AssembliesChecker(SectionContext& ctx) : ctx_(ctx), L_(ctx.L) {}

  // False when a script's metamethod raised an error: the error value is then on top of
  // the stack, and the caller raises it again once no C++ object of this walk is alive.
  bool Run() {
    int table = lua_gettop(L_);
    lua_pushnil(L_);
    for (;;) {
      int more = ProtectedNext(L_, table);
      if (more < 0) return false;
      if (more == 0) break;
      if (!IsTextValue(L_, -2) || lua_type(L_, -1) != LUA_TTABLE) {
        Warn(std::string("[WARNING] ") + kSection +
             "This should be a string-indexed table containing only tables, ignored an index.");
      } else if (!Entry(StringAt(L_, -2))) {
        return false;
      }
      lua_settop(L_, -2);
    }
    return true;
  }

 private:
  void Progress(const std::string& line) {
    if (ctx_.args != nullptr && ctx_.args->compile_flag != 0) platform::ConsolePrint(line);
  }
  void Warn(const std::string& line) {
    if (ctx_.warnings) platform::ConsolePrint(line);
  }
  void Error(const std::string& line) {
    platform::ConsolePrint(line);
    if (ctx_.args != nullptr) ctx_.args->success_flag = 0;
  }

  // The entry's table is on top of the stack.
  bool Entry(const std::string& name) {
    if (!ProtectedGetField(L_, -1, "assembly")) return false;
    if (lua_isstring(L_, -1)) {
      Progress("Attempting assembling '" + name + "'.");
      std::string text = ReplaceAll(StringAt(L_, -1), "%incdir%", IncludeFolder());
      AssembleEntry(name, text);
    } else {
      Error(std::string("[ERROR] ") + kSection + "Assembly entry '" + name +
            "' doesn't have an assembly string!");
    }
    lua_settop(L_, -2);

    Progress("Processing dependencies in '" + name + "'.");
    if (!ProtectedGetField(L_, -1, "dependencies")) return false;
    if (lua_type(L_, -1) == LUA_TTABLE) {
      if (!Dependencies(name)) return false;
    } else if (!lua_isnil(L_, -1)) {
      Warn(std::string("[WARNING] ") + kSection + "In Assembly entry '" + name +
           "', the field 'dependencies' should be nil or a numerically indexed string table.");
    }
    lua_settop(L_, -2);
    return true;
  }

  void AssembleEntry(const std::string& name, const std::string& text) {
    size_t length = 0;
    std::unique_ptr<platform::CodeBlock> block = Assemble(text, &length, &error_);
    if (!block) {
      Error(std::string("[ERROR] ") + kSection + "Assembly entry '" + name + "' error [" +
            std::to_string(error_.code) + "]: Line " + std::to_string(error_.line) + ": " +
            error_.message);
      return;
    }
    if (ctx_.tables == nullptr) return;
    // A later entry of the same name replaces the earlier one; its block is released.
    MachineCodeEntry& entry = ctx_.tables->machine_code[name];
    if (entry.block) ReleaseMachineCode(std::move(entry.block));
    entry.block = std::move(block);
    entry.length = length;
    ctx_.tables->assembly_text[name] = text;
  }

  // The dependencies table is on top of the stack.
  bool Dependencies(const std::string& name) {
    int table = lua_gettop(L_);
    lua_pushnil(L_);
    for (;;) {
      int more = ProtectedNext(L_, table);
      if (more < 0) return false;
      if (more == 0) break;
      if (IsNumericValue(L_, -2) && lua_isstring(L_, -1)) {
        // A number value turns into its text form; only the key matters to lua_next.
        Dependency(name, StringAt(L_, -1));
      }
      lua_settop(L_, -2);
    }
    return true;
  }

  void Dependency(const std::string& name, const std::string& dependency) {
    const std::string prefix = std::string("[WARNING] ") + kSection + "In Assembly entry '" + name + "', ";
    size_t bar = dependency.find('|');
    if (bar == std::string::npos) {
      Warn(prefix +
           "a dependency should have the format 'libraryPath.dll|FunctionNameA,otherFunctionA', '" +
           dependency + "' has been ignored.");
      return;
    }
    std::string library_path = dependency.substr(0, bar);
    size_t second = dependency.find('|', bar + 1);
    std::string functions = dependency.substr(
        bar + 1, second == std::string::npos ? std::string::npos : second - bar - 1);
    void* library = platform::LoadLibrary(library_path);
    if (library == nullptr) {
      Warn(prefix + "library '" + library_path + "' in '" + dependency +
           "' could not be loaded and thus not be checked.");
      return;
    }
    size_t start = 0;
    for (;;) {
      size_t comma = functions.find(',', start);
      std::string function = TrimName(std::string_view(functions).substr(
          start, comma == std::string::npos ? std::string::npos : comma - start));
      if (!function.empty() && !platform::LibraryHasSymbol(library, function)) {
        Warn(prefix + "'" + function + "' could not be found in library '" + library_path + "'.");
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    platform::FreeLibrary(library);
  }

  SectionContext& ctx_;
  lua_State* L_;
  // Filled on every failed assembly, so a printed error never shows an earlier one.
  AssemblerError error_;
};

}  // namespace

void ProcessAssemblies(SectionContext& ctx) {
  lua_State* L = ctx.L;
  if (L == nullptr || lua_type(L, -1) != LUA_TTABLE) return;
  int top = lua_gettop(L);
  bool completed = AssembliesChecker(ctx).Run();
  if (completed) return;
  // A metamethod of the script failed: its error goes on to the caller's protected call,
  // as if it had been raised right there. Nothing of this walk is alive any more.
  lua_insert(L, top + 1);
  lua_settop(L, top + 1);
  lua_error(L);
}

std::string PrepareScriptForOutput(const std::string& script, const SectionTables& tables) {
  std::string prepared = ReplaceAll(script, "\r\n", "\n");
  for (const auto& [name, text] : tables.assembly_text) {
    std::string routine = ReplaceAll(TrimBlanks(text), "\r\n", "\n");
    if (StartsWith(routine, ";ASSEMBLY") && EndsWith(routine, ";ENDASSEMBLY"))
      prepared = RemoveAll(prepared, routine);
  }
  return prepared;
}

void ReleaseMachineCode(SectionTables& tables) {
  for (auto& [name, entry] : tables.machine_code) {
    if (entry.block) ReleaseMachineCode(std::move(entry.block));
    entry.length = 0;
  }
  tables.machine_code.clear();
}

std::string IncludeFolder() { return data_folders::IncludeFolder(platform::ProgramFolder()); }
