// Small Lua helpers shared by the compile stages and the QP file writer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct lua_State;

// Loads `text` as a chunk named `chunk_name` ("Main::Code" when empty) and dumps it.
// On a load error with a string value prints "ERROR: " + the cleaned message and an
// empty line, unless `quiet`. The stack is left empty of what this pushed.
std::optional<std::string> CompileToChunk(lua_State* L, std::string_view text,
                                          const std::string& chunk_name, bool strip,
                                          bool quiet = false, const char* mode = "bt");

// Dumps the function at `index` (two passes: the size first, then the bytes).
// nullopt when the value is not a function or the dump fails.
std::optional<std::string> DumpFunction(lua_State* L, int index, bool strip);

// The text that print shows for the value at `index`.
std::string ValueToText(lua_State* L, int index);

// Removes `[string "` and `"]` from a Lua message, so that chunk names read as
// Main::[a.lua]:3: instead of [string "Main::[a.lua]"]:3:.
std::string CleanLuaMessage(std::string_view text);

// Prints "ERROR: " + text, then an empty line.
void PrintLuaError(std::string_view text);

// A new Lua state whose allocations are limited to `limit` bytes (0: no limit); going
// over the limit is an ordinary Lua memory error.
lua_State* NewLimitedState(size_t limit);

// Closes a state made by NewLimitedState and frees its bookkeeping.
void CloseLimitedState(lua_State* L);

// What owns a state while its script code runs under a deadline. Kept beside the
// state's allocator, where no script can reach or remove it (the registry is open to
// scripts through the debug library).
class StateHost {
 public:
  virtual ~StateHost() = default;
  // Time between PauseClock and ResumeClock is not script time (the assembler runs).
  virtual void PauseClock() = 0;
  virtual void ResumeClock() = 0;
};

// Attaches `host` to a state made by NewLimitedState (nullptr detaches it).
void SetStateHost(lua_State* L, StateHost* host);
// The host attached to the state, or nullptr.
StateHost* GetStateHost(lua_State* L);

// Stops the script clock for as long as it lives.
class ScriptClockPause {
 public:
  explicit ScriptClockPause(lua_State* L) : host_(GetStateHost(L)) {
    if (host_) host_->PauseClock();
  }
  ~ScriptClockPause() {
    if (host_) host_->ResumeClock();
  }
  ScriptClockPause(const ScriptClockPause&) = delete;
  ScriptClockPause& operator=(const ScriptClockPause&) = delete;

 private:
  StateHost* host_;
};
