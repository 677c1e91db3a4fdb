#include "make/checksum.h"

#include <zlib.h>

#include <fstream>

#include "common/platform/fs.h"

namespace qpmake {

std::optional<uint32_t> FileCrc32(const std::string& path) {
  if (!platform::IsFile(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  uLong crc = crc32(0L, Z_NULL, 0);
  char block[4096];
  while (in) {
    in.read(block, sizeof block);
    std::streamsize n = in.gcount();
    if (n > 0) crc = crc32(crc, reinterpret_cast<const Bytef*>(block), static_cast<uInt>(n));
  }
  if (in.bad()) return std::nullopt;
  return static_cast<uint32_t>(crc);
}

std::string SignedDecimal(uint32_t value) {
  return std::to_string(static_cast<int64_t>(static_cast<int32_t>(value)));
}

}  // namespace qpmake
