#include "cli/script/pipeline.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "cli/script/core_chunk.h"
#include "cli/script/host_functions.h"
#include "cli/script/lua_helpers.h"
#include "cli/script/output_stage.h"
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

// Shared between the compile thread and the script thread. Held by a shared_ptr so that
// a script thread that has to be given up never touches freed memory.
struct ScriptRun {
  lua_State* L = nullptr;
  std::string script;
  std::string chunk_name;
  int result = 0;
  std::atomic<bool> stop{false};      // set at the time limit: the hook raises an error
  std::atomic<int64_t> budget{0};     // > 0: hook calls left; -1: spent; 0: no budget
  std::atomic<bool> finished{false};  // set by the script thread as its last act
  SleepCanceller sleep;
};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The count hook runs every kHookInterval Lua instructions.
constexpr int kHookInterval = 1000;
// Metamethods run by the section walk may spend this many hook calls (500 million
// instructions, seconds of work) before they are stopped.
constexpr int64_t kWalkHookBudget = 500000;

// The key under which the run is reachable from the count hook.
const char kRunKey = 0;

void StopHook(lua_State* L, lua_Debug*) {
  lua_rawgetp(L, LUA_REGISTRYINDEX, &kRunKey);
  auto* run = static_cast<ScriptRun*>(lua_touserdata(L, -1));
  lua_pop(L, 1);
  if (run == nullptr) return;
  // Once spent, the budget stays spent (-1), so a metamethod that catches the error
  // with pcall is stopped again.
  int64_t budget = run->budget.load();
  bool spent = budget == 1 || budget < 0;
  if (budget > 1) run->budget.store(budget - 1);
  if (spent) run->budget.store(-1);
  if (run->stop.load() || spent) {
    // From now on the hook runs at every instruction, so a script that catches the error
    // with pcall meets it again at the first instruction outside the pcall.
    lua_sethook(L, StopHook, LUA_MASKCOUNT, 1);
    if (spent)
      lua_pushliteral(L, "a metamethod ran too long while the sections were checked");
    else
      lua_pushliteral(L, "script stopped at the time limit");
    lua_error(L);
  }
}

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

void RunScript(std::shared_ptr<ScriptRun> run) {
  lua_State* L = run->L;
  // Scripts are text: a precompiled chunk given as a script could crash the compiler,
  // since Lua does not verify bytecode.
  std::optional<std::string> chunk = CompileToChunk(L, run->script, run->chunk_name, false, false, "t");
  if (chunk && !run->stop.load()) {
    const std::string& name = run->chunk_name.empty() ? std::string("Main::Code") : run->chunk_name;
    if (luaL_loadbufferx(L, chunk->data(), chunk->size(), name.c_str(), "b") != LUA_OK) {
      lua_settop(L, 0);
    } else if (lua_pcall(L, 0, 1, 0) != LUA_OK) {
      // Once the limit has passed, the hook's error is not the script's fault: the
      // time-limit lines say what happened.
      if (!run->stop.load()) PrintLuaError(CleanLuaMessage(ErrorText(L)));
      lua_settop(L, 0);
    } else if (!lua_istable(L, -1)) {
      PrintLuaError(CleanLuaMessage(std::string("The definition script is expected to return a table, got '") +
                                    luaL_typename(L, -1) + "'."));
      lua_settop(L, 0);
    } else {
      run->result = 1;
    }
  }
  run->finished.store(true);
}

// The closing step of every compile that created a state.
int Finish(CompileJob* job, lua_State* L, int result) {
  platform::ConsolePrint("Script execution has finished.");
  if (L != nullptr) CloseLimitedState(L);
  if (job) job->lua = nullptr;
  return result;
}

int WalkSections(lua_State* L) {
  auto* context = static_cast<SectionContext*>(lua_touserdata(L, 2));
  lua_settop(L, 1);
  ProcessSections(*context);
  return 0;
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
  auto run = std::make_shared<ScriptRun>();
  RegisterHostFunctions(L, &run->sleep, job ? job->log_value : 0);
  RunCoreChunk(L);

  int64_t start = NowMs();
  run->L = L;
  run->script = script;
  run->chunk_name = "Main::[" + (job ? job->input_file_name : std::string()) + "]";
  args->success_flag = 0;
  bool timed_out = false;

  lua_pushlightuserdata(L, run.get());
  lua_rawsetp(L, LUA_REGISTRYINDEX, &kRunKey);
  lua_sethook(L, StopHook, LUA_MASKCOUNT, kHookInterval);

  std::thread script_thread(RunScript, run);
  while (!run->finished.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (run->finished.load()) break;
    if (!timed_out && NowMs() - start > options.time_limit_ms) {
      timed_out = true;
      run->stop.store(true);
      run->sleep.Cancel();
      platform::ConsolePrint("This script is a definition file, and should not have a long execution time!!");
      platform::ConsolePrint("An execution time of one second is way too long, please check your code.");
      platform::ConsoleWriteLine("");
      // The hook and the sleep stop a running script at once. One stuck in a C call
      // (reading a pipe that never ends) cannot be stopped: it is given up, and its
      // state is never used again.
      int64_t stopped_at = NowMs();
      while (!run->finished.load() && NowMs() - stopped_at < options.stop_grace_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (!run->finished.load()) {
        g_abandoned.store(true);
        script_thread.detach();
        if (job) job->lua = nullptr;
        platform::ConsolePrint("Script execution has finished.");
        return 0;
      }
    }
  }
  script_thread.join();

  SectionTables tables;
  if (run->result != 0 && !timed_out) args->success_flag = 1;
  if (args->success_flag == 0 || !lua_istable(L, -1)) return Finish(job, L, 0);

  // Stage 3: the sections of the returned table.
  SectionContext context;
  context.L = L;
  context.args = args;
  context.tables = &tables;
  context.warnings = settings::Lookup("compiler::warnings") != 0;
  // The walk reads metatables with lua_gettable, so a script's metamethods run here: they
  // run protected and with a budget of Lua instructions (not of time, since assembling
  // happens in the walk too), so that none of them can crash or hang the compiler.
  run->budget.store(kWalkHookBudget);
  lua_pushcfunction(L, WalkSections);
  lua_insert(L, -2);
  lua_pushlightuserdata(L, &context);
  bool walked = lua_pcall(L, 2, 0, 0) == LUA_OK;
  if (!walked) {
    // The walk stopped half-way: its tables are incomplete, so there is no output stage
    // (its name check would only add a misleading line).
    PrintLuaError(CleanLuaMessage(ErrorText(L)));
    lua_settop(L, 0);
    args->success_flag = 0;
    args->compile_flag = 0;
    if (job) job->compile_flag_copy = 0;
  }
  run->budget.store(0);
  lua_sethook(L, nullptr, 0, 0);

  // Stage 4: the output file.
  int result = job && walked ? RunOutputStage(*job, tables, records) : 0;
  ReleaseMachineCode(tables);
  return Finish(job, L, result);
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
