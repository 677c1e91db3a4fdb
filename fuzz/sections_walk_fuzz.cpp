// Definition scripts through the section walk: the input is read as a recipe for a
// returned table (nested tables, metatables whose __index and __gc run script code that
// returns, fails, sleeps, collects garbage or resumes coroutines, structures of the core
// chunk, assembly entries and dependency strings), which is written out as a script, run
// in a state set up as the compiler sets it up, and walked by the real walk under the
// script guard. The walk must never crash, must leave the stack as it found it, and must
// only keep machine code for routines whose text it keeps.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/assembler/assembler.h"
#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"
#include "cli/script/pipeline.h"
#include "cli/script/script_guard.h"
#include "cli/sections/assemblies.h"
#include "cli/sections/sections.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

const char* const kWords[] = {
    "info", "name", "finfo", "functions", "structures", "assemblies", "public", "constants",
    "assembly", "dependencies", "__data", "type", "KSTRL_STRUCT", "1.0", "10", "", " m ",
    "libc.so.6|puts", "libz.so.1|crc32,malloc", "libm.so.6|printf, cos", "./missing.so|x",
    "/dev/null|x", "/tmp|x", "|", "a|b|c", "libc.so.6|", "libc.so.6|,,puts,",
    "use32\nret", ";ASSEMBLY\nuse32\nmov eax, 1\nret\n;ENDASSEMBLY", "use32\nmov eax,", "%incdir%",
    "\0hidden",
};

class Generator {
 public:
  explicit Generator(FuzzedDataProvider& data) : data_(data) {}

  std::string Script() {
    std::string table = Table(0, true);
    return "local co = coroutine.wrap(function() while true do coroutine.yield(1) end end)\n"
           "local t = " + table + "\nreturn t\n";
  }

 private:
  std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
      char buffer[8];
      snprintf(buffer, sizeof buffer, "\\%u", c);
      out += buffer;
    }
    return out + "\"";
  }

  std::string Word() {
    if (data_.ConsumeBool()) {
      size_t index = data_.ConsumeIntegralInRange<size_t>(0, sizeof kWords / sizeof kWords[0] - 1);
      std::string word = kWords[index];
      if (index == sizeof kWords / sizeof kWords[0] - 1) word = std::string("\0hidden", 7);
      return Quote(word);
    }
    return Quote(data_.ConsumeRandomLengthString(12));
  }

  // Script code that gives a value: returns it, fails with it, or does odd things first.
  // A finalizer never collects garbage itself: Lua 5.3 can loop for ever when one does so
  // while the state is closed (the compiler gives such a close up at its deadline).
  std::string Body(int depth, bool finalizer = false) {
    switch (data_.ConsumeIntegralInRange(0, 7)) {
      case 0: return "return " + Value(depth + 1);
      case 1: return "error(" + Value(depth + 1) + ")";
      case 2: return (finalizer ? "" : "collectgarbage() ") + std::string("return ") + Value(depth + 1);
      case 3: return "co() return " + Value(depth + 1);
      case 4: return "sys.sleep(0) return " + Value(depth + 1);
      case 5: return "return rawget(t or {}, k)";
      case 6: return "return pcall(error, " + Value(depth + 1) + ")";
      default: return "local s = {} for i = 1, 50 do s[i] = i end return " + Value(depth + 1);
    }
  }

  // Metatables of metatables and tables in __index nest no deeper than this: every
  // open call of a nested expression holds registers, Lua's parser refuses a function
  // that needs more than 255 of them, and the generator writes only scripts that load.
  static constexpr int kMaxDepth = 12;

  std::string Metatable(int depth) {
    std::string fields;
    int count = data_.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count; ++i) {
      switch (data_.ConsumeIntegralInRange(0, 4)) {
        case 0: fields += "__index = function(t, k) " + Body(depth) + " end, "; break;
        case 1:
          fields += depth < kMaxDepth ? "__index = " + Table(depth + 1, false) + ", " : "__index = {}, ";
          break;
        case 2: fields += "__gc = function() " + Body(depth, true) + " end, "; break;
        case 3: fields += "__data = " + Value(depth + 1) + ", "; break;
        default: fields += "__metatable = false, "; break;
      }
    }
    std::string meta = "{" + fields + "}";
    if (data_.ConsumeBool() && depth < kMaxDepth)
      meta = "setmetatable(" + meta + ", " + Metatable(depth + 1) + ")";
    return meta;
  }

  std::string Value(int depth) {
    if (depth > 4) return data_.ConsumeBool() ? Word() : "1";
    switch (data_.ConsumeIntegralInRange(0, 10)) {
      case 0: return "nil";
      case 1: return data_.ConsumeBool() ? "true" : "false";
      case 2: return std::to_string(data_.ConsumeIntegral<int16_t>());
      case 3: return data_.ConsumeBool() ? "0/0" : "1.5";
      case 4: return "print";
      case 5: return "function() " + Body(depth) + " end";
      case 6: return "Kestrel.DefineStruct(\"S\", {{\"x\", \"int\"}})";
      case 7: return "co";
      case 8: case 9: return Table(depth + 1, false);
      default: return Word();
    }
  }

  std::string Table(int depth, bool top) {
    std::string fields;
    int count = data_.ConsumeIntegralInRange(0, top ? 8 : 4);
    for (int i = 0; i < count && data_.remaining_bytes() > 0; ++i) {
      std::string key = data_.ConsumeBool() ? Word() : Value(depth + 1);
      if (key == "nil" || key == "0/0") key = "1";
      fields += "[" + key + "] = " + Value(depth) + ", ";
    }
    std::string table = "{" + fields + "}";
    if (data_.ConsumeProbability<float>() < 0.3f) table = "setmetatable(" + table + ", " + Metatable(depth) + ")";
    return table;
  }

  FuzzedDataProvider& data_;
};

int Walk(lua_State* L) {
  auto* context = static_cast<SectionContext*>(lua_touserdata(L, 2));
  lua_settop(L, 1);
  ProcessSections(*context);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    platform::ConsoleSetSink([](std::string_view) {});
    settings::SetForTest("compiler::warnings", 1);
    if (!InitialiseAssembler()) __builtin_trap();
    return true;
  }();
  (void)ready;

  FuzzedDataProvider provider(data, size);
  std::string script = Generator(provider).Script();
  // AKQP_FUZZ_SHOW=1 shows the script written for an input (to replay a finding).
  static const bool show = std::getenv("AKQP_FUZZ_SHOW") != nullptr;
  if (show) fprintf(stderr, "%s\n", script.c_str());

  lua_State* L = NewLimitedState(64u << 20);
  if (L == nullptr) return 0;
  luaL_openlibs(L);
  auto guard = std::make_shared<ScriptGuard>(L);
  RegisterHostFunctions(L, &guard->sleep(), 0);
  RunCoreChunk(L);
  guard->BeginStage("stopped", 20000000);

  if (luaL_loadbufferx(L, script.data(), script.size(), "Main::[f.lua]", "t") != LUA_OK) {
    // The generator writes only valid scripts.
    __builtin_trap();
  }
  if (lua_pcall(L, 0, 1, 0) == LUA_OK && lua_istable(L, -1)) {
    SectionTables tables;
    CompileArgs args;
    args.compile_flag = 1;
    args.success_flag = 1;
    SectionContext context;
    context.L = L;
    context.args = &args;
    context.tables = &tables;
    guard->BeginStage("a metamethod ran too long", 20000000);
    int base = lua_gettop(L) - 1;
    lua_pushcfunction(L, Walk);
    lua_insert(L, -2);
    lua_pushlightuserdata(L, &context);
    if (lua_pcall(L, 2, 0, 0) != LUA_OK) lua_pop(L, 1);
    if (lua_gettop(L) != base) __builtin_trap();
    for (const auto& [name, entry] : tables.machine_code) {
      if (!tables.assembly_text.count(name) || !entry.block || entry.length == 0) __builtin_trap();
    }
    if (args.success_flag != 0 && args.success_flag != 1) __builtin_trap();
    std::string prepared = PrepareScriptForOutput(script, tables);
    if (prepared.size() > script.size()) __builtin_trap();
    ReleaseMachineCode(tables);
  }
  lua_settop(L, 0);
  // Closed as the compiler closes it: finalizers under a deadline. Given up, it is a
  // finding (and the state is left to its thread).
  guard->BeginStage("stopped");
  if (guard->Run([L] { CloseLimitedState(L); }, ScriptGuard::NowMs(), 2000, 2000) == GuardedEnd::kAbandoned)
    __builtin_trap();
  return 0;
}
