// Lua 5.3 binary chunks in the host's layout.
//
// A binary chunk records the sizes of int, size_t, Instruction, lua_Integer and
// lua_Number in its header, and Lua refuses a chunk whose sizes differ from its own. The
// host that reads QP files is a 32-bit x86 Lua 5.3 (sizes 4, 4, 4, 8, 8), while lua_dump
// on a 64-bit machine writes an 8-byte size_t. So the chunk stored in a QP file is
// rewritten in the host's layout, and rewritten back before this program loads it.
//
// Chunks are untrusted input: a chunk that is truncated, malformed, nested too deeply or
// holds a value that does not fit the target layout gives nullopt, never a crash.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The chunk of this machine's Lua (as lua_dump wrote it) in the host's layout:
// little-endian, int 4, size_t 4, Instruction 4, lua_Integer 8, lua_Number 8.
std::optional<std::string> ChunkToHostLayout(std::string_view native_chunk);

// A chunk in the host's layout (or any other little-endian layout) in this machine's
// layout, ready for luaL_loadbufferx.
std::optional<std::string> ChunkToNativeLayout(std::string_view host_chunk);

// True when `chunk` begins with the binary chunk signature (ESC "Lua").
bool IsBinaryChunk(std::string_view chunk);
