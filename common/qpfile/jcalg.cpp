#include "common/qpfile/jcalg.h"

#include <cstring>

#include "common/qpfile/byte_order.h"
#include "common/qpfile/jcalg_codes.h"
#include "common/qpfile/jcalg_parser.h"

namespace jcalg {
namespace {

// Reads the code words most significant bit first. The decoder refills once per code
// (which leaves at least 33 bits whenever the input has them) and every read checks
// that the bits are there; a word is taken only when all four of its bytes are.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

  void Refill() {
    if (filled_ <= 32 && end_ - p_ >= 4) {
      buffer_ |= uint64_t{le::Load32(p_)} << (32 - filled_);
      p_ += 4;
      filled_ += 32;
    }
  }

  // Reads `count` bits (0..32) into `value`; false past the end of the input.
  bool Read(uint32_t count, uint32_t* value) {
    if (count == 0) {
      *value = 0;
      return true;
    }
    if (filled_ < count) {
      Refill();
      if (filled_ < count) return false;
    }
    *value = static_cast<uint32_t>(buffer_ >> (64 - count));
    buffer_ <<= count;
    filled_ -= count;
    return true;
  }

  bool Bit(uint32_t* value) { return Read(1, value); }

  // Bits ready without a refill, and unchecked access to them (count <= Available()).
  uint32_t Available() const { return filled_; }
  uint32_t Peek(uint32_t count) const { return static_cast<uint32_t>(buffer_ >> (64 - count)); }
  void Skip(uint32_t count) {
    buffer_ <<= count;
    filled_ -= count;
  }

  // Reads a gamma number. Values of 2^32 and above cannot describe anything that fits
  // in memory and fail the read.
  bool Gamma(uint32_t* value) {
    // The end is the first pair whose continuation bit (the even bit positions) is 0.
    uint64_t stops = ~buffer_ & 0x5555555555555555u;
    if (stops != 0) {
      uint32_t last_stop = 63 - static_cast<uint32_t>(__builtin_clzll(stops));
      uint32_t pairs = (62 - last_stop) / 2 + 1;
      if (2 * pairs <= filled_ && pairs <= 31) {
        uint32_t v = 1;
        for (uint32_t k = 0; k < pairs; ++k)
          v = v * 2 + static_cast<uint32_t>((buffer_ >> (63 - 2 * k)) & 1);
        Skip(2 * pairs);
        *value = v;
        return true;
      }
    }
    uint64_t v = 1;
    for (;;) {
      if (filled_ < 2) {
        Refill();
        if (filled_ < 2) return false;
      }
      uint32_t two = static_cast<uint32_t>(buffer_ >> 62);
      buffer_ <<= 2;
      filled_ -= 2;
      v = v * 2 + (two >> 1);
      if (v > 0xFFFFFFFFu) return false;
      if ((two & 1) == 0) break;
    }
    *value = static_cast<uint32_t>(v);
    return true;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t buffer_ = 0;  // unread bits, the next one at bit 63
  uint32_t filled_ = 0;
};

// Copies `length` bytes starting `offset` back; a length above the offset repeats the
// last `offset` bytes, as a byte-by-byte copy would. `room` is the space from `at` to
// the end of the buffer: when it allows, whole 8-byte pieces are copied (their excess
// lies within the buffer and is overwritten later).
void CopyBack(uint8_t* out, size_t at, size_t offset, size_t length, size_t room) {
  uint8_t* dst = out + at;
  const uint8_t* src = dst - offset;
  if (offset >= 8 && room >= length + 8) {
    for (size_t i = 0; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
    return;
  }
  if (offset == 1) {
    std::memset(dst, *src, length);
    return;
  }
  for (size_t i = 0; i < length; ++i) dst[i] = src[i];
}

}  // namespace

uint32_t WindowForLevel(int level) {
  if (level < 0 || level > 9) return 0;
  return detail::LevelParametersFor(level).window;
}

uint32_t Checksum(const uint8_t* data, size_t size) {
  uint32_t s = 0;
  if (size < 4) return 0;
  auto step = [&s](uint32_t w) {
    s += w;
    s ^= (w << 1) + 1 + (w >> 31);
  };
  size_t whole = size / 4;
  for (size_t i = 0; i < whole; ++i) step(le::Load32(data + 4 * i));
  if (size % 4 != 0) step(le::Load32(data + size - 4));
  return s;
}

std::optional<uint32_t> UnpackedSize(const uint8_t* in, size_t in_size) {
  if (in == nullptr || in_size < kHeaderSize || in[0] != 'J' || in[1] != 'C') return std::nullopt;
  return le::Load32(in + 2);
}

size_t Decode(const uint8_t* in, size_t in_size, uint8_t* out, size_t capacity) {
  std::optional<uint32_t> unpacked = UnpackedSize(in, in_size);
  if (!unpacked || (out == nullptr && capacity != 0)) return 0;
  uint32_t checksum = le::Load32(in + 6);
  BitReader bits(in + kHeaderSize, in_size - kHeaderSize);

  size_t written = 0;
  uint32_t literal_size = 0;  // 0: no literal-size code yet
  uint32_t literal_base = 0;
  uint32_t index_bits = detail::kDefaultIndexBits;
  size_t last_offset = 1;

  auto copy = [&](size_t offset, size_t length) {
    if (offset == 0 || offset > written || length > capacity - written) return false;
    CopyBack(out, written, offset, length, capacity - written);
    written += length;
    return true;
  };
  auto put = [&](uint32_t byte) {
    if (written == capacity) return false;
    out[written++] = static_cast<uint8_t>(byte);
    return true;
  };

  // A match after its prefix 01. Forced inline: both code readers below call it on
  // their hot path.
  auto match = [&]() __attribute__((always_inline)) {
    uint32_t g, length;
    if (!bits.Gamma(&g)) return false;
    if (g == 2) return bits.Gamma(&length) && copy(last_offset, length);
    // High part and index-bits low part. Index bits can be up to 63; an offset that
    // does not fit in 32 bits reaches before any output and fails the copy.
    uint64_t offset = g - 3;
    uint32_t low_bits = index_bits;
    if (offset != 0 && index_bits >= 32) return false;
    offset <<= (index_bits < 32 ? index_bits : 0);
    if (low_bits > 32) {
      uint32_t high;
      if (!bits.Read(low_bits - 32, &high) || high != 0) return false;
      low_bits = 32;
    }
    uint32_t low;
    if (!bits.Read(low_bits, &low)) return false;
    offset |= low;
    if (offset > 0xFFFFFFFFu || !bits.Gamma(&length)) return false;
    uint64_t total = uint64_t{length} + detail::OffsetAdjust(static_cast<uint32_t>(offset));
    if (total > capacity - written) return false;  // (checked before size_t may narrow it)
    last_offset = static_cast<size_t>(offset);
    return copy(last_offset, static_cast<size_t>(total));
  };

  for (;;) {
    uint32_t v;
    bits.Refill();
    // The frequent codes straight from the buffer when a whole code is surely in it.
    if (bits.Available() >= 32) {
      uint32_t prefix = bits.Peek(3);
      if (prefix >= 4) {  // literal
        if (literal_size == 0) return 0;
        v = bits.Peek(1 + literal_size) & ((1u << literal_size) - 1);
        bits.Skip(1 + literal_size);
        if (!put(v + literal_base)) return 0;
        continue;
      }
      if (prefix >= 2) {
        bits.Skip(2);
        if (!match()) return 0;
        continue;
      }
      if (prefix == 1 && (v = bits.Peek(7) & 15) != 0) {  // byte 0 or a near copy
        bits.Skip(7);
        if (written == capacity || (v >= 2 && v - 1 > written)) return 0;
        out[written] = v == 1 ? 0 : out[written - (v - 1)];
        ++written;
        continue;
      }
      if (prefix == 0 && (v = bits.Peek(12) & 0x1FF) >= 4) {  // short match
        bits.Skip(12);
        last_offset = v >> 2;
        if (!copy(v >> 2, (v & 3) + 2)) return 0;
        continue;
      }
    }
    // Every code, bit by bit, with every read checked.
    if (!bits.Bit(&v)) return 0;
    if (v == 1) {  // literal
      if (literal_size == 0 || !bits.Read(literal_size, &v) || !put(v + literal_base)) return 0;
      continue;
    }
    if (!bits.Bit(&v)) return 0;
    if (v == 1) {
      if (!match()) return 0;
      continue;
    }
    if (!bits.Bit(&v)) return 0;
    if (v == 1) {  // one-byte codes and the two escapes
      if (!bits.Read(4, &v)) return 0;
      if (v == 1) {
        if (!put(0)) return 0;
      } else if (v >= 2) {
        if (!copy(v - 1, 1)) return 0;
      } else {
        if (!bits.Bit(&v)) return 0;
        if (v == 1) {  // literal blocks of 256 raw bytes
          do {
            if (capacity - written < 256) return 0;
            for (int i = 0; i < 256; ++i) {
              if (!bits.Read(8, &v)) return 0;
              out[written++] = static_cast<uint8_t>(v);
            }
            if (!bits.Bit(&v)) return 0;
          } while (v == 1);
        } else {  // literal-size code
          if (!bits.Bit(&v)) return 0;
          literal_size = 7 + v;
          literal_base = 0;
          if (literal_size == 7 && !bits.Read(8, &literal_base)) return 0;
        }
      }
      continue;
    }
    // short match, end code, index-size code
    uint32_t offset, n;
    if (!bits.Read(7, &offset) || !bits.Read(2, &n)) return 0;
    if (offset != 0) {
      last_offset = offset;
      if (!copy(offset, n + 2)) return 0;
    } else if (n == 0) {
      break;
    } else if (!bits.Read(n + 3, &index_bits)) {
      return 0;
    }
  }

  if (checksum != 0) {
    if (written < *unpacked || Checksum(out, *unpacked) != checksum) return 0;
  }
  return written;
}

std::vector<uint8_t> Encode(const uint8_t* data, size_t size, uint32_t window) {
  if (window == 0 || size > 0xFFFFFFFFu || (data == nullptr && size != 0)) return {};
  static const uint8_t kNothing = 0;
  if (data == nullptr) data = &kNothing;
  std::vector<detail::Op> ops = detail::Parse(data, size, window);
  return detail::WriteStream(data, size, ops);
}

}  // namespace jcalg
