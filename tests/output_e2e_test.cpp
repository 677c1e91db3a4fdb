// The output stage end to end: akqp-cli writes a QP file, qpinfo reads it back, and the
// stored chunk runs in a real 32-bit Lua 5.3 like the host's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/platform/fs.h"
#include "common/platform/shell.h"
#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kSuccessPrefix[] = "Compilation successful, script compiled to '";

// How the system names a missing file, a missing folder and a file used as a folder (the
// platform layer's own words on Windows).
#ifdef _WIN32
const char kMissingReason[] = "the file does not exist";
const char kNoFolderReason[] = "the folder does not exist";
const char kNotAFolderReason[] = "its folder is a file";
#else
const char kMissingReason[] = "No such file or directory";
const char kNoFolderReason[] = "No such file or directory";
const char kNotAFolderReason[] = "Not a directory";
#endif

// A module with a function, a marked assembly routine and plain values.
const char kScript[] = R"lua(local M = {}
M.info = { name = "  Output Demo  ", version = "1.0.0" }
M.functions = { double = function(x) return 2 * x end }
M.assemblies = {
  add = { assembly = [[;ASSEMBLY
use32
mov eax, [esp+4]
add eax, [esp+8]
ret
;ENDASSEMBLY]] },
}
M.constants = { answer = 42, ratio = 0.25, list = { "a", "b", 3 } }
return M
)lua";

// Serialises a table with sorted keys (functions by the value they give for 21), the
// same in every Lua 5.3, so results can be compared across interpreters.
const char kSerializer[] = R"lua(
local function ser(v)
  local kind = type(v)
  if kind == 'function' then return 'function->' .. tostring(v(21)) end
  if kind ~= 'table' then
    if math.type(v) == 'float' then return string.format('%.17g', v) end
    return kind .. ':' .. tostring(v)
  end
  local keys = {}
  for k in pairs(v) do keys[#keys + 1] = k end
  table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
  local parts = {}
  for _, k in ipairs(keys) do parts[#parts + 1] = tostring(k) .. '=' .. ser(v[k]) end
  return '{' .. table.concat(parts, ',') .. '}'
end
local f = assert(loadfile(arg[1], arg[2]))
io.write(ser(f()))
)lua";

std::string Field(const Lines& lines, const std::string& key) {
  for (const std::string& line : lines)
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  return "<missing " + key + ">";
}

using e2e::Has;

const std::string* SuccessLine(const Lines& lines) {
  for (const std::string& line : lines)
    if (line.rfind(kSuccessPrefix, 0) == 0) return &line;
  return nullptr;
}

const std::string* ErrorLine(const Lines& lines) {
  for (const std::string& line : lines)
    if (line.rfind("[ERROR] The QP file '", 0) == 0) return &line;
  return nullptr;
}

class OutputTest : public testing::Test {
 protected:
  e2e::RunResult Qpinfo(const std::vector<std::string>& args) {
    e2e::RunOptions options;
    options.cwd = scratch_.path();
    return e2e::Run("qpinfo", args, options);
  }
  e2e::Scratch scratch_;
};

TEST_F(OutputTest, CompiledFileIsReportedAndReadsBack) {
  scratch_.Write("demo.lua", kScript);
  e2e::RunResult compile = e2e::Compile(scratch_, "demo.lua", "demo.qp");
  ASSERT_EQ(compile.exit_code, 0) << compile.output;
  const std::string* success = SuccessLine(compile.lines);
  ASSERT_NE(success, nullptr) << compile.output;
  // The success line is followed by an empty line.
  auto at = std::find(compile.lines.begin(), compile.lines.end(), *success);
  ASSERT_NE(at + 1, compile.lines.end());
  EXPECT_EQ(*(at + 1), "");

  e2e::RunResult info = Qpinfo({"demo.qp"});
  ASSERT_EQ(info.exit_code, 0) << info.output;
  EXPECT_EQ(Field(info.lines, "chunk name"), "Output Demo");
  EXPECT_EQ(Field(info.lines, "code count"), "1");
  EXPECT_EQ(Field(info.lines, "record count"), "0");
  EXPECT_EQ(Field(info.lines, "chunk layout"), "host");
  EXPECT_TRUE(Has(info.lines, "code: size=9 crc=0xA99B5B36 name=add")) << info.output;

  // The reported size and CRC-32 are those of the file on disk.
  long size = std::stol(Field(info.lines, "file size"));
  std::string crc = Field(info.lines, "file crc");
  std::string signed_crc = crc.substr(crc.find('(') + 1, crc.find(')') - crc.find('(') - 1);
  char kib[32];
  std::snprintf(kib, sizeof kib, "%.2f", static_cast<double>(static_cast<float>(size) / 1024.0f));
  EXPECT_EQ(*success, std::string(kSuccessPrefix) + "demo.qp' (" + kib + " KiB, CRC32: " +
                          signed_crc + ").");

  // The marked routine's source is not in the stored chunk.
  ASSERT_EQ(Qpinfo({"--chunk", "demo.luac", "demo.qp"}).exit_code, 0);
  std::string chunk = scratch_.Read("demo.luac");
  EXPECT_EQ(chunk.substr(0, 4), "\x1bLua");
  EXPECT_EQ(chunk.find(";ASSEMBLY"), std::string::npos);
  EXPECT_NE(chunk.find("Output Demo"), std::string::npos);

  e2e::RunResult json = Qpinfo({"--json", "demo.qp"});
  EXPECT_EQ(json.exit_code, 0);
  EXPECT_EQ(json.output.rfind("{\"file\":\"demo.qp\",\"result\":1,", 0), 0u) << json.output;
}

TEST_F(OutputTest, StoredChunkRunsInThe32BitLua) {
  std::string why;
  const std::string lua = e2e::HostLua(&why);
  if (lua.empty()) GTEST_SKIP() << why;

  scratch_.Write("demo.lua", kScript);
  scratch_.Write("ser.lua", kSerializer);
  // What the host runs is the script with its marked routine cut out.
  std::string cut = kScript;
  size_t begin = cut.find(";ASSEMBLY");
  cut.erase(begin, cut.find(";ENDASSEMBLY") + 12 - begin);
  scratch_.Write("cut.lua", cut);
  ASSERT_EQ(e2e::Compile(scratch_, "demo.lua", "demo.qp").exit_code, 0);
  ASSERT_EQ(Qpinfo({"--chunk", "demo.luac", "demo.qp"}).exit_code, 0);

  e2e::RunOptions options;
  options.cwd = scratch_.path();
  e2e::RunResult from_chunk = e2e::Run(lua, {"ser.lua", "demo.luac", "b"}, options);
  e2e::RunResult from_source = e2e::Run(lua, {"ser.lua", "cut.lua", "t"}, options);
  EXPECT_EQ(from_chunk.exit_code, 0) << from_chunk.output;
  EXPECT_EQ(from_source.exit_code, 0) << from_source.output;
  EXPECT_EQ(from_chunk.output, from_source.output);
  EXPECT_NE(from_chunk.output.find("double=function->42"), std::string::npos) << from_chunk.output;
  EXPECT_NE(from_chunk.output.find("name=string:  Output Demo  "), std::string::npos);
  EXPECT_NE(from_chunk.output.find("add={assembly=string:}"), std::string::npos);
}

TEST_F(OutputTest, RelativeOutputFollowsTheScriptsFolderChange) {
  std::filesystem::create_directories(scratch_.Path("moved"));
  scratch_.Write("cwd.lua", "sys.cwd('moved')\nreturn { info = { name = 'Moved' } }\n");
  e2e::RunResult r = e2e::Compile(scratch_, "cwd.lua", "cwd.qp");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_FALSE(std::filesystem::exists(scratch_.Path("cwd.qp")));
  EXPECT_EQ(scratch_.Read("moved/cwd.qp").substr(0, 4), "KSQP");
}

TEST_F(OutputTest, NoNameNoFile) {
  scratch_.Write("old.qp", "previous");
  scratch_.Write("noname.lua", "return { info = { name = '   ' } }");
  e2e::RunResult r = e2e::Compile(scratch_, "noname.lua", "old.qp");
  EXPECT_NE(r.exit_code, 0);
  EXPECT_TRUE(Has(r.lines, "[ERROR] info: A name is required, please provide a name in the info table!"))
      << r.output;
  EXPECT_EQ(SuccessLine(r.lines), nullptr);
  EXPECT_EQ(scratch_.Read("old.qp"), "previous");
}

// Tests run as root, where folder permissions do not stop a write; a regular file used
// as a folder and a file-size limit fail for everyone.
TEST_F(OutputTest, UnwritableOutputIsAnErrorAndKeepsTheOldFile) {
  scratch_.Write("demo.lua", kScript);
  scratch_.Write("plain", "a file, not a folder");
  e2e::RunResult r = e2e::Compile(scratch_, "demo.lua", "plain/demo.qp");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(SuccessLine(r.lines), nullptr) << r.output;
  const std::string* error = ErrorLine(r.lines);
  ASSERT_NE(error, nullptr) << r.output;
  // The output path is named in the system's form.
  EXPECT_EQ(*error, "[ERROR] The QP file '" + platform::NativePath("plain/demo.qp") +
                        "' could not be written: " + kNotAFolderReason + ".");

  r = e2e::Compile(scratch_, "demo.lua", "missing/demo.qp");
  ASSERT_NE(ErrorLine(r.lines), nullptr) << r.output;
  EXPECT_NE(ErrorLine(r.lines)->find(kNoFolderReason), std::string::npos);
#ifdef _WIN32
  // A read-only file stops a write even for an administrator: refused, and kept.
  scratch_.Write("locked.qp", "previous");
  std::filesystem::permissions(scratch_.Path("locked.qp"), std::filesystem::perms::owner_read);
  r = e2e::Compile(scratch_, "demo.lua", "locked.qp");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(SuccessLine(r.lines), nullptr) << r.output;
  ASSERT_NE(ErrorLine(r.lines), nullptr) << r.output;
  EXPECT_EQ(*ErrorLine(r.lines),
            "[ERROR] The QP file 'locked.qp' could not be written: access is denied (the file "
            "is read-only, or open in another program).");
  EXPECT_EQ(scratch_.Read("locked.qp"), "previous");
#endif
}

TEST_F(OutputTest, FileSizeLimitIsAnErrorAndKeepsTheOldFile) {
  if (platform::kShellKind != platform::ShellKind::kPosixShell)
    GTEST_SKIP() << "ulimit and the file-size signal are POSIX's; on Windows a failed write is "
                    "tested with an output held open by another program";
  // Text that does not pack well, so that the file is well above the limit.
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 40000; ++i) {
    x = x * 1103515245u + 12345u;
    noise += static_cast<char>('a' + (x >> 16) % 26);
  }
  scratch_.Write("big.lua", "return { info = { name = 'Big' }, noise = '" + noise + "' }");
  scratch_.Write("big.qp", "previous");
  // The limit is in 512-byte blocks; the compiler turns the limit's signal into an error.
  e2e::RunOptions options;
  options.env = scratch_.Env();
  options.cwd = scratch_.path();
  e2e::RunResult r = e2e::Run(
      "/bin/sh",
      {"-c", "ulimit -f 32; exec \"$0\" \"$@\"", e2e::BuildDir() + "/akqp-cli",
       "--lua", "big.lua", "--out", "big.qp"},
      options);
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_EQ(SuccessLine(r.lines), nullptr) << r.output;
  ASSERT_NE(ErrorLine(r.lines), nullptr) << r.output;
  EXPECT_NE(ErrorLine(r.lines)->find("File too large"), std::string::npos);
  EXPECT_EQ(scratch_.Read("big.qp"), "previous");
  // No temporary file is left behind.
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
        << entry.path();
}

TEST_F(OutputTest, QpinfoUsageAndFailures) {
  EXPECT_EQ(Qpinfo({}).exit_code, 2);
  EXPECT_EQ(Qpinfo({"--bogus", "x.qp"}).exit_code, 2);
  EXPECT_EQ(Qpinfo({"a.qp", "b.qp"}).exit_code, 2);
  EXPECT_EQ(Qpinfo({"--chunk"}).exit_code, 2);

  scratch_.Write("bad.qp", "KSQP" + std::string(44, '\0'));
  e2e::RunResult bad = Qpinfo({"bad.qp"});
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_EQ(bad.output, "qpinfo: cannot load 'bad.qp': format word A differs (result -3)\n");
  e2e::RunResult missing = Qpinfo({"--json", "missing.qp"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.output,
            "{\"file\":\"missing.qp\",\"result\":-2,\"error\":\"the file cannot be opened\","
            "\"reason\":\"" + std::string(kMissingReason) + "\"}\n");
}

}  // namespace
