// The walk of the table a definition script returns: each known section is checked and
// every entry that cannot be accepted is reported.
#pragma once

#include "cli/script/compile_job.h"

// Walks the table on top of ctx.L, runs each section's checker and pops the table.
void ProcessSections(SectionContext& ctx);

// A text value: lua_isnumber is false and lua_isstring is true (so "1.0" is not one).
bool IsTextValue(lua_State* L, int index);
// A numeric value: lua_isnumber is true.
bool IsNumericValue(lua_State* L, int index);
