// Feeds arbitrary bytes to the stream decoder. The output buffer is exactly as large as
// the capacity given, so a write past it is caught by the address sanitizer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/qpfile/jcalg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<uint32_t> unpacked = jcalg::UnpackedSize(data, size);
  // As the file reader does: the header's size plus 8, bounded to keep runs quick.
  size_t capacity = unpacked ? std::min<size_t>(*unpacked + 8, 1 << 20) : 64;
  std::vector<uint8_t> out(capacity);
  size_t n = jcalg::Decode(data, size, out.data(), out.size());
  if (n > capacity) __builtin_trap();
  // A successful decode with a checksum has the checksum of what it wrote.
  if (n != 0 && unpacked && n >= *unpacked) {
    uint32_t stored;
    std::memcpy(&stored, data + 6, 4);
    if (stored != 0 && jcalg::Checksum(out.data(), *unpacked) != stored) __builtin_trap();
  }
  // Too little room must fail cleanly as well.
  if (n > 1) {
    std::vector<uint8_t> small(n - 1);
    if (jcalg::Decode(data, size, small.data(), small.size()) != 0) __builtin_trap();
  }
  return 0;
}
