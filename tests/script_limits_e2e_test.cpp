// Script code always ends, end to end: the script at its time limit (coroutines, pcall,
// sleeps and debug hooks included), the metamethods that the section walk runs, the
// finalizers that run when the state is closed; binary chunks are refused; dependency
// checks neither block on odd files nor accept what a library does not define.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/platform/process.h"
#include "tests/e2e_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kFinished[] = "Script execution has finished.";
const Lines kTimeLimitLines = {
    "This script is a definition file, and should not have a long execution time!!",
    "An execution time of one second is way too long, please check your code.",
    "",
    kFinished,
};
const char kWalkTooLong[] = "ERROR: a metamethod ran too long while the sections were checked";

class ScriptLimitsTest : public ::testing::Test {
 protected:
  // Compiles `script` as a.lua into a.qp; a run that does not end within 20 s fails.
  e2e::RunResult Compile(const std::string& script, const std::map<std::string, std::string>& env = {}) {
    scratch_.Write("a.lua", script);
    std::filesystem::remove(scratch_.Path("a.qp"));
    e2e::RunOptions options;
    options.env = scratch_.Env();
    for (const auto& [key, value] : env) options.env[key] = value;
    options.cwd = scratch_.path();
    options.timeout_ms = 20000;
    auto r = e2e::Run("akqp-cli", {"--lua", "a.lua", "--out", "a.qp"}, options);
    EXPECT_FALSE(r.timed_out) << script;
    EXPECT_FALSE(r.lines.empty()) << script;
    if (!r.lines.empty()) {
      EXPECT_EQ(r.lines.front(), "Compiling 'a.lua'...");
    }
    return r;
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(scratch_.Path(name)); }
  // The last `n` lines of a run.
  static Lines Tail(const e2e::RunResult& r, size_t n) {
    return Lines(r.lines.end() - std::min(n, r.lines.size()), r.lines.end());
  }
  e2e::Scratch scratch_;
};

// After the two time-limit lines nothing of the script runs: no more output, no file
// made, whatever the script does to keep going.
TEST_F(ScriptLimitsTest, NothingOfTheScriptRunsAfterTheTimeLimit) {
  const char* scripts[] = {
      // A sleep cut short by the limit raises instead of returning.
      "while true do print('tick') sys.sleep(100) end",
      "sys.sleep(3000) io.open('after.txt', 'w') print('tick')",
      "while true do pcall(sys.sleep, 50) print('tick') end",
      // Caught with pcall, the stop meets the script again at once.
      "while true do pcall(function() while true do end end) print('tick') io.open('after.txt', 'w') end",
      // A coroutine that runs at the limit, and coroutines made after it.
      "coroutine.wrap(function() while true do for i = 1, 900 do end print('tick') end end)()",
      "while true do local co = coroutine.create(function() for i = 1, 100 do end print('tick') end) "
      "coroutine.resume(co) for i = 1, 10000 do end end",
      "local co = coroutine.create(function() while true do coroutine.yield() end end) "
      "while true do coroutine.resume(co) print('tick') for i = 1, 20000 do end end",
      // Switching the hooks off does not switch the stop off.
      "debug.sethook() while true do end",
      "debug.sethook(function() end, 'l') while true do print('tick') for i = 1, 5000 do end end",
      "local co = coroutine.create(function() debug.sethook() while true do end end) coroutine.resume(co) "
      "io.open('after.txt', 'w')",
      // A stop that ends a coroutine, caught by its resumer, and a sleep in a coroutine.
      "pcall(coroutine.wrap(function() while true do end end)) io.open('after.txt', 'w')",
      "pcall(coroutine.wrap(function() sys.sleep(3000) end)) io.open('after.txt', 'w')",
      // Lua runs a hook function of the script and the collector's finalizers without
      // hooks: what they call after the limit raises the stop.
      "debug.sethook(function() local t = os.clock() while os.clock() - t < 1.1 do end io.open('after.txt', 'w') end, "
      "'l') while true do end",
      "setmetatable({}, {__gc = function() local t = os.clock() while os.clock() - t < 1.1 do end "
      "io.open('after.txt', 'w') end}) collectgarbage() while true do end",
  };
  for (const char* script : scripts) {
    auto r = Compile(script);
    EXPECT_EQ(r.exit_code, 1) << script;
    ASSERT_GE(r.lines.size(), 5u) << script;
    EXPECT_EQ(Tail(r, 4), kTimeLimitLines) << script << "\n" << r.output;
    // Every line before the time-limit lines is the script's own.
    for (size_t i = 1; i + 4 < r.lines.size(); ++i) EXPECT_EQ(r.lines[i], "tick") << script;
    EXPECT_FALSE(Exists("after.txt")) << script;
    EXPECT_FALSE(Exists("a.qp")) << script;
  }
}

// A script's own debug hook still sees what it asked for, and a script that ends in
// time compiles as before.
TEST_F(ScriptLimitsTest, ScriptHooksAndCoroutinesStillWork) {
  auto r = Compile(
      "local lines, counts = 0, 0\n"
      "debug.sethook(function(event) if event == 'line' then lines = lines + 1 else counts = counts + 1 end end, 'l', 10)\n"
      "local x = 0\n"
      "for i = 1, 100 do x = x + i end\n"
      "debug.sethook()\n"
      "print(lines > 50, counts > 20, counts < 200, debug.gethook())\n"
      "local h = function() end debug.sethook(h, 'c', 5) local f, m, c = debug.gethook() debug.sethook()\n"
      "print(f == h, m, c)\n"
      "local gen = coroutine.wrap(function() for i = 1, 3 do coroutine.yield(i) end end)\n"
      "print(gen(), gen(), gen(), coroutine.resume(coroutine.create(function(a) return a * 2 end), 21))\n"
      "print(pcall(coroutine.wrap(function() error('inner', 0) end)))\n"
      "print(coroutine.resume(coroutine.create(function() end)), select(2, coroutine.resume(coroutine.running())))\n"
      "return { info = { name = 'm' } }");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(Lines(r.lines.begin() + 1, r.lines.begin() + 6),
            (Lines{"true\ttrue\ttrue\tnil\t\t0", "true\tc\t5", "1\t2\t3\ttrue\t42", "false\tinner", "true\tcannot resume non-suspended coroutine"}))
      << r.output;
  EXPECT_TRUE(Exists("a.qp"));
}

// Metamethods run by the section walk have a time limit of their own: one that sleeps,
// loops with the hooks switched off, or makes one endless C call is stopped or given
// up, with an error line, the closing line, exit status 1 and no QP file.
TEST_F(ScriptLimitsTest, MetamethodsOfTheWalkHaveATimeLimit) {
  const std::string head =
      "return { info = { name = 'm' }, structures = { S = setmetatable({}, setmetatable({}, {__index = function() ";
  const std::string tail = " end})) } }";
  const char* bodies[] = {
      "sys.sleep(3600000) io.open('after.txt', 'w')",
      "debug.sethook() while true do end",
      "debug.sethook() while true do pcall(function() while true do end end) end",
      "return string.find(string.rep('a', 5000), '.-.-.-.-.-.-b')",
  };
  for (const char* body : bodies) {
    auto r = Compile(head + body + tail);
    EXPECT_EQ(r.exit_code, 1) << body;
    EXPECT_EQ(Tail(r, 3), (Lines{kWalkTooLong, "", kFinished})) << body << "\n" << r.output;
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), kWalkTooLong), 1) << r.output;
    EXPECT_FALSE(Exists("after.txt")) << body;
    EXPECT_FALSE(Exists("a.qp")) << body;
  }
}

// The assembler's own time is not the script's: a slow assembler does not stop a walk
// whose metamethods are quick.
TEST_F(ScriptLimitsTest, TheAssemblersTimeIsNotScriptTime) {
  // An assembler that takes 1.3 s: a stand-in that waits, then runs the real one.
  std::string fasm = e2e::StandInCopy(scratch_.path(), "slow");
  ASSERT_FALSE(fasm.empty());
  std::string real = platform::FindProgram("fasm", e2e::BuildDir());
  ASSERT_FALSE(real.empty()) << "no fasm beside the programs or on PATH";
  auto r = Compile(
      "local entry = setmetatable({}, {__index = function(_, key) if key == 'assembly' then return 'use32\\nret' end end})\n"
      "return { info = { name = 'm' }, assemblies = { a = entry } }",
      {{"AKQP_FASM", fasm}, {"AKQP_STANDIN_PROGRAM", real}});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), kWalkTooLong), 0) << r.output;
  EXPECT_TRUE(Exists("a.qp"));
}

// Finalizers that run when the state is closed are under a deadline too, after a
// written file and after a failed script alike: a sleeping one is stopped, one that
// cannot be stopped is given up; the compile's result stands.
TEST_F(ScriptLimitsTest, FinalizersAtCloseHaveADeadline) {
  struct Case {
    const char* script;
    int exit_code;
  } cases[] = {
      {"setmetatable({}, {__gc = function() sys.sleep(3600000) io.open('after.txt', 'w') end}) "
       "return { info = { name = 'm' } }",
       0},
      {"setmetatable({}, {__gc = function() while true do end end}) return { info = { name = 'm' } }", 0},
      // Lua 5.3 itself loops for ever closing this state (found by fuzzing the walk).
      {"local co = coroutine.wrap(function() end) setmetatable({}, {__gc = function() collectgarbage() end}) "
       "return { info = { name = 'm' } }",
       0},
      {"setmetatable({}, {__gc = function() while true do sys.sleep(100) end end}) error('failed', 0)", 1},
      {"setmetatable({}, {__gc = function() while true do end end}) error('failed', 0)", 1},
      // After the time limit, too.
      {"setmetatable({}, {__gc = function() sys.sleep(3600000) io.open('after.txt', 'w') end}) while true do end",
       1},
  };
  for (const Case& c : cases) {
    auto r = Compile(c.script);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.script << "\n" << r.output;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), kFinished) << c.script;
    EXPECT_EQ(Exists("a.qp"), c.exit_code == 0) << c.script;
    EXPECT_FALSE(Exists("after.txt")) << c.script;
    if (c.exit_code == 1 && std::string(c.script).find("error(") != std::string::npos) {
      EXPECT_EQ(r.lines, (Lines{"Compiling 'a.lua'...", "ERROR: failed", "", kFinished}));
    }
  }
}

// load, loadfile, dofile and require take text only: Lua's own error for a binary
// chunk, and the script goes on.
TEST_F(ScriptLimitsTest, BinaryChunksAreRefusedInsideScripts) {
  auto r = Compile(
      "local dump = string.dump(function() return 1 end)\n"
      "print(select(2, load(dump, 'x', 'b')))\n"
      "print(select(2, load(dump)))\n"
      "local f = io.open('bin.luac', 'wb') f:write(dump) f:close()\n"
      "print(select(2, loadfile('bin.luac')))\n"
      "print(select(2, pcall(dofile, 'bin.luac')))\n"
      "f = io.open('mod.lua', 'wb') f:write(dump) f:close()\n"
      "package.path = './?.lua'\n"
      "print(select(2, pcall(require, 'mod')))\n"
      "f = io.open('text.lua', 'w') f:write('return 7') f:close()\n"
      "print(load('return 5')(), loadfile('text.lua', 't')(), dofile('text.lua'), require('text'))\n"
      // A reader function cannot reach a loader that takes binary chunks.
      "local calls = 0\n"
      "print(select(2, load(function() calls = calls + 1 local f = debug.getinfo(2, 'f').func\n"
      "  if calls == 1 then print(select(2, f(dump, 'x', 'b'))) return dump end end)))\n"
      "local parts = { 'return ', '4', '2' }\n"
      "print(load(function() return table.remove(parts, 1) end)())\n"
      "return { info = { name = 'm' } }");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(Lines(r.lines.begin() + 1, r.lines.begin() + 11),
            (Lines{"attempt to load a binary chunk (mode is '')",
                   "attempt to load a binary chunk (mode is 't')",
                   "attempt to load a binary chunk (mode is 't')",
                   "attempt to load a binary chunk (mode is 't')",
                   "error loading module 'mod' from file './mod.lua':",
                   "\tattempt to load a binary chunk (mode is 't')",
                   "5\t7\t7\t7",
                   "attempt to load a binary chunk (mode is '')",
                   "attempt to load a binary chunk (mode is 't')",
                   "42"}))
      << r.output;
  EXPECT_TRUE(Exists("a.qp"));
}

// Native code and the C library's own state stay out of a script's reach: loadlib
// answers as in a Lua built without dynamic libraries, and the upvalues of C functions
// can be neither read nor replaced (C code reads them without checks).
TEST_F(ScriptLimitsTest, NativeInternalsAreOutOfReach) {
  auto r = Compile(
      "print(package.loadlib('libc.so.6', 'abort'))\n"
      "print(pcall(require, 'zlib_or_any_c_module'))\n"
      "print(select('#', debug.getupvalue(sys.sleep, 1)), select('#', debug.setupvalue(sys.sleep, 1, io.stdout)))\n"
      "local lines = io.lines('a.lua')\n"
      "print(select('#', debug.setupvalue(lines, 1, 1)), lines())\n"
      "local gen = coroutine.wrap(function() coroutine.yield(1) end)\n"
      "debug.setupvalue(gen, 1, 'not a coroutine')\n"
      "sys.sleep(1) print(gen())\n"
      "local x = 1 local function f() return x end\n"
      "print(debug.getupvalue(f, 1), debug.setupvalue(f, 1, 2), f())\n"
      "return { info = { name = 'm' } }");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  ASSERT_GE(r.lines.size(), 7u) << r.output;
  EXPECT_EQ(r.lines[1], "nil\tdynamic libraries not enabled; check your Lua installation\tabsent");
  EXPECT_EQ(r.lines[2], "false\tmodule 'zlib_or_any_c_module' not found:");
  auto rest = std::find(r.lines.begin() + 3, r.lines.end(), "0\t0");
  ASSERT_NE(rest, r.lines.end()) << r.output;
  EXPECT_EQ(Lines(rest, rest + 4), (Lines{"0\t0", "0\tprint(package.loadlib('libc.so.6', 'abort'))", "1", "x\tx\t2"}))
      << r.output;
  EXPECT_TRUE(Exists("a.qp"));
}

// A dependency names a library that must define each function itself; a path that is
// not a regular file is never opened and draws the "could not be loaded" warning.
TEST_F(ScriptLimitsTest, DependencyChecks) {
  std::filesystem::create_directory(scratch_.Path("folder"));
  const std::string prefix = "[WARNING] assemblies: In Assembly entry 'a', ";
#ifdef _WIN32
  scratch_.Write("plain.dll", "not a library");
  const std::string dependencies =
      "'./folder|x', 'plain.dll|x', 'user32.dll|MessageBoxA, GetTickCount', "
      "'kernel32.dll|GetTickCount,MessageBoxA'";
  const Lines expected = {
      prefix + "library './folder' in './folder|x' could not be loaded and thus not be checked.",
      prefix + "library 'plain.dll' in 'plain.dll|x' could not be loaded and thus not be checked.",
      prefix + "'GetTickCount' could not be found in library 'user32.dll'.",
      prefix + "'MessageBoxA' could not be found in library 'kernel32.dll'.",
  };
#else
  e2e::RunOptions options;
  options.cwd = scratch_.path();
  ASSERT_EQ(e2e::Run("/usr/bin/mkfifo", {"fifo"}, options).exit_code, 0);
  const std::string dependencies =
      "'./fifo|x', './folder|x', '/dev/zero|x', 'libz.so.1|crc32,malloc', 'libm.so.6|printf, cos', "
      "'libc.so.6|puts,malloc'";
  const Lines expected = {
      prefix + "library './fifo' in './fifo|x' could not be loaded and thus not be checked.",
      prefix + "library './folder' in './folder|x' could not be loaded and thus not be checked.",
      prefix + "library '/dev/zero' in '/dev/zero|x' could not be loaded and thus not be checked.",
      prefix + "'malloc' could not be found in library 'libz.so.1'.",
      prefix + "'printf' could not be found in library 'libm.so.6'.",
  };
#endif
  auto r = Compile(
      "return { info = { name = 'm' }, assemblies = { a = { assembly = 'use32\\nret', dependencies = {\n" +
      dependencies + "\n} } } }");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  Lines warnings;
  std::copy_if(r.lines.begin(), r.lines.end(), std::back_inserter(warnings),
               [](const std::string& line) { return line.rfind("[WARNING]", 0) == 0; });
  EXPECT_EQ(warnings, expected) << r.output;
  EXPECT_TRUE(Exists("a.qp"));
}

}  // namespace
