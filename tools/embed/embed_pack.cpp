#include "tools/embed/embed_pack.h"

#include <zlib.h>

#include "common/qpfile/jcalg.h"

namespace {

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

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
  PutU32(&out, static_cast<uint32_t>(packed.size()));
  PutU32(&out, static_cast<uint32_t>(chunk.size()));
  out.append(packed.begin(), packed.end());
  return out;
}

std::string PackSyntaxText(const std::string& text) {
  std::vector<uint8_t> packed = Pack(text);
  if (packed.empty()) return std::string();
  std::string out = "CXML";
  PutU32(&out, static_cast<uint32_t>(text.size()));
  PutU32(&out, static_cast<uint32_t>(packed.size()));
  PutU32(&out, Crc(text.data(), text.size()));
  PutU32(&out, Crc(packed.data(), packed.size()));
  out.append(packed.begin(), packed.end());
  return out;
}
