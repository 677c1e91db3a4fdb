// The codes of the packed stream as the encoder sees them: what each one costs in bits
// (the parser prices paths with these) and the writer that turns a list of them into a
// finished stream. Internal to the packer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jcalg::detail {

// Bits of a gamma number v (v >= 2): one data bit and one continuation bit for every
// bit below the leading one.
inline uint32_t GammaBits(uint32_t v) {
  return 2 * static_cast<uint32_t>(31 - __builtin_clz(v));
}

// Added by the decoder to the length of a match that carries a new offset, so that
// short lengths cost nothing at distances where they would not pay.
inline uint32_t OffsetAdjust(uint32_t offset) {
  if (offset < 128) return 4;
  if (offset < 639) return 0;
  if (offset < 14335) return 1;
  if (offset < 65536) return 2;
  return 3;
}

// Fixed sizes of the codes, in bits.
constexpr uint32_t kLiteralSizeCode8Bits = 9;    // 001 0000 0 1
constexpr uint32_t kLiteralSizeCode7Bits = 17;   // 001 0000 0 0 + 8-bit base
constexpr uint32_t kOneByteCodeBits = 7;          // 001 + 4 bits: byte 0 or a near copy
constexpr uint32_t kShortMatchBits = 12;          // 000 + 7-bit offset + 2-bit length
constexpr uint32_t kLiteralBlockStartBits = 8;    // 001 0000 1
constexpr uint32_t kLiteralBlockBits = 256 * 8 + 1;  // the bytes and the "another" bit
constexpr uint32_t kEndCodeBits = 12;
constexpr uint32_t kMaxNearCopyOffset = 14;
constexpr uint32_t kMaxShortMatchOffset = 127;
constexpr uint32_t kMinShortMatch = 2;
constexpr uint32_t kMaxShortMatch = 5;
constexpr uint32_t kDefaultIndexBits = 8;

inline uint32_t IndexSizeCodeBits(uint32_t index_bits) {
  // 000, offset 0, n, then an (n + 3)-bit number: n = 1 holds up to 15.
  uint32_t n = index_bits < 16 ? 1 : index_bits < 32 ? 2 : 3;
  return 12 + n + 3;
}

// A match with a new offset, without its length part.
inline uint32_t NewOffsetBits(uint32_t offset, uint32_t index_bits) {
  return 2 + GammaBits((offset >> index_bits) + 3) + index_bits;
}

// A match of `length` bytes reusing the last offset.
inline uint32_t RepMatchBits(uint32_t length) { return 2 + 2 + GammaBits(length); }

enum class OpKind : uint8_t {
  kLiterals,      // `length` bytes of the input as literals of the current literal size
  kLiteralBlocks, // `length` bytes (a multiple of 256) as raw 8-bit literal blocks
  kZero,          // the byte 0 through the one-byte code
  kNearCopy,      // one byte copied from `offset` 1..14
  kShortMatch,    // `length` 2..5 from `offset` 1..127
  kMatch,         // `length` bytes from a new `offset`
  kRepMatch,      // `length` bytes from the last offset
  kLiteralSize,   // literal size 8 (`length` 8) or 7 with base `offset`
  kIndexSize,     // index bits = `length`
};

struct Op {
  OpKind kind;
  uint32_t length;
  uint32_t offset;
};

// Writes a whole stream: header (signature, size, checksum), the ops in order, the end
// code and the zero fill. The ops must cover `size` bytes of `data` and start with a
// literal-size op; literals must fit the literal size in force. Gives an empty vector
// when the ops do not describe `data` that way (a fault of the parser, never silently
// written).
std::vector<uint8_t> WriteStream(const uint8_t* data, size_t size, const std::vector<Op>& ops);

// Bit length of the code words the ops take (without header, end code and fill), with
// the literal size and index bits in force before them.
uint64_t OpsBits(const std::vector<Op>& ops, uint32_t literal_size = 8,
                 uint32_t index_bits = kDefaultIndexBits);

}  // namespace jcalg::detail
