#include "cli/assembler/fasm_report.h"

#include <gtest/gtest.h>

namespace {

const char kBanner[] = "flat assembler  version 1.73.30  (1024 kilobytes memory)\n";

TEST(FasmReportTest, ErrorInTheTextGivesItsLine) {
  std::string text = "use32\nnop\nmov eax, [ebx+\nret\n";
  std::string output = std::string(kBanner) +
                       "/t/src.asm [3]:\nmov eax, [ebx+\nprocessed: mov eax,[ebx+\n"
                       "error: invalid expression.\n";
  FasmReport report = ParseFasmReport(output, "/t/src.asm", text);
  ASSERT_TRUE(report.has_error);
  EXPECT_EQ(report.error_text, "invalid expression");
  ASSERT_TRUE(report.has_line);
  EXPECT_EQ(report.line, 3);
}

TEST(FasmReportTest, ErrorInsideMacrosGivesTheCallingLine) {
  std::string text = "use32\nmacro a { mov eax, qq }\nmacro b { a }\nnop\nb\n";
  std::string output = std::string(kBanner) +
                       "/t/src.asm [5]:\nb\n/t/src.asm [3] b [0]:\nmacro b { a }\n"
                       "/t/src.asm [2] a [0]:\nmacro a { mov eax, qq }\n"
                       "processed: mov eax,qq\nerror: undefined symbol 'qq'.\n";
  FasmReport report = ParseFasmReport(output, "/t/src.asm", text);
  EXPECT_EQ(report.error_text, "undefined symbol 'qq'");
  EXPECT_EQ(report.line, 5);
}

TEST(FasmReportTest, ErrorInAnIncludedFileGivesThatFilesLine) {
  std::string output = std::string(kBanner) +
                       "inc [1].inc [2]:\nbad1 eax\nprocessed: bad1 eax\n"
                       "error: illegal instruction.\n";
  FasmReport report = ParseFasmReport(output, "/t/src.asm", "use32\ninclude 'inc [1].inc'\n");
  EXPECT_EQ(report.error_text, "illegal instruction");
  EXPECT_EQ(report.line, 2);
}

TEST(FasmReportTest, DisplayedTextDoesNotPassForALocation) {
  // A script can display a line that looks like a location; its echo is not the text's
  // line of that number, so it is not taken.
  std::string text = "use32\ndisplay '/t/src.asm [1]:',10,'x',10\nmov eax, qq\n";
  std::string output = std::string(kBanner) +
                       "/t/src.asm [1]:\nx\n/t/src.asm [3]:\nmov eax, qq\n"
                       "processed: mov eax,qq\nerror: undefined symbol 'qq'.\n";
  FasmReport report = ParseFasmReport(output, "/t/src.asm", text);
  EXPECT_EQ(report.line, 3);
}

TEST(FasmReportTest, LinesEndAsTheAssemblerEndsThem) {
  // CR LF, LF CR, a lone CR and a lone LF each end one line.
  const std::pair<std::string, int32_t> cases[] = {
      {"use32\r\nnop\r\n\tmov eax, qq\r\n", 3},
      {"use32\n\rnop\n\r\tmov eax, qq", 3},
      {"use32\rnop\r\tmov eax, qq\r", 3},
      {"use32\r\rnop\n\tmov eax, qq\n", 4},
  };
  for (const auto& [text, line] : cases) {
    std::string output = std::string(kBanner) + "s.asm [" + std::to_string(line) +
                         "]:\n\tmov eax, qq\nprocessed: mov eax,qq\nerror: undefined symbol 'qq'.\n";
    FasmReport report = ParseFasmReport(output, "s.asm", text);
    EXPECT_TRUE(report.has_line) << text;
    EXPECT_EQ(report.line, line) << text;
  }
}

TEST(FasmReportTest, ReportsWithoutAnErrorOrALocation) {
  EXPECT_FALSE(ParseFasmReport(std::string(kBanner) + "1 passes, 2 bytes.\n", "s.asm", "").has_error);
  EXPECT_FALSE(ParseFasmReport("", "s.asm", "").has_error);
  FasmReport memory = ParseFasmReport(std::string(kBanner) + "error: out of memory.\n", "s.asm", "");
  EXPECT_TRUE(memory.has_error);
  EXPECT_FALSE(memory.has_line);
  EXPECT_EQ(FasmErrorCode(memory.error_text), -2);
}

TEST(FasmReportTest, WordingsThatNameASymbol) {
  EXPECT_EQ(FasmErrorCode("undefined symbol 'a.b'"), -122);
  EXPECT_EQ(FasmErrorCode("symbol 'x' out of scope"), -136);
  EXPECT_EQ(FasmErrorCode("invalid definition provided"), 0);
  EXPECT_EQ(FasmErrorCode("invalid operandx"), 0);
}

}  // namespace
