#include "tools/embed/embed_pack.h"

#include <zlib.h>

#include "common/qpfile/byte_order.h"
#include "common/qpfile/jcalg.h"

namespace {

std::vector<uint8_t> Pack(const std::string& data) {
  return jcalg::Encode(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                       jcalg::WindowForLevel(9));
}

uint32_t Crc(const void* data, size_t size) {
  return static_cast<uint32_t>(crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

}  // namespace

std::string PackCoreChunk(const std::string& chunk) {
  std::vector<uint8_t> packed = Pack(chunk);
  if (packed.empty()) return std::string();
  std::string out;
  le::Append32(&out, static_cast<uint32_t>(packed.size()));
  le::Append32(&out, static_cast<uint32_t>(chunk.size()));
  out.append(packed.begin(), packed.end());
  return out;
}

std::string PackSyntaxText(const std::string& text) {
  std::vector<uint8_t> packed = Pack(text);
  if (packed.empty()) return std::string();
  std::string out = "CXML";
  le::Append32(&out, static_cast<uint32_t>(text.size()));
  le::Append32(&out, static_cast<uint32_t>(packed.size()));
  le::Append32(&out, Crc(text.data(), text.size()));
  le::Append32(&out, Crc(packed.data(), packed.size()));
  out.append(packed.begin(), packed.end());
  return out;
}
