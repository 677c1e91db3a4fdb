#include "cli/assembler/fasm_report.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Reads "[digits]" that ends at text[end - 1]; gives the position of "[" and the number.
bool BracketNumberBefore(const std::string& text, size_t end, size_t* open, int32_t* number) {
  if (end < 3 || text[end - 1] != ']') return false;
  size_t i = end - 1;
  int64_t value = 0;
  int64_t scale = 1;
  size_t digits = 0;
  while (i > 0 && std::isdigit(static_cast<unsigned char>(text[i - 1]))) {
    value += (text[i - 1] - '0') * scale;
    if (++digits > 9) return false;
    scale *= 10;
    --i;
  }
  if (digits == 0 || i == 0 || text[i - 1] != '[') return false;
  *open = i - 1;
  *number = static_cast<int32_t>(value);
  return true;
}

struct Location {
  std::string file;
  int32_t line = 0;
};

// "file [n]:" or "file [n] macro [m]:".
bool ParseLocation(const std::string& text, Location* location) {
  if (text.size() < 5 || text.back() != ':') return false;
  size_t end = text.size() - 1;
  size_t open = 0;
  int32_t number = 0;
  if (!BracketNumberBefore(text, end, &open, &number) || open < 2 || text[open - 1] != ' ')
    return false;
  // A macro part: " name [m]" before it, the name without blanks.
  size_t name_end = open - 1;
  size_t name_start = text.rfind(' ', name_end - 1);
  size_t inner_open = 0;
  int32_t outer = 0;
  if (name_start != std::string::npos && name_start > 0 &&
      BracketNumberBefore(text, name_start, &inner_open, &outer) && inner_open >= 2 &&
      text[inner_open - 1] == ' ') {
    location->file = text.substr(0, inner_open - 1);
    location->line = outer;
    return true;
  }
  location->file = text.substr(0, open - 1);
  location->line = number;
  return true;
}

// Line `number` (counted from 1) of `text`, without its line end. The assembler ends a
// line at CR LF, LF CR, a lone LF or a lone CR.
bool SourceLine(const std::string& text, int32_t number, std::string* line) {
  if (number < 1) return false;
  int32_t current = 1;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    bool end = i == text.size() || text[i] == '\n' || text[i] == '\r';
    if (!end) continue;
    if (current == number) {
      *line = text.substr(start, i - start);
      return true;
    }
    if (i == text.size()) return false;
    if (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r') && text[i + 1] != text[i]) ++i;
    start = i + 1;
    ++current;
  }
  return false;
}

}  // namespace

FasmReport ParseFasmReport(const std::string& output, const std::string& source_path,
                           const std::string& source_text) {
  FasmReport report;
  std::vector<std::string> lines = SplitLines(output);
  // The error is the last line the assembler writes.
  size_t i = lines.size();
  while (i > 0 && lines[i - 1].empty()) --i;
  if (i == 0 || !StartsWith(lines[i - 1], "error: ")) return report;
  report.has_error = true;
  report.error_text = lines[i - 1].substr(7);
  if (!report.error_text.empty() && report.error_text.back() == '.')
    report.error_text.pop_back();
  --i;
  if (i > 0 && StartsWith(lines[i - 1], "processed: ")) --i;
  // Walk the location and echo pairs outwards; the last one accepted is the outermost.
  while (i >= 2) {
    Location location;
    if (!ParseLocation(lines[i - 2], &location)) break;
    if (location.file == source_path) {
      std::string expected;
      if (!SourceLine(source_text, location.line, &expected) || expected != lines[i - 1]) break;
    }
    report.has_line = true;
    report.line = location.line;
    i -= 2;
  }
  return report;
}

int32_t FasmErrorCode(const std::string& error_text) {
  // The assembler's own wording, each with the code of its row in the message table.
  static const struct {
    const char* wording;
    int32_t code;
  } kWordings[] = {
      {"out of memory", -2},
      {"out of stack space", -3},
      {"source file not found", -4},
      {"code cannot be generated", -6},
      {"format limitations exceeded", -7},
      {"write failed", -8},
      {"file not found", -101},
      {"error reading file", -102},
      {"invalid file format", -103},
      {"invalid macro arguments", -104},
      {"incomplete macro", -105},
      {"unexpected characters", -106},
      {"invalid argument", -107},
      {"illegal instruction", -108},
      {"invalid operand", -109},
      {"invalid size of operand", -110},
      {"operand size not specified", -111},
      {"operand sizes do not match", -112},
      {"invalid size of address value", -113},
      {"address sizes do not agree", -114},
      {"disallowed combination of registers", -115},
      {"not encodable with long immediate", -116},
      {"relative jump out of range", -117},
      {"invalid expression", -118},
      {"invalid address", -119},
      {"invalid value", -120},
      {"value out of range", -121},
      {"invalid use of symbol", -123},
      {"name too long", -124},
      {"invalid name", -125},
      {"reserved word used as symbol", -126},
      {"symbol already defined", -127},
      {"missing end quote", -128},
      {"missing end directive", -129},
      {"unexpected instruction", -130},
      {"extra characters on line", -131},
      {"section is not aligned enough", -132},
      {"setting already specified", -133},
      {"data already defined", -134},
      {"too many repeats", -135},
      {"error directive encountered in source file", -140},
      {"assertion failed", -141},
  };
  for (const auto& w : kWordings)
    if (error_text == w.wording) return w.code;
  // These two name the symbol: "undefined symbol 'x'", "symbol 'x' out of scope".
  if (error_text == "undefined symbol" || StartsWith(error_text, "undefined symbol '"))
    return -122;
  std::string_view scope_end = "' out of scope";
  if (StartsWith(error_text, "symbol '") && error_text.size() >= 8 + scope_end.size() &&
      std::string_view(error_text).substr(error_text.size() - scope_end.size()) == scope_end)
    return -136;
  return 0;
}
