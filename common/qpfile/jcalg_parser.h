// Chooses the codes of a packed stream: the pack levels' parameters and the parser.
//
// The parser is a shortest path over the positions of the input, priced in bits with
// the exact code lengths (the format has no entropy coding, so prices are exact). Each
// position keeps a few of its cheapest arrivals, each with its own last offset, so that
// the cheap repeat of the last offset is weighed along the path. A one-byte step costs
// the same whatever the last offset, so the paths that go on by one-byte steps are not
// carried from position to position: each last offset near the cheapest stays live with
// its price less the one-byte sum, and is tried for a repeat where it can start one.
// Besides the finder's
// matches it is offered the matches with which a record alike resumes after a differing
// byte (whose offset the finder rarely offers where they start). A quick lazy parse
// comes first: it is the result at the lowest levels, and elsewhere it gives the index
// bits, the 7-bit literal base and where 7-bit literals are expected, which the
// optimal parse then prices with. Last, the literal-size codes are placed exactly for
// the literals of the chosen parse (a shortest path over its literals in the two
// literal modes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/qpfile/jcalg_codes.h"

namespace jcalg::detail {

// What a pack level means to the packer. The window is fixed by the file format's
// levels; the rest trades packing speed for size.
struct LevelParameters {
  uint32_t window;       // matches reach back at most this far
  uint32_t depth;        // match-finder tree nodes visited per position
  uint32_t good_length;  // after a match this long the finder visits at most
  uint32_t good_depth;   // this many more nodes
  uint32_t nice_length;  // a match this long is taken without weighing alternatives
  uint32_t arrivals;     // arrivals kept per position in the optimal
                         // parse (1..kMaxArrivals); 0: the quick lazy parse only
  uint32_t spread;       // an arrival that costs more than this many bits over the
                         // cheapest at its position is dropped (kNoSpread: none is)
  uint32_t others;       // matches tried per position besides the nearest for each
                         // length (for the last offset they leave behind)
};

constexpr uint32_t kNoSpread = 1u << 30;

constexpr uint32_t kMaxArrivals = 16;

// Level 0..9; levels outside clamp to the nearest.
const LevelParameters& LevelParametersFor(int level);

// The parameters used for a window: the highest level with that window, or the
// nearest level with a larger one.
const LevelParameters& LevelParametersForWindow(uint32_t window);

// The codes for `size` bytes (size < 4 GiB), starting with a literal-size code, without
// the end code. Matches reach back at most `window` bytes.
std::vector<Op> Parse(const uint8_t* data, size_t size, uint32_t window);

// As Parse, with explicit parameters (window included).
std::vector<Op> Parse(const uint8_t* data, size_t size, const LevelParameters& params);

}  // namespace jcalg::detail
