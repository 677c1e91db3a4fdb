#include "cli/script/core_chunk.h"

#include <cstddef>
#include <cstdint>

#include "common/qpfile/byte_order.h"
#include "common/qpfile/jcalg.h"

extern const unsigned char kCoreChunkBlock[];
extern const size_t kCoreChunkBlock_size;

std::optional<std::string> CoreChunk() {
  // 32-bit packed length, 32-bit unpacked length, then the packed stream.
  if (kCoreChunkBlock_size < 8) return std::nullopt;
  uint32_t packed = le::Load32(kCoreChunkBlock);
  uint32_t unpacked = le::Load32(kCoreChunkBlock + 4);
  if (packed > kCoreChunkBlock_size - 8 || unpacked == 0) return std::nullopt;
  std::string out(static_cast<size_t>(unpacked) + 8, '\0');
  size_t written = jcalg::Decode(kCoreChunkBlock + 8, packed,
                                 reinterpret_cast<uint8_t*>(out.data()), out.size());
  if (written != unpacked) return std::nullopt;
  out.resize(unpacked);
  return out;
}
