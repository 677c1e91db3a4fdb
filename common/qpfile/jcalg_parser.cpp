#include "common/qpfile/jcalg_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>

#include "common/qpfile/jcalg_match_finder.h"

namespace jcalg::detail {
namespace {

// window, depth, good length, good depth, nice length, arrivals (0: the lazy parse
// alone), spread, others. Levels 8 and 9 share their window, and the packer is given
// only the window, so they pack alike. A last offset rarely saves more than a few bits
// later, so arrivals far dearer than the cheapest at their position seldom lead
// anywhere; the spread drops them, which lets the highest levels keep many arrivals
// for the price of a few. Only the nearest few other matches are worth trying, and
// keeping only those bounds the memory of a block.
constexpr LevelParameters kLevels[10] = {
    {1024, 4, 24, 4, 24, 0, kNoSpread, 8},     {2048, 8, 32, 8, 32, 0, kNoSpread, 8},
    {4096, 8, 32, 8, 32, 1, kNoSpread, 8},     {8192, 8, 32, 8, 32, 1, kNoSpread, 8},
    {16384, 12, 32, 8, 48, 2, kNoSpread, 8},   {32768, 16, 32, 8, 64, 2, kNoSpread, 8},
    {40960, 24, 32, 8, 96, 3, kNoSpread, 8},   {57344, 32, 32, 8, 128, 3, kNoSpread, 8},
    {65536, 32, 32, 8, 192, 16, 9, 3},         {65536, 32, 32, 8, 192, 16, 9, 3},
};

// Positions parsed at once. Arrival tables grow with the block, so long inputs are
// parsed block after block (matches still reach back across blocks).
constexpr size_t kBlockSize = size_t{1} << 12;

// Small blocks are cheap to parse, so they get the most arrivals per position.
constexpr size_t kSmallBlock = 1024;

// A literal mode: 8-bit literals (base 0) or 7-bit literals above `base`. The parsers
// price literals at 9 bits, or at 8 where a 7-bit mode is expected; the modes are then
// chosen exactly for the literals of the parse (AssignLiteralModes).
struct LiteralMode {
  uint32_t size;
  uint32_t base;
  bool operator==(const LiteralMode&) const = default;
  bool Fits(uint8_t byte) const { return size == 8 || ((byte - base) & 0xFF) < 128; }
  uint32_t SwitchBits() const { return size == 8 ? kLiteralSizeCode8Bits : kLiteralSizeCode7Bits; }
};

// The decoder's state between blocks.
struct CoderState {
  bool has_mode = false;  // false before the stream's first literal-size code
  LiteralMode mode{8, 0};
  uint32_t rep = 1;
  uint32_t index_bits = kDefaultIndexBits;
};

// How an arrival reached its position (one-byte steps are not arrivals: a path goes on
// by them from the cheapest way to the position before).
enum Step : uint8_t { kStart, kShort, kNew, kRep, kBlock };

struct Arrival {
  uint32_t price;   // bits from the start of the block
  uint32_t rep;     // last offset after this step
  uint16_t length;  // bytes the step covered (within a block, so below 2^16)
  uint8_t step;
  // A repeat continues the path of an earlier arrival with the same last offset,
  // reached from it through one-byte steps: that arrival's position and slot.
  uint8_t origin_slot;
  uint16_t origin;
};
static_assert(kBlockSize < (size_t{1} << 16), "a step's length must fit its field");

// The arrivals of the positions of a block. Only the slots that a position counts as
// held are ever read, so the memory is never cleared (a vector would clear it at every
// growth).
class ArrivalTable {
 public:
  Arrival* Reserve(size_t count) {
    if (count > capacity_) {
      slots_ = std::make_unique_for_overwrite<Arrival[]>(count);
      capacity_ = count;
    }
    return slots_.get();
  }

 private:
  std::unique_ptr<Arrival[]> slots_;
  size_t capacity_ = 0;
};

// A resumed match, and the next one that starts at the same position (or kNoMatch).
struct ResumedMatch {
  Match match;
  uint32_t next;
};

constexpr uint32_t kNoMatch = 0xFFFFFFFFu;

// The matches of every position of a block, as the finder gave them, and the resumed
// ones found from them (FindResumedMatches).
struct BlockMatches {
  std::vector<uint32_t> first{0}, first_other{0};  // per position, into the lists below
  std::vector<Match> nearest;  // for each length the nearest match
  std::vector<Match> others;   // the other matches met
  std::vector<uint32_t> first_resumed;  // per position, into `resumed` (or kNoMatch)
  std::vector<ResumedMatch> resumed;

  void Clear(size_t positions) {
    first.assign(1, 0);
    first_other.assign(1, 0);
    nearest.clear();
    others.clear();
    first_resumed.assign(positions, kNoMatch);
    resumed.clear();
  }
};

// Segments looked at before a difference (FindResumedMatches), and the segments in a
// row too short to code that end the walk (a match met by chance has no record alike
// before it, and most walks are those).
constexpr int kResumedSegments = 8;
constexpr int kResumedMisses = 3;

// Records alike, as the functions of a compiled script are, differ in a byte here and
// there; such a stretch packs best as one match followed by repeats of its offset
// between literals. The finder gives for each length only the nearest match, and a
// nearer one often reaches as far as the alike record's where a stretch starts, so
// that the alike record's offset is never offered there. It shows where the stretch
// resumes after a difference: where a match found at p has a different byte just
// before it, the bytes before that byte often match at the same offset too. Those
// segments, back over a few differences, become matches of their own (with their
// start) that the parse can open the stretch with.
void FindResumedMatches(const uint8_t* data, size_t begin, size_t end, uint32_t nice,
                        BlockMatches* matches) {
  // Per hashed offset, the last difference that a walk with that offset started at: a
  // later walk with the offset stops there, as the stretch below is done.
  struct Walked {
    uint32_t offset = 0;
    size_t gap = 0;
  };
  std::array<Walked, 1024> walked{};
  // The walk back from a match with `offset` at p, whose byte before differs.
  auto resume_from = [&](size_t p, uint32_t offset) {
    // Bytes at or after `low` may start a match: inside the block, with its source
    // inside the input.
    const size_t low = std::max(begin, size_t{offset});
    size_t gap = p - 1;  // the differing byte
    Walked& before = walked[(offset * 0x9E3779B1u) >> 22];
    const size_t done = before.offset == offset ? before.gap : 0;
    before = {offset, gap};
    int misses = 0;
    for (int segment = 0; segment < kResumedSegments && gap > std::max(low, done); ++segment) {
      uint32_t length = CommonSuffixLength(data + gap - offset, data + gap,
                                           static_cast<uint32_t>(std::min<size_t>(gap - low, nice)));
      // Only a segment that a short match or a match with a new offset can code.
      bool codable = offset <= kMaxShortMatchOffset && length <= kMaxShortMatch
                         ? length >= kMinShortMatch
                         : length >= OffsetAdjust(offset) + 2;
      if (codable) {
        uint32_t& head = matches->first_resumed[gap - length - begin];
        matches->resumed.push_back({Match{length, offset}, head});
        head = static_cast<uint32_t>(matches->resumed.size() - 1);
        misses = 0;
      } else if (++misses == kResumedMisses) {
        break;
      }
      if (gap - length <= low + 1 || length == nice) break;
      gap -= length + 1;
    }
  };
  // Most matches are met by chance and have nothing alike before them; the walk is
  // taken only where the first segment or the one after it can be long enough to code
  // (one of the bytes 3 and 4 before p matches too), with the byte just before p
  // differing.
  auto worth_walking = [&](size_t p, const Match& m) {
    const uint32_t offset = m.offset;
    if (m.length < 3 || p - begin < 4 || p - 4 < offset) return false;
    const uint8_t* here = data + p;
    const uint8_t* there = here - offset;
    return here[-1] != there[-1] && (here[-3] == there[-3] || here[-4] == there[-4]);
  };
  for (size_t i = 1; i < end - begin; ++i) {
    const size_t p = begin + i;
    const uint32_t first = matches->first[i], last = matches->first[i + 1];
    if (first != last && worth_walking(p, matches->nearest[last - 1]))
      resume_from(p, matches->nearest[last - 1].offset);
    for (uint32_t k = matches->first_other[i]; k < matches->first_other[i + 1]; ++k) {
      if (worth_walking(p, matches->others[k])) resume_from(p, matches->others[k].offset);
    }
  }
}


// Codes the start of every stretch of one-byte steps (8-bit literals, byte 0, near
// copies) of 256 bytes or more as literal blocks when that is shorter: what does not
// pack then grows by well under one percent.
void UseLiteralBlocks(std::vector<Op>* ops) {
  auto one_byte = [](const Op& op) {
    return op.kind == OpKind::kLiterals || op.kind == OpKind::kZero || op.kind == OpKind::kNearCopy;
  };
  std::vector<Op> result;
  size_t k = 0;
  while (k < ops->size()) {
    if (!one_byte((*ops)[k])) {
      result.push_back((*ops)[k++]);
      continue;
    }
    size_t end = k;
    uint64_t bytes = 0;
    while (end < ops->size() && one_byte((*ops)[end])) {
      const Op& op = (*ops)[end++];
      bytes += op.length;
    }
    uint64_t blocks = bytes / 256;
    // Literal blocks cost 8 bits a byte and a little; one-byte steps 7 to 9 bits.
    uint64_t block_bits = kLiteralBlockStartBits + blocks * kLiteralBlockBits;
    uint64_t covered_bits = 0, covered = 0;
    size_t cut = k;
    while (covered < blocks * 256) {
      const Op& op = (*ops)[cut];
      uint64_t take = std::min<uint64_t>(op.length, blocks * 256 - covered);
      covered_bits += op.kind == OpKind::kLiterals ? 9 * take : kOneByteCodeBits;
      covered += take;
      if (take == op.length) ++cut;
    }
    if (blocks == 0 || block_bits >= covered_bits) {
      result.insert(result.end(), ops->begin() + k, ops->begin() + end);
    } else {
      result.push_back({OpKind::kLiteralBlocks, static_cast<uint32_t>(blocks * 256), 0});
      // A literal run cut by the last block keeps its rest.
      size_t used = 0;
      for (size_t j = k; j < cut; ++j) used += (*ops)[j].length;
      if (used < blocks * 256) {
        result.push_back({OpKind::kLiterals,
                          static_cast<uint32_t>((*ops)[cut].length - (blocks * 256 - used)), 0});
        ++cut;
      }
      result.insert(result.end(), ops->begin() + cut, ops->begin() + end);
    }
    k = end;
  }
  ops->swap(result);
}

// Lengths up to this get an arrival each; longer ones only where their gamma code grows.
constexpr uint32_t kEveryLengthUpTo = 16;

// The next length of a match after `len` that gets an arrival of its own, for a match
// whose length is coded less `adjust` and reaches `top` at most. Past
// kEveryLengthUpTo only the longest length of each gamma code size is offered (and
// `top`): a shorter one costs as much, and a path that needs the match to stop there
// for a new match after it is rare (the shorter lengths still give literals, near
// copies and repeats after them through the longer one).
inline uint32_t NextLength(uint32_t len, uint32_t adjust, uint32_t top) {
  if (len < kEveryLengthUpTo || len >= top) return len + 1;
  uint32_t coded = len - adjust + 1;  // the next length as coded
  uint32_t longest = (2u << (31 - __builtin_clz(coded))) - 1 + adjust;  // same code size
  return std::min(longest, top);
}

// One block of the input with its matches; runs parses over it. The parses give ops
// without literal-size codes.
class BlockParser {
 public:
  // Either `matches` (the optimal parse) or `finder` (the lazy parse alone) is given.
  // `table` holds the arrivals; it is kept from block to block, so that its memory is
  // had once.
  BlockParser(const uint8_t* data, size_t begin, size_t end, uint32_t window, uint32_t nice,
              const BlockMatches* matches, MatchFinder* finder, ArrivalTable* table)
      : data_(data),
        begin_(begin),
        size_(end - begin),
        window_(window),
        nice_(nice),
        matches_(matches),
        finder_(finder),
        table_(*table) {}

  // The shortest path over the block, with `arrivals` arrivals kept per position and
  // as many live last offsets (none dearer than `spread` bits over the cheapest), and
  // a literal at position i priced at literal_bits[i] bits; raw literal blocks are
  // weighed only when `literal_blocks` (data that packs never needs them, and they
  // reach far ahead). Appends its ops and sets the last offset at its end. False when
  // no path was found (never expected).
  bool RunOptimal(uint32_t index_bits, uint32_t arrivals, uint32_t spread,
                  const std::vector<uint8_t>& literal_bits, bool literal_blocks, uint32_t rep, std::vector<Op>* ops, uint32_t* rep_out);

  // A quick parse in 9-bit literals: at each position the code that saves the most
  // bits against literals, unless (when `look_ahead`) one byte and then the best code
  // at the next position save more. Appends its ops and gives the last offset at its
  // end.
  uint32_t RunLazy(uint32_t index_bits, uint32_t rep, bool look_ahead, std::vector<Op>* ops);

 private:
  // A step of the lazy parse and the bits it saves against 9-bit literals.
  struct Choice {
    int32_t gain;
    Op op;
  };
  Choice OneByte(size_t i) const;
  // The best step at i; `one_byte` receives the one-byte step there.
  Choice Best(size_t i, uint32_t rep, uint32_t index_bits, Choice* one_byte);

  Arrival* Slots(size_t i) { return &arrivals_[i * slots_]; }

  // Offers an arrival at position i for the cheapest way there; only the dearer
  // lengths of a match (which no later repeat of its offset needs) are offered so.
  __attribute__((always_inline)) void Offer(size_t i, uint32_t price, uint32_t rep, uint32_t length,
                                            Step step, size_t origin_slot = 0, size_t origin = 0) {
    if (price >= min_price_[i]) return;
    min_price_[i] = price;
    min_[i] = Arrival{price, rep, static_cast<uint16_t>(length), step,
                      static_cast<uint8_t>(origin_slot), static_cast<uint16_t>(origin)};
  }

  // Offers an arrival at position i for the cheapest way there and as a way to its
  // last offset: kept when it is among the cheapest there with a last offset of its
  // own. The arrivals of a position are kept sorted by price (the cheapest first).
  // Only the counted slots of a position are read, so the table is never cleared.
  __attribute__((always_inline)) void Keep(size_t i, uint32_t price, uint32_t rep, uint32_t length,
                                           Step step, size_t origin_slot = 0, size_t origin = 0) {
    Offer(i, price, rep, length, step, origin_slot, origin);
    // Most offers are turned down here: dearer than the spread over the cheapest held
    // (or than the dearest held when the slots are full), or more than the spread
    // behind the cheapest path so far gone on by one-byte steps.
    if (price > limits_[i] ||
        static_cast<int32_t>(price) - one_byte_[i] > floor_ + static_cast<int32_t>(spread_))
      return;
    Hold(i, Arrival{price, rep, static_cast<uint16_t>(length), step,
                    static_cast<uint8_t>(origin_slot), static_cast<uint16_t>(origin)});
  }

  void Hold(size_t i, const Arrival& fresh) {
    Arrival* a = Slots(i);
    uint8_t& n = counts_[i];
    // Where the same last offset is already held, the offer replaces it only when
    // cheaper; otherwise it takes a free slot, or the dearest arrival makes room.
    size_t from = n;
    for (size_t s = 0; s < n; ++s) {
      if (a[s].rep == fresh.rep) {
        if (a[s].price <= fresh.price) return;
        from = s;
        break;
      }
    }
    if (from == n) {
      if (n == slots_) from = n - 1;
      else ++n;
    }
    size_t at = from;
    while (at > 0 && a[at - 1].price > fresh.price) {
      a[at] = a[at - 1];
      --at;
    }
    a[at] = fresh;
    // Offers dearer than the spread over the cheapest are turned down, and when every
    // slot is taken (a single slot with the first offer), those no cheaper than the
    // dearest held.
    limits_[i] = a[0].price + spread_;
    if (n == slots_) limits_[i] = std::min(limits_[i], a[n - 1].price - 1);
  }

  // The nearest offset 1..14 holding the same byte as position p, or 0.
  uint32_t NearOffset(size_t p) const {
    uint32_t limit = static_cast<uint32_t>(std::min<size_t>({kMaxNearCopyOffset, p, window_}));
    if (limit == kMaxNearCopyOffset && p >= 16) {
      // Eight bytes at a time: a byte equal to data_[p] becomes 0 after the xor, and
      // the exact zero-byte test marks it without carries between bytes.
      const uint64_t ones = 0x0101010101010101u, low7 = 0x7F7F7F7F7F7F7F7Fu;
      const uint64_t pattern = data_[p] * ones;
      for (uint32_t start = 8; start <= 16; start += 8) {
        uint64_t x;
        std::memcpy(&x, data_ + p - start, 8);  // bytes p - start .. p - start + 7
        x ^= pattern;
        uint64_t zero = ~(((x & low7) + low7) | x | low7);
        if (start == 16) zero &= ~uint64_t{0xFFFF};  // offsets 15 and 16 are not codable
        if (zero != 0) {
          // The highest byte is the nearest one.
          uint32_t byte = (63 - static_cast<uint32_t>(__builtin_clzll(zero))) / 8;
          return start - byte;
        }
      }
      return 0;
    }
    for (uint32_t o = 1; o <= limit; ++o) {
      if (data_[p - o] == data_[p]) return o;
    }
    return 0;
  }

  void ExpandMatches(size_t i, uint32_t index_bits, size_t* skip_to);
  // A match from the cheapest arrival at i found elsewhere than in the nearest list,
  // tried at its own length for the last offset it leaves behind.
  __attribute__((always_inline)) void TryOther(size_t i, uint32_t price, uint32_t index_bits,
                                               const Match& other);
  // Repeats of the live last offsets at i; drops those the cheapest path has left
  // more than the spread behind (they only fall further behind).
  void RepeatLiveOffsets(size_t i, bool expand, size_t* skip_to);
  // Adds the last offset of arrival `slot` at i to the live ones, or makes it the way
  // to that offset when it is cheaper than the one held.
  void Live(const Arrival& a, size_t i, size_t slot);
  Op OneByteOp(size_t i) const;
  // The ops of the cheapest path to the end of the block; false when the links do not
  // lead back to the start (never expected).
  bool Backtrack(std::vector<Op>* ops) const;

  static constexpr size_t kNoSlot = 0xFF;
  static constexpr size_t kMinSlot = 0xFE;
  // The cheapest way to a position: by a one-byte step from the one before (kNoSlot),
  // or the cheapest arrival there (kMinSlot).
  struct Cheapest {
    uint32_t price;
    uint32_t rep;
    size_t slot;
  };
  // A last offset that a path near the cheapest has: the arrival that gave it (at
  // `at`, slot `slot`) and that arrival's price less the one-byte sum there, so that
  // its price at any later position comes from the sum there.
  struct LiveOffset {
    uint32_t rep;
    int32_t base;
    uint16_t at;
    uint8_t slot;
    bool matched;  // the arrival was a match with this offset
  };

  const uint8_t* data_;
  size_t begin_, size_;
  uint32_t window_, nice_;
  const BlockMatches* matches_;
  // The lazy parse alone asks the finder as it goes (positions inside the matches it
  // takes are then never looked at, which is what makes it quick).
  MatchFinder* finder_;
  std::vector<Match> found_;
  size_t slots_ = 1;
  bool prev_expanded_ = false;
  std::vector<uint8_t> counts_;  // per position: the arrivals held
  // Per position: the dearest price an offer may have to be kept (within the spread of
  // the cheapest, and below the dearest held when the slots are full).
  std::vector<uint32_t> limits_;
  uint32_t spread_ = kNoSpread;
  ArrivalTable& table_;
  Arrival* arrivals_ = nullptr;  // from table_, for the block
  std::vector<int32_t> one_byte_;    // per position: bits of one-byte steps from the start
  std::vector<Cheapest> cheapest_;   // per position
  std::vector<uint32_t> min_price_;  // per position: the price of the cheapest arrival
  std::vector<Arrival> min_;         // per position: that arrival
  std::array<LiveOffset, kMaxArrivals> live_;  // at the position being parsed
  size_t live_count_ = 0;
  int32_t floor_ = 0;  // the cheapest price at that position less its one-byte sum
};

inline void BlockParser::TryOther(size_t i, uint32_t price, uint32_t index_bits, const Match& other) {
  const uint32_t len = std::min(other.length, static_cast<uint32_t>(size_ - i));
  const uint32_t adjust = OffsetAdjust(other.offset);
  if (other.offset <= kMaxShortMatchOffset && len <= kMaxShortMatch) {
    Keep(i + len, price + kShortMatchBits, other.offset, len, kShort);
  } else if (len >= adjust + 2) {
    Keep(i + len, price + NewOffsetBits(other.offset, index_bits) + GammaBits(len - adjust),
         other.offset, len, kNew);
  }
}

// New-offset matches and short matches from the cheapest arrival at i: they set a new
// last offset, so the one arrived with does not matter. Of each match only the
// longest length can serve a later repeat of its offset (a shorter one stops where
// the copy still goes on); the others are offered only as ways to their position.
void BlockParser::ExpandMatches(size_t i, uint32_t index_bits, size_t* skip_to) {
  const uint32_t price = cheapest_[i].price;
  const uint32_t rest = static_cast<uint32_t>(size_ - i);
  const size_t p = begin_ + i;

  // Matches that a nearer one matches as far, and the resumed matches that start here.
  const Match* other = matches_->others.data() + matches_->first_other[i];
  const Match* other_end = matches_->others.data() + matches_->first_other[i + 1];
  for (; other != other_end; ++other) TryOther(i, price, index_bits, *other);
  for (uint32_t k = matches_->first_resumed[i]; k != kNoMatch; k = matches_->resumed[k].next)
    TryOther(i, price, index_bits, matches_->resumed[k].match);

  const Match* first = matches_->nearest.data() + matches_->first[i];
  const Match* last = matches_->nearest.data() + matches_->first[i + 1];
  if (first == last) return;

  // A match as long as the finder looks is taken whole, and the positions it covers
  // are not weighed (long repeats are rare and cheap either way).
  const Match& longest = last[-1];
  if (longest.length >= nice_ && longest.length < rest) {
    uint32_t full = CommonPrefixLength(data_ + p - longest.offset, data_ + p, 0, rest);
    uint32_t adjust = OffsetAdjust(longest.offset);
    if (full >= adjust + 2) {
      Keep(i + full, price + NewOffsetBits(longest.offset, index_bits) + GammaBits(full - adjust),
           longest.offset, full, kNew);
      *skip_to = std::max(*skip_to, i + full);
    }
  }

  // Where the cheapest way here is a one-byte step from a position that was weighed,
  // a match that also copies that byte was offered from there one byte longer, for
  // bits as few or fewer: it is not offered again.
  const bool continued = cheapest_[i].slot == kNoSlot && prev_expanded_;
  auto goes_on = [&](const Match& m) {
    return continued && m.offset < p && data_[p - 1] == data_[p - 1 - m.offset];
  };

  // Short matches: lengths 2..5 from the first candidate within 127 bytes that
  // reaches them.
  uint32_t covered = 1;
  for (const Match* m = first; m != last && covered < kMaxShortMatch; ++m) {
    if (m->offset > kMaxShortMatchOffset) continue;
    const uint32_t top = std::min({m->length, kMaxShortMatch, rest});
    if (!goes_on(*m)) {
      const uint32_t whole = std::min(m->length, rest);
      for (uint32_t len = covered + 1; len < top; ++len)
        Offer(i + len, price + kShortMatchBits, m->offset, len, kShort);
      if (top > covered) {
        if (top == whole) Keep(i + top, price + kShortMatchBits, m->offset, top, kShort);
        else Offer(i + top, price + kShortMatchBits, m->offset, top, kShort);
      }
    }
    covered = std::max(covered, top);
  }

  // Matches with a new offset: the lengths above the previous candidate's from each
  // candidate (the finder lists nearer, shorter matches first).
  uint32_t from = 2;
  for (const Match* m = first; m != last; ++m) {
    const uint32_t top = std::min(m->length, rest);
    if (!goes_on(*m)) {
      const uint32_t adjust = OffsetAdjust(m->offset);
      const uint32_t offset_bits = NewOffsetBits(m->offset, index_bits);
      const uint32_t low = std::max(from, adjust + 2);
      if (low <= top) {
        for (uint32_t len = low; len < top; len = NextLength(len, adjust, top))
          Offer(i + len, price + offset_bits + GammaBits(len - adjust), m->offset, len, kNew);
        Keep(i + top, price + offset_bits + GammaBits(top - adjust), m->offset, top, kNew);
      }
    }
    from = std::max(from, top + 1);
  }
}

void BlockParser::RepeatLiveOffsets(size_t i, bool expand, size_t* skip_to) {
  const int32_t dearest = floor_ + static_cast<int32_t>(spread_);
  const size_t p = begin_ + i;
  const uint32_t rest = static_cast<uint32_t>(size_ - i);
  expand = expand && rest >= 2;
  uint16_t pair = 0;
  if (expand) std::memcpy(&pair, data_ + p, 2);
  size_t kept = 0;
  for (size_t k = 0; k < live_count_; ++k) {
    const LiveOffset l = live_[k];
    // Offsets the cheapest path has left more than the spread behind are dropped
    // (they only fall further behind).
    if (l.base > dearest) continue;
    live_[kept++] = l;
    const uint32_t r = l.rep;
    if (!expand || r > p) continue;
    uint16_t there;
    std::memcpy(&there, data_ + p - r, 2);
    // After a match with that offset the match itself reaches as far for fewer bits,
    // so only other paths try it.
    if (there != pair || (l.at == i && l.matched)) continue;
    const uint32_t price = static_cast<uint32_t>(l.base + one_byte_[i]);
    const uint32_t len = CommonPrefixLength(data_ + p - r, data_ + p, 2, rest);
    const uint32_t top = std::min(len, nice_);
    for (uint32_t n = 2; n < top; n = NextLength(n, 0, top))
      Offer(i + n, price + RepMatchBits(n), r, n, kRep, l.slot, l.at);
    Keep(i + len, price + RepMatchBits(len), r, len, kRep, l.slot, l.at);
    if (len > top) *skip_to = std::max(*skip_to, i + len);
  }
  live_count_ = kept;
}

bool BlockParser::RunOptimal(uint32_t index_bits, uint32_t arrivals, uint32_t spread,
                             const std::vector<uint8_t>& literal_bits, bool literal_blocks,
                             uint32_t rep,
                             std::vector<Op>* ops, uint32_t* rep_out) {
  slots_ = std::clamp<size_t>(arrivals, 1, kMaxArrivals);
  spread_ = std::min(spread, kNoSpread);
  arrivals_ = table_.Reserve((size_ + 1) * slots_);
  counts_.assign(size_ + 1, 0);
  limits_.assign(size_ + 1, UINT32_MAX);
  min_price_.assign(size_ + 1, UINT32_MAX);
  min_.resize(size_ + 1);

  // The one-byte step at each position costs the same whatever the last offset, so a
  // path that goes on by one-byte steps keeps its lead or its lag: `one_byte_` sums
  // their bits from the start of the block, and an arrival's price less that sum stays
  // its price wherever its one-byte steps take it.
  one_byte_.resize(size_ + 1);
  one_byte_[0] = 0;
  for (size_t i = 0; i < size_; ++i) {
    const bool literal = OneByteOp(i).kind == OpKind::kLiterals;
    one_byte_[i + 1] = one_byte_[i] + (literal ? literal_bits[i] : kOneByteCodeBits);
  }
  cheapest_.resize(size_ + 1);
  live_count_ = 0;
  floor_ = 0;
  Keep(0, 0, rep, 0, kStart);
  prev_expanded_ = false;

  size_t skip_to = 0;
  for (size_t i = 0; i <= size_; ++i) {
    // The cheapest way here: on from the cheapest at i - 1 by one byte, or an arrival.
    Cheapest& best = cheapest_[i];
    best = i == 0 ? Cheapest{UINT32_MAX, 0, kNoSlot}
                  : Cheapest{cheapest_[i - 1].price + (one_byte_[i] - one_byte_[i - 1]),
                             cheapest_[i - 1].rep, kNoSlot};
    if (min_price_[i] <= best.price) best = {min_price_[i], min_[i].rep, kMinSlot};
    floor_ = static_cast<int32_t>(best.price) - one_byte_[i];
    if (i == size_) break;

    const Arrival* here = Slots(i);
    for (size_t s = 0; s < counts_[i]; ++s) Live(here[s], i, s);
    const bool expand = i >= skip_to;
    RepeatLiveOffsets(i, expand, &skip_to);
    prev_expanded_ = expand;
    if (!expand) continue;
    // Raw literal blocks, for what does not pack (a block that follows a block costs
    // no code of its own).
    if (literal_blocks && size_ - i >= 256) {
      bool after_block = best.slot == kMinSlot && min_[i].step == kBlock;
      uint32_t bits = after_block ? kLiteralBlockBits : kLiteralBlockStartBits + kLiteralBlockBits;
      Keep(i + 256, best.price + bits, best.rep, 256, kBlock);
    }
    ExpandMatches(i, index_bits, &skip_to);
  }

  std::vector<Op> block_ops;
  if (!Backtrack(&block_ops)) return false;
  for (const Op& op : block_ops) {
    if (!ops->empty() && op.kind == ops->back().kind &&
        (op.kind == OpKind::kLiterals || op.kind == OpKind::kLiteralBlocks)) {
      ops->back().length += op.length;
    } else {
      ops->push_back(op);
    }
  }
  *rep_out = cheapest_[size_].rep;
  return true;
}

void BlockParser::Live(const Arrival& a, size_t i, size_t slot) {
  const int32_t base = static_cast<int32_t>(a.price) - one_byte_[i];
  const LiveOffset fresh{a.rep, base, static_cast<uint16_t>(i), static_cast<uint8_t>(slot),
                         a.step == kNew || a.step == kRep};
  for (size_t k = 0; k < live_count_; ++k) {
    LiveOffset& l = live_[k];
    if (l.rep == a.rep) {
      if (base < l.base) l = fresh;
      return;
    }
  }
  if (live_count_ < slots_) {
    live_[live_count_++] = fresh;
    return;
  }
  size_t dearest = 0;
  for (size_t k = 1; k < live_count_; ++k)
    if (live_[k].base > live_[dearest].base) dearest = k;
  if (base < live_[dearest].base) live_[dearest] = fresh;
}

// The one-byte step that covers position i of the block.
Op BlockParser::OneByteOp(size_t i) const {
  const size_t p = begin_ + i;
  if (data_[p] == 0) return {OpKind::kZero, 1, 0};
  if (uint32_t near = NearOffset(p)) return {OpKind::kNearCopy, 1, near};
  return {OpKind::kLiterals, 1, 0};
}

bool BlockParser::Backtrack(std::vector<Op>* ops) const {
  std::vector<Op> reversed;
  size_t i = size_;
  // Where the walk stands: at the cheapest way to i (kNoSlot), or at an arrival.
  size_t slot = kNoSlot;
  // Every step covers at least one byte; a longer walk means broken links.
  for (size_t steps = 0; steps <= 2 * size_ + 2; ++steps) {
    if (slot == kNoSlot) {
      slot = cheapest_[i].slot;
      if (slot == kNoSlot) {
        if (i == 0) return false;
        reversed.push_back(OneByteOp(--i));
      }
      continue;
    }
    if (slot != kMinSlot && slot >= counts_[i]) return false;
    const Arrival& a = slot == kMinSlot ? min_[i] : arrivals_[i * slots_ + slot];
    if (a.step == kStart) {
      ops->assign(reversed.rbegin(), reversed.rend());
      return i == 0;
    }
    if (a.length == 0 || a.length > i) return false;
    switch (a.step) {
      case kShort: reversed.push_back({OpKind::kShortMatch, a.length, a.rep}); break;
      case kNew: reversed.push_back({OpKind::kMatch, a.length, a.rep}); break;
      case kRep: reversed.push_back({OpKind::kRepMatch, a.length, a.rep}); break;
      case kBlock: reversed.push_back({OpKind::kLiteralBlocks, 256, 0}); break;
      default: return false;
    }
    i -= a.length;
    slot = kNoSlot;
    if (a.step == kRep) {
      // On from the arrival the repeat continues, by one-byte steps.
      if (a.origin > i) return false;
      while (i > a.origin) reversed.push_back(OneByteOp(--i));
      slot = a.origin_slot;
    }
  }
  return false;
}

BlockParser::Choice BlockParser::OneByte(size_t i) const {
  const Op op = OneByteOp(i);
  return {op.kind == OpKind::kLiterals ? 0 : 9 - int32_t{kOneByteCodeBits}, op};
}

BlockParser::Choice BlockParser::Best(size_t i, uint32_t rep, uint32_t index_bits,
                                      Choice* one_byte) {
  const size_t p = begin_ + i;
  const uint32_t rest = static_cast<uint32_t>(size_ - i);
  Choice best = OneByte(i);
  *one_byte = best;
  auto consider = [&best](uint32_t length, uint32_t bits, OpKind kind, uint32_t offset) {
    int32_t gain = static_cast<int32_t>(9 * length) - static_cast<int32_t>(bits);
    if (gain > best.gain) best = {gain, {kind, length, offset}};
  };
  if (rest < 2) return best;
  if (rep <= p && data_[p - rep] == data_[p] && data_[p + 1 - rep] == data_[p + 1]) {
    uint32_t len = CommonPrefixLength(data_ + p - rep, data_ + p, 0, rest);
    consider(len, RepMatchBits(len), OpKind::kRepMatch, rep);
  }
  const Match* first;
  const Match* last;
  if (finder_ != nullptr) {
    found_.clear();
    finder_->FindAndInsert(p, &found_);
    first = found_.data();
    last = first + found_.size();
  } else {
    first = matches_->nearest.data() + matches_->first[i];
    last = matches_->nearest.data() + matches_->first[i + 1];
  }
  for (const Match* m = first; m != last; ++m) {
    uint32_t len = std::min(m->length, rest);
    if (len >= nice_ && len < rest) len = CommonPrefixLength(data_ + p - m->offset, data_ + p, 0, rest);
    if (m->offset <= kMaxShortMatchOffset) {
      uint32_t short_len = std::min(len, kMaxShortMatch);
      consider(short_len, kShortMatchBits, OpKind::kShortMatch, m->offset);
    }
    uint32_t adjust = OffsetAdjust(m->offset);
    if (len >= adjust + 2) {
      consider(len, NewOffsetBits(m->offset, index_bits) + GammaBits(len - adjust), OpKind::kMatch,
               m->offset);
    }
  }
  return best;
}

uint32_t BlockParser::RunLazy(uint32_t index_bits, uint32_t rep, bool look_ahead,
                              std::vector<Op>* ops) {
  std::vector<Op> block_ops;
  size_t i = 0;
  bool have_next = false;
  Choice next{}, next_one{};
  // A match this long is taken without looking one byte further.
  constexpr uint32_t kLazyLength = 8;
  // Data that does not pack still yields short matches now and then, which cut the
  // runs of literals too short for literal blocks. So every stretch of about 4 KiB
  // is weighed whole against literal blocks and replaced when they are shorter.
  constexpr size_t kStretch = 4096;
  size_t stretch_start = 0, stretch_ops = block_ops.size();
  uint32_t stretch_rep = rep;
  uint64_t stretch_bits = 0;
  auto weigh_stretch = [&]() {
    uint64_t n = i - stretch_start;
    uint64_t raw_bits = kLiteralBlockStartBits + n / 256 * kLiteralBlockBits + n % 256 * 9;
    if (n >= 256 && raw_bits < stretch_bits) {
      // The bytes past the last whole block open the next stretch as literals, so
      // that they can join its blocks.
      block_ops.resize(stretch_ops);
      block_ops.push_back({OpKind::kLiteralBlocks, static_cast<uint32_t>(n / 256 * 256), 0});
      stretch_start = i - n % 256;
      stretch_ops = block_ops.size();
      stretch_bits = 9 * (n % 256);
      if (n % 256 != 0) block_ops.push_back({OpKind::kLiterals, static_cast<uint32_t>(n % 256), 0});
      rep = stretch_rep;
    } else {
      stretch_start = i;
      stretch_ops = block_ops.size();
      stretch_rep = rep;
      stretch_bits = 0;
    }
  };
  while (i < size_) {
    if (i - stretch_start >= kStretch && !have_next) weigh_stretch();
    Choice one;
    Choice here = have_next ? next : Best(i, rep, index_bits, &one);
    if (have_next) one = next_one;
    have_next = false;
    if (look_ahead && here.op.length >= 2 && here.op.length < kLazyLength && i + 1 < size_) {
      next = Best(i + 1, rep, index_bits, &next_one);
      if (one.gain + next.gain > here.gain) {
        here = one;
        have_next = true;
      }
    }
    if (here.op.kind == OpKind::kMatch || here.op.kind == OpKind::kShortMatch) rep = here.op.offset;
    stretch_bits += 9 * uint64_t{here.op.length} - here.gain;
    if (here.op.kind == OpKind::kLiterals && block_ops.size() > stretch_ops &&
        block_ops.back().kind == OpKind::kLiterals) {
      ++block_ops.back().length;
    } else {
      block_ops.push_back(here.op);
    }
    i += here.op.length;
  }
  weigh_stretch();
  UseLiteralBlocks(&block_ops);
  ops->insert(ops->end(), block_ops.begin(), block_ops.end());
  return rep;
}

// Where each literal of a parse goes in the literal modes: its position and whether it
// is in the 7-bit mode.
struct LiteralMark {
  size_t pos;
  bool seven;
};

// Gives `ops` (without literal-size codes) the literal-size codes that make them
// shortest: each literal is coded in 8 bits or, where `seven` is given and the byte
// fits it, in 7, and the codes between cost 9 or 17 bits. Exact for the given ops (a
// shortest path over their literals). The first op of a stream is a literal-size code.
// Sets `mode_out` to the mode in force at the end and, when asked, the marks.
std::vector<Op> AssignLiteralModes(const uint8_t* data, size_t begin, const std::vector<Op>& ops,
                                   const CoderState& in, std::optional<LiteralMode> seven,
                                   CoderState* mode_out, std::vector<LiteralMark>* marks) {
  // A block without a 7-bit mode of its own may begin in the 7-bit mode of the block
  // before: that mode is then its 7-bit one, so that a literal which does not fit it
  // gets a literal-size code before it.
  if (!seven && in.has_mode && in.mode.size == 7) seven = in.mode;
  const LiteralMode eight{8, 0};
  const LiteralMode modes[2] = {eight, seven.value_or(eight)};
  std::vector<Op> result;
  result.reserve(ops.size() + 8);
  bool has_mode = in.has_mode;
  LiteralMode current = in.mode;

  // For each literal, in the order of the ops, the mode that the cheapest path into it
  // in either mode came from (bit 0: into 8-bit, bit 1: into 7-bit), and the mode of
  // the cheapest path over all of them.
  std::vector<uint8_t> from;
  size_t last_mode = 0;
  if (seven) {
    constexpr uint64_t kNever = UINT64_MAX / 4;
    uint64_t cost[2];
    for (size_t m = 0; m < 2; ++m) {
      // Into the first literal: free in the mode already in force, else one code.
      cost[m] = in.has_mode && in.mode == modes[m] ? 0 : modes[m].SwitchBits();
    }
    size_t p = begin;
    for (const Op& op : ops) {
      if (op.kind == OpKind::kLiterals) {
        for (uint32_t k = 0; k < op.length; ++k) {
          const uint8_t byte = data[p + k];
          uint8_t links = 0;
          uint64_t next[2];
          for (size_t m = 0; m < 2; ++m) {
            uint64_t stay = cost[m];
            uint64_t change = from.empty() ? kNever : cost[1 - m] + modes[m].SwitchBits();
            if (change < stay) links |= static_cast<uint8_t>((1 - m) << m);
            else links |= static_cast<uint8_t>(m << m);
            next[m] = modes[m].Fits(byte) ? std::min(stay, change) + 1 + modes[m].size : kNever;
          }
          from.push_back(links);
          cost[0] = next[0];
          cost[1] = next[1];
        }
      }
      p += op.length;
    }
    last_mode = cost[1] < cost[0] ? 1 : 0;
    // From the last literal back, each literal's link names the mode of the one before.
    size_t m = last_mode;
    for (size_t k = from.size(); k-- > 0;) {
      size_t before = (from[k] >> m) & 1;
      from[k] = static_cast<uint8_t>(m);
      m = before;
    }
  }

  if (!has_mode) {
    // The stream opens with the mode of its first literal (8-bit when it has none).
    current = from.empty() ? eight : modes[from[0]];
    result.push_back({OpKind::kLiteralSize, current.size, current.base});
    has_mode = true;
  }
  size_t k = 0, p = begin;
  for (const Op& op : ops) {
    if (op.kind != OpKind::kLiterals || !seven) {
      result.push_back(op);
      p += op.length;
      continue;
    }
    // The run split where the mode changes.
    uint32_t start = 0;
    for (uint32_t j = 0; j <= op.length; ++j) {
      bool change = j < op.length && !(modes[from[k + j]] == current);
      if ((change || j == op.length) && j > start) result.push_back({OpKind::kLiterals, j - start, 0});
      if (change) {
        current = modes[from[k + j]];
        result.push_back({OpKind::kLiteralSize, current.size, current.base});
        start = j;
      }
      if (j < op.length && marks != nullptr) marks->push_back({p + j, from[k + j] == 1});
    }
    k += op.length;
    p += op.length;
  }
  mode_out->has_mode = has_mode;
  mode_out->mode = current;
  return result;
}

// The literal prices for the optimal parse: 8 bits from the first to the last literal
// of each stretch that the marks put in the 7-bit mode, where the byte fits; 9 bits
// elsewhere.
std::vector<uint8_t> LiteralBits(const uint8_t* data, size_t begin, size_t size,
                                 const std::vector<LiteralMark>& marks,
                                 const std::optional<LiteralMode>& seven) {
  std::vector<uint8_t> bits(size, 9);
  if (!seven) return bits;
  for (size_t k = 0; k < marks.size();) {
    if (!marks[k].seven) {
      ++k;
      continue;
    }
    size_t first = marks[k].pos, last = first;
    while (k < marks.size() && marks[k].seven) last = marks[k++].pos;
    for (size_t p = first; p <= last; ++p)
      if (seven->Fits(data[p])) bits[p - begin] = 8;
  }
  return bits;
}

// The 7-bit literal base that covers most of the literals of a parse, and how many it
// covers.
std::pair<uint32_t, size_t> BestLiteralBase(const uint8_t* data, size_t begin,
                                            const std::vector<Op>& ops) {
  std::array<size_t, 256> count{};
  size_t p = begin;
  for (const Op& op : ops) {
    if (op.kind == OpKind::kLiterals) {
      for (uint32_t k = 0; k < op.length; ++k) ++count[data[p + k]];
    }
    if (op.kind != OpKind::kLiteralSize && op.kind != OpKind::kIndexSize) p += op.length;
  }
  size_t window = 0;
  for (size_t b = 0; b < 128; ++b) window += count[b];
  size_t best = window;
  uint32_t best_base = 0;
  for (uint32_t b = 1; b < 256; ++b) {
    window += count[(b + 127) & 0xFF];
    window -= count[b - 1];
    if (window > best) {
      best = window;
      best_base = b;
    }
  }
  return {best_base, best};
}

// The index bits that code the new offsets of a parse in the fewest bits.
uint32_t BestIndexBits(const std::vector<Op>& ops, uint32_t current) {
  std::vector<uint32_t> offsets;
  for (const Op& op : ops) {
    if (op.kind == OpKind::kMatch) offsets.push_back(op.offset);
  }
  uint32_t best_bits = current;
  uint64_t best = UINT64_MAX;
  for (uint32_t ib = 0; ib <= 16; ++ib) {
    uint64_t total = ib == current ? 0 : IndexSizeCodeBits(ib);
    for (uint32_t offset : offsets) total += NewOffsetBits(offset, ib);
    if (total < best || (total == best && ib == current)) {
      best = total;
      best_bits = ib;
    }
  }
  return best_bits;
}

}  // namespace

const LevelParameters& LevelParametersFor(int level) { return kLevels[std::clamp(level, 0, 9)]; }

const LevelParameters& LevelParametersForWindow(uint32_t window) {
  for (int level = 9; level >= 0; --level) {
    if (kLevels[level].window == window) return kLevels[level];
  }
  for (const LevelParameters& p : kLevels) {
    if (p.window >= window) return p;
  }
  return kLevels[9];
}

std::vector<Op> Parse(const uint8_t* data, size_t size, uint32_t window) {
  LevelParameters params = LevelParametersForWindow(window);
  params.window = window;
  return Parse(data, size, params);
}

std::vector<Op> Parse(const uint8_t* data, size_t size, const LevelParameters& params) {
  std::vector<Op> ops;
  CoderState state;
  MatchFinder finder(data, size, params.window, params.nice_length, params.depth,
                     params.good_length, params.good_depth, params.others);
  BlockMatches matches;
  ArrivalTable arrivals_table;

  for (size_t begin = 0; begin < size || ops.empty(); begin += kBlockSize) {
    size_t end = std::min(size, begin + kBlockSize);
    matches.Clear(end - begin);
    if (params.arrivals > 0) {
      for (size_t p = begin; p < end; ++p) {
        finder.FindAndInsert(p, &matches.nearest, &matches.others);
        matches.first.push_back(static_cast<uint32_t>(matches.nearest.size()));
        matches.first_other.push_back(static_cast<uint32_t>(matches.others.size()));
      }
      FindResumedMatches(data, begin, end, params.nice_length, &matches);
    }
    BlockParser block(data, begin, end, params.window, params.nice_length, &matches,
                      params.arrivals > 0 ? nullptr : &finder, &arrivals_table);

    // The quick parse: the result at the lowest levels, and otherwise where the
    // literal base, the literal modes and the index bits for the optimal parse are
    // taken from (for which the quicker parse without its look-ahead does as well).
    std::vector<Op> lazy_ops;
    uint32_t lazy_rep =
        block.RunLazy(state.index_bits, state.rep, params.arrivals == 0, &lazy_ops);
    // A 7-bit mode saves one bit per literal against the 17 bits of its code (the
    // quickest levels keep to 8-bit literals).
    std::optional<LiteralMode> seven;
    if (params.arrivals > 0) {
      auto [base, covered] = BestLiteralBase(data, begin, lazy_ops);
      if (covered > kLiteralSizeCode7Bits) seven = LiteralMode{7, base};
    }
    std::vector<LiteralMark> marks;
    CoderState best_state = state;
    std::vector<Op> best_ops = AssignLiteralModes(data, begin, lazy_ops, state, seven, &best_state,
                                                  params.arrivals > 0 ? &marks : nullptr);
    best_state.rep = lazy_rep;

    if (params.arrivals > 0) {
      uint32_t index_bits = BestIndexBits(lazy_ops, state.index_bits);
      uint32_t arrivals = end - begin <= kSmallBlock ? kMaxArrivals : params.arrivals;
      std::vector<Op> optimal_ops;
      uint32_t optimal_rep;
      // Where the quick parse found no stretch worth raw literal blocks, neither will
      // the optimal one.
      bool literal_blocks = std::any_of(lazy_ops.begin(), lazy_ops.end(), [](const Op& op) {
        return op.kind == OpKind::kLiteralBlocks;
      });
      if (block.RunOptimal(index_bits, arrivals, params.spread, LiteralBits(data, begin, end - begin, marks, seven),
                           literal_blocks, state.rep, &optimal_ops, &optimal_rep)) {
        CoderState optimal_state = state;
        optimal_ops = AssignLiteralModes(data, begin, optimal_ops, state, seven, &optimal_state,
                                         nullptr);
        optimal_state.rep = optimal_rep;
        if (index_bits != state.index_bits) {
          // After the stream's first literal-size code, which must lead.
          size_t at = state.has_mode ? 0 : 1;
          optimal_ops.insert(optimal_ops.begin() + at, Op{OpKind::kIndexSize, index_bits, 0});
          optimal_state.index_bits = index_bits;
        }
        uint32_t literal_size = state.has_mode ? state.mode.size : 8;
        if (OpsBits(optimal_ops, literal_size, state.index_bits) <=
            OpsBits(best_ops, literal_size, state.index_bits)) {
          best_ops = std::move(optimal_ops);
          best_state = optimal_state;
        }
      }
    }
    ops.insert(ops.end(), best_ops.begin(), best_ops.end());
    state = best_state;
    if (size == 0) break;
  }
  return ops;
}

}  // namespace jcalg::detail
