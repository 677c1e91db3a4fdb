// The checks of a verification section's XML and the records made from it.
#pragma once

#include <array>
#include <string_view>

#include "common/qpfile/verification_record.h"

namespace verify {

// The process-wide Lua type-name table: the types a `global` may name (every Lua type
// name except nil), compared case-sensitively, and the text that lists them.
inline constexpr std::array<std::string_view, 7> kAllowedGlobalTypes = {
    "string", "number", "boolean", "table", "function", "userdata", "thread"};
inline constexpr std::string_view kAllowedGlobalTypesText =
    "string, number, boolean, table, function, userdata and thread";

// Record kinds and their variants.
enum RecordKind : uint32_t { kVersionItem = 1, kGlobal = 2, kMainWindow = 3, kCurrentPage = 4 };
enum RecordFlags : uint32_t {
  kGlobalTypeOnly = 0,
  kGlobalWithValue = 1,
  kWindowTitle = 1,
  kPageName = 1,
  kPageObject = 2,
};

// Parses `xml`, checks it and appends its records to `records` in their fixed order:
// version items, globals, the main window, the page name, the page's objects. Prints the
// stage's errors, warnings ("compiler::warnings") and size line ("compiler::information").
// False when the compile must stop.
bool CheckVerificationXml(std::string_view xml, VerificationRecords* records);

}  // namespace verify
