// The assemblies section end to end: scripts with assembly routines compiled by
// akqp-cli, the QP file read back with qpinfo.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/platform/environment.h"
#include "common/platform/fs.h"
#include "common/platform/process.h"
#include "common/platform/shell.h"
#include "tests/e2e_support.h"

namespace {

struct CodeEntry {
  size_t size = 0;
  uint32_t crc = 0;
};

class AssembliesE2eTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::Built("akqp-cli") ||
        !e2e::Built("qpinfo"))
      GTEST_SKIP() << "akqp-cli and qpinfo are not built";
    std::filesystem::create_directories(scratch_.Path("tmp"));
  }
  void TearDown() override {
    if (IsSkipped()) return;
    // Every assembly's temporary folder is gone again.
    EXPECT_TRUE(std::filesystem::is_empty(scratch_.Path("tmp")));
  }

  // Compiles `script` into out.qp; the child's temporary files go to the scratch folder.
  e2e::RunResult Compile(const std::string& script) {
    std::string path = scratch_.Write("script.lua", script);
    platform::RemoveTree(scratch_.Path("out.qp"));
    e2e::RunOptions options;
    options.env = scratch_.Env();
    options.env[platform::kTempFolderVariable] = scratch_.Path("tmp");
    options.cwd = scratch_.path();
    return e2e::Run("akqp-cli", {"--lua", path, "--out", scratch_.Path("out.qp")}, options);
  }

  // The machine-code entries of out.qp, by name.
  std::map<std::string, CodeEntry> Code() {
    e2e::RunResult info = e2e::Run("qpinfo", {scratch_.Path("out.qp")});
    EXPECT_EQ(info.exit_code, 0) << info.output;
    std::map<std::string, CodeEntry> code;
    for (const std::string& line : info.lines) {
      if (line.rfind("code: size=", 0) != 0) continue;
      size_t crc = line.find(" crc=");
      size_t name = line.find(" name=");
      CodeEntry entry;
      entry.size = std::stoul(line.substr(11, crc - 11));
      entry.crc = static_cast<uint32_t>(std::stoul(line.substr(crc + 5, name - crc - 5), nullptr, 16));
      code[line.substr(name + 6)] = entry;
    }
    return code;
  }

  // What fasm itself makes of `text`.
  std::string FasmBytes(const std::string& text) {
    std::string source = scratch_.Write("direct.asm", text);
    platform::RunProcess({"fasm", source, scratch_.Path("direct.bin")}, {});
    return scratch_.Read("direct.bin");
  }

  e2e::Scratch scratch_;
};

uint32_t Crc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

using e2e::Has;

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Names a library of this system (see e2e::TheSystemLibrary) for LIB, FUNCTION and
// OTHER_FUNCTION.
std::string WithSystemLibrary(std::string text) {
  const e2e::SystemLibrary& lib = e2e::TheSystemLibrary();
  for (const auto& [token, value] : {std::pair<std::string, std::string>{"OTHER_FUNCTION", lib.other_function},
                                     {"FUNCTION", lib.function}, {"LIB", lib.name}}) {
    for (size_t at = 0; (at = text.find(token, at)) != std::string::npos; at += value.size())
      text.replace(at, token.size(), value);
  }
  return text;
}

const std::string kWarningsScript = WithSystemLibrary(R"(
return {
  info = { name = "Warnings" },
  assemblies = {
    [1] = { assembly = "use32\nret" },
    plain = "use32\nret",
    ok = { assembly = "use32\nret", dependencies = {
      "LIB",
      "libakqp-does-not-exist.so|f",
      "LIB|FUNCTION, akqp_not_exported",
      "LIB|",
    } },
    single = { assembly = "use32\nnop\nret", dependencies = "LIB|FUNCTION" },
    broken = { assembly = "use32\nnop\nlea eax, 5\nret" },
    missing = { dependencies = { "LIB|OTHER_FUNCTION" } },
  },
}
)");

TEST_F(AssembliesE2eTest, EveryWarningIsDrawnAndTheSettingSilencesThem) {
  e2e::RunResult on = Compile(kWarningsScript);
  const std::string w = "[WARNING] assemblies: ";
  for (const std::string& line : {
           w + "This should be a string-indexed table containing only tables, ignored an index.",
           w + "In Assembly entry 'ok', a dependency should have the format "
               "'libraryPath.dll|FunctionNameA,otherFunctionA', '" + e2e::TheSystemLibrary().name + "' has been ignored.",
           w + "In Assembly entry 'ok', library 'libakqp-does-not-exist.so' in "
               "'libakqp-does-not-exist.so|f' could not be loaded and thus not be checked.",
           w + "In Assembly entry 'ok', 'akqp_not_exported' could not be found in library '" +
               e2e::TheSystemLibrary().name + "'.",
           w + "In Assembly entry 'single', the field 'dependencies' should be nil or a "
               "numerically indexed string table.",
           std::string("[ERROR] assemblies: Assembly entry 'broken' error [-109]: Line 3: Invalid operand."),
           std::string("[ERROR] assemblies: Assembly entry 'missing' doesn't have an assembly string!"),
           std::string("Attempting assembling 'ok'."),
           std::string("Processing dependencies in 'missing'."),
       })
    EXPECT_TRUE(Has(on.lines, line)) << line << "\n" << on.output;
  EXPECT_EQ(std::count(on.lines.begin(), on.lines.end(),
                       w + "This should be a string-indexed table containing only tables, ignored an index."),
            2);
  EXPECT_EQ(on.exit_code, 1);
  EXPECT_FALSE(platform::PathExists(scratch_.Path("out.qp")));

  scratch_.WriteSettings("[settings]\r\ncompiler::warnings = 0\r\n");
  e2e::RunResult off = Compile(kWarningsScript);
  std::vector<std::string> expected;
  for (const std::string& line : on.lines)
    if (line.rfind("[WARNING]", 0) != 0) expected.push_back(line);
  // The order of the entries may differ between runs; the lines may not.
  EXPECT_EQ(Sorted(off.lines), Sorted(expected)) << off.output;
}

TEST_F(AssembliesE2eTest, AssemblyErrorsAreReportedWithCodeLineAndMessage) {
  e2e::RunResult result = Compile(R"(return { info = { name = "E" }, assemblies = {
    undefined = { assembly = "use32\nmov eax, nowhere\nret" },
    macro = { assembly = "use32\nmacro getv x { mov eax, x }\nnop\ngetv [ebx+\nret" },
    include = { assembly = "use32\ninclude '%incdir%/akqp-missing.inc'\nret" },
    empty = { assembly = "use32\n; nothing here\n" },
  } })");
  EXPECT_TRUE(Has(result.lines, "[ERROR] assemblies: Assembly entry 'undefined' error [-122]: Line 2: Undefined symbol."))
      << result.output;
  EXPECT_TRUE(Has(result.lines, "[ERROR] assemblies: Assembly entry 'macro' error [-118]: Line 4: Invalid expression."))
      << result.output;
  EXPECT_TRUE(Has(result.lines, "[ERROR] assemblies: Assembly entry 'include' error [-101]: Line 2: File not found."))
      << result.output;
  EXPECT_TRUE(Has(result.lines, "[ERROR] assemblies: Assembly entry 'empty' error [-6]: Line 0: Cannot generate "
                                "code. The text assembled to zero bytes."))
      << result.output;
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_FALSE(platform::PathExists(scratch_.Path("out.qp")));
}

TEST_F(AssembliesE2eTest, StoredMachineCodeIsWhatFasmWrites) {
  const std::string first = "use32\n push ebp\n mov ebp, esp\n mov eax, [ebp+8]\n imul eax, eax\n pop ebp\n ret\n";
  const std::string second = "use32\nstart:\n jmp .over\n db 'text', 0\n.over:\n mov eax, start\n ret\n";
  e2e::RunResult result = Compile("return { info = { name = 'Bytes' }, assemblies = {\n"
                                  "  square = { assembly = [[\n" + first + "]] },\n"
                                  "  jumps = { assembly = [[\n" + second + "]] },\n} }");
  ASSERT_EQ(result.exit_code, 0) << result.output;
  std::map<std::string, CodeEntry> code = Code();
  ASSERT_EQ(code.size(), 2u);
  for (const auto& [name, text] : {std::pair{"square", first}, std::pair{"jumps", second}}) {
    std::string bytes = FasmBytes(text);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(code[name].size, bytes.size()) << name;
    EXPECT_EQ(code[name].crc, Crc(bytes)) << name;
  }
}

TEST_F(AssembliesE2eTest, LargeRoutineAssemblesWithoutAMessage) {
  e2e::RunResult result = Compile(
      "return { info = { name = 'Big' }, assemblies = { big = { assembly = 'use32\\ntimes 2000000 db 0x90\\nret' } } }");
  ASSERT_EQ(result.exit_code, 0) << result.output;
  for (const std::string& line : result.lines) {
    EXPECT_EQ(line.find("[ERROR]"), std::string::npos) << line;
    EXPECT_EQ(line.find("[WARNING]"), std::string::npos) << line;
  }
  std::map<std::string, CodeEntry> code = Code();
  EXPECT_EQ(code["big"].size, 2000001u);
  EXPECT_EQ(code["big"].crc, Crc(std::string(2000000, '\x90') + "\xc3"));
}

TEST_F(AssembliesE2eTest, MarkedRoutineIsCutFromTheStoredChunk) {
  e2e::RunResult result = Compile(R"(
local marked = [[
;ASSEMBLY
use32
    mov eax, 0x4d41524b ; MARKED_ROUTINE_BODY
    ret
;ENDASSEMBLY
]]
return {
  info = { name = "Cut" },
  assemblies = {
    marked = { assembly = marked },
    plain = { assembly = [[
use32
    mov eax, 0x504c4e ; PLAIN_ROUTINE_BODY
    ret
]] },
  },
}
)");
  ASSERT_EQ(result.exit_code, 0) << result.output;
  std::map<std::string, CodeEntry> code = Code();
  EXPECT_EQ(code["marked"].size, 6u);
  EXPECT_EQ(code["plain"].size, 6u);
  e2e::RunResult info = e2e::Run("qpinfo", {"--chunk", scratch_.Path("chunk.bin"), scratch_.Path("out.qp")});
  ASSERT_EQ(info.exit_code, 0) << info.output;
  std::string chunk = scratch_.Read("chunk.bin");
  ASSERT_FALSE(chunk.empty());
  EXPECT_EQ(chunk.find("MARKED_ROUTINE_BODY"), std::string::npos);
  EXPECT_NE(chunk.find("PLAIN_ROUTINE_BODY"), std::string::npos);
}

TEST_F(AssembliesE2eTest, IncdirIsTheFolderBesideTheCompiler) {
  // "file" takes a file's bytes as they are: the routine is the include folder's README.
  e2e::RunResult result = Compile(
      "return { info = { name = 'Inc' }, assemblies = { readme = { assembly = \"file '%incdir%/README.md'\" } } }");
  ASSERT_EQ(result.exit_code, 0) << result.output;
  std::string readme = platform::ReadFile(e2e::BuildDir() + "/asm/README.md").value_or("");
  ASSERT_FALSE(readme.empty());
  EXPECT_EQ(Code()["readme"].crc, Crc(readme));
}

TEST_F(AssembliesE2eTest, EntryNamesAreData) {
  e2e::RunResult result = Compile(
      "return { info = { name = 'Names' }, assemblies = {\n"
      "  ['../../escape'] = { assembly = 'use32\\nnop' },\n"
      "  ['$(touch pwned) \"q\" \\'s\\' ; |'] = { assembly = 'use32\\nret' },\n} }");
  ASSERT_EQ(result.exit_code, 0) << result.output;
  std::map<std::string, CodeEntry> code = Code();
  EXPECT_EQ(code.count("../../escape"), 1u);
  EXPECT_EQ(code.count("$(touch pwned) \"q\" 's' ; |"), 1u);
  EXPECT_FALSE(platform::PathExists(scratch_.Path("pwned")));
  EXPECT_FALSE(platform::PathExists(scratch_.Path("escape")));
}

TEST_F(AssembliesE2eTest, TemporaryFilesGoWhenTheCompilerIsTerminated) {
  if (platform::kShellKind != platform::ShellKind::kPosixShell)
    GTEST_SKIP() << "Windows has no SIGTERM: TerminateProcess cannot be caught, so nothing can "
                    "remove the files then, and the console events that can be caught (Ctrl+C, "
                    "Ctrl+Break) reach only processes sharing a console, which a test run lacks; "
                    "that the assembler ends with a terminated compiler is ProcessesE2eTest's";
  // A routine that keeps the assembler busy: it runs out of memory again and again.
  std::string script = scratch_.Write(
      "slow.lua", "return { info = { name = 'Slow' }, assemblies = { slow = { assembly = "
                  "'use32\\ntimes 300000000 nop' } } }");
  e2e::RunOptions options;
  options.env = scratch_.Env();
  options.env[platform::kTempFolderVariable] = scratch_.Path("tmp");
  options.cwd = scratch_.path();
  e2e::RunResult result = e2e::Run(
      "/bin/sh",
      {"-c", "\"$0\" --lua \"$1\" --out \"$2\" & pid=$!; sleep 1; kill -TERM $pid; wait $pid; echo status=$?",
       e2e::BuildDir() + "/akqp-cli", script, scratch_.Path("slow.qp")},
      options);
  EXPECT_TRUE(Has(result.lines, "Attempting assembling 'slow'.")) << result.output;
  EXPECT_TRUE(Has(result.lines, "status=143")) << result.output;  // ended by SIGTERM
  // TearDown checks that the temporary folder is empty.
}

}  // namespace
