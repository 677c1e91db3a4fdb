// The packed forms of the built-in texts, as the embed tool writes them.
#pragma once

#include <string>

// The core chunk: 32-bit packed length, 32-bit unpacked length, then the packed stream.
std::string PackCoreChunk(const std::string& chunk);
// The default syntax text: the "CXML" block (magic, unpacked size, packed size, CRC-32
// of the unpacked bytes, CRC-32 of the packed bytes), then the packed stream.
std::string PackSyntaxText(const std::string& text);
