// The "crc32" report: a file's CRC-32 written as a signed decimal number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qpmake {

// zlib's CRC-32 of the whole file, read in blocks of 4096 bytes; nullopt when the file
// cannot be read (missing, a folder), or when it is not a regular file and holds more
// than kMaxStreamSize bytes (a device that never ends). An empty file gives 0.
constexpr size_t kBlockSize = 4096;
constexpr uint64_t kMaxStreamSize = uint64_t{4} << 30;
std::optional<uint32_t> FileCrc32(const std::string& path);

// The value as a signed 32-bit decimal: 0xCBF43926 is "-873187034".
std::string SignedDecimal(uint32_t value);

}  // namespace qpmake
