#include "common/settings/default_syntax.h"

#include <zlib.h>

#include <cstdint>

#include "common/qpfile/byte_order.h"
#include "common/qpfile/jcalg.h"

// The "CXML" block made at build time from default_syntax.cfg: five 32-bit little-endian
// fields ("CXML", unpacked size, packed size, CRC-32 of the unpacked bytes, CRC-32 of the
// packed bytes), then the packed stream.
extern const unsigned char kDefaultSyntaxBlock[];
extern const size_t kDefaultSyntaxBlock_size;

namespace settings {
namespace {

uint32_t Crc(const void* data, size_t size) {
  return static_cast<uint32_t>(crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

// Unpacks the block, checking the packed bytes' CRC first and the unpacked bytes' CRC
// afterwards. Empty when anything differs.
std::string Unpack() {
  const unsigned char* block = kDefaultSyntaxBlock;
  if (kDefaultSyntaxBlock_size < 20 || le::Load32(block) != 0x4C4D5843u) return std::string();  // "CXML"
  uint32_t unpacked = le::Load32(block + 4);
  uint32_t packed = le::Load32(block + 8);
  if (packed > kDefaultSyntaxBlock_size - 20) return std::string();
  if (Crc(block + 20, packed) != le::Load32(block + 16)) return std::string();
  std::string text(static_cast<size_t>(unpacked) + 8, '\0');
  size_t written = jcalg::Decode(block + 20, packed, reinterpret_cast<uint8_t*>(text.data()), text.size());
  if (written != unpacked) return std::string();
  text.resize(unpacked);
  if (Crc(text.data(), text.size()) != le::Load32(block + 12)) return std::string();
  return text;
}

}  // namespace

const std::string& DefaultSyntaxText() {
  static const std::string text = Unpack();
  return text;
}

}  // namespace settings
