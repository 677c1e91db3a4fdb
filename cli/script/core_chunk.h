// The built-in core chunk, stored packed in the program.
#pragma once

#include <optional>
#include <string>

// The unpacked core chunk (a Lua binary chunk); nullopt when the stored block does not
// unpack to its stated length.
std::optional<std::string> CoreChunk();
