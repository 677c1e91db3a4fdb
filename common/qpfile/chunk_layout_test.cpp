#include "common/qpfile/chunk_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cli/script/lua_helpers.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "tests/e2e_support.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

// Scripts that between them use every part of the chunk format: nested functions,
// upvalues, every constant type, short and long strings, locals and line info.
const std::vector<std::string> kScripts = {
    "return {}",
    "return { info = { name = 'Demo', version = '1.0.0' }, n = 42, f = 2.5, b = true, z = nil }",
    "local a, b = 1, 2\n"
    "local function add(x, y) return x + y + a end\n"
    "local function outer() local c = b; return function() return c * a end end\n"
    "return { sum = add(3, 4), inner = outer()(), neg = -9007199254740993, big = 1e300 }",
    "local long = [[" + std::string(300, 'x') + "]]\n"
    "local longer = '" + std::string(70000, 'y') + "'\n"
    "return { long = long, n = #longer, short = 'abc', empty = '' }",
    "local t = {}\n"
    "for i = 1, 50 do t[i] = function(...) local s = select('#', ...) return i + s end end\n"
    "return { count = #t, third = t[3](1, 2), msg = ('%d-%s'):format(7, 'x') }",
};

lua_State* NewState() {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  return L;
}

std::string Dump(const std::string& script, bool strip) {
  lua_State* L = NewState();
  std::optional<std::string> chunk = CompileToChunk(L, script, "Main::Code", strip, true);
  lua_close(L);
  EXPECT_TRUE(chunk.has_value()) << script.substr(0, 80);
  return chunk.value_or("");
}

// A Lua function (same text for both Luas) that turns a table into one line of text
// with its keys sorted, so that results can be compared across interpreters.
const char kSerializer[] = R"lua(
local function ser(v)
  if type(v) ~= 'table' then
    if math.type(v) == 'float' then return string.format('%.17g', v) end
    return type(v) .. ':' .. tostring(v)
  end
  local keys = {}
  for k in pairs(v) do keys[#keys + 1] = k end
  table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
  local parts = {}
  for _, k in ipairs(keys) do parts[#parts + 1] = tostring(k) .. '=' .. ser(v[k]) end
  return '{' .. table.concat(parts, ',') .. '}'
end
)lua";

// Runs `chunk` in this program's Lua and serialises the table it returns.
std::string RunNative(const std::string& chunk) {
  lua_State* L = NewState();
  std::string result = "<failed>";
  std::string program = std::string(kSerializer) + "return ser(...)";
  if (luaL_loadbufferx(L, chunk.data(), chunk.size(), "chunk", "b") == LUA_OK &&
      lua_pcall(L, 0, 1, 0) == LUA_OK &&
      luaL_loadbufferx(L, program.data(), program.size(), "ser", "t") == LUA_OK) {
    lua_insert(L, -2);
    if (lua_pcall(L, 1, 1, 0) == LUA_OK) result = lua_tostring(L, -1);
  } else if (lua_type(L, -1) == LUA_TSTRING) {
    result = std::string("<failed> ") + lua_tostring(L, -1);
  }
  lua_close(L);
  return result;
}

TEST(ChunkLayoutTest, RoundTripGivesTheOriginalDump) {
  for (bool strip : {false, true}) {
    for (const std::string& script : kScripts) {
      std::string native = Dump(script, strip);
      std::optional<std::string> host = ChunkToHostLayout(native);
      ASSERT_TRUE(host.has_value()) << script.substr(0, 80);
      std::optional<std::string> back = ChunkToNativeLayout(*host);
      ASSERT_TRUE(back.has_value());
      EXPECT_EQ(*back, native) << script.substr(0, 80);
      // Converting a chunk that already has the target layout changes nothing.
      EXPECT_EQ(ChunkToHostLayout(*host), host);
    }
  }
}

TEST(ChunkLayoutTest, HostLayoutHeaderAndLongStrings) {
  std::string native = Dump("return '" + std::string(300, 'q') + "'", true);
  std::optional<std::string> host = ChunkToHostLayout(native);
  ASSERT_TRUE(host.has_value());
  ASSERT_GT(host->size(), 17u);
  EXPECT_TRUE(IsBinaryChunk(*host));
  EXPECT_EQ(host->substr(12, 5), std::string("\x04\x04\x04\x08\x08", 5));
  // The long string's size (301 with its count of the terminator) as a 4-byte size_t.
  EXPECT_NE(host->find(std::string("\xFF\x2D\x01\x00\x00", 5) + std::string(300, 'q')),
            std::string::npos);
  // Each 8-byte size_t became 4 bytes: here just the one long string.
  EXPECT_EQ(native.size() - host->size(), sizeof(size_t) - 4);
}

TEST(ChunkLayoutTest, HostChunksRunInThe32BitLua) {
  std::string why;
  const std::string lua = e2e::HostLua(&why);
  if (lua.empty()) GTEST_SKIP() << why;
  std::string folder = platform::MakeTempFolder("akqp-chunk");
  ASSERT_FALSE(folder.empty());
  std::string driver_path = folder + "/driver.lua";
  ASSERT_TRUE(platform::WriteFileAtomic(
      driver_path, std::string(kSerializer) +
                       "local f = assert(loadfile(arg[1], 'b'))\nio.write(ser(f()))\n"));
  for (const std::string& script : kScripts) {
    for (bool strip : {false, true}) {
      std::string native = Dump(script, strip);
      std::string chunk_path = folder + "/chunk.luac";
      ASSERT_TRUE(platform::WriteFileAtomic(chunk_path, ChunkToHostLayout(native).value()));
      platform::ProcessOptions options;
      options.timeout_ms = 20000;
      platform::ProcessResult run =
          platform::RunProcess({lua, driver_path, chunk_path}, options);
      EXPECT_EQ(run.exit_code, 0) << run.output;
      EXPECT_EQ(run.output, RunNative(native)) << script.substr(0, 80);
    }
  }
  // This machine's own dump is what the host refuses.
  std::string native = Dump(kScripts[1], true);
  ASSERT_TRUE(platform::WriteFileAtomic(folder + "/native.luac", native));
  platform::ProcessResult refused =
      platform::RunProcess({lua, driver_path, folder + "/native.luac"}, {});
  // A 32-bit build's own dump has the host's layout already (the Windows build).
  if (sizeof(size_t) != 4) {
    EXPECT_NE(refused.exit_code, 0);
  }
  platform::RemoveTree(folder);
}

// Chunks built by hand in the host layout: a main function whose one nested function
// holds one nested function, `depth` levels down.
std::string NestedChunk(int depth) {
  auto int4 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                       static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
  };
  std::string header("\x1bLua\x53\x00\x19\x93\r\n\x1a\n\x04\x04\x04\x08\x08", 17);
  header += std::string("\x78\x56\0\0\0\0\0\0", 8);
  double check = 370.5;
  header.append(reinterpret_cast<const char*>(&check), 8);
  header += '\x01';  // upvalues of the main closure
  std::string opening;
  std::string closing;
  for (int level = 0; level <= depth; ++level) {
    // source, two lines, three bytes, no code, constants or upvalues
    opening += '\0' + int4(0) + int4(0) + std::string(3, '\0') + int4(0) + int4(0) + int4(0);
    opening += int4(level < depth ? 1 : 0);  // nested functions
    closing += int4(0) + int4(0) + int4(0);  // debug information
  }
  return header + opening + closing;
}

TEST(ChunkLayoutTest, HostileChunksAreRefused) {
  EXPECT_TRUE(ChunkToNativeLayout(NestedChunk(50)).has_value());
  EXPECT_FALSE(ChunkToNativeLayout(NestedChunk(5000)).has_value());

  std::string host = ChunkToHostLayout(Dump(kScripts[2], false)).value();
  EXPECT_FALSE(ChunkToNativeLayout("").has_value());
  EXPECT_FALSE(ChunkToNativeLayout("return 1").has_value());
  EXPECT_FALSE(ChunkToNativeLayout(host + "x").has_value());
  // Every truncation fails cleanly.
  for (size_t size = 0; size < host.size(); ++size)
    EXPECT_FALSE(ChunkToNativeLayout(host.substr(0, size)).has_value()) << size;
  // A changed byte anywhere either still converts or is refused; never a crash or an
  // out-of-bounds read (run under the sanitizers to see the second).
  for (size_t i = 0; i < host.size(); ++i) {
    for (uint8_t value : {0x00, 0x7F, 0xFF}) {
      std::string damaged = host;
      damaged[i] = static_cast<char>(value);
      (void)ChunkToNativeLayout(damaged);
    }
  }
  // A count far beyond the input: the code count of the stripped main function, after
  // the header (33 bytes), the upvalue count, the NULL source, two lines and three bytes.
  std::string huge = ChunkToHostLayout(Dump(kScripts[2], true)).value();
  ASSERT_EQ(huge[34], '\0');
  huge.replace(46, 4, std::string("\xFF\xFF\xFF\x7F", 4));
  EXPECT_FALSE(ChunkToNativeLayout(huge).has_value());
}

}  // namespace
