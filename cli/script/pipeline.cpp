#include "cli/script/pipeline.h"

#include <atomic>
#include <memory>
#include <string>

#include "cli/script/core_chunk.h"
#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"
#include "cli/script/output_stage.h"
#include "cli/script/script_guard.h"
#include "cli/script/stop_calls.h"
#include "cli/sections/assemblies.h"
#include "cli/sections/sections.h"
#include "cli/verify/verify_stage.h"
#include "common/platform/console.h"
#include "common/settings/settings.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

std::atomic<bool> g_abandoned{false};

// What a stop raises in the script, and in the metamethods that the section walk runs.
const char kStoppedAtLimit[] = "script stopped at the time limit";
const char kWalkTooLong[] = "a metamethod ran too long while the sections were checked";

// Metamethods run by the section walk may run this many Lua instructions (seconds of
// work) besides their time limit before they are stopped.
constexpr int64_t kWalkInstructionBudget = 500000000;

// Held by the compile thread and the script thread, so that a script thread that has
// to be given up never touches freed memory.
struct ScriptRun {
  lua_State* L = nullptr;
  std::string script;
  std::string chunk_name;
  int result = 0;
  std::shared_ptr<ScriptGuard> guard;
};

// What the section walk fills, held by the walk's thread as well.
struct Walk {
  SectionTables tables;
  SectionContext context;
  bool walked = false;
};

// The text of an error value. A value that is not a string (error({}), error()) would
// leave the user with no word at all, so it is named by its type instead.
std::string ErrorText(lua_State* L) {
  if (lua_type(L, -1) == LUA_TSTRING) {
    size_t length = 0;
    const char* message = lua_tolstring(L, -1, &length);
    return std::string(message, length);
  }
  return std::string("(error object is a ") + luaL_typename(L, -1) + " value)";
}

void RunScript(ScriptRun& run) {
  lua_State* L = run.L;
  // Scripts are text: a precompiled chunk given as a script could crash the compiler,
  // since Lua does not verify bytecode.
  std::optional<std::string> chunk = CompileToChunk(L, run.script, run.chunk_name, false, false, "t");
  if (chunk && !run.guard->stopped()) {
    const std::string& name = run.chunk_name.empty() ? std::string("Main::Code") : run.chunk_name;
    if (luaL_loadbufferx(L, chunk->data(), chunk->size(), name.c_str(), "b") != LUA_OK) {
      lua_settop(L, 0);
    } else if (lua_pcall(L, 0, 1, 0) != LUA_OK) {
      // Once the limit has passed, the hook's error is not the script's fault: the
      // time-limit lines say what happened.
      if (!run.guard->stopped()) PrintLuaError(CleanLuaMessage(ErrorText(L)));
      lua_settop(L, 0);
    } else if (!lua_istable(L, -1)) {
      PrintLuaError(CleanLuaMessage(std::string("The definition script is expected to return a table, got '") +
                                    luaL_typename(L, -1) + "'."));
      lua_settop(L, 0);
    } else {
      run.result = 1;
    }
  }
}

int WalkSections(lua_State* L) {
  auto* context = static_cast<SectionContext*>(lua_touserdata(L, 2));
  lua_settop(L, 1);
  ProcessSections(*context);
  return 0;
}

// The walk reads metatables with lua_gettable, so a script's metamethods run here: they
// run protected, so that none of them can crash the compiler.
void RunWalk(lua_State* L, Walk& walk) {
  lua_pushcfunction(L, WalkSections);
  lua_insert(L, -2);
  lua_pushlightuserdata(L, &walk.context);
  walk.walked = lua_pcall(L, 2, 0, 0) == LUA_OK;
  if (!walk.walked) {
    if (!g_abandoned.load()) PrintLuaError(CleanLuaMessage(ErrorText(L)));
    lua_settop(L, 0);
  }
}

// The closing step of every compile that created a state. Closing the state runs the
// script's finalizers, under a deadline as well: they are stopped when they sleep and
// given up when they cannot be stopped (Lua runs them without hooks).
int Finish(CompileJob* job, lua_State* L, const std::shared_ptr<ScriptGuard>& guard,
           const PipelineOptions& options, int result) {
  platform::ConsolePrint("Script execution has finished.");
  if (job) job->lua = nullptr;
  if (L == nullptr) return result;
  if (!guard->stopped()) guard->BeginStage(kStoppedAtLimit);
  GuardedEnd end = guard->Run([L] { CloseLimitedState(L); }, ScriptGuard::NowMs(), options.time_limit_ms,
                              options.stop_grace_ms);
  if (end == GuardedEnd::kAbandoned) g_abandoned.store(true);
  return result;
}

}  // namespace

bool ScriptAbandoned() {
  return g_abandoned.load();
}

int RunCompile(CompileArgs* args, const PipelineOptions& options) {
  CompileJob* job = args->job;
  const std::string& script = *args->script_text;

  // Stage 1: the verification section.
  VerificationRecords records;
  if (!RunVerificationStage(script, &records)) return 0;

  // Stage 2: the Lua state with the host functions and the core chunk.
  lua_State* L = NewLimitedState(options.memory_limit);
  if (L == nullptr) {
    PrintLuaError("Not enough memory to create the script state.");
    platform::ConsolePrint("Script execution has finished.");
    return 0;
  }
  if (job) job->lua = L;
  luaL_openlibs(L);
  auto guard = std::make_shared<ScriptGuard>(L);
  RegisterHostFunctions(L, &guard->sleep(), job ? job->log_value : 0);
  StopLibraryCallsAtLimit(L);
  RunCoreChunk(L);

  int64_t start = ScriptGuard::NowMs();
  auto run = std::make_shared<ScriptRun>();
  run->L = L;
  run->script = script;
  run->chunk_name = "Main::[" + (job ? job->input_file_name : std::string()) + "]";
  run->guard = guard;
  args->success_flag = 0;

  guard->BeginStage(kStoppedAtLimit);
  GuardedEnd end = guard->Run([run] { RunScript(*run); }, start, options.time_limit_ms, options.stop_grace_ms, [] {
    platform::ConsolePrint("This script is a definition file, and should not have a long execution time!!");
    platform::ConsolePrint("An execution time of one second is way too long, please check your code.");
    platform::ConsoleWriteLine("");
  });
  if (end == GuardedEnd::kAbandoned) {
    // Stuck in a C call (reading a pipe that never ends): the script is given up, and
    // its state is never used again.
    g_abandoned.store(true);
    if (job) job->lua = nullptr;
    platform::ConsolePrint("Script execution has finished.");
    return 0;
  }
  bool timed_out = end != GuardedEnd::kFinished;

  if (run->result != 0 && !timed_out) args->success_flag = 1;
  if (args->success_flag == 0 || !lua_istable(L, -1)) return Finish(job, L, guard, options, 0);

  // Stage 3: the sections of the returned table. The metamethods it runs have the time
  // limit of a script (the assembler's time does not count) and an instruction budget.
  auto walk = std::make_shared<Walk>();
  walk->context.L = L;
  walk->context.args = args;
  walk->context.tables = &walk->tables;
  walk->context.warnings = settings::Lookup("compiler::warnings") != 0;
  guard->BeginStage(kWalkTooLong, kWalkInstructionBudget);
  end = guard->Run([walk, L] { RunWalk(L, *walk); }, ScriptGuard::NowMs(), options.time_limit_ms,
                   options.stop_grace_ms);
  if (end == GuardedEnd::kAbandoned) {
    g_abandoned.store(true);
    if (job) job->lua = nullptr;
    PrintLuaError(kWalkTooLong);
    platform::ConsolePrint("Script execution has finished.");
    return 0;
  }
  if (end == GuardedEnd::kStopped && walk->walked) {
    // Stopped just as the last metamethod returned: it still ran too long.
    PrintLuaError(kWalkTooLong);
    walk->walked = false;
  }
  if (!walk->walked) {
    // The walk stopped half-way: its tables are incomplete, so there is no output stage
    // (its name check would only add a misleading line).
    args->success_flag = 0;
    args->compile_flag = 0;
    if (job) job->compile_flag_copy = 0;
  }

  // Stage 4: the output file.
  int result = job && walk->walked ? RunOutputStage(*job, walk->tables, records) : 0;
  ReleaseMachineCode(walk->tables);
  return Finish(job, L, guard, options, result);
}

bool RunCoreChunk(lua_State* L) {
  std::optional<std::string> chunk = CoreChunk();
  if (!chunk) return false;
  int top = lua_gettop(L);
  bool ok = luaL_loadbufferx(L, chunk->data(), chunk->size(), kCoreChunkName, "bt") == LUA_OK &&
            lua_pcall(L, 0, 0, 0) == LUA_OK;
  lua_settop(L, top);
  return ok;
}
