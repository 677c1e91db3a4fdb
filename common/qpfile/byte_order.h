// Little-endian 32-bit fields, the one byte order of QP files, packed streams and the
// blocks the programs carry built in.
#pragma once

#include <cstdint>

namespace le {

inline uint32_t Load32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

inline void Store32(void* p, uint32_t v) {
  auto* b = static_cast<uint8_t*>(p);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Appends to a byte container (std::string or std::vector<uint8_t>).
template <typename Bytes>
void Append32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<typename Bytes::value_type>(v >> (8 * i)));
}

}  // namespace le
