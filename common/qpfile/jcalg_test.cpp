#include "common/qpfile/jcalg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Builds streams by hand, bit by bit, independently of the packer's own writer.
class StreamBuilder {
 public:
  StreamBuilder& Bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  StreamBuilder& Gamma(uint32_t value) {
    int top = 31 - __builtin_clz(value);
    for (int i = top - 1; i >= 0; --i) Bits((value >> i) & 1, 1).Bits(i > 0, 1);
    return *this;
  }
  StreamBuilder& Literal8Code() { return Bits(0b001, 3).Bits(0, 4).Bits(0, 1).Bits(1, 1); }
  StreamBuilder& Literal7Code(uint8_t base) {
    return Bits(0b001, 3).Bits(0, 4).Bits(0, 1).Bits(0, 1).Bits(base, 8);
  }
  StreamBuilder& Literal(uint32_t value, int size) { return Bits(1, 1).Bits(value, size); }
  // g = 2 repeats the last offset (no low bits); otherwise g and `low` give the offset.
  StreamBuilder& Match(uint32_t g, uint32_t low, int index_bits, uint32_t length_gamma) {
    Bits(0b01, 2).Gamma(g);
    if (g != 2) Bits(low, index_bits);
    return Gamma(length_gamma);
  }
  StreamBuilder& OneByte(uint32_t v) { return Bits(0b001, 3).Bits(v, 4); }
  StreamBuilder& ShortMatch(uint32_t offset, uint32_t n) {
    return Bits(0, 3).Bits(offset, 7).Bits(n, 2);
  }
  StreamBuilder& End() { return ShortMatch(0, 0); }

  // The stream with the given header fields; the bits padded to whole words.
  Bytes Build(uint32_t size, uint32_t checksum, const char* signature = "JC") const {
    Bytes out{static_cast<uint8_t>(signature[0]), static_cast<uint8_t>(signature[1])};
    for (uint32_t v : {size, checksum})
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    std::vector<int> bits = bits_;
    while (bits.size() % 32 != 0) bits.push_back(0);
    for (size_t w = 0; w < bits.size(); w += 32) {
      uint32_t word = 0;
      for (int i = 0; i < 32; ++i) word = word << 1 | bits[w + i];
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(word >> (8 * i)));
    }
    return out;
  }
  // With the right checksum for `content`.
  Bytes Build(const Bytes& content) const {
    return Build(static_cast<uint32_t>(content.size()),
                 jcalg::Checksum(content.data(), content.size()));
  }

 private:
  std::vector<int> bits_;
};

// A plain second reading of a stream, bit by bit, that also notes what the packer
// chose: the farthest any copy reaches back and whether the first code sets the
// literal size. Written apart from the decoder so the two check each other.
struct Reading {
  bool ok = false;
  Bytes out;
  size_t farthest = 0;
  bool starts_with_literal_size = false;
  size_t seven_bit_codes = 0;  // literal-size codes that set 7-bit literals
};

Reading ReadStream(const Bytes& stream) {
  Reading r;
  size_t bit = 0, total = (stream.size() - jcalg::kHeaderSize) / 4 * 32;
  auto next = [&]() -> int {
    if (bit >= total) throw 0;
    size_t word = bit / 32;
    const uint8_t* w = stream.data() + jcalg::kHeaderSize + 4 * word;
    uint32_t v = w[0] | w[1] << 8 | w[2] << 16 | uint32_t{w[3]} << 24;
    return (v >> (31 - bit++ % 32)) & 1;
  };
  auto number = [&](int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 2 + next();
    return v;
  };
  auto gamma = [&]() {
    uint64_t v = 1;
    do v = v * 2 + next();
    while (next());
    return v;
  };
  auto copy = [&](uint64_t offset, uint64_t length) {
    if (offset == 0 || offset > r.out.size()) throw 0;
    r.farthest = std::max<size_t>(r.farthest, offset);
    for (uint64_t i = 0; i < length; ++i) r.out.push_back(r.out[r.out.size() - offset]);
  };
  try {
    int literal_size = 0, index_bits = 8;
    uint32_t base = 0;
    uint64_t last = 1;
    for (bool first = true;; first = false) {
      if (next()) {
        r.out.push_back(static_cast<uint8_t>(number(literal_size) + base));
        if (literal_size == 0) throw 0;
      } else if (next()) {
        uint64_t g = gamma();
        if (g == 2) {
          copy(last, gamma());
        } else {
          last = (g - 3) << index_bits | number(index_bits);
          uint64_t len = gamma();
          len += last < 128 ? 4 : last < 639 ? 0 : last < 14335 ? 1 : last < 65536 ? 2 : 3;
          copy(last, len);
        }
      } else if (next()) {
        uint64_t v = number(4);
        if (v == 1) {
          r.out.push_back(0);
        } else if (v >= 2) {
          copy(v - 1, 1);
        } else if (next()) {
          do
            for (int i = 0; i < 256; ++i) r.out.push_back(static_cast<uint8_t>(number(8)));
          while (next());
        } else {
          literal_size = 7 + next();
          base = literal_size == 7 ? static_cast<uint32_t>(number(8)) : 0;
          r.starts_with_literal_size |= first;
          r.seven_bit_codes += literal_size == 7;
        }
      } else {
        uint64_t offset = number(7), n = number(2);
        if (offset != 0) {
          last = offset;
          copy(offset, n + 2);
        } else if (n == 0) {
          break;
        } else {
          index_bits = static_cast<int>(number(static_cast<int>(n) + 3));
        }
      }
    }
    r.ok = true;
  } catch (int) {
  }
  return r;
}

// Decodes with room for the header's size plus 8, as the file reader does.
std::optional<Bytes> DecodeAll(const Bytes& stream) {
  auto size = jcalg::UnpackedSize(stream.data(), stream.size());
  if (!size) return std::nullopt;
  Bytes out(*size + 8);
  size_t n = jcalg::Decode(stream.data(), stream.size(), out.data(), out.size());
  if (n != *size) return std::nullopt;
  out.resize(n);
  return out;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(rng());
  return b;
}

// Text made of words, with the repeats of real text.
Bytes WordText(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"local", "function", "return", "end", "if", "then",
                                       "self", "table", "insert", "string", "format", "nil",
                                       "for", "in", "pairs", "do", "= ", "(", ")", ", "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[rng() % 20];
    s += rng() % 7 == 0 ? "\r\n" : " ";
  }
  s.resize(n);
  return FromText(s);
}

// The editor's syntax file that the compiler writes at every start.
const std::string kDefaultSyntax =
    "[syntax]\r\n; Do not remove this one!!\r\ntext::normal = 16777215\r\n"
    "text::background = 0\r\ntext::current-line = 1973790\r\nfold::margin = 5921370\r\n"
    "fold::margin-highlight = 5921370\r\nbrace-match::correct = 16711680\r\n"
    "brace-match::incorrect = 255\r\nlua::comments = 32768\r\nlua::strings = 8388736\r\n"
    "lua::long-strings = 8405120\r\nlua::broken-string = 255\r\nlua::numbers = 255\r\n"
    "lua::operators = 255\r\nlua::keywords::1 = 16737380\r\nlua::keywords::2 = 12615680\r\n"
    "\r\n\r\n";

TEST(JcalgChecksum, SumsWordsAndOverlapsTheLastOne) {
  EXPECT_EQ(jcalg::Checksum(nullptr, 0), 0u);
  EXPECT_EQ(jcalg::Checksum(FromText("abc").data(), 3), 0u);
  // w = 1: s = 1, then s ^= 2 + 1 + 0.
  Bytes one = {1, 0, 0, 0};
  EXPECT_EQ(jcalg::Checksum(one.data(), 4), 2u);
  // Five bytes: the words at 0 and at 1; the second is 0x80000000: s = 0x80000002,
  // then s ^= 0 + 1 + 1.
  Bytes five = {1, 0, 0, 0, 0x80};
  EXPECT_EQ(jcalg::Checksum(five.data(), 5), 0x80000000u);
}

TEST(JcalgHeader, UnpackedSizeNeedsSignatureAndWholeHeader) {
  Bytes stream = StreamBuilder().Literal8Code().End().Build(0x01020304, 0);
  EXPECT_EQ(jcalg::UnpackedSize(stream.data(), stream.size()), 0x01020304u);
  EXPECT_EQ(jcalg::UnpackedSize(stream.data(), jcalg::kHeaderSize - 1), std::nullopt);
  stream[0] = 'j';
  EXPECT_EQ(jcalg::UnpackedSize(stream.data(), stream.size()), std::nullopt);
}

TEST(JcalgDecode, HandBuiltStreams) {
  // Three 8-bit literals; below 4 bytes no word is summed, so the checksum is 0.
  Bytes abc = StreamBuilder().Literal8Code().Literal('a', 8).Literal('b', 8).Literal('c', 8)
                  .End().Build(3, 0);
  EXPECT_EQ(DecodeAll(abc), FromText("abc"));

  // 7-bit literals counted from the base 0x20, up to 0x9F.
  Bytes text = FromText("Hi there~ [ok]");
  text.push_back(0x9F);
  StreamBuilder seven;
  seven.Literal7Code(0x20);
  for (uint8_t c : text) seven.Literal(c - 0x20, 7);
  EXPECT_EQ(DecodeAll(seven.End().Build(text)), text);

  // "a", then offset 1 (g = 3, low byte 1) with length gamma 6 + adjustment 4 = 10.
  Bytes a11(11, 'a');
  EXPECT_EQ(DecodeAll(StreamBuilder().Literal8Code().Literal('a', 8).Match(3, 1, 8, 6).End()
                          .Build(a11)),
            a11);

  // The one-byte codes: byte 0 and copies of one byte from 1 to 14 back.
  Bytes near = {'x', 0, 'x', 'x', 0};
  EXPECT_EQ(DecodeAll(StreamBuilder().Literal8Code().Literal('x', 8).OneByte(1).OneByte(3)
                          .OneByte(2).OneByte(4).End().Build(near)),
            near);

  // Two literal blocks of raw bytes, then a literal in the literal size set before.
  Bytes raw = RandomBytes(512, 7);
  StreamBuilder blocks;
  blocks.Literal8Code().Bits(0b001, 3).Bits(0, 4).Bits(1, 1);
  for (size_t i = 0; i < raw.size(); ++i) {
    blocks.Bits(raw[i], 8);
    if (i % 256 == 255) blocks.Bits(i + 1 < raw.size(), 1);
  }
  raw.push_back('z');
  EXPECT_EQ(DecodeAll(blocks.Literal('z', 8).End().Build(raw)), raw);
}

TEST(JcalgDecode, LastOffsetReuse) {
  // Without an earlier match the last offset is 1.
  Bytes xxxx = FromText("xxxx");
  EXPECT_EQ(DecodeAll(StreamBuilder().Literal8Code().Literal('x', 8).Match(2, 0, 0, 3).End()
                          .Build(xxxx)),
            xxxx);

  // "abc", a short match 3 back for 2 ("ab"), then the same offset for 4 ("cabc").
  Bytes want = FromText("abcabcabc");
  EXPECT_EQ(DecodeAll(StreamBuilder().Literal8Code().Literal('a', 8).Literal('b', 8)
                          .Literal('c', 8).ShortMatch(3, 0).Match(2, 0, 0, 4).End()
                          .Build(want)),
            want);

  // A one-byte copy leaves the last offset alone: "abc", "ab" from 3 back, "b" from 1
  // back, then "ab" from 3 back again.
  want = FromText("abcabbab");
  EXPECT_EQ(DecodeAll(StreamBuilder().Literal8Code().Literal('a', 8).Literal('b', 8)
                          .Literal('c', 8).ShortMatch(3, 0).OneByte(2).Match(2, 0, 0, 2).End()
                          .Build(want)),
            want);
}

TEST(JcalgDecode, IndexSizeCode) {
  // n = 1 reads a 4-bit index size (here 2); a match then reads 2 low offset bits:
  // offset 130 is g = 3 + (130 >> 2) = 35 with low bits 2, length 3 + 0.
  Bytes want(130);
  for (size_t i = 0; i < want.size(); ++i) want[i] = static_cast<uint8_t>(i * 7 + 1);
  StreamBuilder b;
  b.Literal8Code().ShortMatch(0, 1).Bits(2, 4);
  for (uint8_t c : want) b.Literal(c, 8);
  for (int i = 0; i < 3; ++i) want.push_back(want[i]);
  EXPECT_EQ(DecodeAll(b.Match(35, 2, 2, 3).End().Build(want)), want);
}

TEST(JcalgDecode, HostileStreamsFail) {
  Bytes data = FromText("hello hello hello hello, a stream with some repeats in it");
  Bytes good = jcalg::Encode(data.data(), data.size(), 65536);
  ASSERT_EQ(DecodeAll(good), data);
  Bytes out(data.size() + 8);
  auto decode = [&out](const Bytes& s) { return jcalg::Decode(s.data(), s.size(), out.data(), out.size()); };

  Bytes bad = good;
  bad[1] = 'X';
  EXPECT_EQ(decode(bad), 0u);
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_EQ(jcalg::Decode(good.data(), cut, out.data(), out.size()), 0u) << cut;
  // A changed code word fails the checksum or changes the count of bytes written (which
  // callers compare with the header); only the zero fill after the end code may change
  // without effect.
  for (size_t i = jcalg::kHeaderSize; i < good.size(); ++i) {
    bad = good;
    bad[i] ^= 0x5A;
    size_t n = decode(bad);
    if (n == data.size()) {
      EXPECT_EQ(Bytes(out.begin(), out.begin() + n), data) << i;
    }
  }
  // Too little room for the output.
  EXPECT_EQ(jcalg::Decode(good.data(), good.size(), out.data(), data.size() - 1), 0u);

  StreamBuilder a;
  a.Literal8Code().Literal('a', 8);
  // Copies from before the start of the output, in each kind of copy.
  EXPECT_EQ(decode(StreamBuilder(a).ShortMatch(2, 0).End().Build(3, 0)), 0u);
  EXPECT_EQ(decode(StreamBuilder(a).OneByte(3).End().Build(2, 0)), 0u);
  EXPECT_EQ(decode(StreamBuilder(a).Match(3, 200, 8, 2).End().Build(3, 0)), 0u);
  EXPECT_EQ(decode(StreamBuilder(a).Match(3, 0, 8, 2).End().Build(3, 0)), 0u);  // offset 0
  // A literal before any literal size; input that ends inside a code (one bits to the
  // end of the word, since zero fill would read as the end code).
  EXPECT_EQ(decode(StreamBuilder().Literal('a', 8).End().Build(1, 0)), 0u);
  EXPECT_EQ(decode(StreamBuilder(a).Bits(0x3FFF, 14).Build(1, 0)), 0u);
  // Lengths past the room: a huge repeat, literal blocks, a gamma beyond 32 bits.
  EXPECT_EQ(decode(StreamBuilder(a).Match(2, 0, 0, 0x7FFFFFFF).End().Build(1, 0)), 0u);
  EXPECT_EQ(decode(StreamBuilder(a).Bits(0b001, 3).Bits(0, 5).Build(1, 0)), 0u);
  StreamBuilder endless(a);
  endless.Bits(0b01, 2).Bits(0b11, 2);
  for (int i = 0; i < 40; ++i) endless.Bits(0b11, 2);
  EXPECT_EQ(decode(endless.Bits(0, 2).End().Build(1, 0)), 0u);
  // Index bits of 63 leave no room for a high part.
  EXPECT_EQ(decode(StreamBuilder(a).ShortMatch(0, 3).Bits(63, 6).Match(4, 0, 63, 2).End()
                       .Build(1, 0)),
            0u);
  // A nonzero checksum over more bytes than were written.
  EXPECT_EQ(decode(StreamBuilder(a).End().Build(4, 1)), 0u);
}

TEST(JcalgEncode, RoundTripsAtEveryLevel) {
  const std::vector<Bytes> inputs = {{},
                                     {0},
                                     {1, 2},
                                     {'a', 'b', 'c'},
                                     Bytes(5000, 0),
                                     Bytes(5000, 0xFF),
                                     RandomBytes(20000, 1),
                                     WordText(1 << 20, 2)};
  for (int level = 0; level <= 9; ++level) {
    for (const Bytes& in : inputs) {
      SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(in.size()) + " bytes");
      Bytes packed = jcalg::Encode(in.data(), in.size(), jcalg::WindowForLevel(level));
      ASSERT_FALSE(packed.empty());
      EXPECT_EQ((packed.size() - jcalg::kHeaderSize) % 4, 0u);
      EXPECT_EQ(jcalg::UnpackedSize(packed.data(), packed.size()), in.size());
      EXPECT_EQ(DecodeAll(packed), in);
      Reading reading = ReadStream(packed);
      EXPECT_TRUE(reading.ok);
      EXPECT_EQ(reading.out, in);
      EXPECT_TRUE(reading.starts_with_literal_size);
    }
  }
}

TEST(JcalgEncode, WindowsFollowThePackLevels) {
  const uint32_t windows[] = {1024, 2048, 4096, 8192, 16384, 32768, 40960, 57344, 65536, 65536};
  for (int level = 0; level <= 9; ++level) EXPECT_EQ(jcalg::WindowForLevel(level), windows[level]);
  EXPECT_EQ(jcalg::WindowForLevel(-1), 0u);
  EXPECT_EQ(jcalg::WindowForLevel(10), 0u);
}

TEST(JcalgEncode, MatchesStayWithinTheWindow) {
  // A random piece repeated at a distance a little over each window: the repeat pays
  // only for levels whose window reaches it, and no level may reach past its own.
  for (int level = 0; level <= 9; ++level) {
    uint32_t window = jcalg::WindowForLevel(level);
    Bytes piece = RandomBytes(window - 512, 3);
    Bytes in = piece;
    Bytes gap = RandomBytes(1024, 4);
    in.insert(in.end(), gap.begin(), gap.end());
    in.insert(in.end(), piece.begin(), piece.end());
    Bytes packed = jcalg::Encode(in.data(), in.size(), window);
    Reading reading = ReadStream(packed);
    ASSERT_TRUE(reading.ok) << level;
    EXPECT_EQ(reading.out, in);
    EXPECT_LE(reading.farthest, window) << level;

    // Within the window the repeat is found (the window is used, not only smaller).
    Bytes near = piece;
    Bytes small_gap(256, 'g');
    near.insert(near.end(), small_gap.begin(), small_gap.end());
    near.insert(near.end(), piece.begin(), piece.end());
    Bytes near_packed = jcalg::Encode(near.data(), near.size(), window);
    EXPECT_LT(near_packed.size(), piece.size() + 512) << level;
    EXPECT_LE(ReadStream(near_packed).farthest, window) << level;
  }
  // Windows below the smallest level bound the one-byte copies and short matches too.
  Bytes text = WordText(4000, 5);
  for (uint32_t window : {1u, 3u, 13u, 100u}) {
    Bytes packed = jcalg::Encode(text.data(), text.size(), window);
    Reading reading = ReadStream(packed);
    ASSERT_TRUE(reading.ok);
    EXPECT_EQ(reading.out, text);
    EXPECT_LE(reading.farthest, window);
  }
  EXPECT_TRUE(jcalg::Encode(text.data(), text.size(), 0).empty());
}

TEST(JcalgEncode, IncompressibleDataGrowsByAFractionOfAPercent) {
  Bytes in = RandomBytes(64 * 1024, 9);
  for (int level = 0; level <= 9; ++level) {
    Bytes packed = jcalg::Encode(in.data(), in.size(), jcalg::WindowForLevel(level));
    EXPECT_LT(packed.size(), in.size() + in.size() / 400) << level;
    EXPECT_EQ(DecodeAll(packed), in);
  }
}

TEST(JcalgEncode, DefaultSyntaxTextPacksTight) {
  ASSERT_EQ(kDefaultSyntax.size(), 442u);
  Bytes text = FromText(kDefaultSyntax);
  Bytes packed = jcalg::Encode(text.data(), text.size(), jcalg::WindowForLevel(9));
  // The old packer needed 266 bytes; an optimal parse reaches 262.
  EXPECT_LE(packed.size(), 262u);
  EXPECT_EQ(DecodeAll(packed), text);
  EXPECT_NE(jcalg::Checksum(text.data(), text.size()), 0u);
  EXPECT_TRUE(ReadStream(packed).starts_with_literal_size);
}

TEST(JcalgEncode, TextAmongBinaryUsesSevenBitLiterals) {
  // Text, bytes that do not pack, text again, across more than one parse block: the
  // text literals go in 7 bits, the rest in 8 bits or raw blocks.
  Bytes in;
  for (uint32_t part = 0; part < 6; ++part) {
    Bytes piece = part % 2 == 0 ? WordText(30000, part) : RandomBytes(30000, part);
    in.insert(in.end(), piece.begin(), piece.end());
  }
  for (int level : {2, 9}) {
    Bytes packed = jcalg::Encode(in.data(), in.size(), jcalg::WindowForLevel(level));
    Reading reading = ReadStream(packed);
    ASSERT_TRUE(reading.ok);
    EXPECT_EQ(reading.out, in);
    EXPECT_GE(reading.seven_bit_codes, 1u) << level;
    EXPECT_EQ(DecodeAll(packed), in);
  }
}

// Records alike but for a byte or two, as the functions of a compiled script are: each
// record is the one before with a few bytes changed, so the packer codes it as repeats
// of the last offset between short literals.
Bytes SimilarRecords(size_t records, size_t record_size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes record = RandomBytes(record_size, seed);
  Bytes out;
  for (size_t r = 0; r < records; ++r) {
    for (int k = 0; k < 2; ++k) record[rng() % record_size] = static_cast<uint8_t>(rng());
    out.insert(out.end(), record.begin(), record.end());
  }
  return out;
}

TEST(JcalgEncode, RepeatsOfEveryLengthRoundTrip) {
  // Copies of a random piece in every length from 2 to 300 (short, within one gamma
  // size, across the sizes, past the longest length the parser weighs), each after a
  // byte or two of its own and at a changing distance.
  Bytes piece = RandomBytes(300, 21);
  std::mt19937 rng(22);
  Bytes in = piece;
  for (size_t length = 2; length <= 300; ++length) {
    for (uint32_t k = rng() % 3 + 1; k > 0; --k) in.push_back(static_cast<uint8_t>(rng()));
    in.insert(in.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(length));
  }
  for (int level : {0, 2, 5, 9}) {
    Bytes packed = jcalg::Encode(in.data(), in.size(), jcalg::WindowForLevel(level));
    Reading reading = ReadStream(packed);
    ASSERT_TRUE(reading.ok) << level;
    EXPECT_EQ(reading.out, in) << level;
    EXPECT_EQ(DecodeAll(packed), in) << level;
    // The copies cost a few bytes each; the bytes between them one each.
    EXPECT_LT(packed.size(), piece.size() + 300 * 8) << level;
  }
}

TEST(JcalgEncode, SimilarRecordsPackAsRepeatsAcrossParseBlocks) {
  // Sizes around the parser's blocks (8 KiB): the last offset, the literal mode and the
  // index bits carry over from one block to the next.
  for (size_t size : {8191u, 8192u, 8193u, 16385u, 40000u}) {
    Bytes in = SimilarRecords(size / 100 + 1, 100, static_cast<uint32_t>(size));
    in.resize(size);
    Bytes packed = jcalg::Encode(in.data(), in.size(), jcalg::WindowForLevel(9));
    Reading reading = ReadStream(packed);
    ASSERT_TRUE(reading.ok) << size;
    EXPECT_EQ(reading.out, in) << size;
    EXPECT_EQ(DecodeAll(packed), in) << size;
    // Two changed bytes a record: two literals and two or three repeats, under 8 bytes
    // a record of 100.
    EXPECT_LT(packed.size(), 200 + size / 100 * 8) << size;
  }
}

TEST(JcalgEncode, RecordsAlikeAtTheWindowsEdgeRoundTrip) {
  // Records alike as long as each level's window, and a little longer and shorter, so
  // that the record alike that a stretch resumes lies right at the window's edge, and
  // the stretches begin in one parse block and resume in the next.
  for (int level = 0; level <= 9; ++level) {
    const uint32_t window = jcalg::WindowForLevel(level);
    for (uint32_t record : {window - 3, window, window + 2}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", records of " + std::to_string(record));
      // A byte in 40 changed from one record to the next.
      std::mt19937 rng(record);
      Bytes in = RandomBytes(record, record);
      for (int r = 0; r < 2; ++r) {
        Bytes next(in.end() - record, in.end());
        for (uint32_t k = 0; k < record / 40; ++k) next[rng() % record] = static_cast<uint8_t>(rng());
        in.insert(in.end(), next.begin(), next.end());
      }
      Bytes packed = jcalg::Encode(in.data(), in.size(), window);
      Reading reading = ReadStream(packed);
      ASSERT_TRUE(reading.ok);
      EXPECT_EQ(reading.out, in);
      EXPECT_LE(reading.farthest, window);
      EXPECT_EQ(DecodeAll(packed), in);
    }
  }
}

TEST(JcalgEncode, ShortLastBlockAfterSevenBitLiterals) {
  // A parse block of text, coded in 7-bit literals, then a short last block whose few
  // literals are too few for a 7-bit mode of its own and do not all fit the text's: the
  // bytes that do not fit need a literal-size code there, since the text's mode is
  // still in force.
  for (size_t text_size : {8192u, 8192u * 2}) {
    for (uint32_t seed = 0; seed < 4; ++seed) {
      Bytes in = WordText(text_size, seed);
      std::mt19937 rng(seed);
      for (int k = 0; k < 8; ++k) {
        in.push_back(static_cast<uint8_t>(0x80 + rng() % 0x80));
        size_t from = rng() % (text_size - 16);
        in.insert(in.end(), in.begin() + static_cast<std::ptrdiff_t>(from),
                  in.begin() + static_cast<std::ptrdiff_t>(from + 12));
        in.push_back(static_cast<uint8_t>('a' + rng() % 26));
      }
      for (int level : {2, 5, 9}) {
        SCOPED_TRACE("level " + std::to_string(level) + ", seed " + std::to_string(seed));
        Bytes packed = jcalg::Encode(in.data(), in.size(), jcalg::WindowForLevel(level));
        ASSERT_FALSE(packed.empty());
        EXPECT_EQ(DecodeAll(packed), in);
        EXPECT_GE(ReadStream(packed).seven_bit_codes, 1u);
      }
    }
  }
}

TEST(JcalgEncode, HigherLevelsPackRepetitiveTextSmaller) {
  Bytes text = WordText(200000, 11);
  size_t level0 = jcalg::Encode(text.data(), text.size(), jcalg::WindowForLevel(0)).size();
  size_t level9 = jcalg::Encode(text.data(), text.size(), jcalg::WindowForLevel(9)).size();
  EXPECT_LT(level9, level0);
  EXPECT_LT(level9, text.size() / 2);
}

}  // namespace
