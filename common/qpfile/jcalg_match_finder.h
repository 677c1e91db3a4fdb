// Finds earlier occurrences of the bytes at each position of the input, for the parser.
//
// A binary tree over the suffixes that start at the last `window` positions, one tree
// per pair of leading bytes (the shortest match the stream can code is 2 bytes; small
// inputs share trees between pairs). Each
// position is inserted as the new root of its tree, and the walk that inserts it meets
// the earlier suffixes that share the longest prefixes with it, so one pass yields
// every useful match: for each length, the first candidate found that reaches it.
// The walk is cut after `depth` steps, so the work grows with the input, not with
// input x window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace jcalg::detail {

// Length of the common prefix of `a` and `b`, from `len` bytes known equal up to `limit`
// (eight bytes at a time; both the match finder and the parser use it in their inner loops).
inline uint32_t CommonPrefixLength(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t limit) {
  while (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + len, 8);
    std::memcpy(&y, b + len, 8);
    if (x != y) return len + static_cast<uint32_t>(__builtin_ctzll(x ^ y) / 8);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// Length of the common suffix of the bytes before `a` and before `b`, up to `limit`
// (eight bytes at a time).
inline uint32_t CommonSuffixLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t len = 0;
  while (len + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a - len - 8, 8);
    std::memcpy(&y, b - len - 8, 8);
    if (x != y) return len + static_cast<uint32_t>(__builtin_clzll(x ^ y) / 8);
    len += 8;
  }
  while (len < limit && a[-1 - static_cast<int64_t>(len)] == b[-1 - static_cast<int64_t>(len)]) ++len;
  return len;
}

struct Match {
  uint32_t length;
  uint32_t offset;  // 1..window
};

class MatchFinder {
 public:
  // `nice_length`: matches are not extended beyond this (the parser takes such a
  // match whole); `depth`: the most tree nodes visited per position; `good_length`:
  // once a match this long is found, at most `good_depth` more nodes are visited
  // (repetitive data meets long matches at every step, and the nearest of them are
  // the ones worth having); `max_others`: the most other matches given per position.
  MatchFinder(const uint8_t* data, size_t size, uint32_t window, uint32_t nice_length,
              uint32_t depth, uint32_t good_length = 0xFFFFFFFFu, uint32_t good_depth = 0,
              uint32_t max_others = 8);

  // Inserts position `pos` (positions are given in increasing order; skipped ones are
  // simply never found) and appends its matches, strictly increasing in length and
  // offset, to `out`: for each length the nearest match that reaches it. Gives the
  // number appended. When `others` is given, the first `max_others` other matches that
  // the walk met (at a larger offset than a match at least as long) go there: the
  // parser tries them for the last offset they leave behind.
  size_t FindAndInsert(size_t pos, std::vector<Match>* out, std::vector<Match>* others = nullptr);

  // Inserts `pos` without collecting matches.
  void Insert(size_t pos);

 private:
  size_t Walk(size_t pos, std::vector<Match>* out, std::vector<Match>* others);

  const uint8_t* data_;
  size_t size_;
  uint32_t window_;
  uint32_t nice_length_;
  uint32_t depth_;
  uint32_t good_length_;
  uint32_t good_depth_;
  uint32_t max_others_;
  // Tree slots are reused cyclically: a power of two of them, at least window + 1 (a
  // slot comes round again only when its position has left the window), or fewer for
  // a short input.
  size_t cycle_mask_;
  uint32_t head_bits_;
  std::vector<uint32_t> head_;   // per hashed byte pair: the latest position, or kNone
  std::vector<uint32_t> tree_;   // per slot: smaller child, larger child (or kNone)
};

}  // namespace jcalg::detail
