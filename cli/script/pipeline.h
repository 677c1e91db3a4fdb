// The compile pipeline: verification, script execution, sections, output. It runs on a
// thread of its own, started by the driver.
#pragma once

#include <cstddef>

#include "cli/script/compile_job.h"

struct PipelineOptions {
  int time_limit_ms = 1000;               // the script's time limit, compile included
  size_t memory_limit = 512u << 20;       // the script state's allocation limit
  int stop_grace_ms = 250;                // wait for a stopped script before giving it up
  // The metamethods that the section walk runs, and the finalizers that run when the
  // state is closed, have the same time limit each.
};

// Runs one compile. Gives 1 when a QP file was written, else 0.
int RunCompile(CompileArgs* args, const PipelineOptions& options = {});

// True after a compile had to give up script code that could not be stopped (stuck in a
// C call, a finalizer that never returns): its Lua state is never touched again, and the
// process must end without running its usual clean-up.
bool ScriptAbandoned();

// The chunk name of the built-in core chunk.
inline constexpr const char* kCoreChunkName = "KSTRL::[QP::Core]";

// Loads and runs the built-in core chunk in `L`. False (and nothing printed) when it
// cannot be unpacked or fails.
bool RunCoreChunk(lua_State* L);
