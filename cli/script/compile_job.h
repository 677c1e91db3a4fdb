// The records of one compile: the job the driver fills, and the tables the section
// compiler hands to the output stage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/platform/code_block.h"
#include "common/platform/fs.h"

struct lua_State;
struct CompileJob;

// The one argument of the compile pipeline.
struct CompileArgs {
  const std::string* script_text = nullptr;  // the job's script buffer
  CompileJob* job = nullptr;
  int32_t compile_flag = 0;  // 1 while compiling: progress lines are printed
  int32_t success_flag = 0;  // decides whether an output file is written
};

struct CompileJob {
  int32_t log_value = 0;  // published to scripts as __akq.__log
  CompileArgs args;
  lua_State* lua = nullptr;
  std::string input_file_name;  // file part of the input path
  std::string script;           // the script text (with an appended verification file)
  int32_t compile_flag_copy = 0;
  std::string output_path;
  // The files that the output must never replace, by identity (taken when they were read).
  std::optional<platform::FileId> input_id;
  std::optional<platform::FileId> verify_id;
};

// One assembled routine.
struct MachineCodeEntry {
  std::unique_ptr<platform::CodeBlock> block;
  size_t length = 0;
};

// What the section walk leaves for the output stage. Keys are the names exactly as the
// script wrote them.
struct SectionTables {
  std::map<std::string, std::string> information;           // info section: key -> text
  std::map<std::string, MachineCodeEntry> machine_code;     // assemblies that assembled
  std::map<std::string, std::string> assembly_text;         // their texts after %incdir%
};

// What a section checker works with: the Lua state (the section's table on top of the
// stack), the job's flags and the tables to fill.
struct SectionContext {
  lua_State* L = nullptr;
  CompileArgs* args = nullptr;
  SectionTables* tables = nullptr;
  bool warnings = true;  // compiler::warnings is nonzero
};
