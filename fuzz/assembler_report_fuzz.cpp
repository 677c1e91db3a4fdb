// Feeds arbitrary bytes to the reader of the assembler's report (as report and as
// source text) and to the cut of marked routines from a script.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/assembler/fasm_report.h"
#include "cli/sections/assemblies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string first = input.substr(0, split);
  std::string second = split == std::string::npos ? std::string() : input.substr(split + 1);

  FasmReport report = ParseFasmReport(first, "src.asm", second);
  if (report.has_error) FasmErrorCode(report.error_text);

  SectionTables tables;
  tables.assembly_text["a"] = second;
  tables.assembly_text["b"] = ";ASSEMBLY" + second + ";ENDASSEMBLY";
  PrepareScriptForOutput(first, tables);
  return 0;
}
