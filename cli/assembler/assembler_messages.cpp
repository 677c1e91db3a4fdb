#include "cli/assembler/assembler_messages.h"

#include <map>

namespace {

// Written once during start-up, read without locks afterwards.
std::map<int32_t, std::string>& Table() {
  static std::map<int32_t, std::string> table;
  return table;
}

}  // namespace

void BuildAssemblerMessageTable() {
  // Codes 0..2 and -1..-8 are the assembler's conditions, -101..-141 its error codes.
  static const struct {
    int32_t code;
    const char* text;
  } kRows[] = {
      {0, "Assembled succesfully."},
      {1, "Working."},
      {2, "An error occurred."},
      {-1, "Invalid parameter"},
      {-2, "Out of memory."},
      {-3, "Stack overflow."},
      {-4, "Source not found."},
      {-5, "Unexpected end of source."},
      {-6, "Cannot generate code."},
      {-7, "Format limitations exceeded."},
      {-8, "Write procedure failed."},
      {-101, "File not found."},
      {-102, "Error while reading file."},
      {-103, "Invalid file format."},
      {-104, "Invalid macro arguments."},
      {-105, "Incomplete macro."},
      {-106, "Unexpected characters."},
      {-107, "Invalid argument."},
      {-108, "Illegal instruction."},
      {-109, "Invalid operand."},
      {-110, "Invalid operand size."},
      {-111, "Operand size not specified."},
      {-112, "Sizes do not match."},
      {-113, "Invalid address size."},
      {-114, "Address sizes do not agree."},
      {-115, "Disallowed combination of registers."},
      {-116, "Long immediate not encodable."},
      {-117, "Relative jump out of range."},
      {-118, "Invalid expression."},
      {-119, "Invalid address."},
      {-120, "Invalid value."},
      {-121, "Value out of range."},
      {-122, "Undefined symbol."},
      {-123, "Invalid use of symbol."},
      {-124, "Name too long."},
      {-125, "Invalid name."},
      {-126, "Reserved word used as a symbol."},
      {-127, "Symbol is already defined."},
      {-128, "Missing an end quote."},
      {-129, "Missing end directive."},
      {-130, "Unexpected instruction."},
      {-131, "Extra characters on line."},
      {-132, "Section not aligned enough."},
      {-133, "Setting is already specified."},
      {-134, "Data is already defined."},
      {-135, "Too many repeats."},
      {-136, "Symbol out of scope."},
      {-140, "User error."},
      {-141, "Assertion failed."},
  };
  std::map<int32_t, std::string>& table = Table();
  if (!table.empty()) return;
  for (const auto& row : kRows) table.emplace(row.code, row.text);
}

const std::string& AssemblerMessage(int32_t code) {
  static const std::string kEmpty;
  const std::map<int32_t, std::string>& table = Table();
  auto it = table.find(code);
  return it == table.end() ? kEmpty : it->second;
}
