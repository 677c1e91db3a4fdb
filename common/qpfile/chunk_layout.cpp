// The chunk is converted in one pass: every item is read in the source layout and written
// at once in the target layout. The copy helpers follow ldump.c and lundump.c of Lua 5.3
// item by item, so that a chunk converted there and back is byte for byte the chunk that
// lua_dump wrote.
#include "common/qpfile/chunk_layout.h"

#include <bit>
#include <cstdint>
#include <cstring>

extern "C" {
#include <lua.h>
}

static_assert(std::endian::native == std::endian::little,
              "binary chunks are converted for little-endian machines only");

namespace {

// Header bytes of a Lua 5.3 binary chunk (lundump.h).
constexpr char kSignature[] = "\x1bLua";
constexpr uint8_t kVersion = 0x53;
constexpr uint8_t kFormat = 0;
constexpr char kData[] = "\x19\x93\r\n\x1a\n";
constexpr int64_t kCheckInteger = 0x5678;
constexpr double kCheckNumber = 370.5;

// Constant tags as lua_dump writes them (type | variant << 4).
constexpr uint8_t kTagNil = 0;
constexpr uint8_t kTagBoolean = 1;
constexpr uint8_t kTagFloat = 3;
constexpr uint8_t kTagInteger = 3 | (1 << 4);
constexpr uint8_t kTagShortString = 4;
constexpr uint8_t kTagLongString = 4 | (1 << 4);

// Lua's own parser stops nesting far below this; a deeper chunk is hostile.
constexpr int kMaxDepth = 200;

struct Layout {
  uint8_t int_size;
  uint8_t size_t_size;
  uint8_t instruction_size;
  uint8_t integer_size;
  uint8_t number_size;
};

constexpr Layout kHostLayout{4, 4, 4, 8, 8};
// Lua's Instruction is a 32-bit unsigned integer on every machine we build for.
constexpr Layout kNativeLayout{sizeof(int), sizeof(size_t), 4, sizeof(lua_Integer),
                               sizeof(lua_Number)};

// ---- reading (lundump.c) ----

class Reader {
 public:
  Reader(std::string_view in) : in_(in) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ == in_.size(); }
  size_t remaining() const { return in_.size() - pos_; }
  void Fail() { ok_ = false; }

  std::string_view Bytes(size_t n) {
    if (!ok_ || n > remaining()) {
      ok_ = false;
      return {};
    }
    std::string_view piece = in_.substr(pos_, n);
    pos_ += n;
    return piece;
  }

  uint8_t Byte() {
    std::string_view b = Bytes(1);
    return b.empty() ? 0 : static_cast<uint8_t>(b[0]);
  }

  // An unsigned little-endian value of `size` bytes (1 to 8).
  uint64_t Unsigned(size_t size) {
    std::string_view b = Bytes(size);
    uint64_t value = 0;
    for (size_t i = b.size(); i-- > 0;) value = (value << 8) | static_cast<uint8_t>(b[i]);
    return value;
  }

  // A signed little-endian value of `size` bytes, sign-extended.
  int64_t Signed(size_t size) {
    uint64_t value = Unsigned(size);
    if (size < 8 && (value >> (size * 8 - 1)) != 0) value |= ~uint64_t{0} << (size * 8);
    return static_cast<int64_t>(value);
  }

 private:
  std::string_view in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

bool ReadHeader(Reader& r, Layout& l) {
  if (r.Bytes(4) != std::string_view(kSignature, 4)) return false;
  if (r.Byte() != kVersion || r.Byte() != kFormat) return false;
  if (r.Bytes(6) != std::string_view(kData, 6)) return false;
  l.int_size = r.Byte();
  l.size_t_size = r.Byte();
  l.instruction_size = r.Byte();
  l.integer_size = r.Byte();
  l.number_size = r.Byte();
  if (!r.ok()) return false;
  auto valid = [](uint8_t size) { return size == 4 || size == 8; };
  if (!valid(l.int_size) || !valid(l.size_t_size) || l.instruction_size != 4 ||
      !valid(l.integer_size) || !valid(l.number_size))
    return false;
  // The check values also tell the byte order: only little-endian chunks are read.
  if (r.Signed(l.integer_size) != kCheckInteger) return false;
  std::string_view number = r.Bytes(l.number_size);
  if (!r.ok()) return false;
  if (l.number_size == 8) {
    double d;
    std::memcpy(&d, number.data(), 8);
    return d == kCheckNumber;
  }
  float f;
  std::memcpy(&f, number.data(), 4);
  return f == static_cast<float>(kCheckNumber);
}

// ---- writing (ldump.c) ----

class Writer {
 public:
  bool ok() const { return ok_; }
  std::string& out() { return out_; }

  void Bytes(std::string_view b) { out_.append(b); }
  void Byte(uint8_t b) { out_.push_back(static_cast<char>(b)); }
  void Unsigned(uint64_t value, size_t size) {
    if (size < 8 && (value >> (size * 8)) != 0) ok_ = false;
    for (size_t i = 0; i < size; ++i) Byte(static_cast<uint8_t>(value >> (8 * i)));
  }
  void Signed(int64_t value, size_t size) {
    if (size < 8) {
      int64_t limit = int64_t{1} << (size * 8 - 1);
      if (value < -limit || value >= limit) ok_ = false;
    }
    for (size_t i = 0; i < size; ++i)
      Byte(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
  }

 private:
  std::string out_;
  bool ok_ = true;
};

void WriteHeader(Writer& w, const Layout& l) {
  w.Bytes(std::string_view(kSignature, 4));
  w.Byte(kVersion);
  w.Byte(kFormat);
  w.Bytes(std::string_view(kData, 6));
  w.Byte(l.int_size);
  w.Byte(l.size_t_size);
  w.Byte(l.instruction_size);
  w.Byte(l.integer_size);
  w.Byte(l.number_size);
  w.Signed(kCheckInteger, l.integer_size);
  char bytes[8];
  if (l.number_size == 8) {
    std::memcpy(bytes, &kCheckNumber, 8);
  } else {
    float f = static_cast<float>(kCheckNumber);
    std::memcpy(bytes, &f, 4);
  }
  w.Bytes(std::string_view(bytes, l.number_size));
}

// ---- converting: each Copy helper reads one item of the dump (in the order of
// ldump.c's Dump* functions) in the source layout and writes it in the target layout.
// Nothing is kept in between, so memory follows the size of the output. ----

struct Converter {
  Converter(std::string_view input) : in(input) {}
  Reader in;
  Writer out;
  Layout from{};
  Layout to{};
  bool ok() const { return in.ok() && out.ok(); }
};

void CopyByte(Converter& c) { c.out.Byte(c.in.Byte()); }

void CopyBytes(Converter& c, size_t n) { c.out.Bytes(c.in.Bytes(n)); }

void CopyInt(Converter& c) { c.out.Signed(c.in.Signed(c.from.int_size), c.to.int_size); }

// A vector count: not negative, and no larger than the bytes left could hold, so that a
// hostile count cannot make the loops below run on long after the input has ended.
size_t CopyCount(Converter& c, size_t min_element_size) {
  int64_t n = c.in.Signed(c.from.int_size);
  if (n < 0 || static_cast<uint64_t>(n) > c.in.remaining() / min_element_size) {
    c.in.Fail();
    return 0;
  }
  c.out.Signed(n, c.to.int_size);
  return static_cast<size_t>(n);
}

// Strings are stored as their length + 1 (0 for the NULL string) in one byte, or 0xFF
// followed by a size_t, then the bytes without a terminating NUL.
void CopyString(Converter& c) {
  uint64_t size = c.in.Byte();
  if (size == 0xFF) size = c.in.Unsigned(c.from.size_t_size);
  if (!c.in.ok()) return;
  if (size == 0) {
    c.out.Byte(0);
    return;
  }
  if (size - 1 > c.in.remaining()) {
    c.in.Fail();
    return;
  }
  if (size < 0xFF) {
    c.out.Byte(static_cast<uint8_t>(size));
  } else {
    c.out.Byte(0xFF);
    c.out.Unsigned(size, c.to.size_t_size);
  }
  CopyBytes(c, size - 1);
}

bool CopyFunction(Converter& c, int depth);

void CopyCode(Converter& c) {
  size_t n = CopyCount(c, c.from.instruction_size);
  CopyBytes(c, n * c.from.instruction_size);
}

void CopyConstants(Converter& c) {
  size_t n = CopyCount(c, 1);
  for (size_t i = 0; i < n && c.ok(); ++i) {
    uint8_t tag = c.in.Byte();
    c.out.Byte(tag);
    switch (tag) {
      case kTagNil:
        break;
      case kTagBoolean:
        CopyByte(c);
        break;
      case kTagFloat:
        CopyBytes(c, c.from.number_size);
        break;
      case kTagInteger:
        CopyBytes(c, c.from.integer_size);
        break;
      case kTagShortString:
      case kTagLongString:
        CopyString(c);
        break;
      default:
        c.in.Fail();
        break;
    }
  }
}

void CopyUpvalues(Converter& c) {
  size_t n = CopyCount(c, 2);
  CopyBytes(c, 2 * n);  // in-stack flag and index of each
}

void CopyProtos(Converter& c, int depth) {
  size_t n = CopyCount(c, 1);
  for (size_t i = 0; i < n && c.ok(); ++i)
    if (!CopyFunction(c, depth + 1)) c.in.Fail();
}

void CopyDebug(Converter& c) {
  size_t n = CopyCount(c, c.from.int_size);  // line info
  for (size_t i = 0; i < n && c.ok(); ++i) CopyInt(c);
  n = CopyCount(c, 1 + 2 * size_t{c.from.int_size});  // local variables
  for (size_t i = 0; i < n && c.ok(); ++i) {
    CopyString(c);
    CopyInt(c);  // start pc
    CopyInt(c);  // end pc
  }
  n = CopyCount(c, 1);  // upvalue names
  for (size_t i = 0; i < n && c.ok(); ++i) CopyString(c);
}

bool CopyFunction(Converter& c, int depth) {
  if (depth > kMaxDepth) return false;
  CopyString(c);  // source
  CopyInt(c);     // line defined
  CopyInt(c);     // last line defined
  CopyBytes(c, 3);  // parameter count, vararg flag, stack size
  CopyCode(c);
  CopyConstants(c);
  CopyUpvalues(c);
  CopyProtos(c, depth);
  CopyDebug(c);
  return c.ok();
}

std::optional<std::string> Convert(std::string_view input, const Layout& target) {
  Converter c(input);
  c.to = target;
  if (!ReadHeader(c.in, c.from)) return std::nullopt;
  // Numbers are copied as they are; changing their width would change their values.
  if (c.from.integer_size != target.integer_size || c.from.number_size != target.number_size)
    return std::nullopt;
  c.out.out().reserve(input.size());
  WriteHeader(c.out, target);
  CopyByte(c);  // upvalue count of the main closure
  if (!CopyFunction(c, 0)) return std::nullopt;
  // A well-formed dump ends with its main function; anything after it is not ours.
  if (!c.in.AtEnd()) return std::nullopt;
  return std::move(c.out.out());
}

}  // namespace

bool IsBinaryChunk(std::string_view chunk) {
  return chunk.substr(0, 4) == std::string_view(kSignature, 4);
}

std::optional<std::string> ChunkToHostLayout(std::string_view native_chunk) {
  return Convert(native_chunk, kHostLayout);
}

std::optional<std::string> ChunkToNativeLayout(std::string_view host_chunk) {
  return Convert(host_chunk, kNativeLayout);
}
