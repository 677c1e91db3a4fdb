// Reading the flat assembler's report: which error it gave and for which line.
//
// The report (standard output and error together) ends, on an error, with lines such as
//   src.asm [7]:
//   m [ebx+
//   src.asm [3] m [1]:
//    mov eax, x
//   processed: mov eax,[ebx+
//   error: invalid expression.
// Pairs of a location and the echoed line go from the outermost line (the line of the
// text that failed, or that called the macro that failed) inwards. Text a script prints
// with "display" comes before them.
#pragma once

#include <cstdint>
#include <string>

struct FasmReport {
  bool has_error = false;
  std::string error_text;  // after "error: ", without the final "."
  bool has_line = false;
  int32_t line = 0;        // the outermost location's line number
};

// Reads `output`. `source_path` is the file name given to the assembler and
// `source_text` its content: a location in that file counts only when its echoed line is
// the text's line of that number, so that displayed text cannot pass for a location.
FasmReport ParseFasmReport(const std::string& output, const std::string& source_path,
                           const std::string& source_text);

// The error code (-101..-141, or a condition such as -2) for the assembler's wording of
// an error; 0 when the wording is unknown.
int32_t FasmErrorCode(const std::string& error_text);
