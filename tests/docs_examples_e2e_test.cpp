// What a user copies from the documentation works as shown: every Lua example of the
// README and of asm/README.md compiles without a warning (but that a library of the
// other system cannot be loaded), the README's verification file gives records, and the
// examples' makefile builds every example.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/platform/fs.h"
#include "tests/e2e_support.h"

namespace {

// The fenced blocks of one kind ("```lua") in a Markdown file.
std::vector<std::string> FencedBlocks(const std::string& markdown, const std::string& kind) {
  std::vector<std::string> blocks;
  const std::string open = "```" + kind + "\n";
  size_t at = 0;
  while ((at = markdown.find(open, at)) != std::string::npos) {
    size_t start = at + open.size();
    size_t end = markdown.find("\n```", start);
    if (end == std::string::npos) break;
    blocks.push_back(markdown.substr(start, end - start + 1));
    at = end + 4;
  }
  return blocks;
}

bool CompiledCleanly(const e2e::RunResult& r) {
  if (r.exit_code != 0) return false;
  for (const std::string& line : r.lines) {
    if (e2e::IsOtherSystemsLibraryWarning(line)) continue;
    if (line.find("[WARNING]") != std::string::npos || line.find("[Warning]") != std::string::npos ||
        line.find("[ERROR]") != std::string::npos)
      return false;
  }
  return true;
}

size_t RecordCount(const std::string& qp) {
  e2e::RunResult info = e2e::Run("qpinfo", {qp});
  size_t records = 0;
  for (const std::string& line : info.lines) records += line.rfind("record: ", 0) == 0;
  return records;
}

TEST(DocsExamplesE2eTest, EveryLuaExampleCompilesAsShown) {
  size_t compiled = 0;
  for (const char* doc : {"README.md", "asm/README.md"}) {
    std::string text = platform::ReadFile(e2e::SourceDir() + "/" + doc).value_or("");
    ASSERT_FALSE(text.empty()) << doc;
    int index = 0;
    for (const std::string& block : FencedBlocks(text, "lua")) {
      SCOPED_TRACE(std::string(doc) + " example " + std::to_string(++index) + ":\n" + block);
      e2e::Scratch scratch;
      scratch.Write("example.lua", block);
      e2e::RunResult r = e2e::Compile(scratch, "example.lua", "example.qp");
      EXPECT_TRUE(CompiledCleanly(r)) << r.output;
      ++compiled;
    }
  }
  EXPECT_GE(compiled, 3u);  // the README's two and the include folder's one at least
}

TEST(DocsExamplesE2eTest, TheReadmesVerificationFileGivesRecords) {
  std::string readme = platform::ReadFile(e2e::SourceDir() + "/README.md").value_or("");
  std::vector<std::string> files = FencedBlocks(readme, "xml");
  ASSERT_EQ(files.size(), 1u);
  // The README shows the file the examples use.
  EXPECT_EQ(files[0], platform::ReadFile(e2e::SourceDir() + "/examples/checks.xml").value_or(""));
  e2e::Scratch scratch;
  scratch.Write("checks.xml", files[0]);
  e2e::RunResult r = e2e::Compile(scratch, e2e::SourceDir() + "/examples/hello.lua", "hello.qp",
                                  {"--verify", "checks.xml"});
  EXPECT_TRUE(CompiledCleanly(r)) << r.output;
  EXPECT_EQ(RecordCount(scratch.Path("hello.qp")), 2u);
}

TEST(DocsExamplesE2eTest, TheExamplesMakefileBuildsEveryExample) {
  // Run from a folder that holds the examples as the project's root does.
  e2e::Scratch scratch;
  std::filesystem::copy(e2e::SourceDir() + "/examples", scratch.Path("examples"),
                        std::filesystem::copy_options::recursive);
  e2e::RunOptions options;
  options.env = scratch.Env();
  options.cwd = scratch.path();
  options.timeout_ms = 120000;
  e2e::RunResult r = e2e::Run("qpmake", {"examples/examples.qpm"}, options);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  std::error_code ec;
  size_t scripts = 0;
  for (const auto& entry : std::filesystem::directory_iterator(e2e::SourceDir() + "/examples", ec)) {
    if (entry.path().extension() != ".lua") continue;
    ++scripts;
    std::string qp = scratch.Path("build/examples/" + entry.path().stem().string() + ".qp");
    EXPECT_TRUE(platform::IsFile(qp)) << qp;
    EXPECT_EQ(RecordCount(qp), 2u) << qp;  // every target verified against checks.xml
  }
  EXPECT_GE(scripts, 5u);
  for (const char* crc : {"build/examples/hello.crc", "build/examples/window_module.crc"})
    EXPECT_FALSE(scratch.Read(crc).empty()) << crc;
  EXPECT_NE(r.output.find("Building the examples..."), std::string::npos);
}

}  // namespace
