#include "common/qpfile/jcalg_match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace jcalg::detail {
namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;  // inputs stay below 4 GiB, so no position has it

}  // namespace

MatchFinder::MatchFinder(const uint8_t* data, size_t size, uint32_t window,
                         uint32_t nice_length, uint32_t depth, uint32_t good_length,
                         uint32_t good_depth, uint32_t max_others)
    : data_(data),
      size_(size),
      window_(window),
      nice_length_(std::max<uint32_t>(nice_length, 2)),
      depth_(std::max<uint32_t>(depth, 1)),
      good_length_(good_length),
      good_depth_(good_depth),
      max_others_(max_others),
      cycle_mask_(std::bit_ceil(std::min<size_t>(size_t{window} + 1, size + 1)) - 1),
      tree_(2 * (cycle_mask_ + 1), kNone) {
  // A tree never needs more slots than there are positions, nor the head table more
  // entries than about one per position: small inputs hash the byte pair into fewer
  // trees (a tree may then hold suffixes of different pairs, which the walk handles,
  // since it compares whole suffixes).
  head_bits_ = 8;
  while (head_bits_ < 16 && (size_t{1} << head_bits_) < size) ++head_bits_;
  head_.assign(size_t{1} << head_bits_, kNone);
}

size_t MatchFinder::FindAndInsert(size_t pos, std::vector<Match>* out,
                                  std::vector<Match>* others) {
  return Walk(pos, out, others);
}

void MatchFinder::Insert(size_t pos) { Walk(pos, nullptr, nullptr); }

size_t MatchFinder::Walk(size_t pos, std::vector<Match>* out, std::vector<Match>* others) {
  if (size_ - pos < 2) return 0;
  const uint32_t max_len = static_cast<uint32_t>(std::min<size_t>(size_ - pos, nice_length_));
  const uint8_t* cur_bytes = data_ + pos;
  uint32_t key = cur_bytes[0] | uint32_t{cur_bytes[1]} << 8;
  if (head_bits_ < 16) key = key * 0x9E3779B1u >> (32 - head_bits_);
  uint32_t cur = head_[key];
  head_[key] = static_cast<uint32_t>(pos);

  // The new root's two subtrees are built from the nodes met on the way down: every
  // node smaller than the new suffix goes to the left, every larger one to the right.
  uint32_t* smaller = &tree_[2 * (pos & cycle_mask_)];
  uint32_t* larger = smaller + 1;
  uint32_t len_smaller = 0, len_larger = 0;
  uint32_t best = 1;
  size_t found = 0;
  size_t others_left = others != nullptr ? max_others_ : 0;
  for (uint32_t steps = depth_;; --steps) {
    if (cur == kNone || pos - cur > window_ || steps == 0) {
      *smaller = kNone;
      *larger = kNone;
      break;
    }
    uint32_t* node = &tree_[2 * (cur & cycle_mask_)];
    uint32_t len = CommonPrefixLength(data_ + cur, cur_bytes, std::min(len_smaller, len_larger), max_len);
    if (len <= best && len >= 2 && others_left != 0) {
      others->push_back(Match{len, static_cast<uint32_t>(pos - cur)});
      --others_left;
    }
    if (len > best) {
      best = len;
      if (len >= good_length_ && steps > good_depth_) steps = good_depth_ + 1;
      if (out != nullptr) {
        out->push_back(Match{len, static_cast<uint32_t>(pos - cur)});
        ++found;
      }
      if (len == max_len) {
        // Equal as far as we look: the new root takes over the old node's subtrees.
        *smaller = node[0];
        *larger = node[1];
        break;
      }
    }
    if (data_[cur + len] < cur_bytes[len]) {
      *smaller = cur;
      smaller = &node[1];
      cur = node[1];
      len_smaller = len;
    } else {
      *larger = cur;
      larger = &node[0];
      cur = node[0];
      len_larger = len;
    }
  }
  return found;
}

}  // namespace jcalg::detail
