#include "make/checksum.h"

#include <zlib.h>

#include "common/platform/fs.h"

namespace qpmake {

std::optional<uint32_t> FileCrc32(const std::string& path) {
  platform::FileReader reader;
  if (!reader.Open(path)) return std::nullopt;
  // A regular file ends; a device or a pipe may not (/dev/zero): it is read up to a limit.
  const bool regular = reader.RegularFileSize() >= 0;
  uint64_t total = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::string block;
  for (;;) {
    block.clear();
    if (!reader.Read(kBlockSize, &block)) return std::nullopt;
    if (block.empty()) break;
    total += block.size();
    if (!regular && total > kMaxStreamSize) return std::nullopt;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(block.size()));
  }
  return static_cast<uint32_t>(crc);
}

std::string SignedDecimal(uint32_t value) {
  return std::to_string(static_cast<int64_t>(static_cast<int32_t>(value)));
}

}  // namespace qpmake
