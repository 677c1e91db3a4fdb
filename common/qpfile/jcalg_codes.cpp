#include "common/qpfile/jcalg_codes.h"

#include <cstring>

#include "common/qpfile/byte_order.h"
#include "common/qpfile/jcalg.h"

namespace jcalg::detail {
namespace {

// Collects bits most significant first into 32-bit words.
class BitWriter {
 public:
  // Appends the low `count` bits of `value` (count <= 32), the highest first. Forced
  // inline: it is called once or twice for every code written.
  __attribute__((always_inline)) void Put(uint32_t value, uint32_t count) {
    if (count == 0) return;
    uint64_t masked = count == 32 ? value : (value & ((1u << count) - 1));
    acc_ = (acc_ << count) | masked;
    filled_ += count;
    if (filled_ >= 32) {
      filled_ -= 32;
      words_.push_back(static_cast<uint32_t>(acc_ >> filled_));
    }
    acc_ &= (uint64_t{1} << filled_) - 1;
  }

  void PutGamma(uint32_t value) {
    // The bits below the leading one, each followed by 1 except after the last.
    int top = 31 - __builtin_clz(value);
    uint64_t pattern = 0;
    for (int bit = top - 1; bit >= 0; --bit) pattern = pattern << 2 | ((value >> bit) & 1) << 1 | (bit > 0);
    uint32_t count = 2 * static_cast<uint32_t>(top);
    if (count > 32) {
      Put(static_cast<uint32_t>(pattern >> 32), count - 32);
      count = 32;
    }
    Put(static_cast<uint32_t>(pattern), count);
  }

  // Fills the last word with zero bits and appends the words little-endian.
  void FlushTo(std::vector<uint8_t>* out) {
    if (filled_ > 0) Put(0, 32 - filled_);
    size_t at = out->size();
    out->resize(at + 4 * words_.size());
    uint8_t* p = out->data() + at;
    for (uint32_t word : words_) {
      p[0] = static_cast<uint8_t>(word);
      p[1] = static_cast<uint8_t>(word >> 8);
      p[2] = static_cast<uint8_t>(word >> 16);
      p[3] = static_cast<uint8_t>(word >> 24);
      p += 4;
    }
  }

 private:
  std::vector<uint32_t> words_;
  uint64_t acc_ = 0;
  uint32_t filled_ = 0;
};

bool Repeats(const uint8_t* data, size_t pos, uint32_t offset, uint32_t length) {
  return offset != 0 && offset <= pos &&
         std::memcmp(data + pos, data + pos - offset, length) == 0;
}

}  // namespace

std::vector<uint8_t> WriteStream(const uint8_t* data, size_t size, const std::vector<Op>& ops) {
  std::vector<uint8_t> out;
  if (ops.empty() || ops.front().kind != OpKind::kLiteralSize) return {};
  out.push_back('J');
  out.push_back('C');
  le::Append32(&out, static_cast<uint32_t>(size));
  le::Append32(&out, Checksum(data, size));

  BitWriter bits;
  size_t pos = 0;
  uint32_t literal_size = 8, literal_base = 0, index_bits = kDefaultIndexBits;
  uint32_t last_offset = 1;  // as in the decoder, so a first repeat copies from 1 back
  for (size_t i = 0; i < ops.size(); ++i) {
    const Op& op = ops[i];
    size_t rest = size - pos;
    switch (op.kind) {
      case OpKind::kLiterals:
        if (op.length > rest) return {};
        for (uint32_t k = 0; k < op.length; ++k) {
          uint32_t v = (data[pos + k] - literal_base) & 0xFF;
          if (v >> literal_size) return {};
          bits.Put((1u << literal_size) | v, 1 + literal_size);
        }
        break;
      case OpKind::kLiteralBlocks:
        if (op.length == 0 || op.length % 256 != 0 || op.length > rest) return {};
        bits.Put(0x21, 8);  // 001 0000 1
        for (uint32_t k = 0; k < op.length; ++k) {
          bits.Put(data[pos + k], 8);
          if (k % 256 == 255) bits.Put(k + 1 < op.length ? 1 : 0, 1);
        }
        break;
      case OpKind::kZero:
        if (op.length != 1 || rest < 1 || data[pos] != 0) return {};
        bits.Put(0x11, 7);  // 001 0001
        break;
      case OpKind::kNearCopy:
        if (op.length != 1 || rest < 1 || op.offset > kMaxNearCopyOffset ||
            !Repeats(data, pos, op.offset, 1))
          return {};
        bits.Put(1, 3);
        bits.Put(op.offset + 1, 4);
        break;
      case OpKind::kShortMatch:
        if (op.length < kMinShortMatch || op.length > kMaxShortMatch || op.length > rest ||
            op.offset > kMaxShortMatchOffset || !Repeats(data, pos, op.offset, op.length))
          return {};
        bits.Put(0, 3);
        bits.Put(op.offset, 7);
        bits.Put(op.length - 2, 2);
        last_offset = op.offset;
        break;
      case OpKind::kMatch: {
        uint32_t adjust = OffsetAdjust(op.offset);
        if (op.length > rest || op.length < adjust + 2 || !Repeats(data, pos, op.offset, op.length))
          return {};
        bits.Put(1, 2);
        bits.PutGamma((op.offset >> index_bits) + 3);
        bits.Put(op.offset, index_bits);
        bits.PutGamma(op.length - adjust);
        last_offset = op.offset;
        break;
      }
      case OpKind::kRepMatch:
        if (op.length < 2 || op.length > rest || !Repeats(data, pos, last_offset, op.length))
          return {};
        bits.Put(1, 2);
        bits.PutGamma(2);
        bits.PutGamma(op.length);
        break;
      case OpKind::kLiteralSize:
        if (op.length == 8) {
          bits.Put(0x41, 9);  // 001 0000 0 1
          literal_size = 8;
          literal_base = 0;
        } else if (op.length == 7 && op.offset < 256) {
          bits.Put(0x40, 9);  // 001 0000 0 0
          bits.Put(op.offset, 8);
          literal_size = 7;
          literal_base = op.offset;
        } else {
          return {};
        }
        break;
      case OpKind::kIndexSize: {
        if (op.length > 31) return {};  // larger values never pay below 4 GiB
        uint32_t n = op.length < 16 ? 1 : 2;
        bits.Put(0, 3);
        bits.Put(0, 7);
        bits.Put(n, 2);
        bits.Put(op.length, n + 3);
        index_bits = op.length;
        break;
      }
    }
    if (op.kind != OpKind::kLiteralSize && op.kind != OpKind::kIndexSize) pos += op.length;
  }
  if (pos != size) return {};
  bits.Put(0, 12);  // end code
  bits.FlushTo(&out);
  return out;
}

uint64_t OpsBits(const std::vector<Op>& ops, uint32_t literal_size, uint32_t index_bits) {
  uint64_t total = 0;
  for (const Op& op : ops) {
    switch (op.kind) {
      case OpKind::kLiterals: total += uint64_t{op.length} * (1 + literal_size); break;
      case OpKind::kLiteralBlocks:
        total += kLiteralBlockStartBits + uint64_t{op.length / 256} * kLiteralBlockBits;
        break;
      case OpKind::kZero:
      case OpKind::kNearCopy: total += kOneByteCodeBits; break;
      case OpKind::kShortMatch: total += kShortMatchBits; break;
      case OpKind::kMatch:
        total += NewOffsetBits(op.offset, index_bits) +
                 GammaBits(op.length - OffsetAdjust(op.offset));
        break;
      case OpKind::kRepMatch: total += RepMatchBits(op.length); break;
      case OpKind::kLiteralSize:
        literal_size = op.length;
        total += op.length == 8 ? kLiteralSizeCode8Bits : kLiteralSizeCode7Bits;
        break;
      case OpKind::kIndexSize:
        index_bits = op.length;
        total += IndexSizeCodeBits(op.length);
        break;
    }
  }
  return total;
}

}  // namespace jcalg::detail
