// The QP file: the one product of a compile, and the object that holds its contents,
// writes it and reads it back with full checking.
//
// Layout (all integers unsigned 32-bit little-endian, no padding):
//   header, 48 bytes: "KSQP", body CRC, body size, chunk CRC, chunk size, 0, code count,
//     format words 0x00050003, 0x00020000, 0x00030000, record count, record CRC;
//   main block: "PCLB", name length (with NUL), packed size, packed CRC, unpacked size,
//     unpacked CRC, the chunk name with its NUL, the packed chunk (a JCALG1 stream whose
//     "JC" signature is stored as two zero bytes);
//   code count machine-code entries: "KSMC", code CRC, code size, name length (with
//     NUL), the name with its NUL, the code bytes;
//   record count verification records of 16 bytes.
// The body is everything after the header; the body CRC covers the body followed by the
// header's record count and record CRC. CRC-32 is zlib's.
//
// The stored Lua chunk is in the host's layout (32-bit x86 Lua 5.3, see chunk_layout.h):
// GetMainChunk and Write give that form; RunMainChunk and LoadMainChunk convert it back
// for this machine's Lua.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform/code_block.h"
#include "common/qpfile/verification_record.h"

struct lua_State;

namespace qp {

constexpr size_t kHeaderSize = 48;
constexpr size_t kMainBlockHeaderSize = 24;
constexpr size_t kEntryHeaderSize = 16;
constexpr size_t kRecordSize = 16;
constexpr uint32_t kFormatWordA = 0x00050003;
constexpr uint32_t kFormatWordB = 0x00020000;
constexpr uint32_t kFormatWordC = 0x00030000;
constexpr int kDefaultPackLevel = 9;

// The limits that the writer and the reader share, so that every file the writer makes
// loads: the Lua chunk unpacks to at most kMaxUnpackedSize bytes (a packed stream can
// describe gigabytes in a few bytes, so a reader cannot trust its size), and the body
// after the header holds at most kMaxBodySize bytes. No compiled definition script comes
// near either.
constexpr uint32_t kMaxUnpackedSize = 64u << 20;
constexpr uint32_t kMaxBodySize = 1u << 30;

// Results of QpFile::Load.
enum LoadResult : int {
  kLoaded = 1,
  kNotQpFile = -1,       // magic is not "KSQP", or shorter than the header
  kCannotOpen = -2,      // the file cannot be opened or read
  kBadFormatA = -3,      // format word A differs
  kFormatTooOld = -4,    // format word C below 0x00030000
  kBadFormatB = -5,      // format word B differs
  kNoMemory = -6,        // out of memory, empty body, or a size beyond what is accepted
  kBadLengthOrCrc = -7,  // a length is not positive, runs past the body, or a CRC differs
  kBadBlockMagic = -8,   // "PCLB" or "KSMC" missing
  kCannotUnpack = -9,    // the packed chunk does not decode to its unpacked size
  kCannotStore = -10,    // the unpacked chunk cannot be stored
};

// Results of QpFile::Write.
enum WriteResult : int {
  kWritten = 0,
  kPackFailed = -1,   // no main chunk, or packing it failed; nothing was written
  kCannotWrite = -2,  // the file could not be written; the previous file is untouched
  kTooLarge = -3,     // the chunk or the body passes a limit above; nothing was written
};

// What was written: the file's size and CRC-32.
struct Written {
  uint64_t size = 0;
  uint32_t crc = 0;
};

// Words for a Load result ("the body CRC does not match", ...).
const char* LoadResultText(int result);

// Everything Load read from the file, for tools that explain a file. Fields stay 0 when
// the load ended before reaching them.
struct FileSummary {
  // The header, as stored.
  uint32_t body_crc = 0;
  uint32_t body_size = 0;
  uint32_t chunk_crc = 0;
  uint32_t chunk_size = 0;
  uint32_t reserved = 0;
  uint32_t code_count = 0;
  uint32_t format_a = 0;
  uint32_t format_b = 0;
  uint32_t format_c = 0;
  uint32_t record_count = 0;
  uint32_t record_crc = 0;
  // The main block.
  uint32_t name_length = 0;
  uint32_t packed_size = 0;
  uint32_t packed_crc = 0;
  uint32_t unpacked_size = 0;
  uint32_t unpacked_crc = 0;
  std::string chunk_name;
  // The machine-code entries in file order.
  struct Entry {
    std::string name;
    uint32_t size = 0;
    uint32_t crc = 0;
  };
  std::vector<Entry> entries;
  uint64_t file_size = 0;
  // Why the file could not be opened or read (the system's words), for kCannotOpen.
  std::string open_error;
};

}  // namespace qp

// The in-memory QP file. Operations come in a fixed order; none throws.
class QpFile {
 public:
  QpFile() = default;
  QpFile(const QpFile&) = delete;
  QpFile& operator=(const QpFile&) = delete;

  // 1. With `raw` set, stores a copy of `data` as the Lua binary chunk (in the host's
  // layout, as a loaded file holds it). With `raw` clear, `data` is Lua source: it is
  // compiled in a fresh state with debug information stripped, under `name` ("Main::Code"
  // when empty), and its dump, converted to the host's layout, is stored. Either way
  // `name` becomes the chunk name. False (and nothing printed) when the source does not
  // compile or memory is short; the held chunk is then unchanged.
  bool SetMainChunk(std::string_view data, const std::string& name, bool raw);

  // 2. The stored chunk (host layout; empty when none) and its name.
  struct MainChunk {
    std::string_view data;
    std::string_view name;
  };
  MainChunk GetMainChunk() const;

  // 3. Loads the held chunk into `L` and calls it with no arguments and no results, in
  // protected mode. Lua does not verify binary chunks: run only chunks of files from a
  // trusted source (a crafted chunk can break the interpreter however well the file
  // around it was checked). 1 when it ran, 0 when no chunk is held, -1 when it does not load,
  // -2 when it raised an error. On -1 and -2 `error` (when given) gets the message; the
  // stack is left as it was.
  int RunMainChunk(lua_State* L, std::string* error = nullptr) const;

  // 4. Loads the held chunk into `L` and leaves the function on the stack: 1. 0 when no
  // chunk is held, -1 when it does not load (nothing pushed; `error` gets the message).
  int LoadMainChunk(lua_State* L, std::string* error = nullptr) const;

  // 5. Frees the chunk; true when there was one.
  bool FreeMainChunk();

  // 6. Stores a private copy of `length` bytes of code under `name` (replacing an entry
  // of that name). False for a length of 0 or when no block can be had; an earlier entry
  // of that name is gone then too. Names are text: they end at a NUL byte.
  bool AddMachineCode(const std::string& name, const uint8_t* data, size_t length);

  // 7. The code stored under `name`: true and both filled, or false.
  bool GetMachineCode(const std::string& name, const uint8_t** data, size_t* length) const;

  // 8. The names of all entries (in the order Write stores them); gives their number.
  size_t ListMachineCode(std::vector<std::string>* names) const;

  // 9. Replaces the held verification records by a copy of `records`.
  void SetVerificationRecords(const VerificationRecords& records);

  // 10. Copies the held records into `records`; gives their number.
  size_t GetVerificationRecords(VerificationRecords* records) const;

  // 11. Pack level 0 to 9 (the window of the packed stream grows with it): true, or
  // false for any other value (the level is kept).
  bool SetPackLevel(int level);

  // 12. Writes the file with platform::WriteFileAtomic (a temporary file renamed over
  // `path` once complete, where that is safe). Gives a qp::WriteResult; on failure
  // `error` (when given) says why, on success `written` (when given) gets the size and
  // CRC-32 of what was written.
  int Write(const std::string& path, std::string* error = nullptr,
            qp::Written* written = nullptr) const;

  // 13. Reads and checks a file, storing what it holds. Gives a qp::LoadResult; the
  // first failing check ends the load, and what was stored before it stays. The header
  // is read first; the body only when the header is sound, its size within
  // qp::kMaxBodySize and the file holds it. `summary` (when given) receives the fields
  // read.
  int Load(const std::string& path, qp::FileSummary* summary = nullptr);

  // 14. Frees the chunk, the machine code and the records: the object is empty again.
  void Release();

  // The bytes that Write stores (same results and `error`, kCannotWrite aside).
  int Serialize(std::string* out, std::string* error = nullptr) const;
  // Load from bytes already in memory (Load reads the header and the body, then calls
  // this; bytes after the body are not looked at).
  int Parse(std::string_view file, qp::FileSummary* summary = nullptr);

  int pack_level() const { return pack_level_; }

 private:
  int ParseChecked(std::string_view file, qp::FileSummary* summary);

  struct CodeEntry {
    std::unique_ptr<platform::CodeBlock> block;
    size_t length = 0;
  };

  std::optional<std::string> main_chunk_;
  std::string chunk_name_;
  std::map<std::string, CodeEntry> machine_code_;
  VerificationRecords records_;
  int pack_level_ = qp::kDefaultPackLevel;
};

// A new, empty QpFile at pack level 9; nullptr when memory is short.
std::unique_ptr<QpFile> CreateQpFile();
