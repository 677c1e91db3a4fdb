// The assembler's message table: one text for each of its condition and error codes.
#pragma once

#include <cstdint>
#include <string>

// Builds the table (a start-up step, before the settings are read). Calling it again
// changes nothing.
void BuildAssemblerMessageTable();

// The text for `code`; empty text when the table has no row for it (such as -137).
const std::string& AssemblerMessage(int32_t code);
