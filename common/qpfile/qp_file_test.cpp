#include "common/qpfile/qp_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/platform/console.h"
#include "common/platform/fs.h"
#include "common/platform/test_pipes.h"
#include "common/qpfile/chunk_layout.h"
#include "common/qpfile/jcalg.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}
#include <zlib.h>

namespace {

// How the system names a missing file (the platform layer's own words on Windows).
#ifdef _WIN32
const char kMissingReason[] = "the file does not exist";
#else
const char kMissingReason[] = "No such file or directory";
#endif

const char kScript[] =
    "local info = { name = 'Demo' }\n"
    "local function twice(x) return 2 * x end\n"
    "return { info = info, answer = twice(21), text = 'hello' }\n";

uint32_t Crc(std::string_view bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

uint32_t U32(const std::string& file, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(file[offset + i]);
  return v;
}

void SetU32(std::string& file, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<char>(v >> (8 * i));
}

// Makes the body CRC match the body again, so that a test reaches the checks behind it.
void FixBodyCrc(std::string& file) {
  uint32_t body_size = std::min<uint32_t>(U32(file, 8), file.size() - 48);
  std::string covered = file.substr(48, body_size) + file.substr(40, 8);
  SetU32(file, 4, Crc(covered));
}

class QpFileTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = platform::MakeTempFolder("akqp-qpfile");
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override { platform::RemoveTree(folder_); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  // A file of the demo script with two machine-code entries and two records.
  std::string FullFile() {
    QpFile qp;
    EXPECT_TRUE(qp.SetMainChunk(kScript, "Demo", false));
    const uint8_t ret[] = {0xC3};
    const uint8_t add[] = {0x8B, 0x44, 0x24, 0x04, 0x03, 0x44, 0x24, 0x08, 0xC3};
    EXPECT_TRUE(qp.AddMachineCode("ret", ret, sizeof ret));
    EXPECT_TRUE(qp.AddMachineCode("add", add, sizeof add));
    qp.SetVerificationRecords({{1, 0, 0x11111111, 0x22222222}, {2, 3, 0xDEADBEEF, 0}});
    std::string file;
    EXPECT_EQ(qp.Serialize(&file), qp::kWritten);
    return file;
  }

  int LoadBytes(const std::string& bytes) {
    QpFile qp;
    return qp.Parse(bytes);
  }

  std::string folder_;
};

// Runs the chunk that `qp` holds and gives the table's field `key` as text.
std::string FieldOfResult(const QpFile& qp, const char* key) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  std::string result = "<failed>";
  if (qp.LoadMainChunk(L) == 1 && lua_pcall(L, 0, 1, 0) == LUA_OK && lua_istable(L, -1)) {
    lua_getfield(L, -1, key);
    if (const char* text = lua_tostring(L, -1)) result = text;
  }
  lua_close(L);
  return result;
}

TEST_F(QpFileTest, FileWithoutCodeOrRecordsHasTheSpecifiedLayout) {
  QpFile qp;
  ASSERT_TRUE(qp.SetMainChunk(kScript, "Demo", false));
  ASSERT_EQ(qp.Write(Path("demo.qp")), qp::kWritten);
  std::string file = platform::ReadFile(Path("demo.qp")).value();

  const uint32_t name_length = 5;  // "Demo" and its NUL
  const uint32_t packed_size = U32(file, 56);
  EXPECT_EQ(file.substr(0, 4), "KSQP");
  EXPECT_EQ(file.size(), 48 + 24 + name_length + packed_size);
  EXPECT_EQ(U32(file, 8), file.size() - 48);
  EXPECT_EQ(U32(file, 12), U32(file, 60));  // chunk CRC = packed CRC
  EXPECT_EQ(U32(file, 16), packed_size);
  EXPECT_EQ(U32(file, 20), 0u);
  EXPECT_EQ(U32(file, 24), 0u);  // code count
  EXPECT_EQ(U32(file, 28), 0x00050003u);
  EXPECT_EQ(U32(file, 32), 0x00020000u);
  EXPECT_EQ(U32(file, 36), 0x00030000u);
  EXPECT_EQ(U32(file, 40), 0u);  // record count
  EXPECT_EQ(U32(file, 44), 0u);  // record CRC
  EXPECT_EQ(U32(file, 4), Crc(file.substr(48) + std::string(8, '\0')));

  EXPECT_EQ(file.substr(48, 4), "PCLB");
  EXPECT_EQ(U32(file, 52), name_length);
  EXPECT_EQ(file.substr(72, name_length), std::string("Demo", 5));
  std::string packed = file.substr(72 + name_length);
  EXPECT_EQ(packed.substr(0, 2), std::string(2, '\0'));
  EXPECT_EQ(U32(file, 60), Crc(packed));

  // A reader that puts "JC" back gets the chunk: host layout, no debug information.
  packed[0] = 'J';
  packed[1] = 'C';
  const uint32_t unpacked_size = U32(file, 64);
  std::vector<uint8_t> chunk(unpacked_size + 8);
  ASSERT_EQ(jcalg::Decode(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(),
                          chunk.data(), chunk.size()),
            unpacked_size);
  std::string unpacked(chunk.begin(), chunk.begin() + unpacked_size);
  EXPECT_EQ(Crc(unpacked), U32(file, 68));
  EXPECT_EQ(unpacked, std::string(qp.GetMainChunk().data));
  EXPECT_EQ(unpacked.substr(12, 5), std::string("\x04\x04\x04\x08\x08", 5));
  EXPECT_EQ(unpacked[34], '\0');  // the main function's source: stripped
  std::string native = ChunkToNativeLayout(unpacked).value();
  lua_State* L = luaL_newstate();
  EXPECT_EQ(luaL_loadbufferx(L, native.data(), native.size(), "Demo", "b"), LUA_OK);
  lua_close(L);
}

TEST_F(QpFileTest, WrittenFilesLoadBack) {
  std::string bytes = FullFile();
  ASSERT_TRUE(platform::WriteFileAtomic(Path("full.qp"), bytes));
  QpFile qp;
  qp::FileSummary summary;
  ASSERT_EQ(qp.Load(Path("full.qp"), &summary), qp::kLoaded);

  EXPECT_EQ(qp.GetMainChunk().name, "Demo");
  EXPECT_EQ(FieldOfResult(qp, "answer"), "42");
  EXPECT_EQ(FieldOfResult(qp, "text"), "hello");

  std::vector<std::string> names;
  EXPECT_EQ(qp.ListMachineCode(&names), 2u);
  EXPECT_EQ(names, (std::vector<std::string>{"add", "ret"}));
  const uint8_t* code = nullptr;
  size_t length = 0;
  ASSERT_TRUE(qp.GetMachineCode("ret", &code, &length));
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(code[0], 0xC3);
  EXPECT_FALSE(qp.GetMachineCode("missing", &code, &length));

  VerificationRecords records;
  EXPECT_EQ(qp.GetVerificationRecords(&records), 2u);
  EXPECT_EQ(records[1].kind, 2u);
  EXPECT_EQ(records[1].flags, 3u);
  EXPECT_EQ(records[1].firstCrc, 0xDEADBEEFu);

  EXPECT_EQ(summary.code_count, 2u);
  ASSERT_EQ(summary.entries.size(), 2u);
  EXPECT_EQ(summary.entries[1].name, "ret");
  EXPECT_EQ(summary.entries[1].crc, Crc("\xC3"));
  EXPECT_EQ(summary.record_count, 2u);
  EXPECT_EQ(summary.file_size, bytes.size());

  // Writing what was loaded gives the same file again.
  std::string again;
  ASSERT_EQ(qp.Serialize(&again), qp::kWritten);
  EXPECT_EQ(again, bytes);
}

TEST_F(QpFileTest, MachineCodeEntries) {
  QpFile qp;
  ASSERT_TRUE(qp.SetMainChunk("return {}", "M", false));
  const uint8_t first[] = {1, 2, 3};
  const uint8_t last[] = {9, 8};
  EXPECT_TRUE(qp.AddMachineCode("f", first, sizeof first));
  EXPECT_TRUE(qp.AddMachineCode("f", last, sizeof last));
  EXPECT_FALSE(qp.AddMachineCode("empty", last, 0));
  std::vector<std::string> names;
  EXPECT_EQ(qp.ListMachineCode(&names), 1u);

  std::string file;
  ASSERT_EQ(qp.Serialize(&file), qp::kWritten);
  QpFile loaded;
  ASSERT_EQ(loaded.Parse(file), qp::kLoaded);
  const uint8_t* code = nullptr;
  size_t length = 0;
  ASSERT_TRUE(loaded.GetMachineCode("f", &code, &length));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(code), length), "\x09\x08");
  EXPECT_EQ(U32(file, 24), 1u);
}

TEST_F(QpFileTest, MainChunkOperations) {
  QpFile qp;
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  EXPECT_EQ(qp.RunMainChunk(L), 0);
  EXPECT_EQ(qp.LoadMainChunk(L), 0);

  // A script that does not compile leaves the chunk as it was and prints nothing.
  std::vector<std::string> lines;
  platform::ConsoleSetSink([&](std::string_view line) { lines.emplace_back(line); });
  ASSERT_TRUE(qp.SetMainChunk("ran = 'yes'", "", false));
  EXPECT_FALSE(qp.SetMainChunk("return {", "Broken", false));
  platform::ConsoleSetSink(nullptr);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(qp.GetMainChunk().name, "");

  EXPECT_EQ(qp.RunMainChunk(L), 1);
  lua_getglobal(L, "ran");
  EXPECT_STREQ(lua_tostring(L, -1), "yes");
  lua_settop(L, 0);

  std::string error;
  ASSERT_TRUE(qp.SetMainChunk("error('boom')", "Err", false));
  EXPECT_EQ(qp.RunMainChunk(L, &error), -2);
  EXPECT_NE(error.find("boom"), std::string::npos);
  EXPECT_EQ(lua_gettop(L), 0);

  // A raw chunk that is not valid does not load; source text given raw does.
  ASSERT_TRUE(qp.SetMainChunk("\x1bLua garbage", "Raw", true));
  EXPECT_EQ(qp.LoadMainChunk(L, &error), -1);
  EXPECT_EQ(lua_gettop(L), 0);
  ASSERT_TRUE(qp.SetMainChunk("return 7", "Text", true));
  ASSERT_EQ(qp.LoadMainChunk(L), 1);
  EXPECT_EQ(lua_type(L, -1), LUA_TFUNCTION);
  lua_close(L);

  EXPECT_TRUE(qp.FreeMainChunk());
  EXPECT_FALSE(qp.FreeMainChunk());
}

TEST_F(QpFileTest, PackLevels) {
  QpFile qp;
  EXPECT_EQ(qp.pack_level(), 9);
  EXPECT_FALSE(qp.SetPackLevel(-1));
  EXPECT_FALSE(qp.SetPackLevel(10));
  EXPECT_EQ(qp.pack_level(), 9);
  std::string script = "return {";
  for (int i = 0; i < 400; ++i) script += "k" + std::to_string(i % 37) + " = 'v" + std::to_string(i) + "',";
  script += "}";
  ASSERT_TRUE(qp.SetMainChunk(script, "Levels", false));
  for (int level : {0, 5, 9}) {
    ASSERT_TRUE(qp.SetPackLevel(level));
    std::string file;
    ASSERT_EQ(qp.Serialize(&file), qp::kWritten);
    QpFile loaded;
    ASSERT_EQ(loaded.Parse(file), qp::kLoaded) << level;
    EXPECT_EQ(loaded.GetMainChunk().data, qp.GetMainChunk().data);
  }
}

TEST_F(QpFileTest, FormatWords) {
  std::string file = FullFile();
  std::string newer = file;
  SetU32(newer, 36, 0x00040000);
  EXPECT_EQ(LoadBytes(newer), qp::kLoaded);
  std::string older = file;
  SetU32(older, 36, 0x00020000);
  EXPECT_EQ(LoadBytes(older), qp::kFormatTooOld);
  SetU32(older, 36, 0x80000000);  // negative as the reader compares it
  EXPECT_EQ(LoadBytes(older), qp::kFormatTooOld);
  std::string bad_a = file;
  SetU32(bad_a, 28, 0x00050004);
  EXPECT_EQ(LoadBytes(bad_a), qp::kBadFormatA);
  std::string bad_b = file;
  SetU32(bad_b, 32, 0x00020001);
  EXPECT_EQ(LoadBytes(bad_b), qp::kBadFormatB);
}

TEST_F(QpFileTest, HostileFilesGiveTheirCodes) {
  const std::string file = FullFile();
  QpFile qp;
  EXPECT_EQ(qp.Load(Path("missing.qp")), qp::kCannotOpen);
  EXPECT_EQ(qp.Load(folder_), qp::kCannotOpen);
  EXPECT_EQ(LoadBytes(""), qp::kNotQpFile);
  EXPECT_EQ(LoadBytes("KSQB" + file.substr(4)), qp::kNotQpFile);

  // Cut short anywhere: the header gives "not a QP file", the body a length error.
  for (size_t size = 0; size < file.size(); ++size)
    EXPECT_EQ(LoadBytes(file.substr(0, size)), size < 48 ? qp::kNotQpFile : qp::kBadLengthOrCrc)
        << size;

  // Any changed byte after the header breaks the body CRC.
  for (size_t i = 48; i < file.size(); ++i) {
    std::string damaged = file;
    damaged[i] ^= 0x20;
    EXPECT_EQ(LoadBytes(damaged), qp::kBadLengthOrCrc) << i;
  }

  std::string body_size = file;
  SetU32(body_size, 8, 0xFFFFFFFF);
  EXPECT_EQ(LoadBytes(body_size), qp::kNoMemory);
  SetU32(body_size, 8, 0);
  EXPECT_EQ(LoadBytes(body_size), qp::kNoMemory);
  SetU32(body_size, 8, static_cast<uint32_t>(file.size()));  // 48 bytes past the end
  EXPECT_EQ(LoadBytes(body_size), qp::kBadLengthOrCrc);
}

// Damage behind a body CRC that matches again: each inner check must hold on its own.
TEST_F(QpFileTest, InnerChecksHoldBehindAMatchingBodyCrc) {
  const std::string file = FullFile();
  const size_t name_length = U32(file, 52);
  const size_t entries = 72 + name_length + U32(file, 56);
  auto with = [&](size_t offset, uint32_t value) {
    std::string damaged = file;
    SetU32(damaged, offset, value);
    FixBodyCrc(damaged);
    return LoadBytes(damaged);
  };
  EXPECT_EQ(with(48, 0x434C4350), qp::kBadBlockMagic);       // "PCLC"
  EXPECT_EQ(with(52, 0), qp::kBadLengthOrCrc);               // name length
  EXPECT_EQ(with(52, 0xFFFFFFFF), qp::kBadLengthOrCrc);
  EXPECT_EQ(with(52, 0x7FFFFFFF), qp::kBadLengthOrCrc);
  EXPECT_EQ(with(56, U32(file, 56) + 1), qp::kBadLengthOrCrc);  // packed size vs header
  EXPECT_EQ(with(60, 0), qp::kBadLengthOrCrc);               // packed CRC
  EXPECT_EQ(with(64, 0), qp::kBadLengthOrCrc);               // unpacked size
  EXPECT_EQ(with(64, 0x7FFFFFFF), qp::kCannotUnpack);        // not what the stream holds
  EXPECT_EQ(with(68, 0), qp::kBadLengthOrCrc);               // unpacked CRC
  EXPECT_EQ(with(entries, 0x434D534C), qp::kBadBlockMagic);  // "LSMC"
  EXPECT_EQ(with(entries + 4, 0), qp::kBadLengthOrCrc);      // code CRC
  EXPECT_EQ(with(entries + 8, 0), qp::kBadLengthOrCrc);      // code size
  EXPECT_EQ(with(entries + 8, 0xFFFFFF00), qp::kBadLengthOrCrc);
  EXPECT_EQ(with(entries + 12, 0x10000000), qp::kBadLengthOrCrc);  // name length
  EXPECT_EQ(with(40, 0xFFFFFFFF), qp::kBadLengthOrCrc);      // record count
  EXPECT_EQ(with(44, 0), qp::kBadLengthOrCrc);               // record CRC

  // Code count is outside the body CRC: more entries than the body holds. The records
  // come where a third entry would, and the body ends before a fourth.
  std::string more = file;
  SetU32(more, 24, 3);
  EXPECT_EQ(LoadBytes(more), qp::kBadBlockMagic);
  SetU32(more, 40, 0);
  SetU32(more, 44, 0);
  more.resize(more.size() - 32);
  SetU32(more, 8, static_cast<uint32_t>(more.size() - 48));
  SetU32(more, 24, 0xFFFFFFFF);
  FixBodyCrc(more);
  EXPECT_EQ(LoadBytes(more), qp::kBadLengthOrCrc);

  // A stream that claims a huge size (in its own header too) is refused before any
  // buffer of that size is made.
  std::string huge = file;
  const size_t packed_at = 72 + name_length;
  SetU32(huge, 64, 0x7FFFFFF0);
  SetU32(huge, packed_at + 2, 0x7FFFFFF0);
  uint32_t huge_crc = Crc(huge.substr(packed_at, U32(file, 56)));
  SetU32(huge, 60, huge_crc);
  SetU32(huge, 12, huge_crc);
  FixBodyCrc(huge);
  EXPECT_EQ(LoadBytes(huge), qp::kNoMemory);

  // A stream that does not decode, with every CRC made to match.
  std::string broken = file;
  broken[72 + name_length + 12] ^= 0x55;
  uint32_t crc = Crc(broken.substr(72 + name_length, U32(file, 56)));
  SetU32(broken, 60, crc);
  SetU32(broken, 12, crc);
  FixBodyCrc(broken);
  int result = LoadBytes(broken);
  EXPECT_TRUE(result == qp::kCannotUnpack || result == qp::kBadLengthOrCrc) << result;
}

TEST_F(QpFileTest, FailedWritesLeaveTheOldFile) {
  QpFile qp;
  const std::string path = Path("out.qp");
  ASSERT_TRUE(platform::WriteFileAtomic(path, "old content"));
  // No chunk: nothing to pack, nothing written.
  EXPECT_EQ(qp.Write(path), qp::kPackFailed);
  EXPECT_EQ(platform::ReadFile(path), "old content");

  ASSERT_TRUE(qp.SetMainChunk("return {}", "M", false));
  std::string error;
  EXPECT_EQ(qp.Write(path + "/inside.qp", &error), qp::kCannotWrite);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(platform::ReadFile(path), "old content");
  error.clear();
  EXPECT_EQ(qp.Write(Path("no/such/folder.qp"), &error), qp::kCannotWrite);
  EXPECT_FALSE(error.empty());

  ASSERT_EQ(qp.Write(path), qp::kWritten);
  EXPECT_EQ(platform::ReadFile(path)->substr(0, 4), "KSQP");
}

TEST_F(QpFileTest, LoadReadsTheHeaderFirstAndOnlyWhatTheFileHolds) {
  const std::string file = FullFile();
  ASSERT_TRUE(platform::WriteFileAtomic(Path("full.qp"), file + "trailing bytes"));
  QpFile qp;
  qp::FileSummary summary;
  EXPECT_EQ(qp.Load(Path("full.qp"), &summary), qp::kLoaded);
  EXPECT_EQ(summary.file_size, file.size() + 14);

  // A device (on Windows a pipe) that never ends is no QP file: only its header is read.
  platform::EndlessSource endless;
  EXPECT_EQ(qp.Load(endless.path()), qp::kNotQpFile);

  // A body the header claims but the file does not hold: refused before it is read.
  std::string claims = file.substr(0, 48) + "tiny";
  SetU32(claims, 8, 512u << 20);
  ASSERT_TRUE(platform::WriteFileAtomic(Path("claims.qp"), claims));
  EXPECT_EQ(qp.Load(Path("claims.qp"), &summary), qp::kBadLengthOrCrc);
  EXPECT_EQ(summary.file_size, 52u);
  EXPECT_EQ(summary.body_size, 512u << 20);

  // A body beyond the shared limit is refused whatever the file holds.
  SetU32(claims, 8, qp::kMaxBodySize + 1);
  ASSERT_TRUE(platform::WriteFileAtomic(Path("claims.qp"), claims));
  EXPECT_EQ(qp.Load(Path("claims.qp")), qp::kNoMemory);

  // Cut short anywhere, a file on disk gives what the same bytes in memory give.
  for (size_t size : {size_t{0}, size_t{3}, size_t{47}, size_t{48}, size_t{60}, file.size() - 1}) {
    ASSERT_TRUE(platform::WriteFileAtomic(Path("cut.qp"), file.substr(0, size)));
    EXPECT_EQ(qp.Load(Path("cut.qp")), LoadBytes(file.substr(0, size))) << size;
  }

  std::string error;
  EXPECT_EQ(qp.Load(Path("missing.qp"), &summary), qp::kCannotOpen);
  EXPECT_EQ(summary.open_error, kMissingReason);
}

TEST_F(QpFileTest, TheWriterRefusesWhatTheReaderWouldRefuse) {
  const std::string path = Path("big.qp");
  ASSERT_TRUE(platform::WriteFileAtomic(path, "old content"));
  QpFile qp;
  qp.SetPackLevel(0);
  ASSERT_TRUE(qp.SetMainChunk(std::string(qp::kMaxUnpackedSize + 1, 'x'), "Big", true));
  std::string error;
  EXPECT_EQ(qp.Write(path, &error), qp::kTooLarge);
  EXPECT_EQ(error, "the Lua chunk is 67108865 bytes, more than the 67108864 bytes a QP file may hold");
  EXPECT_EQ(platform::ReadFile(path), "old content");
  EXPECT_EQ(qp.Write(Path("new.qp")), qp::kTooLarge);
  EXPECT_FALSE(platform::PathExists(Path("new.qp")));

  // Just inside the limit, the file is written and loads back.
  ASSERT_TRUE(qp.SetMainChunk(std::string(qp::kMaxUnpackedSize, 'x'), "Big", true));
  ASSERT_EQ(qp.Write(path), qp::kWritten);
  QpFile loaded;
  EXPECT_EQ(loaded.Load(path), qp::kLoaded);
  EXPECT_EQ(loaded.GetMainChunk().data.size(), qp::kMaxUnpackedSize);
}

TEST_F(QpFileTest, WriteReportsTheSizeAndCrcOfWhatItWrote) {
  QpFile qp;
  ASSERT_TRUE(qp.SetMainChunk(kScript, "Demo", false));
  qp::Written written;
  ASSERT_EQ(qp.Write(Path("w.qp"), nullptr, &written), qp::kWritten);
  std::string on_disk = platform::ReadFile(Path("w.qp")).value();
  EXPECT_EQ(written.size, on_disk.size());
  EXPECT_EQ(written.crc, Crc(on_disk));
}

}  // namespace
