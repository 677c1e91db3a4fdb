// The "crc32" report: a file's CRC-32 written as a signed decimal number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qpmake {

// zlib's CRC-32 of the whole file, read in blocks of 4096 bytes; nullopt when the file
// cannot be read (missing, a folder). An empty file gives 0.
std::optional<uint32_t> FileCrc32(const std::string& path);

// The value as a signed 32-bit decimal: 0xCBF43926 is "-873187034".
std::string SignedDecimal(uint32_t value);

}  // namespace qpmake
