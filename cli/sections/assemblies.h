// The "assemblies" section: assembling each routine, checking its dependencies, and the
// hand-over of machine code to the output.
#pragma once

#include <string>

#include "cli/script/compile_job.h"

class QpFile;

// Checks the assemblies table on top of ctx.L (left in place), fills the machine-code and
// assembly-text tables, prints messages, and clears the success flag on errors.
void ProcessAssemblies(SectionContext& ctx);

// The script text to compile for output: CR LF turned into LF and every routine marked
// ";ASSEMBLY" ... ";ENDASSEMBLY" cut out.
std::string PrepareScriptForOutput(const std::string& script, const SectionTables& tables);

// Releases every machine-code block of the table (every compile ends with this).
void ReleaseMachineCode(SectionTables& tables);

// The include folder that "%incdir%" stands for.
std::string IncludeFolder();
