// Every script in examples/ compiles without an error or a warning (but that a library
// of the other system cannot be loaded), and its QP file reads back with the module name
// and the machine code the script defines.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/platform/fs.h"
#include "tests/e2e_support.h"

namespace {

struct Expected {
  std::string module;
  std::map<std::string, size_t> code;  // name -> machine-code size
};

// What each example is known to hold; examples not listed only have to compile cleanly.
const std::map<std::string, Expected>& KnownExamples() {
  static const std::map<std::string, Expected> known = {
      {"hello.lua", {"Hello", {}}},
      {"structures.lua", {"Geometry", {}}},
      {"assembly.lua", {"AsmExamples", {{"add3", 8}, {"checksum", 25}, {"max", 14}, {"say", 10}}}},
      {"full_module.lua", {"VectorMath", {{"dot", 29}, {"zero", 15}, {"copy", 18}}}},
      {"window_module.lua", {"WindowTools", {{"clamp", 26}}}},
  };
  return known;
}

std::vector<std::string> Examples() {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(e2e::SourceDir() + "/examples", ec))
    if (entry.path().extension() == ".lua") files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(ExamplesE2eTest, EachExampleCompilesCleanly) {
  if (!e2e::Built("akqp-cli") || !e2e::Built("qpinfo"))
    GTEST_SKIP() << "akqp-cli and qpinfo are not built";
  std::vector<std::string> examples = Examples();
  ASSERT_FALSE(examples.empty());
  for (const auto& [name, expected] : KnownExamples())
    EXPECT_NE(std::find(examples.begin(), examples.end(), name), examples.end()) << name;

  for (const std::string& example : examples) {
    SCOPED_TRACE(example);
    e2e::Scratch scratch;
    std::string out = scratch.Path("out.qp");
    e2e::RunResult result = e2e::Compile(scratch, e2e::SourceDir() + "/examples/" + example, out);
    EXPECT_EQ(result.exit_code, 0) << result.output;
    bool success = false;
    for (const std::string& line : result.lines) {
      if (!e2e::IsOtherSystemsLibraryWarning(line)) {
        EXPECT_EQ(line.find("[WARNING]"), std::string::npos) << line;
      }
      EXPECT_EQ(line.find("[ERROR]"), std::string::npos) << line;
      if (line.rfind("Compilation successful, script compiled to '", 0) == 0) success = true;
    }
    EXPECT_TRUE(success) << result.output;

    e2e::RunResult info = e2e::Run("qpinfo", {out});
    ASSERT_EQ(info.exit_code, 0) << info.output;
    auto known = KnownExamples().find(example);
    if (known == KnownExamples().end()) continue;
    std::map<std::string, size_t> code;
    std::string module;
    for (const std::string& line : info.lines) {
      if (line.rfind("chunk name: ", 0) == 0) module = line.substr(12);
      if (line.rfind("code: size=", 0) != 0) continue;
      size_t name = line.find(" name=");
      code[line.substr(name + 6)] = std::stoul(line.substr(11, line.find(' ', 11) - 11));
    }
    EXPECT_EQ(module, known->second.module);
    EXPECT_EQ(code, known->second.code);
    e2e::RunResult json = e2e::Run("qpinfo", {"--json", out});
    ASSERT_EQ(json.exit_code, 0) << json.output;
    for (const auto& [entry, size] : known->second.code)
      EXPECT_NE(json.output.find("{\"name\":\"" + entry + "\",\"size\":" + std::to_string(size) + ","),
                std::string::npos)
          << entry << "\n" << json.output;
  }
}

}  // namespace
