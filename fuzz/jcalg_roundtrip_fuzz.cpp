// Packs arbitrary bytes at a pack level taken from the first byte (or a tiny window) and
// checks that they unpack to the same bytes and that the packed size stays within the
// bound that literal codes give. (The unit tests check the window limit.)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/qpfile/jcalg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int level = data[0] % 10;
  // A few windows below the smallest level too, where short codes meet the window.
  uint32_t window = data[0] >= 250 ? data[0] - 249 : jcalg::WindowForLevel(level);
  ++data;
  --size;
  std::vector<uint8_t> packed = jcalg::Encode(data, size, window);
  if (packed.empty()) __builtin_trap();
  // Never worse than 9 bits a byte plus the header and the leading and closing codes.
  if (packed.size() > jcalg::kHeaderSize + (9 * size + 9 + 12 + 31) / 32 * 4) __builtin_trap();
  std::vector<uint8_t> out(size + 8);
  size_t n = jcalg::Decode(packed.data(), packed.size(), out.data(), out.size());
  if (n != size || (size != 0 && std::memcmp(out.data(), data, size) != 0)) __builtin_trap();
  return 0;
}
