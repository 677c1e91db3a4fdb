// The assembler module: turns one x86 assembly text into a block of flat machine code,
// or reports why it could not, as a code, a line and a message of the message table.
//
// The flat assembler runs as a child program (Debian's fasm). Each call writes the text
// into a private temporary folder, which is always removed again; the program never sees
// a file name that comes from a script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cli/assembler/assembler_messages.h"
#include "common/platform/code_block.h"

// Why an assembly failed. For an error in the source text, the code is the assembler's
// error code (-101..-141 or a condition such as -3), the message exactly its row of the
// message table, and the line the line of the text that failed (for an error inside a
// macro, the line that used the macro; inside an included file, that file's line).
// Failures that do not come from the text carry a condition code, that code's row, then
// what happened, and line 0:
//   2   the assembler program could not be started (with the system's reason), was
//       stopped (with the signal), gave no readable report, or reported an error of
//       unknown wording (then quoted, with its line);
//  -2   more memory needed than AssemblerLimits allow, or no block for the result;
//  -6   the text assembled to zero bytes, or the assembler ran out of time;
//  -7   the machine code is larger than AssemblerLimits allow;
//  -8   no temporary folder could be made, the source could not be written (both with
//       the system's reason), or the output could not be read.
struct AssemblerError {
  int32_t code = 0;
  std::string message;
  int32_t line = 0;
};

// Bounds that keep a hostile text from running or growing without end.
struct AssemblerLimits {
  size_t first_block_kib = 1024;    // the assembler's memory on the first run
  size_t block_step_kib = 1024;     // added after each "out of memory"
  size_t max_block_kib = 32 * 1024; // beyond this the text fails with -2
  int run_timeout_ms = 30000;       // one run of the assembler
  int total_timeout_ms = 60000;     // all runs of one text together
  size_t max_output = 16u << 20;    // larger machine code fails with -7
};

// Finds the assembler ($AKQP_FASM, else fasm beside akqp-cli, else on PATH) and checks
// that it is an executable file; it is first run by Assemble. Only reports: the caller
// prints the start-up failure. A failed attempt keeps the assembler found before.
bool InitialiseAssembler();

// The assembler program in use (empty before a successful InitialiseAssembler).
const std::string& AssemblerProgram();

// Assembles `text` (read up to its first NUL byte). On success returns the block and
// stores its size in *length. On failure returns nullptr and fills *error.
std::unique_ptr<platform::CodeBlock> Assemble(const std::string& text, size_t* length,
                                              AssemblerError* error);

// Releases a block that Assemble returned.
void ReleaseMachineCode(std::unique_ptr<platform::CodeBlock> block);

// Tests tighten the limits; the defaults hold otherwise.
void SetAssemblerLimits(const AssemblerLimits& limits);
AssemblerLimits GetAssemblerLimits();
