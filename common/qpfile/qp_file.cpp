#include "common/qpfile/qp_file.h"

#include <cstring>
#include <new>

#include "cli/script/lua_helpers.h"
#include "common/platform/fs.h"
#include "common/qpfile/byte_order.h"
#include "common/qpfile/chunk_layout.h"
#include "common/qpfile/jcalg.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}
#include <zlib.h>

namespace {

uint32_t Crc(uint32_t crc, std::string_view bytes) {
  // zlib's crc32 takes a 32-bit length; feed larger pieces in parts.
  while (!bytes.empty()) {
    size_t n = std::min<size_t>(bytes.size(), 1u << 30);
    crc = static_cast<uint32_t>(
        crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(n)));
    bytes.remove_prefix(n);
  }
  return crc;
}

uint32_t Crc(std::string_view bytes) { return Crc(0, bytes); }

void PutU32(std::string& out, uint32_t v) { le::Append32(&out, v); }

void SetU32(std::string& out, size_t offset, uint32_t v) { le::Store32(out.data() + offset, v); }

uint32_t GetU32(std::string_view in, size_t offset) { return le::Load32(in.data() + offset); }

// The length fields are read as the signed values the host's reader sees: a length of
// 0x80000000 or more is "not positive".
bool Positive(uint32_t v) { return static_cast<int32_t>(v) > 0; }

// Names are NUL-terminated text in the file.
std::string TextOf(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

std::string RecordBytes(const VerificationRecord& r) {
  std::string out;
  PutU32(out, r.kind);
  PutU32(out, r.flags);
  PutU32(out, r.firstCrc);
  PutU32(out, r.secondCrc);
  return out;
}

// A bounded cursor over the body: every read that would pass its end fails.
class Cursor {
 public:
  Cursor(std::string_view data) : data_(data) {}
  bool Take(size_t n, std::string_view* piece) {
    if (n > data_.size() - pos_) return false;
    *piece = data_.substr(pos_, n);
    pos_ += n;
    return true;
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// The chunk as this machine's Lua loads it: binary chunks in the host's layout are
// converted back; anything else (source text) goes to Lua as it is.
std::optional<std::string> NativeChunk(const std::string& stored) {
  if (!IsBinaryChunk(stored)) return stored;
  return ChunkToNativeLayout(stored);
}

}  // namespace

namespace qp {

const char* LoadResultText(int result) {
  switch (result) {
    case kLoaded: return "loaded";
    case kNotQpFile: return "not a QP file (the magic \"KSQP\" is missing or the header is cut short)";
    case kCannotOpen: return "the file cannot be opened";
    case kBadFormatA: return "format word A differs";
    case kFormatTooOld: return "format word C is too low";
    case kBadFormatB: return "format word B differs";
    case kNoMemory: return "out of memory, an empty body, or a size beyond what is accepted";
    case kBadLengthOrCrc: return "a length is not positive or does not fit, or a CRC does not match";
    case kBadBlockMagic: return "a block or entry magic is wrong";
    case kCannotUnpack: return "the chunk cannot be unpacked";
    case kCannotStore: return "the chunk cannot be stored";
    default: return "unknown result";
  }
}

}  // namespace qp

bool QpFile::SetMainChunk(std::string_view data, const std::string& name, bool raw) {
  try {
    if (raw) {
      main_chunk_ = std::string(data);
      chunk_name_ = name;
      return true;
    }
    lua_State* L = NewLimitedState(0);
    if (L == nullptr) return false;
    luaL_openlibs(L);
    std::optional<std::string> dump = CompileToChunk(L, data, name, /*strip=*/true, /*quiet=*/true);
    CloseLimitedState(L);
    if (!dump) return false;
    std::optional<std::string> host = ChunkToHostLayout(*dump);
    if (!host) return false;
    main_chunk_ = std::move(*host);
    chunk_name_ = name;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

QpFile::MainChunk QpFile::GetMainChunk() const {
  if (!main_chunk_) return {std::string_view(), chunk_name_};
  return {*main_chunk_, chunk_name_};
}

int QpFile::LoadMainChunk(lua_State* L, std::string* error) const {
  if (!main_chunk_) return 0;
  std::optional<std::string> native = NativeChunk(*main_chunk_);
  if (!native) {
    if (error) *error = "the stored chunk is not a valid Lua 5.3 binary chunk";
    return -1;
  }
  if (luaL_loadbufferx(L, native->data(), native->size(), chunk_name_.c_str(), "bt") != LUA_OK) {
    if (error) {
      const char* message = lua_tostring(L, -1);
      *error = message ? message : "the chunk does not load";
    }
    lua_pop(L, 1);
    return -1;
  }
  return 1;
}

int QpFile::RunMainChunk(lua_State* L, std::string* error) const {
  int loaded = LoadMainChunk(L, error);
  if (loaded != 1) return loaded;
  // A protected call: an error in the chunk must not unwind through this program.
  if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
    if (error) {
      const char* message = lua_tostring(L, -1);
      *error = message ? message : "the chunk raised an error";
    }
    lua_pop(L, 1);
    return -2;
  }
  return 1;
}

bool QpFile::FreeMainChunk() {
  bool had = main_chunk_.has_value();
  main_chunk_.reset();
  return had;
}

bool QpFile::AddMachineCode(const std::string& name, const uint8_t* data, size_t length) {
  std::string key = TextOf(name);
  machine_code_.erase(key);
  if (length == 0 || data == nullptr) return false;
  try {
    std::unique_ptr<platform::CodeBlock> block = platform::CodeBlock::Commit(length);
    if (!block) return false;
    std::memcpy(block->data(), data, length);
    machine_code_[key] = CodeEntry{std::move(block), length};
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool QpFile::GetMachineCode(const std::string& name, const uint8_t** data,
                            size_t* length) const {
  auto it = machine_code_.find(name);
  if (it == machine_code_.end() || !it->second.block) return false;
  *data = it->second.block->data();
  *length = it->second.length;
  return true;
}

size_t QpFile::ListMachineCode(std::vector<std::string>* names) const {
  for (const auto& [name, entry] : machine_code_) names->push_back(name);
  return machine_code_.size();
}

void QpFile::SetVerificationRecords(const VerificationRecords& records) { records_ = records; }

size_t QpFile::GetVerificationRecords(VerificationRecords* records) const {
  *records = records_;
  return records_.size();
}

bool QpFile::SetPackLevel(int level) {
  if (level < 0 || level > 9) return false;
  pack_level_ = level;
  return true;
}

int QpFile::Serialize(std::string* out, std::string* error) const {
  auto too_large = [&](const char* what, uint64_t size, uint32_t limit) {
    if (error)
      *error = std::string(what) + " is " + std::to_string(size) + " bytes, more than the " +
               std::to_string(limit) + " bytes a QP file may hold";
    return qp::kTooLarge;
  };
  try {
    if (!main_chunk_ || main_chunk_->empty()) return qp::kPackFailed;
    const std::string& chunk = *main_chunk_;
    // Readers refuse a bigger chunk, so it is never written.
    if (chunk.size() > qp::kMaxUnpackedSize)
      return too_large("the Lua chunk", chunk.size(), qp::kMaxUnpackedSize);
    const auto* bytes = reinterpret_cast<const uint8_t*>(chunk.data());
    std::vector<uint8_t> packed_stream =
        jcalg::Encode(bytes, chunk.size(), jcalg::WindowForLevel(pack_level_));
    if (packed_stream.empty() || packed_stream.size() > 0xFFFFFFFFu) return qp::kPackFailed;
    // The stored stream does not carry the "JC" signature; readers put it back.
    std::string packed(packed_stream.begin(), packed_stream.end());
    packed[0] = packed[1] = '\0';

    std::string file;
    file.reserve(qp::kHeaderSize + qp::kMainBlockHeaderSize + chunk_name_.size() + 1 +
                 packed.size());
    file.append("KSQP");
    file.append(44, '\0');
    SetU32(file, 24, static_cast<uint32_t>(machine_code_.size()));
    SetU32(file, 28, qp::kFormatWordA);
    SetU32(file, 32, qp::kFormatWordB);
    SetU32(file, 36, qp::kFormatWordC);

    const std::string name = TextOf(chunk_name_);
    const uint32_t packed_crc = Crc(packed);
    file.append("PCLB");
    PutU32(file, static_cast<uint32_t>(name.size() + 1));
    PutU32(file, static_cast<uint32_t>(packed.size()));
    PutU32(file, packed_crc);
    PutU32(file, static_cast<uint32_t>(chunk.size()));
    PutU32(file, Crc(chunk));
    file.append(name);
    file.push_back('\0');
    file.append(packed);
    SetU32(file, 12, packed_crc);
    SetU32(file, 16, static_cast<uint32_t>(packed.size()));

    for (const auto& [key, entry] : machine_code_) {
      std::string_view code(reinterpret_cast<const char*>(entry.block->data()), entry.length);
      file.append("KSMC");
      PutU32(file, Crc(code));
      PutU32(file, static_cast<uint32_t>(code.size()));
      PutU32(file, static_cast<uint32_t>(key.size() + 1));
      file.append(key);
      file.push_back('\0');
      file.append(code);
    }

    uint32_t record_crc = 0;
    for (const VerificationRecord& record : records_) {
      std::string bytes16 = RecordBytes(record);
      record_crc = Crc(record_crc, bytes16);
      file.append(bytes16);
    }
    SetU32(file, 40, static_cast<uint32_t>(records_.size()));
    SetU32(file, 44, record_crc);

    const size_t body_size = file.size() - qp::kHeaderSize;
    if (body_size > qp::kMaxBodySize)
      return too_large("the file's body", body_size, qp::kMaxBodySize);
    SetU32(file, 8, static_cast<uint32_t>(body_size));
    std::string_view all(file);
    uint32_t body_crc = Crc(all.substr(qp::kHeaderSize));
    body_crc = Crc(body_crc, all.substr(40, 8));
    SetU32(file, 4, body_crc);
    *out = std::move(file);
    return qp::kWritten;
  } catch (const std::bad_alloc&) {
    if (error) *error = "out of memory";
    return qp::kPackFailed;
  }
}

int QpFile::Write(const std::string& path, std::string* error, qp::Written* written) const {
  std::string file;
  int result = Serialize(&file, error);
  if (result != qp::kWritten) return result;
  if (!platform::WriteFileAtomic(path, file, error)) return qp::kCannotWrite;
  if (written) *written = qp::Written{file.size(), Crc(file)};
  return qp::kWritten;
}

namespace {

// The header's checks, in the order a reader makes them; kLoaded when they pass.
int CheckHeader(std::string_view file, qp::FileSummary& s) {
  if (file.size() < 4 || file.substr(0, 4) != "KSQP") return qp::kNotQpFile;
  if (file.size() < qp::kHeaderSize) return qp::kNotQpFile;
  s.body_crc = GetU32(file, 4);
  s.body_size = GetU32(file, 8);
  s.chunk_crc = GetU32(file, 12);
  s.chunk_size = GetU32(file, 16);
  s.reserved = GetU32(file, 20);
  s.code_count = GetU32(file, 24);
  s.format_a = GetU32(file, 28);
  s.format_b = GetU32(file, 32);
  s.format_c = GetU32(file, 36);
  s.record_count = GetU32(file, 40);
  s.record_crc = GetU32(file, 44);

  if (s.format_a != qp::kFormatWordA) return qp::kBadFormatA;
  if (static_cast<int32_t>(s.format_c) < static_cast<int32_t>(qp::kFormatWordC))
    return qp::kFormatTooOld;
  if (s.format_b != qp::kFormatWordB) return qp::kBadFormatB;
  if (!Positive(s.body_size) || s.body_size > qp::kMaxBodySize) return qp::kNoMemory;
  return qp::kLoaded;
}

}  // namespace

int QpFile::Load(const std::string& path, qp::FileSummary* summary) {
  qp::FileSummary local;
  qp::FileSummary& s = summary ? *summary : local;
  s = qp::FileSummary();
  platform::FileReader reader;
  std::string file;
  if (!reader.Open(path, &s.open_error)) return qp::kCannotOpen;
  if (!reader.Read(qp::kHeaderSize, &file)) {
    s.open_error = "the file cannot be read";
    return qp::kCannotOpen;
  }
  int header = CheckHeader(file, s);
  s.file_size = reader.RegularFileSize() >= 0 ? reader.RegularFileSize() : file.size();
  if (header != qp::kLoaded) return header;
  // A body that runs past the end of the file cannot match its CRC: nothing of it is
  // read then.
  int64_t size = reader.RegularFileSize();
  if (size >= 0 && s.body_size > size - static_cast<int64_t>(qp::kHeaderSize))
    return qp::kBadLengthOrCrc;
  try {
    file.reserve(qp::kHeaderSize + (size >= 0 ? s.body_size : 0));
  } catch (const std::bad_alloc&) {
    return qp::kNoMemory;
  }
  platform::ReadStatus status;
  if (!reader.Read(s.body_size, &file, &status)) {
    if (status == platform::ReadStatus::kOutOfMemory) return qp::kNoMemory;
    s.open_error = "the file cannot be read";
    return qp::kCannotOpen;
  }
  uint64_t file_size = size >= 0 ? size : file.size();
  int result = Parse(file, &s);
  s.file_size = file_size;
  return result;
}

int QpFile::Parse(std::string_view file, qp::FileSummary* summary) {
  // Names and entries are copied as they are read: memory may run short anywhere.
  try {
    return ParseChecked(file, summary);
  } catch (const std::bad_alloc&) {
    return qp::kNoMemory;
  }
}

int QpFile::ParseChecked(std::string_view file, qp::FileSummary* summary) {
  qp::FileSummary local;
  qp::FileSummary& s = summary ? *summary : local;
  s = qp::FileSummary();
  s.file_size = file.size();
  int header = CheckHeader(file, s);
  if (header != qp::kLoaded) return header;
  // A body that runs past the end of the file cannot match its CRC.
  if (s.body_size > file.size() - qp::kHeaderSize) return qp::kBadLengthOrCrc;
  std::string_view body = file.substr(qp::kHeaderSize, s.body_size);
  if (Crc(Crc(body), file.substr(40, 8)) != s.body_crc) return qp::kBadLengthOrCrc;

  // Everything below is read from the body alone.
  Cursor in(body);
  std::string_view piece;
  if (!in.Take(qp::kMainBlockHeaderSize, &piece)) return qp::kBadLengthOrCrc;
  if (piece.substr(0, 4) != "PCLB") return qp::kBadBlockMagic;
  s.name_length = GetU32(piece, 4);
  s.packed_size = GetU32(piece, 8);
  s.packed_crc = GetU32(piece, 12);
  s.unpacked_size = GetU32(piece, 16);
  s.unpacked_crc = GetU32(piece, 20);
  if (!Positive(s.name_length) || !in.Take(s.name_length, &piece)) return qp::kBadLengthOrCrc;
  s.chunk_name = TextOf(piece);
  if (!Positive(s.packed_size) || s.packed_size != s.chunk_size) return qp::kBadLengthOrCrc;
  std::string_view packed_view;
  if (!in.Take(s.packed_size, &packed_view)) return qp::kBadLengthOrCrc;
  uint32_t packed_crc = Crc(packed_view);
  if (packed_crc != s.packed_crc || packed_crc != s.chunk_crc) return qp::kBadLengthOrCrc;
  if (!Positive(s.unpacked_size)) return qp::kBadLengthOrCrc;

  try {
    std::string packed(packed_view);
    if (packed.size() >= 2) {
      packed[0] = 'J';
      packed[1] = 'C';
    }
    const auto* packed_bytes = reinterpret_cast<const uint8_t*>(packed.data());
    // A stream whose own header names another size cannot decode to this one.
    std::optional<uint32_t> stream_size = jcalg::UnpackedSize(packed_bytes, packed.size());
    if (!stream_size || *stream_size != s.unpacked_size) return qp::kCannotUnpack;
    if (s.unpacked_size > qp::kMaxUnpackedSize) return qp::kNoMemory;
    // Room for the unpacked size plus 8 bytes, as every reader of the format allows;
    // left uninitialised, since only what the decoder writes is used.
    const size_t capacity = size_t{s.unpacked_size} + 8;
    std::unique_ptr<uint8_t[]> buffer = std::make_unique_for_overwrite<uint8_t[]>(capacity);
    size_t written = jcalg::Decode(packed_bytes, packed.size(), buffer.get(), capacity);
    if (written != s.unpacked_size) return qp::kCannotUnpack;
    std::string_view chunk(reinterpret_cast<const char*>(buffer.get()), written);
    if (Crc(chunk) != s.unpacked_crc) return qp::kBadLengthOrCrc;
    if (!SetMainChunk(chunk, s.chunk_name, /*raw=*/true)) return qp::kCannotStore;
  } catch (const std::bad_alloc&) {
    return qp::kNoMemory;
  }

  for (uint32_t i = 0; i < s.code_count; ++i) {
    if (!in.Take(qp::kEntryHeaderSize, &piece)) return qp::kBadLengthOrCrc;
    if (piece.substr(0, 4) != "KSMC") return qp::kBadBlockMagic;
    qp::FileSummary::Entry entry;
    entry.crc = GetU32(piece, 4);
    entry.size = GetU32(piece, 8);
    uint32_t name_length = GetU32(piece, 12);
    if (!Positive(name_length) || !in.Take(name_length, &piece)) return qp::kBadLengthOrCrc;
    entry.name = TextOf(piece);
    std::string_view code;
    if (!Positive(entry.size) || !in.Take(entry.size, &code)) return qp::kBadLengthOrCrc;
    if (Crc(code) != entry.crc) return qp::kBadLengthOrCrc;
    try {
      s.entries.push_back(entry);
    } catch (const std::bad_alloc&) {
      return qp::kNoMemory;
    }
    if (!AddMachineCode(entry.name, reinterpret_cast<const uint8_t*>(code.data()), code.size()))
      return qp::kNoMemory;
  }

  if (s.record_count != 0) {
    std::string_view records;
    if (!in.Take(uint64_t{s.record_count} * qp::kRecordSize, &records))
      return qp::kBadLengthOrCrc;
    if (Crc(records) != s.record_crc) return qp::kBadLengthOrCrc;
    try {
      VerificationRecords loaded;
      loaded.reserve(s.record_count);
      for (size_t offset = 0; offset < records.size(); offset += qp::kRecordSize)
        loaded.push_back({GetU32(records, offset), GetU32(records, offset + 4),
                          GetU32(records, offset + 8), GetU32(records, offset + 12)});
      records_ = std::move(loaded);
    } catch (const std::bad_alloc&) {
      return qp::kNoMemory;
    }
  }
  return qp::kLoaded;
}

void QpFile::Release() {
  main_chunk_.reset();
  chunk_name_.clear();
  machine_code_.clear();
  records_.clear();
}

std::unique_ptr<QpFile> CreateQpFile() {
  try {
    return std::make_unique<QpFile>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
